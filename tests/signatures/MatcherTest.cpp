// The compiled matcher against the plain per-type test: the same types, in the same order, for
// random units and for units built to satisfy each signature (and then spoiled by one byte).
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "signatures/BuiltinTypes.h"
#include "signatures/CompiledMatcher.h"
#include "signatures/FileTypeCatalogue.h"

using namespace vm;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<std::uint32_t> PlainMatches(const std::vector<std::unique_ptr<FileTypeDescriptor>>& types,
                                        std::span<const std::uint8_t> unit) {
    std::vector<std::uint32_t> out;
    for (std::uint32_t i = 0; i < types.size(); ++i)
        if (types[i]->Matches(unit)) out.push_back(i);
    return out;
}

// The built-in types followed by types that reach the matcher's harder paths: masks, ranges,
// repeats, case-sensitive searches, contradictions, conditions past the unit, kinds that are not
// evaluated, and enough types under one anchor byte to overflow its stack buffer.
class MatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        Catalogue.BuildDefaultTypes();
        std::mt19937 rng(7);
        auto add = [&](std::int32_t id) -> FileTypeDescriptor& {
            return Catalogue.AddType(-1, id, nullptr, "synthetic", "x", "X");
        };
        Bytes area(1024, 0);
        for (int i = 0; i < 40; i += 3) {
            area[i] = std::uint8_t(rng());
            area[512 + i] = (i % 2) ? 0xFF : 0;
        }
        add(2000).AddBytes(SC_MASKED, area, 0, 40);
        Bytes far(1024, 0);
        far[300] = 'Q';
        far[512 + 300] = 1;
        add(2001).AddBytes(SC_MASKED, far, 0);
        add(2002).AddValue(1, 'W', 0).AddCondition(SC_WORD_RANGE, Bytes{0x10, 0, 0x20, 0}, 4, 0, 1);
        add(2003).AddBytes(SC_SEARCH, Bytes{'a', 'b', 'c'}, 8, 3);
        add(2004).AddBytes(SC_BYTES, Bytes{'A'}, 0, 1).AddCondition(SC_BYTE, Bytes{'B'}, 0, 0, 0);
        add(2005).AddBytes(0x4000, {}, 0);
        add(2006).Signatures.emplace_back();
        add(2007).AddValue(2, 0, 3, 5);
        add(2008).AddBytes(SC_BYTES, Bytes{'X', 'Y'}, 600, 2);
        add(2009).AddBytes(SC_BYTE_RANGE, Bytes{'0', '9'}, 1, 0, 2).AddCondition(SC_MASKED_BITS, {}, 0, 0, 0);
        add(2010).AddBytes(SC_SEARCH_NOCASE, Bytes{'Z'}, 100, 1);
        add(2011).AddBytes(SC_SEARCH, Bytes{'q'}, 0, 0);
        add(2012).AddBytes(SC_SEARCH_NOCASE, Bytes(600, 'x'), 0, 600);
        add(2013).AddBytes(SC_SEARCH_NOCASE, Bytes{'a', 'B', 'c', 'D'}, 0, 4).AddCondition(SC_BYTE_RANGE, Bytes{'a', 'c'}, 2, 0, 0);
        add(2014).AddBytes(SC_SEARCH_NOCASE, Bytes{'a', 'b'}, 600, 2);
        add(2015).AddBytes(SC_SEARCH_NOCASE, Bytes{'A', 'I'}, 0, 2);
        for (int i = 0; i < 80; ++i) add(3000 + i).AddBytes(SC_BYTES, Bytes{0, std::uint8_t(i)}, 0, 2);
    }

    void ExpectSame(const CCompiledMatcher& m, std::span<const std::uint8_t> unit, const char* what) {
        const std::vector<std::uint32_t> plain = PlainMatches(Catalogue.Types(), unit);
        std::vector<std::uint32_t> compiled;
        m.AllMatches(unit, compiled);
        ASSERT_EQ(compiled, plain) << what << ", unit of " << unit.size() << " bytes";
        ASSERT_EQ(m.FirstMatch(unit), plain.empty() ? -1L : long(plain.front())) << what;
        ++Compared;
        if (!plain.empty()) ++WithMatches;
    }

    // Writes bytes that satisfy the variant's conditions (where they can be satisfied).
    static void Plant(const SignatureVariant& v, Bytes& buf, std::mt19937& rng) {
        for (const SignatureCondition& c : v.Conditions) {
            const auto put = [&](std::size_t at, std::uint8_t b) { if (at < buf.size()) buf[at] = b; };
            if (IsValueKind(c.Kind)) {
                for (std::size_t k = 0; k <= c.Repeat; ++k)
                    for (unsigned i = 0; i < ValueWidth(c.Kind); ++i) put(c.Offset + k + i, c.DataByte(i));
            } else if (c.Kind == SC_BYTES) {
                for (std::size_t i = 0; i < c.Length; ++i) put(c.Offset + i, c.Data[i]);
            } else if (IsSearchKind(c.Kind)) {
                const std::size_t at = c.Offset + rng() % (kSearchSpan - c.Length + 1);
                for (std::size_t i = 0; i < c.Length; ++i) put(at + i, c.Data[i]);
            } else if (c.Kind == SC_BYTE_RANGE || c.Kind == SC_WORD_RANGE) {
                const unsigned w = c.Kind == SC_BYTE_RANGE ? 1 : 2;
                for (std::size_t k = 0; k <= c.Repeat; ++k)
                    for (unsigned i = 0; i < w; ++i) put(c.Offset + k + i, c.DataByte(i));
            } else if (c.Kind == SC_MASKED) {
                for (std::size_t i = 0; i < c.MaskedCount(); ++i)
                    if (c.Mask()[i]) put(c.Offset + i, c.Pattern()[i]);
            }
        }
    }

    FileTypeCatalogue Catalogue;
    std::size_t Compared = 0, WithMatches = 0;
};

}  // namespace

