#pragma once
// Helpers of the drive-list and driver tests: a notification sink that outlives every worker,
// the log lines written since a mark, and a machine of fake disks backed by temporary files.
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/Log.h"
#include "app/Notify.h"
#include "platform/DeviceReader.h"
#include "platform/SysBlock.h"
#include "support/TestSupport.h"
#include "volume/Volume.h"

namespace vmtest {

// The process's sink for these tests; a worker that a test let go may still post to it later.
inline vm::CRecordingSink& Sink() {
    static vm::CRecordingSink* sink = [] {
        auto* s = new vm::CRecordingSink();
        vm::SetNotifier(s);
        return s;
    }();
    return *sink;
}

inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The log lines written after construction.
class LogMark {
public:
    LogMark() : Start(vm::Log().LineCount()) {}
    std::vector<std::string> Lines() const {
        std::vector<std::string> out;
        for (std::size_t i = Start; i < vm::Log().LineCount(); ++i) out.push_back(vm::Log().Line(i));
        return out;
    }
    int Count(const std::string& needle) const {
        int n = 0;
        for (const auto& l : Lines()) n += l.find(needle) != std::string::npos;
        return n;
    }
    // Index of the first line containing needle, -1 when none.
    int Find(const std::string& needle) const {
        auto lines = Lines();
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (lines[i].find(needle) != std::string::npos) return int(i);
        return -1;
    }

private:
    std::size_t Start;
};

// Disks that exist only as files: the lister reports them, the opener maps /dev/NAME to a file.
class FakeMachine {
public:
    // Adds a disk of `sectors` 512-byte sectors with partitions of the given names.
    void AddDisk(const std::string& name, std::size_t sectors, const std::vector<std::string>& partitions = {}) {
        vm::SysDisk d;
        d.Name = name;
        d.SizeBytes = sectors * 512;
        std::uint32_t number = 1;
        for (const auto& p : partitions) {
            vm::SysPartition part;
            part.Name = p;
            part.Number = number++;
            part.StartBytes = 0;
            part.SizeBytes = d.SizeBytes;
            d.Partitions.push_back(part);
            Files->emplace("/dev/" + p, MakeFile(p, sectors));
        }
        Files->emplace("/dev/" + name, MakeFile(name, sectors));
        Disks.push_back(d);
    }
    void RemoveDisk(const std::string& name) {
        std::erase_if(Disks, [&](const vm::SysDisk& d) { return d.Name == name; });
    }
    std::function<std::vector<vm::SysDisk>()> Lister() const {
        return [this] { return Disks; };
    }
    // Opens the file behind a fake device; `slowPath` takes `delay` first. The opener owns what
    // it uses, so a query left running after a test has ended touches nothing of the test's.
    vm::DeviceOpener Opener(const std::string& slowPath = "", std::chrono::milliseconds delay = {}) const {
        auto files = Files;
        return [files, slowPath, delay](const std::string& path, int* error) -> std::shared_ptr<vm::IDeviceReader> {
            if (path == slowPath) std::this_thread::sleep_for(delay);
            auto it = files->find(path);
            if (it == files->end()) {
                if (error) *error = ENOENT;
                return nullptr;
            }
            return vm::CDeviceFile::Open(it->second, error);
        };
    }
    std::string Folder() const { return Dir->Path(); }

private:
    std::string MakeFile(const std::string& name, std::size_t sectors) {
        std::string path = Dir->File(name + ".img");
        WriteFile(path, std::vector<std::uint8_t>(sectors * 512, 0));
        return path;
    }
    // A query let go after a test finds its file gone: only a failed open, nothing freed.
    std::shared_ptr<TempDir> Dir = std::make_shared<TempDir>();
    std::shared_ptr<std::map<std::string, std::string>> Files = std::make_shared<std::map<std::string, std::string>>();
    std::vector<vm::SysDisk> Disks;
};

}  // namespace vmtest
