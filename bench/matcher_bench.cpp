// Nanoseconds per 512-byte unit of matching the built-in catalogue: the compiled matcher against
// testing every type in turn, on random data (a drive's free space after a wipe or encrypted
// data), on zeros (never-written space) and on text (documents).
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "signatures/CompiledMatcher.h"
#include "signatures/FileTypeCatalogue.h"

namespace {

constexpr std::size_t kBlock = 2 * 1024 * 1024;
constexpr std::size_t kUnit = 512;

const vm::FileTypeCatalogue& Catalogue() {
    static vm::FileTypeCatalogue* c = [] {
        auto* cat = new vm::FileTypeCatalogue;
        cat->BuildDefaultTypes();
        return cat;
    }();
    return *c;
}

std::vector<std::uint8_t> MakeBlock(int kind) {
    std::vector<std::uint8_t> block(kBlock, 0);
    std::mt19937_64 rng(42);
    if (kind == 0)
        for (auto& b : block) b = std::uint8_t(rng());
    if (kind == 2) {
        static const char kText[] = "The quick brown fox <b>jumps</b> over the lazy dog; 1234567890.\r\n";
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = std::uint8_t(kText[i % (sizeof kText - 1)]);
    }
    return block;
}

template <typename Test>
void RunUnits(benchmark::State& state, Test&& test) {
    const std::vector<std::uint8_t> block = MakeBlock(int(state.range(0)));
    std::size_t found = 0;
    for (auto _ : state) {
        for (std::size_t at = 0; at < block.size(); at += kUnit)
            found += test(std::span<const std::uint8_t>(block).subspan(at));
        benchmark::DoNotOptimize(found);
    }
    const double units = double(state.iterations()) * double(block.size() / kUnit);
    state.counters["ns_per_unit"] = benchmark::Counter(units, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(block.size()));
}

void Compiled(benchmark::State& state) {
    const vm::CCompiledMatcher matcher(Catalogue().Types());
    RunUnits(state, [&](std::span<const std::uint8_t> unit) {
        std::size_t n = 0;
        matcher.ForEachMatch(unit, [&](std::size_t) { ++n; return true; });
        return n;
    });
}

// The dispatch alone: every type except the one that searches the whole unit for its text.
void CompiledWithoutSearches(benchmark::State& state) {
    std::vector<const vm::FileTypeDescriptor*> types;
    for (const auto& t : Catalogue().Types()) {
        bool searches = false;
        for (const auto& v : t->Signatures)
            for (const auto& c : v.Conditions) searches |= vm::IsSearchKind(c.Kind);
        if (!searches) types.push_back(t.get());
    }
    const vm::CCompiledMatcher matcher(types);
    RunUnits(state, [&](std::span<const std::uint8_t> unit) {
        std::size_t n = 0;
        matcher.ForEachMatch(unit, [&](std::size_t) { ++n; return true; });
        return n;
    });
}

void Plain(benchmark::State& state) {
    const auto& types = Catalogue().Types();
    RunUnits(state, [&](std::span<const std::uint8_t> unit) {
        std::size_t n = 0;
        for (const auto& t : types) n += t->Matches(unit);
        return n;
    });
}

}  // namespace

// Argument: 0 random, 1 zeros, 2 text.
BENCHMARK(Compiled)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(CompiledWithoutSearches)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(Plain)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
