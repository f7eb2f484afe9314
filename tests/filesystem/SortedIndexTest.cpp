#include "filesystem/SortedIndex.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <utility>
#include <vector>

namespace vm {
namespace {

using Index = CSortedIndex<std::int32_t>;
using Key = std::pair<std::int32_t, std::uint32_t>;

std::vector<Key> Contents(const Index& index) {
    std::vector<Key> out;
    for (auto p = index.Begin(); p != index.End(); p = index.Next(p)) out.emplace_back(index.At(p).Key, index.At(p).Seq);
    return out;
}

// Filing patterns that split blocks in different ways: ascending (appends), one key run in the
// middle (filing inside the index in order), random keys; with erasures in between.
TEST(SortedIndex, MatchesAnOrderedSetUnderEveryFilingPattern) {
    std::mt19937 rng(3);
    for (int pattern = 0; pattern < 3; ++pattern) {
        SCOPED_TRACE(pattern);
        Index index;
        std::set<Key> reference;
        std::uint32_t seq = 0;
        for (int i = 0; i < 20000; ++i) {
            std::int32_t key = pattern == 0 ? i : pattern == 1 ? (i % 4 == 0 ? 1000000 + i : 500) : std::int32_t(rng() % 3000);
            index.Insert({key, seq, nullptr});
            reference.emplace(key, seq++);
            if (i % 7 == 0) {
                auto victim = std::next(reference.begin(), std::ptrdiff_t(rng() % reference.size()));
                ASSERT_TRUE(index.Erase(victim->first, victim->second));
                reference.erase(victim);
            }
        }
        EXPECT_FALSE(index.Erase(-1, 0));
        ASSERT_EQ(index.Size(), reference.size());
        EXPECT_EQ(Contents(index), std::vector<Key>(reference.begin(), reference.end()));

        for (int probe = 0; probe < 500; ++probe) {
            const std::int32_t key = std::int32_t(rng() % 3100);
            const auto want = reference.lower_bound({key, 0});
            const auto got = index.LowerBound({key, 0, nullptr});
            if (want == reference.end()) {
                EXPECT_TRUE(got == index.End());
                continue;
            }
            ASSERT_FALSE(got == index.End());
            EXPECT_EQ(Key(index.At(got).Key, index.At(got).Seq), *want);
            if (want != reference.begin()) {
                const auto before = index.At(index.Prev(got));
                EXPECT_EQ(Key(before.Key, before.Seq), *std::prev(want));
            }
        }
    }
}

}  // namespace
}  // namespace vm
