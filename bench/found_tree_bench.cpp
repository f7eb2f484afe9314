// Memory and speed of the found-items tree filled with a million items, against a plain
// reference (one heap block per item and per name, three std::multimap indices) run in the
// same invocation.
//
// Counters: heap_B_per_item is the growth of the heap in use (glibc's own accounting, chunk
// headers and rounding included) divided by the items filed; allocs_per_item counts calls of
// operator new that are still alive at the end of the fill.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "filesystem/FoundTree.h"

namespace {

std::atomic<long long> g_liveAllocs{0};

}  // namespace

void* operator new(std::size_t n) {
    void* p = std::malloc(n ? n : 1);
    if (!p) throw std::bad_alloc();
    g_liveAllocs.fetch_add(1, std::memory_order_relaxed);
    return p;
}
void operator delete(void* p) noexcept {
    if (!p) return;
    g_liveAllocs.fetch_sub(1, std::memory_order_relaxed);
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }

namespace {

constexpr int kItems = 1000000;

struct Workload {
    std::vector<vm::FoundItem> Records;  // names point into Names
    std::vector<std::string> Names;
};

// A drive as an analysis sees it: one folder in ten, files spread over the folders, names of
// about twenty characters, a fifth deleted, data positions in 4 KiB clusters. The last tenth
// are lost files of the sector search.
const Workload& MakeWorkload() {
    static const Workload w = [] {
        Workload out;
        out.Records.resize(kItems);
        out.Names.resize(kItems);
        std::mt19937_64 rng(7);
        std::vector<std::uint32_t> folders{5};
        static const char* kExt[] = {"docx", "jpg", "pdf", "xlsx", "txt", "png", "mp3"};
        for (int i = 0; i < kItems; ++i) {
            vm::FoundItem& r = out.Records[std::size_t(i)];
            const bool folder = rng() % 10 == 0;
            const bool lost = i >= kItems - kItems / 10;
            r.Id = std::uint32_t(100 + i);
            r.ParentId = folders[rng() % folders.size()];
            r.Flags = std::uint16_t(vm::FI_NAMED | (folder ? vm::FI_FOLDER : 0) | (rng() % 5 == 0 ? vm::FI_DELETED : 0));
            if (lost) r.Flags = vm::FI_LOST | vm::FI_DELETED;
            r.DataOffset = (rng() % (std::uint64_t(1) << 26)) * 4096;
            r.Size = rng() % 5000000;
            r.CreateTime = r.WriteTime = r.AccessTime = 132000000000000000ull + rng() % 100000000000ull;
            char name[64];
            if (folder)
                std::snprintf(name, sizeof name, "Project folder %06d", i);
            else
                std::snprintf(name, sizeof name, "Document_%09d.%s", i, kExt[rng() % 7]);
            out.Names[std::size_t(i)] = name;
            if (folder) folders.push_back(r.Id);
        }
        for (int i = 0; i < kItems; ++i) out.Records[std::size_t(i)].Name = out.Names[std::size_t(i)].c_str();
        return out;
    }();
    return w;
}

std::size_t HeapInUse() {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

void Report(benchmark::State& state, std::size_t heapBefore, long long allocsBefore) {
    state.counters["heap_B_per_item"] = double(HeapInUse() - heapBefore) / kItems;
    state.counters["allocs_per_item"] = double(g_liveAllocs.load() - allocsBefore) / kItems;
    state.counters["items_per_s"] = benchmark::Counter(double(kItems), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_FoundTree(benchmark::State& state) {
    const Workload& w = MakeWorkload();
    for (auto _ : state) {
        const std::size_t heap = HeapInUse();
        const long long allocs = g_liveAllocs.load();
        auto tree = std::make_unique<vm::CFoundTree>();
        tree->RootId = 5;
        for (const vm::FoundItem& r : w.Records) {
            if (r.Is(vm::FI_LOST)) {
                if (!tree->OffsetIndexEnabled()) tree->EnableOffsetIndex(true);
                vm::FoundItem* lost = new vm::FoundItem(r);
                lost->Name = nullptr;
                lost->Flags &= std::uint16_t(~vm::FI_NAMED);
                benchmark::DoNotOptimize(tree->AddLost(lost, false));
            } else {
                benchmark::DoNotOptimize(tree->AddFound(r, false));
            }
        }
        state.PauseTiming();
        Report(state, heap, allocs);
        tree.reset();
        state.ResumeTiming();
    }
}

// The reference: what the tree would cost with a heap block per item and per name and three
// std::multimap indices.
void BM_PlainMultimaps(benchmark::State& state) {
    const Workload& w = MakeWorkload();
    for (auto _ : state) {
        const std::size_t heap = HeapInUse();
        const long long allocs = g_liveAllocs.load();
        auto byId = std::make_unique<std::multimap<std::int32_t, vm::FoundItem*>>();
        auto byParent = std::make_unique<std::multimap<std::int32_t, vm::FoundItem*>>();
        auto byOffset = std::make_unique<std::multimap<std::uint64_t, vm::FoundItem*>>();
        std::vector<std::unique_ptr<vm::FoundItem>> owned;
        std::vector<std::unique_ptr<char[]>> names;
        for (const vm::FoundItem& r : w.Records) {
            auto* item = new vm::FoundItem(r);
            owned.emplace_back(item);
            const std::size_t n = std::strlen(r.Name) + 1;
            names.emplace_back(new char[n]);
            std::memcpy(names.back().get(), r.Name, n);
            item->Name = names.back().get();
            byId->emplace(item->SignedId(), item);
            byParent->emplace(item->SignedParentId(), item);
            byOffset->emplace(item->DataOffset, item);
        }
        state.PauseTiming();
        Report(state, heap, allocs);
        byId.reset();
        byParent.reset();
        byOffset.reset();
        owned.clear();
        names.clear();
        state.ResumeTiming();
    }
}

}  // namespace

BENCHMARK(BM_FoundTree)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainMultimaps)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
