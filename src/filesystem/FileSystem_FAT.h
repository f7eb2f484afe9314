#pragma once
// The FAT12/16/32 analyser: reads the boot sector's layout and the FAT, marks the used clusters
// in the drive's cluster map, walks every directory it meets (live or deleted) breadth first and
// files what each entry describes in the drive's found tree. It also parses directory clusters
// that the sector search finds and reads files for recovery.
#include <cstdint>
#include <functional>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "filesystem/FatDirectory.h"
#include "filesystem/FatTable.h"
#include "filesystem/FileSystem.h"

namespace vm {

class CFileSystem_FAT : public CFileSystem {
public:
    // A directory is read into one buffer of at most this many entries.
    static constexpr std::uint32_t kMaxDirectoryEntries = 65536;

    explicit CFileSystem_FAT(CVolume* volume);
    ~CFileSystem_FAT() override;

    int Analyse() override;
    void ExamineFoundRecord(const FoundItem& find) override;
    std::uint32_t FileRead(const FoundItem& item, void* buffer, std::uint64_t offset, std::uint32_t length) override;
    // A live file's chain bounds it; a deleted one, read contiguously, ends with the data area.
    std::uint64_t HeldBytes(const FoundItem& item) override;

    // The walk goes on while this answers true (the analysis run flag); always when not set.
    void SetRunCheck(std::function<bool()> running) { RunCheck = std::move(running); }

    const FatLayout& Layout() const { return L; }
    const CFatTable& Fat() const { return Table; }
    // First clusters of the directories met, in the order they are read.
    const std::vector<std::uint32_t>& DirQueue() const { return Queue; }

protected:
    // Files one decoded item in the drive's found tree and counts it.
    virtual void FileItem(const FoundItem& rec);

private:
    struct Extent {
        std::uint64_t Sector;
        std::uint64_t Count;
    };
    // Clusters of a file's chain as runs of consecutive clusters: first cluster, count.
    struct ClusterRun {
        std::uint32_t First;
        std::uint32_t Count;
    };

    bool Running() const { return !RunCheck || RunCheck(); }
    bool EnsureLayout();
    bool LoadFat();
    bool ReadRootDirectory(std::vector<std::uint8_t>& out);
    std::vector<std::uint8_t> ReadDirectory(std::uint32_t first);
    bool ClaimDirectoryClusters(std::uint32_t first, std::vector<std::uint32_t>& clusters);
    bool DirectoryClusterRead(std::uint32_t cluster) const;
    void ParseDirectory(const std::vector<std::uint8_t>& buffer, std::uint32_t parent, bool queueFolders);
    void FileEntry(const FatDirEntry& entry, std::uint32_t parent, bool queueFolders);
    std::uint32_t ClusterAtSector(std::uint64_t sector) const;

    // Where a file's data lies: along its chain, or contiguously from its first cluster.
    struct FileLayout {
        bool AlongChain = false;
        std::vector<ClusterRun> Runs;  // when along the chain
        std::uint64_t Held = 0;        // bytes of the file the drive holds
    };
    FileLayout LayoutOf(const FoundItem& item);
    void MapRange(const FoundItem& item, std::uint64_t offset, std::uint64_t bytes, std::vector<Extent>& out);
    std::uint32_t ReadExtents(const std::vector<Extent>& extents, void* buffer, std::uint32_t length);

    FatLayout L;
    bool LayoutReady = false;
    std::mutex LayoutLock;
    CFatTable Table;
    std::vector<std::uint32_t> Queue;
    std::unordered_set<std::uint32_t> Queued;
    mutable std::mutex DirLock;
    std::unordered_set<std::uint32_t> DirClusters;  // every cluster the walk read as a directory
    std::function<bool()> RunCheck;

    struct ChainCache {
        std::uint32_t Id = 0;
        std::uint64_t Size = 0;
        bool Valid = false;
        FileLayout Layout;
    };
    std::mutex ChainLock;
    ChainCache LastChain;
};

}  // namespace vm
