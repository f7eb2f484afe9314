#include "app/Log.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/Notify.h"
#include "platform/FileTime.h"
#include "platform/TempFolder.h"

namespace vm {
namespace {

CLog g_defaultLog;
std::atomic<CLog*> g_log{&g_defaultLog};

const char* LevelWord(int level) {
    switch (level) {
        case LOG_DEBUG: return "DBG: ";
        case LOG_ERROR: return "ERR: ";
        case LOG_CRITICAL: return "CRITICALERR: ";
        default: return "";
    }
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

}  // namespace

CLog& Log() { return *g_log.load(std::memory_order_acquire); }
void SetGlobalLog(CLog* log) { g_log.store(log ? log : &g_defaultLog, std::memory_order_release); }

CLog::~CLog() {
    if (hFile >= 0) ::close(hFile);
}

std::string CLog::TimeStamp() {
    auto now = std::chrono::system_clock::now();
    LastStamp = UnixToFileTime(std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch()).count());
    std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&t, &local);
    char date[100], time[100];
    if (std::strftime(date, sizeof date, "%x", &local) == 0) date[0] = 0;
    if (std::strftime(time, sizeof time, "%X", &local) == 0) time[0] = 0;
    return std::string(date) + " " + time;
}

void CLog::Write(const std::string& text, int level) {
    try {
        std::function<void(const std::string&)> echo;
        const std::string* stored = nullptr;
        bool post = false;
        {
            std::lock_guard<std::mutex> g(Lock);
            std::string line;
            if (TimeStamps) {
                line = TimeStamp();
                line += " - ";
            }
            line += LevelWord(level);
            line += text;
            Stored.push_back(std::move(line));
            stored = &Stored.back();
            if (WriteToFile) AppendToFile(*stored);
            post = ViewAttached;
            echo = Echo;
        }
        if (echo) echo(*stored);
        if (post) Notifier().Post(msg::LogLine, reinterpret_cast<std::uintptr_t>(stored), 0);
    } catch (...) {
        // Logging never fails its caller.
    }
}

bool CLog::OpenFile() {
    int flags = O_RDWR | O_CREAT | O_CLOEXEC | O_APPEND | (Overwrite ? O_TRUNC : 0);
    hFile = ::open(FileName.c_str(), flags, 0644);
    if (hFile < 0) {
        WriteToFile = false;
        return false;
    }
    struct stat st {};
    FileBytes = ::fstat(hFile, &st) == 0 ? std::uint64_t(st.st_size) : 0;
    Overwrite = false;  // a reopened file (after a size roll-over) is appended to
    return true;
}

void CLog::AppendToFile(const std::string& line) {
    if (hFile < 0 && !OpenFile()) return;
    std::string data = line + "\r\n";
    if (MaxFileBytes && FileBytes + data.size() > MaxFileBytes && FileBytes > 0) {
        ::close(hFile);
        hFile = -1;
        std::string old = FileName + ".old";
        ::rename(FileName.c_str(), old.c_str());
        if (!OpenFile()) return;
    }
    if (WriteAll(hFile, data)) FileBytes += data.size();
}

void CLog::SetFileOutput(bool enabled, const std::string& fileName, bool overwrite, std::uint32_t maxSizeKB) {
    std::lock_guard<std::mutex> g(Lock);
    if (hFile >= 0) ::close(hFile);
    hFile = -1;
    FileName = fileName;
    Overwrite = overwrite;
    MaxFileBytes = std::uint64_t(maxSizeKB) * 1024;
    WriteToFile = enabled && !fileName.empty();
    if (WriteToFile) OpenFile();
}

bool CLog::WritesToFile() const {
    std::lock_guard<std::mutex> g(Lock);
    return WriteToFile;
}

int CLog::SaveAndShow() {
    std::string path;
    std::vector<std::string> lines = Lines();
    int fd = CreateTempFile("Recovery log file.txt", &path);
    if (fd < 0) {
        Error(BuiltinString(186));
        return 0;
    }
    std::string data;
    for (const auto& l : lines) data += l + "\r\n";
    WriteAll(fd, data);
    ::close(fd);
    std::function<void(const std::string&)> opener;
    {
        std::lock_guard<std::mutex> g(Lock);
        SavedPath = path;
        opener = Opener;
    }
    if (opener) opener(path);
    return 1;
}

std::string CLog::SavedLogPath() const {
    std::lock_guard<std::mutex> g(Lock);
    return SavedPath;
}

int CLog::ShowStatus(int id) {
    Notifier().Send(msg::StatusText, std::uintptr_t(id), 0);
    return 1;
}

void CLog::SetTimeStamps(bool on) {
    std::lock_guard<std::mutex> g(Lock);
    TimeStamps = on;
}

void CLog::AttachLogView(bool attached) {
    std::lock_guard<std::mutex> g(Lock);
    ViewAttached = attached;
}

void CLog::SetEcho(std::function<void(const std::string&)> echo) {
    std::lock_guard<std::mutex> g(Lock);
    Echo = std::move(echo);
}

void CLog::SetOpener(std::function<void(const std::string&)> opener) {
    std::lock_guard<std::mutex> g(Lock);
    Opener = std::move(opener);
}

std::size_t CLog::LineCount() const {
    std::lock_guard<std::mutex> g(Lock);
    return Stored.size();
}

std::string CLog::Line(std::size_t index) const {
    std::lock_guard<std::mutex> g(Lock);
    return index < Stored.size() ? Stored[index] : std::string();
}

std::vector<std::string> CLog::Lines() const {
    std::lock_guard<std::mutex> g(Lock);
    return {Stored.begin(), Stored.end()};
}

bool CLog::Contains(std::string_view needle) const {
    std::lock_guard<std::mutex> g(Lock);
    for (const auto& l : Stored)
        if (l.find(needle) != std::string::npos) return true;
    return false;
}

std::uint64_t CLog::LastTime() const {
    std::lock_guard<std::mutex> g(Lock);
    return LastStamp;
}

}  // namespace vm
