#pragma once
// The exFAT analyser: reads the layout of the boot region the drive chose, loads the FAT, marks
// the used clusters from the allocation bitmap in the drive's cluster map, walks every directory
// it meets (live or deleted) breadth first and files each entry set in the drive's found tree.
// It reads files for recovery: along their FAT chain, or contiguously when the stream says so
// and for deleted files, whose FAT entries are gone.
//
// Threads: Analyse runs on the analysis thread; FileRead may run on any thread at the same time
// (the streams filed so far and the cached runs are guarded).
#include <cstdint>
#include <functional>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "filesystem/ExfatBoot.h"
#include "filesystem/ExfatDirectory.h"
#include "filesystem/FatTable.h"
#include "filesystem/FileSystem.h"

namespace vm {

// Id of the root folder; the items filed get the ids after it, one each.
constexpr std::int32_t kExfatRootId = 1;

class CFileSystem_EXFAT : public CFileSystem {
public:
    // A directory is read up to this many bytes (a million entries).
    static constexpr std::uint64_t kMaxDirectoryBytes = 32u << 20;

    explicit CFileSystem_EXFAT(CVolume* volume);
    ~CFileSystem_EXFAT() override;

    int Analyse() override;
    std::uint32_t FileRead(const FoundItem& item, void* buffer, std::uint64_t offset, std::uint32_t length) override;

    // The walk goes on while this answers true (the analysis run flag); always when not set.
    void SetRunCheck(std::function<bool()> running) { RunCheck = std::move(running); }
    const ExfatLayout& Layout() const { return L; }

protected:
    // Files one decoded item in the drive's found tree.
    virtual void FileItem(const FoundItem& rec);

private:
    // Where a file's or a folder's data lies.
    struct Stream {
        std::uint32_t FirstCluster = 0;
        std::uint64_t Length = 0;
        std::uint64_t ValidLength = 0;
        bool Contiguous = false;  // no FAT chain to follow
    };
    struct ClusterRun {
        std::uint32_t First;
        std::uint32_t Count;
    };
    struct PendingDirectory {
        std::uint32_t Id;
        Stream Data;
    };

    bool Running() const { return !RunCheck || RunCheck(); }
    bool LoadLayout();
    bool LoadFat();
    void MarkUsedClusters(const std::vector<std::uint8_t>& root);
    std::vector<ClusterRun> StreamRuns(const Stream& s, bool directory) const;
    std::uint64_t ReadStream(const std::vector<ClusterRun>& runs, std::uint64_t offset, std::uint8_t* out,
                             std::uint64_t bytes);
    std::vector<std::uint8_t> ReadDirectory(const Stream& s);
    void ParseDirectory(const std::vector<std::uint8_t>& buffer, std::uint32_t parentId);
    void FileEntry(const ExfatDirEntry& e, std::uint32_t parentId);
    bool StreamOf(const FoundItem& item, Stream& out);

    ExfatLayout L;
    CFatTable Table;
    std::vector<PendingDirectory> Queue;
    std::unordered_set<std::uint32_t> Queued;  // first clusters of the directories queued
    std::function<bool()> RunCheck;

    std::mutex Lock;                // guards what FileRead shares with the walk
    std::vector<Stream> Streams;    // by item id, from kExfatRootId + 1 on
    std::uint32_t CachedId = 0;     // the runs of the item read last (recovery reads in chunks)
    std::vector<ClusterRun> CachedRuns;
};

}  // namespace vm
