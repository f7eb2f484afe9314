// The filter options of list and scan, and choosing file types by name.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sstream>
#include <strings.h>

#include "cli/CommandOptions.h"
#include "platform/FileTime.h"
#include "signatures/AppCatalogue.h"

namespace vm::cli {
namespace {

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ','))
        if (!part.empty()) out.push_back(part);
    return out;
}

bool NamedBy(const FileTypeDescriptor& type, const std::string& name) {
    if (strcasecmp(type.Title.c_str(), name.c_str()) == 0 || strcasecmp(type.Description.c_str(), name.c_str()) == 0)
        return true;
    std::string extensions = type.Extensions;
    std::replace(extensions.begin(), extensions.end(), ';', ',');
    for (const auto& e : SplitList(extensions))
        if (strcasecmp(e.c_str(), name.c_str()) == 0) return true;
    return false;
}

}  // namespace

void AddFilterOptions(CLI::App* cmd, FilterOptions& o, bool forList) {
    cmd->add_option("--mask", o.Mask, "only files whose name matches the pattern (* and ?, case counts; folders stay)");
    cmd->add_option("--from", o.From, "only items created on or after this date (YYYY-MM-DD [HH:MM[:SS]], local time)");
    cmd->add_option("--to", o.To, "only items created on or before this date");
    auto* known = cmd->add_flag("--known-types", o.KnownTypes, "only files of a type the catalogue knows");
    if (!forList) return;
    cmd->add_flag("--deleted", o.DeletedOnly, "deleted items only, with the folders that lead to them");
    cmd->add_option("--types", o.Types, "only files of these comma-separated types or groups (unknown types stay)")
        ->excludes(known);
}

bool ParseLocalDate(const std::string& text, bool endOfDay, std::uint64_t& fileTime, std::string& error) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, dateEnd = -1, minuteEnd = -1, secondEnd = -1;
    std::sscanf(text.c_str(), "%4d-%2d-%2d%n %2d:%2d%n:%2d%n", &year, &month, &day, &dateEnd, &hour, &minute,
                &minuteEnd, &second, &secondEnd);
    const int length = int(text.size());
    const bool dateOnly = dateEnd == length;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    std::tm normal = tm;
    const std::time_t t = std::mktime(&normal);
    // mktime moves days that do not exist (30 February) on; such a date is refused.
    const bool whole = dateOnly || minuteEnd == length || secondEnd == length;
    if (!whole || year < 1601 || hour > 23 || minute > 59 || second > 59 || normal.tm_mday != day ||
        normal.tm_mon != month - 1 || (t == std::time_t(-1) && year != 1969)) {
        error = "'" + text + "' is not a date (YYYY-MM-DD or YYYY-MM-DD HH:MM:SS)";
        return false;
    }
    // In whole seconds: nanoseconds since 1970 would overflow outside 1677 to 2262.
    constexpr std::int64_t kSecondsBefore1970 = std::int64_t(kFileTimeUnixEpoch / 10000000);
    if (std::int64_t(t) < -kSecondsBefore1970) {
        error = "'" + text + "' lies before 1601, the first date a drive can record";
        return false;
    }
    fileTime = std::uint64_t(std::int64_t(t) + kSecondsBefore1970) * 10000000;
    if (endOfDay) fileTime += (dateOnly ? 24ULL * 3600 : 1ULL) * 10000000 - 1;
    return true;
}

bool MarkTypes(const std::string& names, std::int32_t FileTypeDescriptor::*mark, std::string& error) {
    FileTypeCatalogue& catalogue = AppCatalogue();
    const auto wanted = SplitList(names);
    std::vector<bool> used(wanted.size(), false);
    for (const auto& type : catalogue.Types()) {
        const FileTypeDescriptor* group = catalogue.FindGroup(type->GroupId);
        bool chosen = false;
        for (std::size_t i = 0; i < wanted.size(); ++i)
            if (NamedBy(*type, wanted[i]) || (group && strcasecmp(group->Title.c_str(), wanted[i].c_str()) == 0))
                chosen = used[i] = true;
        (*type).*mark = chosen ? 1 : 0;
    }
    catalogue.PublishLookups();
    for (std::size_t i = 0; i < wanted.size(); ++i)
        if (!used[i]) {
            error = "no file type or group is called '" + wanted[i] + "' (see vellumark-cli types)";
            return false;
        }
    return true;
}

void MarkDeletedFolders(CVolume& volume) { volume.FoundTree.MarkDeletedFolders(); }

bool MakeFilter(const FilterOptions& o, CFilter& filter, std::string& error) {
    filter.Reset();
    filter.SetTypeLookup(&AppCatalogue());
    filter.DeletedOnly = o.DeletedOnly;
    if (!o.Mask.empty()) {
        filter.MaskOn = 1;
        filter.Mask = o.Mask;
    }
    if (!o.From.empty() || !o.To.empty()) {
        filter.DateOn = 1;
        if (!o.From.empty() && !ParseLocalDate(o.From, false, filter.DateFrom, error)) return false;
        if (!o.To.empty() && !ParseLocalDate(o.To, true, filter.DateTo, error)) return false;
    }
    if (o.KnownTypes) filter.TypeMode = FILTER_KNOWN_TYPES;
    if (!o.Types.empty()) {
        filter.TypeMode = FILTER_CUSTOM_TYPES;
        if (!MarkTypes(o.Types, &FileTypeDescriptor::FilterChecked, error)) return false;
    }
    return true;
}

}  // namespace vm::cli
