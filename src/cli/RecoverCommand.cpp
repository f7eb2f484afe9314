// vellumark-cli recover: chosen files of a drive into a folder on another drive, with a report.
#include <cerrno>
#include <cstdio>
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
#include "recovery/Destination.h"
#include "recovery/Recovery.h"
#include "recovery/SizeRules.h"
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
        case RR_INCOMPLETE: return "incomplete";
        default: return "failed";
    }
}

// The SHA-256 of a recovered file, read without touching its access time: the recovery has
// just restored it. Empty when the file cannot be read.
std::string Sha256OfFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOATIME);
    if (fd < 0 && errno == EPERM) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);  // not the file's owner
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

// The report's line of each ended file, made while the job goes on: hashing the files already
// written overlaps with writing the next ones.
class CReportLines {
public:
    CReportLines(const CVolume& volume, const CRecovery& job) : Volume(volume), Job(job) {}
    // Adds the lines of the files that ended since the last call; false when there were none.
    bool TakeEnded() {
        const auto ended = Job.Outcomes(Seen);
        for (const auto& o : ended) {
            std::error_code ec;
            const auto size = o.Target.empty() ? 0 : std::filesystem::file_size(o.Target, ec);
            const std::string digest = o.Target.empty() ? std::string() : Sha256OfFile(o.Target);
            Text << ResultText(o.Result) << '\t' << (ec ? 0 : size) << '\t' << o.Item->DataOffset << '\t'
                 << (digest.empty() ? "-" : digest) << '\t' << ItemPath(Volume, *o.Item) << '\t'
                 << (o.Target.empty() ? "-" : o.Target) << '\n';
        }
        Seen += ended.size();
        return !ended.empty();
    }
    // Writes the report beside the recovered files (never over an earlier one); its path.
    std::string Write(const std::string& folder) const {
        std::string path = folder + (folder.back() == '/' ? "" : "/") + "vellumark-report.tsv";
        for (int n = 1; ::access(path.c_str(), F_OK) == 0; ++n)
            path = folder + "/vellumark-report (" + std::to_string(n) + ").tsv";
        std::ofstream out(path);
        out << "result\tsize\tsource_offset\tsha256\tsource\ttarget\n" << Text.str();
        return path;
    }

private:
    const CVolume& Volume;
    const CRecovery& Job;
    std::size_t Seen = 0;
    std::ostringstream Text;
};

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
    session.Run(*volume, o.Sectors ? Phase::Full : Phase::FileSystem, true);
    const auto selection = Select(*volume, o);
    if (selection.empty()) return Fail("nothing on the drive matches what was asked for");
    RecoverySettings settings;
    settings.RecoveryFolder = destination;
    job.SetSettings(&settings);
    typeSizes.LoadFrom(AppCatalogue());
    job.SetTypeSizes(&typeSizes);
    job.SetRunFlag(&session.Computer().Progress().RecoveryRunning);
    if (!job.BeginRecovery(volume, selection, SelectionSource::List)) return Fail("the recovery could not start");
    const bool terminal = ::isatty(STDERR_FILENO);
    CReportLines lines(*volume, job);
    while (job.IsRunning()) {
        if (terminal)
            std::fprintf(stderr, "\rrecovering %u of %u   ", job.CurrentIndex() + 1, job.ItemCount());
        if (!lines.TakeEnded()) usleep(100000);
    }
    job.Wait();
    lines.TakeEnded();
    if (terminal) std::fprintf(stderr, "\r%40s\r", "");
    const std::string report = lines.Write(destination);
    if (common.Json) {
        nlohmann::ordered_json j;
        j["recovered"] = job.Count(RR_DONE);
        j["incomplete"] = job.Count(RR_INCOMPLETE);
        j["failed"] = job.Count(RR_FAILED);
        j["bytes"] = job.BytesWritten();
        j["destination"] = destination;
        j["report"] = report;
        std::printf("%s\n", j.dump(2).c_str());
    } else {
        std::printf("Recovered %u file(s), %llu bytes, into %s\n", job.Count(RR_DONE),
                    (unsigned long long)job.BytesWritten(), destination.c_str());
        if (job.Count(RR_INCOMPLETE)) std::printf("Incomplete: %u file(s) (kept, see the log)\n", job.Count(RR_INCOMPLETE));
        if (job.Count(RR_FAILED)) std::printf("Failed: %u file(s) (see the log)\n", job.Count(RR_FAILED));
        std::printf("Report: %s\n", report.c_str());
    }
    return job.Count(RR_FAILED) ? 2 : 0;
}

}  // namespace vm::cli
