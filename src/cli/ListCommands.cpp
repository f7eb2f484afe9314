// vellumark-cli list and cat: the files a drive's file system still describes, and one file's bytes.
#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

#include "cli/CommandOptions.h"
#include "cli/ItemOutput.h"
#include "cli/Session.h"

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
    if (matches.empty() && !pathOrId.empty() && pathOrId.find_first_not_of("-0123456789") == std::string::npos) {
        const long long id = std::stoll(pathOrId);
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
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const FoundItem* item : ListedItems(*volume)) {
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
    const std::uint64_t size = item->SizeKnown() ? item->Size : 0;
    for (std::uint64_t done = 0; done < size;) {
        const std::uint32_t want = std::uint32_t(std::min<std::uint64_t>(kChunk, size - done));
        const std::uint32_t got = volume->ReadItem(*item, buffer.data(), done, want);
        if (got == 0) return Fail("cannot read '" + pathOrId + "' at byte " + std::to_string(done));
        if (!WriteAll(buffer.data(), std::min(got, want))) return Fail("cannot write to standard output");
        done += std::min(got, want);
    }
    return 0;
}

}  // namespace vm::cli
