#pragma once
// Watches the kernel's block-device events (a NETLINK_KOBJECT_UEVENT socket, which needs no
// udev daemon) on a thread of its own. After each burst of events it compares the machine's
// block devices with those it knew and reports the names that came and went.
#include <atomic>
#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace vm {

class CDeviceMonitor {
public:
    using Handler = std::function<void(const std::vector<std::string>& arrived, const std::vector<std::string>& removed)>;
    using NameLister = std::function<std::set<std::string>()>;

    // `names` lists the block devices now present (the disks and partitions of sysfs unless a
    // test says otherwise).
    explicit CDeviceMonitor(Handler handler, NameLister names = {});
    // Stops the thread and waits for it.
    ~CDeviceMonitor();
    CDeviceMonitor(const CDeviceMonitor&) = delete;
    CDeviceMonitor& operator=(const CDeviceMonitor&) = delete;

    // False (logged) when the kernel's event socket cannot be opened.
    bool Start();
    void Stop();

    // True when a uevent datagram is about a block device.
    static bool IsBlockEvent(const char* data, std::size_t length);
    // Compares the devices now present with `known` and reports the differences (if any).
    void Compare();

private:
    void Run();

    Handler OnChange;
    NameLister Names;
    std::set<std::string> Known;
    int Socket = -1;
    int WakeFd = -1;
    std::atomic<bool> Stopping{false};
    std::thread Thread;
};

}  // namespace vm
