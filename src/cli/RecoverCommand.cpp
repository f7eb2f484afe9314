// vellumark-cli recover: chosen files of a drive into a folder on another drive, with a report.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fnmatch.h>
#include <filesystem>
#include <fstream>
#include <openssl/evp.h>
#include <sstream>
#include <unistd.h>

#include "cli/Commands.h"
#include "cli/ItemOutput.h"
#include "cli/Session.h"
#include "filesystem/FileSystem_NTFS.h"
#include "platform/FileWrite.h"
#include "recovery/Destination.h"
#include "recovery/Recovery.h"
#include "recovery/SizeRules.h"
#include "recovery/TargetNames.h"
#include "signatures/AppCatalogue.h"

namespace vm::cli {
namespace {

std::string Slashed(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

bool Matches(const std::string& pattern, const std::string& path) {
    const std::string p = Slashed(pattern), full = Slashed(path);
    const std::string relative = full.substr(1), name = full.substr(full.find_last_of('/') + 1);
    return fnmatch(p.c_str(), full.c_str(), 0) == 0 || fnmatch(p.c_str(), relative.c_str(), 0) == 0 ||
           (p.find('/') == std::string::npos && fnmatch(p.c_str(), name.c_str(), 0) == 0);
}

std::vector<FoundItem*> Select(const CVolume& volume, const RecoverOptions& o) {
    std::vector<FoundItem*> out;
    const bool ntfs = volume.GetFileSystemFamily() == 1;
    for (FoundItem* item : ListedItems(volume)) {
        if (item->Is(FI_LOST) && !o.Lost) continue;
        if (o.DeletedOnly && !item->Is(FI_DELETED)) continue;
        if (o.Patterns.empty()) {
            // The whole drive: the user's files; the volume's own only when asked for.
            const bool system = ntfs && !o.System && IsNtfsSystemItem(volume.FoundTree, *item);
            if (!item->Is(FI_FOLDER) && !system) out.push_back(item);
            continue;
        }
        for (const auto& p : o.Patterns)
            if (Matches(p, ItemPath(volume, *item))) {
                out.push_back(item);
                break;
            }
    }
    return out;
}

const char* ResultText(RecoveryResult r) {
    switch (r) {
        case RR_DONE: return "recovered";
        case RR_INCOMPLETE: return "partial";
        default: return "failed";
    }
}

// Opens a file below folders that may together be longer than PATH_MAX: one component at a
// time, each relative to the folder before it. -1 when it cannot be opened.
int OpenForReading(const std::string& path) {
    int dir = ::open(path[0] == '/' ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::size_t start = path[0] == '/' ? 1 : 0;
    while (dir >= 0) {
        const std::size_t slash = path.find('/', start);
        const std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (slash == std::string::npos) {
            int fd = ::openat(dir, part.c_str(), O_RDONLY | O_CLOEXEC | O_NOATIME);
            if (fd < 0 && errno == EPERM) fd = ::openat(dir, part.c_str(), O_RDONLY | O_CLOEXEC);  // not the owner
            ::close(dir);
            return fd;
        }
        const int next = part.empty() ? ::dup(dir) : ::openat(dir, part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(dir);
        dir = next;
        start = slash + 1;
    }
    return -1;
}

// The SHA-256 of a recovered file, read without touching its access time: the recovery has
// just restored it. Empty when the file cannot be read.
std::string Sha256OfFile(const std::string& path) {
    const int fd = OpenForReading(path);
    if (fd < 0) return {};
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
    thread_local std::vector<unsigned char> buf(1 << 20);  // one for every file: most are small
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        EVP_DigestUpdate(ctx, buf.data(), std::size_t(n));
    }
    ::close(fd);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_DigestFinal_ex(ctx, digest, &n);
    EVP_MD_CTX_free(ctx);
    if (!ok) return {};
    std::string hex;
    char two[3];
    for (unsigned i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%02x", digest[i]);
        hex += two;
    }
    return hex;
}

// The report beside the recovered files, one line per file written as soon as the file has
// ended (hashing the files already written overlaps with writing the next ones), each line
// handed to the file system at once: a run that is cut short still leaves the lines of the
// files it ended. Fields that come from the drive are escaped, so that no name can break a line
// or a field.
class CReport {
public:
    CReport(const CVolume& volume, const CRecovery& job) : Volume(volume), Job(job) {}
    ~CReport() {
        if (Fd >= 0) ::close(Fd);
    }
    // Creates the report in `folder` (never over an earlier one); false with `error` set when
    // the folder takes no file, before anything is recovered into it.
    bool Create(const std::string& folder, std::string& error) {
        const std::string base = folder + (folder.back() == '/' ? "" : "/");
        Path = base + "vellumark-report.tsv";
        for (int n = 1; n < 10000; ++n) {
            Fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
            if (Fd >= 0 || errno != EEXIST) break;
            Path = base + "vellumark-report (" + std::to_string(n) + ").tsv";
        }
        if (Fd < 0 || !Put("result\tsize\tsource_offset\tsha256\tsource\ttarget\tzero_filled\n")) {
            error = "the destination '" + folder + "' cannot be written: " + std::strerror(Fd < 0 ? errno : Error);
            return false;
        }
        return true;
    }
    // Adds the lines of the files that ended since the last call; false when there were none.
    bool TakeEnded() {
        const auto ended = Job.Outcomes(Seen);
        for (const auto& o : ended) {
            const std::string digest = o.Target.empty() ? std::string() : Sha256OfFile(o.Target);
            std::ostringstream line;
            line << ResultText(o.Result) << '\t' << o.Written << '\t' << o.Item->DataOffset << '\t'
                 << (digest.empty() ? "-" : digest) << '\t' << PrintableName(ItemPath(Volume, *o.Item)) << '\t'
                 << (o.Target.empty() ? "-" : PrintableName(o.Target)) << '\t' << o.ZeroFilled << '\n';
            if (!Put(line.str())) Unwritten.push_back(line.str());
            if (o.Result == RR_DONE) RecoveredBytes += o.Written;
            if (o.Result == RR_INCOMPLETE) {
                PartialBytes += o.Written;
                ZeroBytes += o.ZeroFilled;
            }
        }
        Seen += ended.size();
        return !ended.empty();
    }
    const std::string& FilePath() const { return Path; }
    // Removes the report of a run that recovered nothing.
    void Discard() {
        Finish();
        ::unlink(Path.c_str());
    }
    // Lines the report file did not take (a full destination), and why.
    const std::vector<std::string>& LinesNotWritten() const { return Unwritten; }
    // Makes the report durable (a file system may tell only now that it is full); its error, 0
    // when every line is in the file.
    int Finish() {
        if (!Error && Fd >= 0 && ::fsync(Fd) != 0) Error = errno;
        if (Fd >= 0 && ::close(Fd) != 0 && !Error) Error = errno;
        Fd = -1;
        return Error;
    }
    std::uint64_t RecoveredBytes = 0, PartialBytes = 0, ZeroBytes = 0;

private:
    bool Put(const std::string& text) {
        if (Error) return false;
        int error = 0;
        if (WriteFully(Fd, text.data(), text.size(), &error) != text.size()) {
            Error = error;
            return false;
        }
        return true;
    }

    const CVolume& Volume;
    const CRecovery& Job;
    std::size_t Seen = 0;
    std::string Path;
    int Fd = -1;
    int Error = 0;
    std::vector<std::string> Unwritten;
};

// SIGINT and SIGTERM stop the recovery as the desktop's Stop does: the file being written
// ends where it is and is reported as partial, and the report is complete for what was done.
std::atomic<std::int32_t>* g_RunFlag = nullptr;
volatile std::sig_atomic_t g_Signal = 0;

void StopOnSignal(int signal) {
    g_Signal = signal;
    if (g_RunFlag) g_RunFlag->store(0);
}

bool ParseSizeRule(const std::string& text, CRecovery& job, std::string& error) {
    if (text == "default") job.SizeRuleAll = SR_DEFAULT_SIZE;
    else if (text == "next") job.SizeRuleAll = SR_NEXT_ANY_TYPE;
    else if (text == "next-same") job.SizeRuleAll = SR_NEXT_SAME_TYPE;
    else if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos && text.size() < 10) {
        job.SizeRuleAll = SR_CUSTOM;
        job.CustomSizeKBAll = std::uint32_t(std::stoul(text));
    } else {
        error = "--size-rule takes default, next, next-same or a size in KB";
        return false;
    }
    return true;
}

}  // namespace

int RunRecover(const CommonOptions& common, const TargetOptions& target, const RecoverOptions& o) {
    CSession session;
    std::string error;
    CTypeSizeTable typeSizes;  // each type's default size for the size rules, from the catalogue in use
    CRecovery job;
    if (!ParseSizeRule(o.SizeRule, job, error)) return Fail(error);
    std::error_code ec;
    std::filesystem::create_directories(o.To, ec);
    const std::string destination = std::filesystem::absolute(o.To, ec).lexically_normal().string();
    CVolume* volume = session.Open(target, error);
    if (!volume) return Fail(error);
    std::string message;
    if (CheckDestination(destination, true, volume, &message) != 1)
        return Fail(message.empty() ? "the destination '" + destination + "' cannot be used" : message);
    // Made before the analysis, so that a destination that takes no file is refused at once.
    CReport report(*volume, job);
    if (!report.Create(destination, error)) return Fail(error);
    session.Run(*volume, o.Sectors ? Phase::Full : Phase::FileSystem, true);
    const auto selection = Select(*volume, o);
    if (selection.empty()) {
        report.Discard();
        return Fail("nothing on the drive matches what was asked for");
    }
    RecoverySettings settings;
    settings.RecoveryFolder = destination;
    job.SetSettings(&settings);
    typeSizes.LoadFrom(AppCatalogue());
    job.SetTypeSizes(&typeSizes);
    job.SetRunFlag(&session.Computer().Progress().RecoveryRunning);
    g_RunFlag = &session.Computer().Progress().RecoveryRunning;
    std::signal(SIGINT, StopOnSignal);
    std::signal(SIGTERM, StopOnSignal);
    if (!job.BeginRecovery(volume, selection, SelectionSource::List)) return Fail("the recovery could not start");
    if (g_Signal) job.StopRecovery();  // a signal before the worker raised its flag
    const bool terminal = ::isatty(STDERR_FILENO);
    while (job.IsRunning()) {
        if (terminal)
            std::fprintf(stderr, "\rrecovering %u of %u   ", job.CurrentIndex() + 1, job.ItemCount());
        if (!report.TakeEnded()) usleep(100000);
    }
    job.Wait();
    report.TakeEnded();
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    g_RunFlag = nullptr;
    if (terminal) std::fprintf(stderr, "\r%40s\r", "");
    const int reportError = report.Finish();
    const std::uint32_t recovered = job.Count(RR_DONE), partial = job.Count(RR_INCOMPLETE),
                        failed = job.Count(RR_FAILED);
    if (common.Json) {
        nlohmann::ordered_json j;
        j["recovered"] = recovered;
        j["partial"] = partial;
        j["incomplete"] = partial;  // the older name of "partial", for scripts that read it
        j["failed"] = failed;
        j["bytes"] = report.RecoveredBytes;
        j["partial_bytes"] = report.PartialBytes;
        j["zero_filled_bytes"] = report.ZeroBytes;
        j["destination"] = destination;
        j["report"] = report.FilePath();
        j["report_complete"] = reportError == 0;
        std::printf("%s\n", j.dump(2).c_str());
    } else {
        std::printf("Recovered %u file(s), %llu bytes, into %s\n", recovered,
                    (unsigned long long)report.RecoveredBytes, destination.c_str());
        if (partial)
            std::printf("Partial: %u file(s), %llu bytes, %llu of them zeros for what could not be read "
                        "(kept, see the report and the log)\n",
                        partial, (unsigned long long)report.PartialBytes, (unsigned long long)report.ZeroBytes);
        if (failed) std::printf("Failed: %u file(s) (see the log)\n", failed);
        if (!reportError) std::printf("Report: %s\n", report.FilePath().c_str());
    }
    if (g_Signal) std::fprintf(stderr, "vellumark-cli: stopped by signal %d\n", int(g_Signal));
    if (reportError) {
        Fail("the report " + report.FilePath() + " could not be written whole (" + std::strerror(reportError) +
             "); the lines it lacks follow");
        for (const std::string& line : report.LinesNotWritten()) std::fprintf(stderr, "%s", line.c_str());
    }
    return failed || partial || reportError || g_Signal ? 2 : 0;
}

}  // namespace vm::cli
