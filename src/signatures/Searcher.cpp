#include "signatures/Searcher.h"
#include "platform/ThreadPriority.h"
#include "platform/ByteOrder.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sys/resource.h>

#include "app/Format.h"
#include "app/Log.h"
#include "app/Notify.h"
#include "app/SettingsBlock.h"
#include "signatures/CompiledMatcher.h"
#include "signatures/CompoundDocument.h"
#include "signatures/FileTypeCatalogue.h"
#include "signatures/SizeCheck.h"
#include "volume/ProgressBlock.h"
#include "volume/Volume.h"

namespace vm {
namespace {

constexpr std::uint32_t kUnitSize = 512;
constexpr std::uint32_t kMaxWorkers = 64;
constexpr std::uint32_t kDefaultBlockSize = 2097152;
constexpr std::uint32_t kMaxBlockSize = 256u << 20;
constexpr std::int16_t kBitmapType = 525, kAviType = 524;
const std::int32_t kBootSectorTypes[] = {FS_FAT12, FS_FAT16_SMALL, FS_NTFS, FS_FAT32, FS_EXFAT};



}  // namespace

struct CSearcher::SearchWorker {
    SearchBlock Block;
    bool Busy = false;        // the searcher handed it a block it has not finished
    bool Quit = false;
    std::condition_variable Go;
    std::thread Thread;
};

CSearcher::CSearcher(CVolume& volume, ProgressBlock& progress, const FileTypeCatalogue& catalogue, AddItemFunction addItem)
    : Volume(volume), Progress(progress), Catalogue(catalogue), AddItem(std::move(addItem)) {}

CSearcher::~CSearcher() { StopWorkers(); }

bool CSearcher::Running() const { return Progress.Running.load(std::memory_order_relaxed) == 1; }

SearchOptions CSearcher::OptionsFromSettings(const CVolume& volume) {
    SearchOptions o;
    const CSettingsBlock& s = AppSettings();
    o.Threads = std::min<std::uint32_t>(s.SearchThreads(), kMaxWorkers);
    std::uint32_t block = s.SearchBlockSize();
    if (block == 0) block = kDefaultBlockSize;
    if (block < volume.BytesPerCluster || block % kUnitSize || block > kMaxBlockSize) {
        Log().Error("Search block size %d is refused (at least one cluster of %d bytes, a multiple of 512, at most "
                    "256 MB); %d is used",
                    block, volume.BytesPerCluster, kDefaultBlockSize);
        block = std::max<std::uint32_t>(kDefaultBlockSize, volume.BytesPerCluster);
    }
    o.BlockSize = block;
    o.BootSectorsOnly = volume.LostDrivesOnly != 0;
    return o;
}

bool CSearcher::AddWorker() {
    auto w = std::make_unique<SearchWorker>();
    try {
        w->Block.Buffer.assign(BlockBytes, 0);
        SearchWorker* self = w.get();
        w->Thread = std::thread([this, self] {
            LowerThreadPriority();
            std::unique_lock<std::mutex> lk(Lock);
            for (;;) {
                self->Go.wait(lk, [&] { return self->Busy || self->Quit; });
                if (self->Quit) return;
                lk.unlock();
                ParseBlock(self->Block);
                lk.lock();
                self->Busy = false;
                Ready.notify_all();
            }
        });
    } catch (...) {
        return false;
    }
    Workers.push_back(std::move(w));
    return true;
}

void CSearcher::StopWorkers() {
    {
        std::lock_guard<std::mutex> g(Lock);
        for (auto& w : Workers) {
            w->Quit = true;
            w->Go.notify_all();
        }
    }
    for (auto& w : Workers)
        if (w->Thread.joinable()) w->Thread.join();
    Workers.clear();
}

CSearcher::SearchWorker* CSearcher::WaitForFreeWorker() {
    std::unique_lock<std::mutex> lk(Lock);
    SearchWorker* free = nullptr;
    Ready.wait_for(lk, std::chrono::milliseconds(3000), [&] {
        for (auto& w : Workers)
            if (!w->Busy) {
                free = w.get();
                return true;
            }
        return !Running();
    });
    return free;
}

std::uint32_t CSearcher::ReadBlock(SearchBlock& w) {
    const std::uint64_t first = w.StartCluster * Volume.SectorsPerCluster;
    std::uint64_t count = BlockBytes / kUnitSize;
    if (first >= Volume.TotalSectors) return 0;
    count = std::min(count, Volume.TotalSectors - first);
    std::uint32_t bytes = Volume.ReadSectorsInto(w.Buffer, first, count);
    w.Bytes = bytes;
    // The read zero-fills what it cannot deliver; past the drive's end the block is zero too.
    if (count * kUnitSize < w.Buffer.size())
        std::memset(w.Buffer.data() + count * kUnitSize, 0, w.Buffer.size() - count * kUnitSize);
    if (bytes < count * kUnitSize) {
        // A failing drive stops the read at its first bad sector: read the rest unit by unit,
        // so that only the units that cannot be read are tested as zeros.
        std::uint64_t from = bytes / kUnitSize;
        bytes = std::uint32_t(from * kUnitSize);
        for (std::uint64_t i = from; i < count && Running(); ++i) {
            const std::uint32_t got = Volume.ReadSectors(w.Buffer.data() + i * kUnitSize, first + i, 1);
            if (got == kUnitSize && w.Bytes == i * kUnitSize) w.Bytes += got;
            bytes += got;
        }
    }
    return bytes;
}

void CSearcher::FileFind(const SearchBlock& w, std::size_t i, std::int32_t typeId) {
    try {
        auto item = std::make_unique<FoundItem>();
        const std::uint8_t* unit = w.Buffer.data() + i * kUnitSize;
        item->DataOffset = w.StartCluster * Volume.BytesPerCluster + i * kUnitSize;
        item->FirstCluster = item->DataOffset / Volume.BytesPerCluster;
        item->FileType = std::int16_t(typeId);
        item->Size = SIZE_UNKNOWN;
        item->Flags |= FI_DELETED | FI_LOST;
        // The check starts from the bytes of the block that were read; it reads the drive only
        // for what lies beyond them.
        const std::size_t at = i * kUnitSize;
        const std::span<const std::uint8_t> known(unit, w.Bytes > at ? w.Bytes - at : 0);
        const SizeAnswer size = CheckFindSize(Volume, typeId, item->DataOffset, kSizeCheckLimit, known);
        if (size.Verdict == SizeVerdict::NotThisFormat) {
            if (AppSettings().LogFoundFiles())
                Log().Message(Format("Sector search: the type %d find at byte %I64d is rejected: its structure does "
                                     "not hold",
                                     typeId, item->DataOffset));
            return;
        }
        if (item->FileType == kCompoundTypeId)
            item->FileType = AnalyseCompound(Volume, std::span<const std::uint8_t>(unit, kUnitSize), *item);
        if (size.Verdict == SizeVerdict::Exact) {
            item->Size = size.Size;
            item->Flags |= FI_EXACT_SIZE;
        } else if (item->FileType == kBitmapType) {
            item->Size = Le32(unit + 2);
        } else if (item->FileType == kAviType) {
            item->Size = std::uint64_t(Le32(unit + 4)) + 2048;
        }
        AddItem(std::move(item));
    } catch (const std::bad_alloc&) {
        Log().Error("CSearcher.ParseBlock: Can't allocate memory");
    } catch (...) {
    }
}

void CSearcher::ParseBlock(const SearchBlock& w) {
    const std::size_t units = w.Buffer.size() / kUnitSize;
    for (std::size_t i = 0; i < units; ++i) {
        if (!Running()) return;
        std::span<const std::uint8_t> unit(w.Buffer.data() + i * kUnitSize, w.Buffer.size() - i * kUnitSize);
        Matcher->ForEachMatch(unit, [&](std::size_t index) {
            if (!Running()) return false;
            FileFind(w, i, Matcher->TypeId(index));
            return true;
        });
    }
}

int CSearcher::Run(SearchOptions options) {
    // The driver sets Running before the phase; a stop that came before this point holds.
    Volume.OpenDrive();
    BlockBytes = std::max<std::uint32_t>(options.BlockSize / kUnitSize * kUnitSize, kUnitSize);
    const std::uint64_t clustersPerBlock = std::max<std::uint64_t>(1, BlockBytes / Volume.BytesPerCluster);
    Progress.Total = std::int64_t(Volume.TotalClusters);
    Log().MessageId(139);

    std::vector<const FileTypeDescriptor*> types;
    for (const auto& t : Catalogue.Types())
        if (!options.BootSectorsOnly ||
            std::find(std::begin(kBootSectorTypes), std::end(kBootSectorTypes), t->TypeId) != std::end(kBootSectorTypes))
            types.push_back(t.get());
    Matcher = std::make_unique<CCompiledMatcher>(std::span<const FileTypeDescriptor* const>(types));

    for (std::uint32_t i = 0; i < std::min(options.Threads, kMaxWorkers); ++i) AddWorker();
    if (Workers.empty()) {
        Log().Error("Sector search: no search thread could be started; the search ends");
        Volume.Close();
        return 0;
    }
    try {
        Next.Buffer.assign(BlockBytes, 0);
    } catch (const std::bad_alloc&) {
        Log().Error("Sector search: no memory for a block of %d bytes; the search ends", BlockBytes);
        StopWorkers();
        Volume.Close();
        return 0;
    }
    LowerThreadPriority();
    NextCluster = std::uint64_t(std::max<std::int64_t>(0, Progress.SearchStart.load()));
    // The next block is read while the workers test the ones before it, then handed to the
    // first worker that is free.
    while (NextCluster < Volume.TotalClusters && Running()) {
        Next.StartCluster = NextCluster;
        NextCluster += clustersPerBlock;
        const std::uint32_t bytes = ReadBlock(Next);
        Progress.Current = std::int64_t(Next.StartCluster + bytes / Volume.BytesPerCluster);
        if (bytes == 0) {
            Log().Error("Sector search: nothing of clusters %I64d to %I64d could be read; they are skipped",
                        Next.StartCluster, Next.StartCluster + clustersPerBlock - 1);
            continue;
        }
        SearchWorker* w = nullptr;
        while (!w && Running()) w = WaitForFreeWorker();
        if (!w) break;
        Notifier().Post(msg::SearchWake, 0, 0);
        std::lock_guard<std::mutex> g(Lock);
        std::swap(w->Block, Next);
        w->Busy = true;
        w->Go.notify_all();
    }
    Notifier().Post(msg::SearchWake, 0, 0);
    {
        // Let the workers finish the blocks they hold (they stop early when the run is stopped).
        std::unique_lock<std::mutex> lk(Lock);
        Ready.wait(lk, [&] {
            return std::none_of(Workers.begin(), Workers.end(), [](const auto& w) { return w->Busy; });
        });
    }
    StopWorkers();
    Progress.Current = Progress.Total.load();
    Volume.Close();
    return 0;
}

}  // namespace vm
