#pragma once
// The sector analysis of one drive: reads the drive block by block and tests the start of every
// 512-byte unit against the file-type catalogue. Reading and testing overlap: the calling thread
// reads the next block while worker threads test the blocks already read.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "filesystem/FoundItem.h"

namespace vm {

class CVolume;
class CCompiledMatcher;
class FileTypeCatalogue;
struct ProgressBlock;

struct SearchOptions {
    std::uint32_t Threads = 1;          // SearchThreads; 0 ends the search at once
    std::uint32_t BlockSize = 2097152;  // SearchBlockSize in bytes
    bool BootSectorsOnly = false;       // the lost-drive search: only FAT and NTFS boot sectors
};

class CSearcher {
public:
    using AddItemFunction = std::function<void(std::unique_ptr<FoundItem>)>;

    CSearcher(CVolume& volume, ProgressBlock& progress, const FileTypeCatalogue& catalogue, AddItemFunction addItem);
    ~CSearcher();
    CSearcher(const CSearcher&) = delete;
    CSearcher& operator=(const CSearcher&) = delete;

    // The whole search; returns when the drive is done or the run was stopped.
    int Run(SearchOptions options);

    // The options as the settings give them, refused values replaced by defaults (with a log line).
    static SearchOptions OptionsFromSettings(const CVolume& volume);

private:
    // One block of the drive and where it lies.
    struct SearchBlock {
        std::vector<std::uint8_t> Buffer;
        std::uint64_t StartCluster = 0;
        std::uint32_t Bytes = 0;  // bytes from the block's start read from the drive without a gap
    };
    struct SearchWorker;
    bool AddWorker();
    void StopWorkers();
    SearchWorker* WaitForFreeWorker();
    std::uint32_t ReadBlock(SearchBlock& block);
    void ParseBlock(const SearchBlock& block);
    void FileFind(const SearchBlock& block, std::size_t unitIndex, std::int32_t typeId);
    bool Running() const;

    CVolume& Volume;
    ProgressBlock& Progress;
    const FileTypeCatalogue& Catalogue;
    AddItemFunction AddItem;
    std::unique_ptr<CCompiledMatcher> Matcher;
    std::vector<std::unique_ptr<SearchWorker>> Workers;
    SearchBlock Next;  // read while the workers test the blocks before it
    std::uint64_t NextCluster = 0;
    std::uint32_t BlockBytes = 0;
    std::mutex Lock;                // guards the workers' states
    std::condition_variable Ready;  // a worker became free
};

}  // namespace vm
