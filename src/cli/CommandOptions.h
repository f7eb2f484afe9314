#pragma once
// Options shared by several commands of vellumark-cli, registered on a command's parser.
#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>

#include "cli/Commands.h"
#include "filesystem/Filter.h"
#include "signatures/FileTypeDescriptor.h"

namespace vm::cli {

// --mask, --from, --to and --known-types; with `forList` also --deleted and --types.
void AddFilterOptions(CLI::App* cmd, FilterOptions& options, bool forList);
// The filter of the options, over the process's catalogue; false with `error` set when an
// option is not valid.
bool MakeFilter(const FilterOptions& options, CFilter& filter, std::string& error);

// Marks the folders that lead to deleted items, as the desktop does while it shows the analysis,
// so that the filter's deleted-only choice keeps them.
void MarkDeletedFolders(CVolume& volume);

// "YYYY-MM-DD" or "YYYY-MM-DD HH:MM[:SS]" in local time, as a FILETIME. A date alone stands for
// its first moment, or with `endOfDay` for its last.
bool ParseLocalDate(const std::string& text, bool endOfDay, std::uint64_t& fileTime, std::string& error);

// Sets `mark` (Checked, FilterChecked) of the types named by description, extension or group
// title in the comma-separated list, clears it on all others. False with `error` set when a name
// names nothing.
bool MarkTypes(const std::string& names, std::int32_t FileTypeDescriptor::*mark, std::string& error);

// TARGET (with --start and --range-size for a byte range) and the find's own options.
void AddFindOptions(CLI::App* cmd, TargetOptions& target, FindOptions& options);

}  // namespace vm::cli
