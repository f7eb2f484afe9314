#include "volume/DeviceMonitor.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <linux/netlink.h>
#include <poll.h>
#include <string_view>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app/Log.h"
#include "platform/SysBlock.h"

namespace vm {
namespace {

// Events of one device change (a disk and its partitions) arrive within a few milliseconds.
constexpr int kBurstMs = 250;

std::set<std::string> SysfsBlockNames() {
    std::set<std::string> names;
    for (const auto& d : ListDisks()) {
        names.insert(d.Name);
        for (const auto& p : d.Partitions) names.insert(p.Name);
    }
    return names;
}

}  // namespace

CDeviceMonitor::CDeviceMonitor(Handler handler, NameLister names)
    : OnChange(std::move(handler)), Names(names ? std::move(names) : NameLister(SysfsBlockNames)) {}

CDeviceMonitor::~CDeviceMonitor() { Stop(); }

bool CDeviceMonitor::IsBlockEvent(const char* data, std::size_t length) {
    // "ACTION@DEVPATH\0KEY=VALUE\0..." from the kernel; anything else (udev's own format) is ignored.
    std::size_t i = 0;
    bool header = true;
    while (i < length) {
        const char* field = data + i;
        std::size_t n = strnlen(field, length - i);
        std::string_view f(field, n);
        if (header) {
            if (f.find('@') == std::string_view::npos) return false;
            header = false;
        } else if (f == "SUBSYSTEM=block") {
            return true;
        }
        i += n + 1;
    }
    return false;
}

bool CDeviceMonitor::Start() {
    if (Thread.joinable()) return true;
    Socket = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    sockaddr_nl addr{};
    addr.nl_family = AF_NETLINK;
    addr.nl_groups = 1;  // the kernel's own events
    if (Socket < 0 || ::bind(Socket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        Log().Error("Device changes are not watched: the kernel's event socket cannot be opened (%s)",
                    std::strerror(errno));
        if (Socket >= 0) ::close(Socket);
        Socket = -1;
        return false;
    }
    WakeFd = ::eventfd(0, EFD_CLOEXEC);
    Known = Names();
    Stopping = false;
    Thread = std::thread([this] { Run(); });
    return true;
}

void CDeviceMonitor::Stop() {
    if (Thread.joinable()) {
        Stopping = true;
        std::uint64_t one = 1;
        if (WakeFd >= 0 && ::write(WakeFd, &one, sizeof one) < 0) {
        }
        Thread.join();
    }
    if (Socket >= 0) ::close(Socket);
    if (WakeFd >= 0) ::close(WakeFd);
    Socket = WakeFd = -1;
}

void CDeviceMonitor::Compare() {
    std::set<std::string> now = Names();
    std::vector<std::string> arrived, removed;
    for (const auto& n : now)
        if (!Known.count(n)) arrived.push_back(n);
    for (const auto& n : Known)
        if (!now.count(n)) removed.push_back(n);
    Known = std::move(now);
    if ((!arrived.empty() || !removed.empty()) && OnChange) OnChange(arrived, removed);
}

void CDeviceMonitor::Run() {
    char buffer[8192];
    bool pending = false;
    auto firstEvent = std::chrono::steady_clock::now();
    while (!Stopping) {
        pollfd fds[2] = {{Socket, POLLIN, 0}, {WakeFd, POLLIN, 0}};
        int ready = ::poll(fds, WakeFd >= 0 ? 2 : 1, pending ? kBurstMs : 1000);
        if (Stopping) break;
        if (ready < 0 && errno != EINTR) break;
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            ssize_t n = ::recv(Socket, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0 && IsBlockEvent(buffer, std::size_t(n)) && !pending) {
                pending = true;
                firstEvent = std::chrono::steady_clock::now();
            }
            // A stream of events that never pauses is still looked at every few seconds.
            if (!pending || std::chrono::steady_clock::now() - firstEvent < std::chrono::seconds(2)) continue;
        }
        if (pending) {
            pending = false;
            try {
                Compare();
            } catch (...) {
                Log().Error("CDeviceMonitor::Run except");
            }
        }
    }
}

}  // namespace vm
