#include "recovery/Recovery.h"
#include "platform/ThreadPriority.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/Log.h"
#include "app/Notify.h"
#include "filesystem/FoundTree.h"
#include "platform/FileTime.h"
#include "platform/FileWrite.h"
#include "platform/TempFolder.h"
#include "recovery/Destination.h"
#include "recovery/TargetNames.h"
#include "volume/Volume.h"

namespace vm {
namespace {

// "name (1).ext" up to this number is tried before an item is given up.
constexpr unsigned kMaxNumberedNames = 9999;


std::string UtcText(std::uint64_t fileTime) {
    struct timespec ts = FileTimeToTimespec(fileTime);
    std::tm tm {};
    char text[64] = "";
    if (gmtime_r(&ts.tv_sec, &tm)) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return text;
}

struct timespec TimeOrOmit(std::uint64_t fileTime) {
    if (fileTime) return FileTimeToTimespec(fileTime);
    struct timespec ts {};
    ts.tv_nsec = UTIME_OMIT;
    return ts;
}

// Access and modification times as the drive recorded them; a time the drive does not know
// stays as it is. Linux keeps no settable creation time, so that one is written to the log.
void SetItemTimes(int fd, const FoundItem& item, const std::string& path) {
    struct timespec times[2] = {TimeOrOmit(item.AccessTime), TimeOrOmit(item.WriteTime)};
    if (item.AccessTime || item.WriteTime) ::futimens(fd, times);
    if (item.CreateTime)
        Log().Message(Format("FileRecovery: '%s' was created %s; this system cannot keep a creation time", path,
                             UtcText(item.CreateTime)));
}

std::string DefaultRecoveryFolder() {
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/Recovered Files";
}

void LogRenamed(const std::string& original, const std::string& used) {
    Log().Error("FileRecovery: the name \"%s\" cannot be used as it is; it is written as \"%s\"",
                PrintableName(original), used);
}

}  // namespace

FileOpener DefaultFileOpener() {
    return [](const std::string& path) -> int {
        if (::geteuid() == 0) {
            // Root's own files are not for the desktop user's programs to open.
            Log().Message(Format("The recovered file is at: %s", path));
            return 5;
        }
        pid_t pid = ::fork();
        if (pid < 0) return errno;
        if (pid == 0) {
            ::execlp("xdg-open", "xdg-open", path.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
        if (!WIFEXITED(status)) return 1;
        const int code = WEXITSTATUS(status);
        if (code == 0) return 33;
        return code == 127 || code == 3 ? 31 : code;  // no opener, or no application for the type
    };
}

CRecovery::CRecovery(RecoveryMode mode) : Mode(mode), Opener(DefaultFileOpener()), Buffer(kRecoveryChunk) {}

CRecovery::~CRecovery() {
    StopRecovery();
    Wait();
}

void CRecovery::SetSettings(RecoverySettings* settings) { Settings = settings ? settings : &OwnSettings; }
void CRecovery::SetRunFlag(std::atomic<std::int32_t>* flag) { RunFlag = flag ? flag : &OwnRunFlag; }
void CRecovery::SetTypeSizes(ITypeSizes* types) { Types = types ? types : &OwnTypes; }

std::string& CRecovery::DestinationSetting(RecoveryMode mode) {
    std::string& folder = mode == RecoveryMode::TryOpen ? Settings->TempFolder : Settings->RecoveryFolder;
    if (folder.empty()) folder = mode == RecoveryMode::TryOpen ? TempFolder() : DefaultRecoveryFolder();
    return folder;
}

std::size_t CRecovery::BuildRecoveryList(const CFoundTree& tree, const std::vector<FoundItem*>& selection,
                                         SelectionSource source) {
    if (IsRunning()) return 0;
    Items.clear();
    std::set<const FoundItem*> added;
    std::set<std::int32_t> expanded;  // folders by id: a damaged tree may link a folder into itself
    auto append = [&](FoundItem* item) {
        if (item && !item->Is(FI_DRIVE) && added.insert(item).second) Items.push_back(item);
    };
    auto filesBelow = [&](const FoundItem& folder) {
        if (!expanded.insert(folder.SignedId()).second) return;
        std::vector<std::pair<std::vector<FoundItem*>, std::size_t>> stack(1);
        tree.GetChildren(folder.SignedId(), stack.back().first);
        while (!stack.empty()) {
            auto& [children, next] = stack.back();
            if (next == children.size()) {
                stack.pop_back();
                continue;
            }
            FoundItem* child = children[next++];
            if (!child || child->Is(FI_DRIVE)) continue;
            if (!child->Is(FI_FOLDER)) {
                append(child);
            } else if (expanded.insert(child->SignedId()).second) {
                std::vector<FoundItem*> below;
                tree.GetChildren(child->SignedId(), below);
                stack.emplace_back(std::move(below), 0);
            }
        }
    };
    for (FoundItem* item : selection) {
        if (!item) continue;
        if (item->Is(FI_FOLDER)) {
            filesBelow(*item);
            if (source == SelectionSource::List) append(item);
        } else if (source == SelectionSource::List) {
            append(item);
        }
        if (source == SelectionSource::Tree) break;  // the tree has one selected node
    }
    ItemTotal = std::uint32_t(Items.size());
    return Items.size();
}

bool CRecovery::BeginRecovery(CVolume* volume, const std::vector<FoundItem*>& selection, SelectionSource source) {
    Log().Message(GetString(185));
    if (!volume || BuildRecoveryList(volume->FoundTree, selection, source) == 0) {
        Log().Error("%s", GetString(183));
        return false;
    }
    Log().Message(GetString(184));
    return StartRecovery(volume);
}

bool CRecovery::StartRecovery(CVolume* volume) { return Start(volume, &CRecovery::Recovery_Thread); }
bool CRecovery::StartTryOpen(CVolume* volume) { return Start(volume, &CRecovery::TryOpen_Thread); }

bool CRecovery::Start(CVolume* volume, void (CRecovery::*worker)()) {
    if (!volume || IsRunning()) return false;
    if (volume->State == VS_ANALYSING) {
        Log().Error("Recovery: drive %s is being analysed; recover when the analysis has ended",
                    volume->GetDisplayName());
        return false;
    }
    Wait();
    Volume = volume;
    LastFolder.reset();  // the destination may have changed since the last run
    LastFolderKey.clear();
    Current = 0;
    ItemTotal = std::uint32_t(Items.size());
    TotalWritten = 0;
    for (auto& r : Results) r = 0;
    {
        std::lock_guard<std::mutex> g(PathLock);
        Ended.clear();
    }
    // Raised before the thread starts, so that a stop asked for at once is not lost.
    RunFlag->store(1);
    WorkerRunning = true;
    ++volume->Users;  // a rescan keeps the drive while its files are recovered
    hThread = std::thread([this, worker, volume] {
        (this->*worker)();
        --volume->Users;
        WorkerRunning = false;
    });
    return true;
}

void CRecovery::StopRecovery() { RunFlag->store(0); }

void CRecovery::Wait() {
    if (hThread.joinable() && hThread.get_id() != std::this_thread::get_id()) hThread.join();
}

std::uint32_t CRecovery::Count(RecoveryResult result) const {
    return result >= RR_FAILED && result <= RR_INCOMPLETE ? Results[result].load() : 0;
}

std::string CRecovery::CurrentTargetPath() const {
    std::lock_guard<std::mutex> g(PathLock);
    return TargetPath;
}

void CRecovery::SetTargetPath(const std::string& path) {
    std::lock_guard<std::mutex> g(PathLock);
    TargetPath = path;
}

bool CRecovery::RunItems(std::string& destination) {
    LowerThreadPriority();
    if (destination.back() != '/') destination += '/';  // in place: the setting keeps it
    for (; Current < Items.size(); ++Current) {
        if (!Running()) return false;
        RecoverItem(Items[Current], &destination);
    }
    return true;
}

void CRecovery::Recovery_Thread() {
    std::string& folder = DestinationSetting(RecoveryMode::Recover);
    if (ConfirmDestinationDrive(folder, Volume) && !RunItems(folder)) Log().Message(GetString(213));
    Log().Message(GetString(214));
}

void CRecovery::TryOpen_Thread() {
    std::string& folder = DestinationSetting(RecoveryMode::TryOpen);
    TargetCreated = false;
    if (!ConfirmDestinationDrive(folder, Volume) || !RunItems(folder)) {
        Log().Message(GetString(213));
        return;
    }
    OpenLastTarget();
}

void CRecovery::OpenLastTarget() {
    const std::string path = CurrentTargetPath();
    struct stat st {};
    if (!TargetCreated || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    const int result = Opener ? Opener(path) : 31;
    if (result > 32)
        Log().Message(Format(GetString(205), path));
    else if (result == 31)
        Log().Error(GetString(206), path);
    else
        Log().Error(GetString(207), path, result);
}

void CRecovery::DeleteTempFiles() {
    for (const std::string& path : TempFiles) ::unlink(path.c_str());
    TempFiles.clear();
}

bool CRecovery::HasTempFiles() const { return !TempFiles.empty(); }

int CRecovery::RecoverItem(FoundItem* item, const std::string* destination) {
    RecoveryResult result = RR_FAILED;
    TargetCreated = false;
    TargetWritten = TargetZeroFilled = 0;
    CopySize = CutBytes = 0;
    try {
        result = RecoverOne(item, destination);
    } catch (...) {
        Log().Error("Recovery_Thread.except0");
    }
    ++Results[result];
    if (item && !item->Is(FI_FOLDER)) {
        std::lock_guard<std::mutex> g(PathLock);
        Ended.push_back({item, TargetCreated ? TargetPath : std::string(), result, TargetCreated ? TargetWritten : 0,
                         TargetCreated ? TargetZeroFilled : 0, CutBytes});
    }
    return result == RR_DONE ? 1 : 0;
}

std::vector<CRecovery::Outcome> CRecovery::Outcomes(std::size_t first) const {
    std::lock_guard<std::mutex> g(PathLock);
    if (first >= Ended.size()) return {};
    return std::vector<Outcome>(Ended.begin() + std::ptrdiff_t(first), Ended.end());
}

RecoveryResult CRecovery::RecoverOne(FoundItem* item, const std::string* destination) {
    if (!item || !Volume || item->Is(FI_DRIVE)) return RR_FAILED;
    TargetItem = item;
    std::string dest = destination ? *destination : DestinationSetting(RecoveryMode::Recover);
    if (dest.empty() || dest.back() != '/') dest += '/';
    if (!destination) Settings->RecoveryFolder = dest;

    std::string source;
    Volume->GetItemPath(*item, source);
    bool renamed = false;
    const std::vector<std::string> components = SafeFolderComponents(source, &renamed);
    if (renamed)
        Log().Error("FileRecovery: the folder path \"%s\" holds names that cannot be used as they are",
                    PrintableName(source));
    CTargetFolder* target = TargetFolderFor(dest, components);
    if (!target) return RR_FAILED;
    CTargetFolder& folder = *target;
    if (item->Is(FI_FOLDER)) return RecoverFolderItem(*item, folder, source);

    std::string name = SafeName(item->NameOrEmpty(), &renamed);
    if (renamed) LogRenamed(item->NameOrEmpty(), name);
    SetTargetPath(folder.Path() + name);
    if (item->Is(FI_LOST) && !SettleLostSize(*item)) return RR_FAILED;
    if (!item->SizeKnown()) {
        Log().Error(GetString(202), PrintableName(item->NameOrEmpty()));
        return RR_FAILED;
    }
    Log().Message(Format(GetString(201), PrintableName(item->NameOrEmpty()), PrintableName(source), folder.Path()));
    BoundBySource(*item);
    return FileRecovery(folder, name);
}

CTargetFolder* CRecovery::TargetFolderFor(const std::string& dest, const std::vector<std::string>& components) {
    // The items of one folder follow each other in the list: its folder stays open for them.
    std::string key = dest;
    for (const std::string& c : components) key += '\0' + c;
    if (LastFolder && LastFolder->Fd() >= 0 && key == LastFolderKey) return LastFolder.get();
    LastFolderKey.clear();
    LastFolder = std::make_unique<CTargetFolder>();
    if (!CreateFolderPath(*LastFolder, dest, components)) {
        Log().Message(Format(GetString(210), LastFolder->Path().empty() ? dest : LastFolder->Path()));
        LastFolder.reset();
        return nullptr;
    }
    LastFolderKey = std::move(key);
    return LastFolder.get();
}

RecoveryResult CRecovery::RecoverFolderItem(const FoundItem& item, CTargetFolder& parent, const std::string& source) {
    // The file system's root folder is the target folder itself.
    if (item.SignedId() == Volume->FoundTree.RootId) return RR_DONE;
    bool renamed = false;
    const std::string name = SafeName(item.NameOrEmpty(), &renamed);
    if (renamed) LogRenamed(item.NameOrEmpty(), name);
    CTargetFolder folder;
    if (!CreateFolderPath(folder, parent.Path(), {name})) {
        Log().Message(Format(GetString(210), parent.Path() + name));
        return RR_FAILED;
    }
    Log().Message(Format("FileRecovery: Recreating folder: %s [from '%s' to '%s']", PrintableName(item.NameOrEmpty()),
                         PrintableName(source), parent.Path()));
    SetItemTimes(folder.Fd(), item, folder.Path());
    return RR_DONE;
}

int CRecovery::SettleLostSize(FoundItem& item) {
    // The file's own structure told its size when it was found: no rule and no question.
    if (item.Is(FI_EXACT_SIZE) && item.SizeKnown()) return 1;
    const CFoundTree& tree = Volume->FoundTree;
    std::uint64_t size = SIZE_UNKNOWN;
    if (SizeRuleAll != SR_NONE) {
        size = SizeByRule(SizeRuleAll, item, tree, *Types, std::uint64_t(CustomSizeKBAll) * 1024);
    } else if (std::uint32_t rule = Types->RememberedRule(item.FileType)) {
        size = SizeByRule(rule, item, tree, *Types, std::uint64_t(Types->DefaultSizeKB(item.FileType)) * 1024);
    } else if (!AskProbableSize(item, size)) {
        return 0;
    }
    if (size == SIZE_UNKNOWN) return 1;  // no rule gave a size: the item is skipped as unknown
    // A lost file ends at the end of the drive at the latest.
    const std::uint64_t total = Volume->TotalBytes;
    if (total && item.DataOffset < total && size > total - item.DataOffset) {
        Log().Message(Format("FileRecovery: '%s' is cut to the %I64d bytes up to the end of the drive",
                             PrintableName(item.NameOrEmpty()), total - item.DataOffset));
        size = total - item.DataOffset;
    }
    item.Size = size;
    return 1;
}

void CRecovery::BoundBySource(const FoundItem& item) {
    CopySize = item.Size;
    const std::uint64_t held = Volume->ItemHeldBytes(item);
    if (held >= item.Size) return;
    CopySize = held;
    CutBytes = item.Size - held;
    Log().Error("FileRecovery: '%s' claims %I64d bytes, but the drive holds only %I64d of them; the file is cut there",
                PrintableName(item.NameOrEmpty()), item.Size, held);
}

int CRecovery::AskProbableSize(FoundItem& item, std::uint64_t& size) {
    const CFoundTree& tree = Volume->FoundTree;
    ProbableSizeQuestion q;
    q.Item = &item;
    q.DefaultBytes = SizeByRule(SR_DEFAULT_SIZE, item, tree, *Types, 0);
    q.NextAnyBytes = SizeByRule(SR_NEXT_ANY_TYPE, item, tree, *Types, 0);
    q.NextSameBytes = SizeByRule(SR_NEXT_SAME_TYPE, item, tree, *Types, 0);
    const std::intptr_t answer = Notifier().Send(msg::AskProbableSize, reinterpret_cast<std::uintptr_t>(&q), 0);
    if (answer != PSA_OK) {
        Log().Error(GetString(answer == PSA_CANCEL ? 203 : 202), PrintableName(item.NameOrEmpty()));
        return 0;
    }
    size = SizeByRule(q.Rule, item, tree, *Types, q.CustomBytes);
    const std::uint64_t customKB = std::min<std::uint64_t>(q.CustomBytes / 1024, 0xFFFFFFFFu);
    if (q.Scope == PSS_ALL_OF_TYPE) {
        Types->RememberRule(item.FileType, q.Rule, std::uint32_t(customKB));
    } else if (q.Scope == PSS_ALL_TYPES) {
        SizeRuleAll = q.Rule;
        if (q.Rule == SR_CUSTOM) CustomSizeKBAll = std::uint32_t(customKB);
    }
    return 1;
}

int CRecovery::CreateTarget(CTargetFolder& folder, std::string& name) {
    // A file that is already there, from before the run or from an item of the same name met
    // earlier, is never replaced: the item goes to the first free "name (n)".
    for (unsigned n = 0; n <= kMaxNumberedNames; ++n) {
        const std::string candidate = n ? NumberedName(name, n) : name;
        const std::string path = folder.Path() + candidate;
        int fd = ::openat(folder.Fd(), candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            SetTargetPath(path);
            if (n) Log().Message(Format("FileRecovery: written as '%s'", path));
            name = candidate;
            return fd;
        }
        const int error = errno;
        if (error != EEXIST) {
            Log().Error(GetString(196), path);
            Log().Error("FileRecovery: %s", std::strerror(error));
            return -1;
        }
        if (n == 0) Log().Error(GetString(212), path);
    }
    Log().Error(GetString(196), folder.Path() + name);
    return -1;
}

RecoveryResult CRecovery::FileRecovery(CTargetFolder& folder, std::string& name) {
    FilePercent = 0;
    const int fd = CreateTarget(folder, name);
    if (fd < 0) return RR_FAILED;
    TargetCreated = true;
    if (Mode == RecoveryMode::TryOpen) TempFiles.push_back(folder.Path() + name);
    std::uint64_t written = 0;
    CopyEnd end = CopyEnd::Broken;
    try {
        end = RecoveryCycle(fd, written);
        FilePercent = 100;
        SetItemTimes(fd, *TargetItem, folder.Path() + name);
    } catch (...) {
        Log().Error("Recovery_Thread.except0");
    }
    if (::close(fd) != 0 && end == CopyEnd::Complete) {
        Log().Error(GetString(211), errno);
        end = CopyEnd::WriteFailed;
    }
    return FinishFile(folder, name, end, written);
}

RecoveryResult CRecovery::FinishFile(CTargetFolder& folder, const std::string& name, CopyEnd end,
                                     std::uint64_t written) {
    const std::string path = folder.Path() + name;
    TargetWritten = written;
    // A file of 0 bytes is whole when it exists: an empty file is what it holds.
    if (TargetItem->Size == 0 && end == CopyEnd::Complete) return RR_DONE;
    if (written == 0 || end == CopyEnd::NothingRead) {
        TotalWritten -= written;  // the file is removed: its bytes were not recovered
        if (end == CopyEnd::NothingRead)
            Log().Error("FileRecovery: nothing of '%s' could be read", path);
        else if (end == CopyEnd::WriteFailed)
            Log().Error("FileRecovery: nothing of '%s' could be written; the empty file is removed", path);
        else if (CutBytes)
            Log().Error("FileRecovery: nothing of '%s' lies on the drive", path);
        else
            Log().Error(GetString(215), path);
        ::unlinkat(folder.Fd(), name.c_str(), 0);
        if (Mode == RecoveryMode::TryOpen) TempFiles.pop_back();
        TargetCreated = false;
        return RR_FAILED;
    }
    const std::uint64_t size = TargetItem->Size;
    switch (end) {
        case CopyEnd::Complete:
            if (CutBytes == 0 && TargetZeroFilled == 0) return RR_DONE;
            if (CutBytes) Log().Error("FileRecovery: '%s' is cut: %I64d of %I64d bytes written", path, written, size);
            if (TargetZeroFilled)
                Log().Error("FileRecovery: '%s' is partial: %I64d of its %I64d bytes could not be read and are zeros",
                            path, TargetZeroFilled, written);
            return RR_INCOMPLETE;
        case CopyEnd::Stopped:
            Log().Error("FileRecovery: recovery of '%s' was stopped after %I64d of %I64d bytes; the partial file is kept",
                        path, written, size);
            return RR_INCOMPLETE;
        default:
            Log().Error("FileRecovery: '%s' is incomplete: %I64d of %I64d bytes written", path, written, size);
            return RR_INCOMPLETE;
    }
}

std::uint32_t CRecovery::ReadChunk(std::uint64_t pos, std::uint32_t want) {
    const FoundItem& item = *TargetItem;
    std::uint8_t* buffer = Buffer.data();
    std::uint32_t got = std::min(Volume->ReadItem(item, buffer, pos, want), want);
    if (got == want) return want;
    Log().Error(GetString(197), got, want);
    // Past a read error the file is read on sector by sector, so that one bad sector costs that
    // sector only; what cannot be read is zeros and the rest keeps its place. Each sector is
    // tried alone before the rest of the chunk: some file systems fail a read as a whole when
    // any part of it cannot be read (the end of a cut image, say).
    std::uint32_t done = got, readBytes = got, gapFrom = got;
    bool inGap = false;
    const auto zeros = [&](std::uint32_t end) {
        if (!inGap) gapFrom = done;
        inGap = true;
        std::memset(buffer + done, 0, end - done);
        done = end;
    };
    while (done < want) {
        if (done % kSectorSize) {  // a read ended inside this sector: the rest of it was not read
            zeros(std::min<std::uint32_t>(want, (done / kSectorSize + 1) * kSectorSize));
            continue;
        }
        const std::uint32_t one = std::min(kSectorSize, want - done);
        std::uint32_t n = std::min(Volume->ReadItem(item, buffer + done, pos + done, one), one);
        if (n == one && done + one < want)
            n += std::min(Volume->ReadItem(item, buffer + done + one, pos + done + one, want - done - one),
                          want - done - one);
        if (n == 0) {
            zeros(done + one);
            continue;
        }
        if (inGap) NoteZeroFilled(pos + gapFrom, done - gapFrom);
        inGap = false;
        done += n;
        readBytes += n;
    }
    if (inGap) NoteZeroFilled(pos + gapFrom, done - gapFrom);
    return readBytes;
}

void CRecovery::NoteZeroFilled(std::uint64_t first, std::uint64_t bytes) {
    Log().Error("FileRecovery: bytes %I64d to %I64d of '%s' could not be read and are filled with zeros", first,
                first + bytes - 1, CurrentTargetPath());
    TargetZeroFilled += bytes;
}

CRecovery::CopyEnd CRecovery::RecoveryCycle(int fd, std::uint64_t& written) {
    const std::uint64_t size = CopySize;
    bool anyRead = false;
    for (std::uint64_t pos = 0; std::int64_t(pos) < std::int64_t(size); pos += kRecoveryChunk) {
        try {
            const std::uint32_t want = std::uint32_t(std::min<std::uint64_t>(kRecoveryChunk, size - pos));
            anyRead = ReadChunk(pos, want) > 0 || anyRead;
            int error = 0;
            const std::size_t put = WriteFully(fd, Buffer.data(), want, &error);
            written += put;
            TotalWritten += put;
            if (put != want) {
                Log().Error(GetString(211), error);
                Log().Error(GetString(198), put, want);
                Log().Error("FileRecovery: %s", std::strerror(error));
                return CopyEnd::WriteFailed;
            }
            FilePercent = pos == 0 ? 0 : std::uint32_t(pos / (size / 100));
            if (!Running() && pos + want < size) return CopyEnd::Stopped;
        } catch (...) {
            Log().Error("Recovery_Thread.RecoveryCycle.except1");
            return CopyEnd::Broken;
        }
    }
    return anyRead || size == 0 ? CopyEnd::Complete : CopyEnd::NothingRead;
}

}  // namespace vm
