#pragma once
// The process's running record of what it did. Every subsystem writes to it; lines are kept for
// the whole run (a stored line never moves, so a window may hold a reference to it), optionally
// appended to a continuous log file, and announced to the log box through the notification sink.
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/Format.h"
#include "app/StringTable.h"

namespace vm {

enum LogLevel : int {
    LOG_DEBUG = 1,
    LOG_ERROR = 2,
    LOG_MESSAGE = 4,
    LOG_CRITICAL = 8,
    LOG_NOTICE = 10,
};

class CLog {
public:
    CLog() = default;
    ~CLog();
    CLog(const CLog&) = delete;
    CLog& operator=(const CLog&) = delete;

    void Write(const std::string& text, int level);
    void Message(const std::string& text) { Write(text, LOG_MESSAGE); }
    void Notice(const std::string& text) { Write(text, LOG_NOTICE); }

    template <typename... Args>
    void Error(std::string_view format, const Args&... args) {
        Write(vm::Format(format, args...), LOG_ERROR);
    }

    // Formats the built-in English text with that id; always 1.
    template <typename... Args>
    int MessageId(int id, const Args&... args) {
        Write(vm::Format(BuiltinString(id), args...), LOG_MESSAGE);
        return 1;
    }

    // Writes every line since start to "Recovery log file.txt" in the temporary folder and asks
    // the opener (when set) to show it. 1 on success, 0 when the file cannot be created.
    int SaveAndShow();
    std::string SavedLogPath() const;

    // The status-bar text with that id, sent to the top-level window; nothing is logged.
    int ShowStatus(int id);

    void SetTimeStamps(bool on);
    // The log box exists: every new line is posted to it from now on.
    void AttachLogView(bool attached);
    // Continuous file output. `maxSizeKB` 0 means no limit; when the file would grow past the
    // limit it is renamed to FILE.old and a new one begun.
    void SetFileOutput(bool enabled, const std::string& fileName, bool overwrite, std::uint32_t maxSizeKB = 0);
    bool WritesToFile() const;
    // Also copy every line to this function (the command line's --verbose uses it).
    void SetEcho(std::function<void(const std::string&)> echo);
    void SetOpener(std::function<void(const std::string& path)> opener);

    std::size_t LineCount() const;
    std::string Line(std::size_t index) const;
    std::vector<std::string> Lines() const;
    // True when some line contains `needle` (for tests and callers that check what happened).
    bool Contains(std::string_view needle) const;
    std::uint64_t LastTime() const;  // FILETIME of the most recent time-stamped line

private:
    std::string TimeStamp();
    void AppendToFile(const std::string& line);
    bool OpenFile();

    mutable std::mutex Lock;
    std::deque<std::string> Stored;
    std::uint64_t LastStamp = 0;
    int hFile = -1;
    bool WriteToFile = false;
    bool Overwrite = false;
    std::string FileName;
    std::uint64_t MaxFileBytes = 0;
    std::uint64_t FileBytes = 0;
    bool TimeStamps = true;
    bool ViewAttached = false;
    std::function<void(const std::string&)> Echo;
    std::function<void(const std::string&)> Opener;
    std::string SavedPath;
};

// The process-wide log. Start-up sets it; until then a log of its own serves.
CLog& Log();
void SetGlobalLog(CLog* log);

}  // namespace vm
