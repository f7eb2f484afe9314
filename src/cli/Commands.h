#pragma once
// The commands of vellumark-cli. Each returns the process's exit code.
#include <optional>
#include <string>
#include <vector>

#include "cli/Target.h"

namespace vm::cli {

struct CommonOptions {
    bool Json = false;
    bool Verbose = false;  // copy the log to standard error
};

// Prints "vellumark-cli: MESSAGE" to standard error and returns the failure exit code.
int Fail(const std::string& message);

// The filter of listed items, as the options give it.
struct FilterOptions {
    std::string Mask;       // --mask: names of files (folders always pass), case counts
    std::string From, To;   // --from / --to: creation dates, local time
    bool DeletedOnly = false;
    bool KnownTypes = false;
    std::string Types;      // --types: the file types or groups to show
};

struct FindOptions {
    std::string Name;          // --name PATTERN, letters without case
    std::string From, To;      // --from / --to
    std::string Size;          // --size small|medium|large|[<|>|=]N[B|KB|MB|GB]
    bool DeletedOnly = false;  // --deleted
    bool Folders = false;      // --folders: folders too
};

struct ScanOptions {
    FilterOptions Filter;  // which lost files are printed
    bool SectorsOnly = false;
    std::string Types;                     // comma-separated type descriptions, extensions or groups
    std::optional<std::uint32_t> Threads;  // search threads
    std::optional<std::uint32_t> BlockSize;  // bytes read at once
};

struct RecoverOptions {
    std::string To;
    bool DeletedOnly = false;
    bool Lost = false;     // lost files of the sector search too
    bool Sectors = false;  // run the sector search after the file-system analysis
    bool System = false;   // NTFS's own files too when no pattern names what to recover
    std::string SizeRule = "default";
    std::vector<std::string> Patterns;  // paths or globs; none: every file
};

struct ImageOptions {
    std::string Out;
    bool ContinueOnErrors = false;
    bool Force = false;  // replace an existing OUT
};

int RunInfo(const CommonOptions& common, const TargetOptions& target);
int RunRecover(const CommonOptions& common, const TargetOptions& target, const RecoverOptions& options);
int RunImage(const CommonOptions& common, const TargetOptions& target, const ImageOptions& options);
int RunDrives(const CommonOptions& common);
int RunList(const CommonOptions& common, const TargetOptions& target, const FilterOptions& filter);
int RunCat(const CommonOptions& common, const TargetOptions& target, const std::string& pathOrId);
int RunScan(const CommonOptions& common, const TargetOptions& target, const ScanOptions& options);
int RunLost(const CommonOptions& common, const TargetOptions& target);
int RunTypes(const CommonOptions& common);
int RunFind(const CommonOptions& common, const TargetOptions& target, const FindOptions& options);

struct NewSignatureOptions {
    std::vector<std::string> Samples;
    std::int32_t TypeId = 0;
    std::string Group;        // a group's title
    std::string Description;
    std::string Extensions;
    std::string Prefix;
    std::optional<std::size_t> CompareBytes;  // default: the samples' common prefix
    std::string Output;       // the .filesig file
    bool Force = false;       // replace an existing one
};

// The interface language of the run: the named one, else the stored settings' choice.
void SelectLanguage(const std::string& name);
int RunSigNew(const NewSignatureOptions& options);
int RunSigImport(const std::string& path);
int RunSigExport(std::int32_t typeId, const std::string& path, bool force);
int RunSigMailto(std::int32_t typeId);
int RunLangExport(const std::string& path, bool force);

}  // namespace vm::cli
