// vellumark-cli find: the drive's files by name, date, size and deleted state, with the folder
// each lies in.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <strings.h>

#include "app/StringTable.h"
#include "cli/CommandOptions.h"
#include "cli/ItemOutput.h"
#include "cli/Session.h"
#include "filesystem/FindInFound.h"
#include "platform/FileTime.h"
#include "signatures/AppCatalogue.h"
#include "recovery/TargetNames.h"

namespace vm::cli {
namespace {

constexpr int kStrNoFilesFound = 182;

// --size: "small", "medium", "large", or a number of KB with an optional comparison in front
// ("<", ">", "=", equal by default) and an optional unit behind (B, KB, MB, GB).
bool SetSize(const std::string& text, FindCriteria& c, std::string& error) {
    if (text.empty()) return true;
    if (strcasecmp(text.c_str(), "small") == 0) return c.SetSizeMode(FIND_SMALL), true;
    if (strcasecmp(text.c_str(), "medium") == 0) return c.SetSizeMode(FIND_MEDIUM), true;
    if (strcasecmp(text.c_str(), "large") == 0) return c.SetSizeMode(FIND_LARGE), true;
    std::size_t at = 0;
    const int compare = text[0] == '<' ? -1 : text[0] == '>' ? 1 : 0;
    if (text[0] == '<' || text[0] == '>' || text[0] == '=') at = 1;
    std::size_t digits = at;
    while (digits < text.size() && digits - at < 9 && text[digits] >= '0' && text[digits] <= '9') ++digits;
    const std::string unit = text.substr(digits);
    const std::uint64_t unitBytes = unit.empty() || strcasecmp(unit.c_str(), "KB") == 0 ? 1024
                                    : strcasecmp(unit.c_str(), "B") == 0                 ? 1
                                    : strcasecmp(unit.c_str(), "MB") == 0                ? 1048576
                                    : strcasecmp(unit.c_str(), "GB") == 0                ? 1073741824
                                                                                        : 0;
    if (digits == at || !unitBytes) {
        error = "--size takes small, medium, large or a size such as <5, >100KB or =2MB, not '" + text + "'";
        return false;
    }
    c.SetCustomSize(std::stoi(text.substr(at, digits - at)), unitBytes, compare);
    return true;
}

bool MakeCriteria(const FindOptions& o, FindCriteria& c, std::string& error) {
    c.Pattern = o.Name;
    c.DeletedOnly = o.DeletedOnly;
    c.IgnoreFolders = !o.Folders;
    if (!o.From.empty() || !o.To.empty()) {
        if (!o.From.empty() && !ParseLocalDate(o.From, false, c.FindFrom, error)) return false;
        if (!o.To.empty() && !ParseLocalDate(o.To, true, c.FindTo, error)) return false;
        c.SetDateMode(FIND_DATES, 0);
    }
    return SetSize(o.Size, c, error);
}

std::string TypeName(FoundItem item) {
    const TypeInfo* type = AppCatalogue().TypeOfItem(item);
    const FileTypeDescriptor* d = type ? AppCatalogue().FindDescriptor(type->TypeId) : nullptr;
    if (!d) return "-";
    return d->Description.empty() ? d->Title : d->Description;
}

// Name, Size, Type, Date Modified, In Folder.
std::string ResultLine(const FindResult& r) {
    const FoundItem& item = *r.Item;
    const std::string modified = FileTimeToLocalText(item.WriteTime);
    std::string line = PrintableName(item.NameOrEmpty());
    line += '\t';
    line += item.Is(FI_FOLDER) ? "-" : item.SizeKnown() ? std::to_string(item.Size) : "unknown";
    line += '\t' + TypeName(item);
    line += '\t' + (modified.empty() ? std::string("-") : modified);
    line += '\t' + PrintableName(SlashedFolder(r.Folder));
    return line;
}

}  // namespace

void AddFindOptions(CLI::App* cmd, TargetOptions& target, FindOptions& o) {
    cmd->add_option("TARGET", target.Path, "drive image file, disk (/dev/sdX) or partition (/dev/sdX1)")->required();
    cmd->add_option("--start", target.Start, "treat the byte range from this offset as the drive (a virtual drive)");
    cmd->add_option("--range-size", target.Size, "size in bytes of that range");
    cmd->add_option("--name", o.Name, "file name pattern: * for any run of characters, ? for one, letters without case (default *)");
    cmd->add_option("--from", o.From, "created on or after this date (YYYY-MM-DD [HH:MM[:SS]], local time)");
    cmd->add_option("--to", o.To, "created on or before this date");
    cmd->add_option("--size", o.Size,
                    "small (< 100 KB), medium (< 1 MB), large (> 1 MB), or KB with < > = in front, e.g. <5 or >2MB");
    cmd->add_flag("--deleted", o.DeletedOnly, "deleted files only");
    cmd->add_flag("--folders", o.Folders, "find folders too (not with small, medium or large)");
}

int RunFind(const CommonOptions& common, const TargetOptions& target, const FindOptions& options) {
    std::string error;
    CFindInFound find;
    if (!MakeCriteria(options, find.Criteria, error)) return Fail(error);
    CSession session;
    CVolume* volume = session.Open(target, error);
    if (!volume) return Fail(error);
    session.Run(*volume, Phase::FileSystem, true);
    CFilter filter;
    filter.SetTypeLookup(&AppCatalogue());
    find.Start(*volume, filter);
    find.Wait();
    std::vector<FindResult> results = find.Results();
    std::stable_sort(results.begin(), results.end(), [](const FindResult& a, const FindResult& b) {
        return a.Folder != b.Folder ? a.Folder < b.Folder : std::string(a.Item->NameOrEmpty()) < b.Item->NameOrEmpty();
    });
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const FindResult& r : results) {
        if (!common.Json) {
            std::printf("%s\n", ResultLine(r).c_str());
            continue;
        }
        auto j = ItemJson(*volume, *r.Item);
        j["in_folder"] = SlashedFolder(r.Folder);
        j["type_name"] = TypeName(*r.Item);
        list.push_back(j);
    }
    if (common.Json) std::printf("%s\n", list.dump(2).c_str());
    if (results.empty()) std::fprintf(stderr, "%s\n", GetString(kStrNoFilesFound).c_str());
    return 0;
}

}  // namespace vm::cli
