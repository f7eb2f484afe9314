// vellumark-cli list and cat: the files a drive's file system still describes, and one file's bytes.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <unistd.h>
#include <vector>

#include "cli/CommandOptions.h"
#include "cli/ItemOutput.h"
#include "cli/Session.h"
#include "platform/ByteOrder.h"

namespace vm::cli {
namespace {

// A path as given ("/folder/name", "folder/name", "\folder\name") in the form listed.
std::string Normalised(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path.empty() || path[0] != '/') path = "/" + path;
    return path;
}

// The item named by its path or by its id.
const FoundItem* FindItem(const CVolume& volume, const std::string& pathOrId, std::string& error) {
    const auto items = ListedItems(volume);
    const std::string wanted = Normalised(pathOrId);
    std::vector<const FoundItem*> matches;
    for (const FoundItem* item : items)
        if (ItemPath(volume, *item) == wanted) matches.push_back(item);
    long long id = 0;
    const char* end = pathOrId.data() + pathOrId.size();
    const auto parsed = std::from_chars(pathOrId.data(), end, id);
    if (matches.empty() && !pathOrId.empty() && parsed.ec == std::errc() && parsed.ptr == end) {
        for (const FoundItem* item : items)
            if (item->SignedId() == id && !item->Is(FI_FOLDER)) matches.push_back(item);
    }
    // A live file wins over deleted ones of the same name.
    std::stable_partition(matches.begin(), matches.end(), [](const FoundItem* i) { return !i->Is(FI_DELETED); });
    if (matches.empty()) {
        error = "no item '" + pathOrId + "' on the drive (see vellumark-cli list)";
        return nullptr;
    }
    if (matches[0]->Is(FI_FOLDER)) {
        error = "'" + pathOrId + "' is a folder";
        return nullptr;
    }
    return matches[0];
}

bool WriteAll(const std::uint8_t* data, std::size_t size) {
    while (size) {
        ssize_t n = ::write(STDOUT_FILENO, data, size);
        if (n <= 0) return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

// The bytes the file system's boot sector says it spans; 0 when it does not say.
std::uint64_t FileSystemBytes(const CVolume& volume) {
    const std::uint8_t* boot = volume.BootSector;
    const std::uint32_t code = volume.pFileSystem ? volume.pFileSystem->TypeCode : 0;
    if (code == FS_NTFS) return Le64(boot + 0x28) < (1ull << 48) ? Le64(boot + 0x28) * volume.BytesPerSector : 0;
    if (!IsFatTypeCode(code)) return 0;
    const std::uint64_t sectors = Le16(boot + 19) ? Le16(boot + 19) : Le32(boot + 32);
    return sectors * volume.BytesPerSector;
}

// Why a drive that lists nothing has nothing to list; empty when its file system is simply empty.
std::string WhyNothingListed(CSession& session, CVolume& volume, const std::string& path) {
    const std::uint32_t code = volume.pFileSystem ? volume.pFileSystem->TypeCode : 0;
    if (code == 0) {
        for (const auto& v : session.Computer().Volumes.Snapshot())
            if (v->GetParent() == &volume)
                return "no file system was found on '" + path +
                       "': it is a partitioned disk (see its partitions with 'vellumark-cli lost', then list one "
                       "with --start BYTES)";
        return "no file system was found on '" + path + "' (try 'vellumark-cli lost' or 'scan')";
    }
    const std::uint64_t claimed = FileSystemBytes(volume);
    if (claimed > volume.TotalBytes)
        return "the " + volume.GetFileSystemName() + " file system of '" + path + "' spans " +
               std::to_string(claimed) + " bytes, but the drive holds only " + std::to_string(volume.TotalBytes) +
               ", and nothing of it could be listed (an image cut short?)";
    return {};
}

}  // namespace

int RunList(const CommonOptions& common, const TargetOptions& target, const FilterOptions& options) {
    std::string error;
    CFilter filter;
    if (!MakeFilter(options, filter, error)) return Fail(error);
    CSession session;
    CVolume* volume = session.Open(target, error);
    if (!volume) return Fail(error);
    session.Run(*volume, Phase::FileSystem, true);
    if (filter.DeletedOnly) MarkDeletedFolders(*volume);
    const auto items = ListedItems(*volume);
    if (items.empty())
        if (const std::string why = WhyNothingListed(session, *volume, target.Path); !why.empty()) return Fail(why);
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const FoundItem* item : items) {
        if (filter.Rejects(*item)) continue;
        if (common.Json)
            list.push_back(ItemJson(*volume, *item));
        else
            std::printf("%s\n", ItemLine(*volume, *item).c_str());
    }
    if (common.Json) std::printf("%s\n", list.dump(2).c_str());
    return 0;
}

int RunCat(const CommonOptions&, const TargetOptions& target, const std::string& pathOrId) {
    CSession session;
    std::string error;
    CVolume* volume = session.Open(target, error);
    if (!volume) return Fail(error);
    session.Run(*volume, Phase::FileSystem, false);
    const FoundItem* item = FindItem(*volume, pathOrId, error);
    if (!item) return Fail(error);
    constexpr std::uint32_t kChunk = 2 << 20;
    std::vector<std::uint8_t> buffer(kChunk);
    const std::uint64_t claimed = item->SizeKnown() ? item->Size : 0;
    const std::uint64_t size = std::min(claimed, volume->ItemHeldBytes(*item));  // a damaged size ends where the drive does
    for (std::uint64_t done = 0; done < size;) {
        const std::uint32_t want = std::uint32_t(std::min<std::uint64_t>(kChunk, size - done));
        const std::uint32_t got = std::min(volume->ReadItem(*item, buffer.data(), done, want), want);
        if (!WriteAll(buffer.data(), got)) return Fail("cannot write to standard output");
        done += got;
        // What cannot be read is never written as zeros: the output ends before it.
        if (got < want)
            return Fail("cannot read '" + pathOrId + "' from byte " + std::to_string(done) + " of " +
                        std::to_string(size) + "; the output ends there");
    }
    if (size < claimed)
        return Fail("'" + pathOrId + "' claims " + std::to_string(claimed) + " bytes, but the drive holds only " +
                    std::to_string(size) + " of them; those were written");
    return 0;
}

}  // namespace vm::cli