TEST_F(MatcherTest, RandomUnitsGiveThePlainResult) {
    const CCompiledMatcher m(Catalogue.Types());
    std::mt19937 rng(12345);
    const Bytes alphabet = {0x00, 0xFF, 'A', 'B', 'W', 0x15, 0x10, 'a', 'b', 'c', 'I', '*', 'M', 'Z'};
    Bytes buf(1024);
    for (int round = 0; round < 20000; ++round) {
        const bool narrow = round % 2;  // bytes from a small alphabet collide with signatures more
        for (auto& b : buf) b = narrow ? alphabet[rng() % alphabet.size()] : std::uint8_t(rng());
        const std::size_t sizes[] = {512, 1024, rng() % 1025};
        ExpectSame(m, std::span(buf).first(sizes[round % 3]), "random");
        if (HasFatalFailure()) return;
    }
    Bytes zeros(512, 0);
    ExpectSame(m, zeros, "zeros");
    ExpectSame(m, std::span(zeros).first(0), "empty");
    EXPECT_GT(WithMatches, 100u) << "the random units reach some signatures";
}

TEST_F(MatcherTest, PlantedSignaturesAndOneByteFlipsGiveThePlainResult) {
    const CCompiledMatcher m(Catalogue.Types());
    std::mt19937 rng(99);
    Bytes buf(1024);
    std::size_t planted = 0;
    for (const auto& type : Catalogue.Types()) {
        for (const SignatureVariant& v : type->Signatures) {
            for (int round = 0; round < 8; ++round) {
                for (auto& b : buf) b = std::uint8_t(rng());
                Plant(v, buf, rng);
                const std::span<const std::uint8_t> unit(buf);
                if (v.Holds(unit)) ++planted;
                ExpectSame(m, unit, "planted");
                ExpectSame(m, unit.first(512), "planted, unit at the block end");
                buf[rng() % 64 == 0 ? rng() % buf.size() : rng() % 24] ^= std::uint8_t(1 + rng() % 255);
                ExpectSame(m, unit, "planted, one byte flipped");
                if (HasFatalFailure()) return;
            }
        }
    }
    // Every variant but the contradictory one (and the one reading past 512 when cut) can be
    // planted; make sure planting really produced matches.
    EXPECT_GT(planted, (Compared / 3) * 9 / 10);
}

TEST_F(MatcherTest, CompilesIntoFewTables) {
    const CCompiledMatcher m(Catalogue.Types());
    EXPECT_EQ(m.TypeCount(), Catalogue.Types().size());
    EXPECT_EQ(m.TypeId(0), Catalogue.Types()[0]->TypeId);
    EXPECT_LE(m.AnchorTableCount(), 10u);
    // Only variants that fix no byte and search for nothing are tried on every unit: the
    // synthetic unknown-kind, empty, range-only, empty-search and overlong-search variants.
    EXPECT_EQ(m.UnanchoredCount(), 5u);
    // HTML's two strings share one group ("<", case ignored); then "abc", "Z", "abcd"/"ab" at
    // different offsets ... each distinct first byte, offset and case rule has its own.
    EXPECT_EQ(m.SearchGroupCount(), 5u);
}
