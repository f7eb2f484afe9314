#pragma once
// An ordered index of found items by a key, with items of equal key in the order they were
// filed (each entry carries the item's filing number). Entries are kept in sorted blocks of a
// few hundred, so one entry costs its own 16 or 24 bytes and some slack instead of a heap node
// of three pointers each: a drive can yield millions of items, each in three indices.
//
// Positions (Pos) stay valid only until the next change of the index; the tree holds its lock
// while it walks one.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#include "filesystem/FoundItem.h"

namespace vm {

template <typename K>
class CSortedIndex {
public:
    struct Entry {
        K Key;
        std::uint32_t Seq;
        FoundItem* Item;
    };
    static_assert(std::is_trivially_copyable_v<Entry>);

    struct Pos {
        std::size_t Block = 0;
        std::uint32_t Slot = 0;
        bool operator==(const Pos&) const = default;
    };

    static bool Less(const Entry& a, const Entry& b) { return a.Key < b.Key || (a.Key == b.Key && a.Seq < b.Seq); }

    std::size_t Size() const { return Count; }
    bool Empty() const { return Count == 0; }
    Pos Begin() const { return {}; }
    Pos End() const { return {Blocks.size(), 0}; }
    const Entry& At(Pos p) const { return Blocks[p.Block]->E[p.Slot]; }

    Pos Next(Pos p) const {
        if (++p.Slot == Blocks[p.Block]->Count) return {p.Block + 1, 0};
        return p;
    }
    // The position before p; p must not be Begin().
    Pos Prev(Pos p) const {
        if (p.Slot > 0) return {p.Block, p.Slot - 1};
        return {p.Block - 1, Blocks[p.Block - 1]->Count - 1};
    }

    // The first entry not less than `probe`.
    Pos LowerBound(const Entry& probe) const {
        const std::size_t b = std::size_t(std::lower_bound(Highs.begin(), Highs.end(), probe, Less) - Highs.begin());
        if (b == Blocks.size()) return End();
        const Block& blk = *Blocks[b];
        return {b, std::uint32_t(std::lower_bound(blk.E, blk.E + blk.Count, probe, Less) - blk.E)};
    }

    // Files an entry; (Key, Seq) must not be in the index yet.
    void Insert(const Entry& e) {
        std::size_t b = std::size_t(std::lower_bound(Highs.begin(), Highs.end(), e, Less) - Highs.begin());
        if (b == Blocks.size()) {
            // Beyond every entry: append, opening a new block when the last is full, so that
            // filing in order leaves the blocks full.
            if (Blocks.empty() || Blocks.back()->Count == kCapacity) AddBlock(Blocks.size());
            b = Blocks.size() - 1;
            Block& last = *Blocks[b];
            last.E[last.Count++] = e;
            Highs[b] = e;
            ++Count;
            return;
        }
        std::uint32_t slot = SlotFor(b, e);
        if (Blocks[b]->Count == kCapacity) {
            Split(b, std::max(slot, kCapacity / 2));
            if (slot > Blocks[b]->Count) {
                slot -= Blocks[b]->Count;
                ++b;
            }
        }
        Block& blk = *Blocks[b];
        std::memmove(blk.E + slot + 1, blk.E + slot, (blk.Count - slot) * sizeof(Entry));
        blk.E[slot] = e;
        if (slot == blk.Count) Highs[b] = e;
        ++blk.Count;
        ++Count;
    }

    // Removes the entry with that key and sequence number; false when there is none.
    bool Erase(K key, std::uint32_t seq) {
        const Entry probe{key, seq, nullptr};
        const Pos p = LowerBound(probe);
        if (p == End() || At(p).Key != key || At(p).Seq != seq) return false;
        Block& blk = *Blocks[p.Block];
        std::memmove(blk.E + p.Slot, blk.E + p.Slot + 1, (blk.Count - p.Slot - 1) * sizeof(Entry));
        --blk.Count;
        --Count;
        if (blk.Count == 0) {
            Blocks.erase(Blocks.begin() + std::ptrdiff_t(p.Block));
            Highs.erase(Highs.begin() + std::ptrdiff_t(p.Block));
        } else if (p.Slot == blk.Count) {
            Highs[p.Block] = blk.E[blk.Count - 1];
        }
        return true;
    }

    void Clear() {
        Blocks.clear();
        Blocks.shrink_to_fit();
        Highs.clear();
        Highs.shrink_to_fit();
        Count = 0;
    }

    template <typename F>
    void ForEach(F&& f) const {
        for (const auto& blk : Blocks)
            for (std::uint32_t i = 0; i < blk->Count; ++i) f(blk->E[i]);
    }

private:
    static constexpr std::uint32_t kCapacity = 256;
    struct Block {
        std::uint32_t Count = 0;
        Entry E[kCapacity];
    };

    std::uint32_t SlotFor(std::size_t b, const Entry& e) const {
        const Block& blk = *Blocks[b];
        return std::uint32_t(std::lower_bound(blk.E, blk.E + blk.Count, e, Less) - blk.E);
    }

    void AddBlock(std::size_t at) {
        Blocks.reserve(Blocks.size() + 1);
        Highs.reserve(Highs.size() + 1);
        auto blk = std::make_unique_for_overwrite<Block>();
        blk->Count = 0;
        Blocks.insert(Blocks.begin() + std::ptrdiff_t(at), std::move(blk));
        Highs.insert(Highs.begin() + std::ptrdiff_t(at), Entry{});
    }

    // Moves the entries from `at` (0 < at < capacity) of a full block into a new block after
    // it. Filing in order inside the index splits at the filing point, which keeps the lower
    // block full.
    void Split(std::size_t b, std::uint32_t at) {
        AddBlock(b + 1);
        Block& low = *Blocks[b];
        Block& high = *Blocks[b + 1];
        high.Count = low.Count - at;
        std::memcpy(high.E, low.E + at, high.Count * sizeof(Entry));
        low.Count = at;
        Highs[b + 1] = Highs[b];
        Highs[b] = low.E[low.Count - 1];
    }

    std::vector<std::unique_ptr<Block>> Blocks;
    std::vector<Entry> Highs;  // the last entry of each block
    std::size_t Count = 0;
};

}  // namespace vm
