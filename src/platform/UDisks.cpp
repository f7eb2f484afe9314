#include "platform/UDisks.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <systemd/sd-bus.h>
#include <unistd.h>

namespace vm {
namespace {

constexpr const char* kService = "org.freedesktop.UDisks2";
constexpr const char* kBlockInterface = "org.freedesktop.UDisks2.Block";
constexpr const char* kBlockObjects = "/org/freedesktop/UDisks2/block_devices/";

struct BusUnref {
    void operator()(sd_bus* b) const { sd_bus_flush_close_unref(b); }
};
struct MessageUnref {
    void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
using Bus = std::unique_ptr<sd_bus, BusUnref>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

// Errors that mean nobody answers for UDisks2 on this bus.
bool IsNoService(const sd_bus_error& e) {
    return sd_bus_error_has_name(&e, "org.freedesktop.DBus.Error.ServiceUnknown") ||
           sd_bus_error_has_name(&e, "org.freedesktop.DBus.Error.NameHasNoOwner");
}

UDisksAnswer Failure(std::string text, bool unavailable = false) {
    UDisksAnswer a;
    a.Error = std::move(text);
    a.Unavailable = unavailable;
    return a;
}

}  // namespace

std::string UDisksBlockObjectPath(const std::string& kernelName) {
    static const char hex[] = "0123456789abcdef";
    std::string path = kBlockObjects;
    for (unsigned char c : kernelName) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            path += char(c);
        } else {
            path += '_';
            path += hex[c >> 4];
            path += hex[c & 15];
        }
    }
    return path;
}

UDisksAnswer OpenThroughUDisks(const std::string& kernelName, std::chrono::milliseconds wait) {
    if (kernelName.empty()) return Failure("the device has no kernel name for UDisks2 to know it by");
    sd_bus* raw = nullptr;
    if (int r = sd_bus_open_system(&raw); r < 0)
        return Failure(std::string("the system bus cannot be reached (") + std::strerror(-r) + ")", true);
    Bus bus(raw);
    sd_bus_message* call = nullptr;
    const std::string object = UDisksBlockObjectPath(kernelName);
    if (sd_bus_message_new_method_call(bus.get(), &call, kService, object.c_str(), kBlockInterface, "OpenDevice") < 0)
        return Failure("the request to UDisks2 cannot be made");
    Message request(call);
    if (sd_bus_message_append(call, "sa{sv}", "r", 0) < 0 ||
        sd_bus_message_set_allow_interactive_authorization(call, 1) < 0)
        return Failure("the request to UDisks2 cannot be made");
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* answer = nullptr;
    const auto usec = std::uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(wait).count());
    const int r = sd_bus_call(bus.get(), call, usec ? usec : 1, &error, &answer);
    Message reply(answer);
    if (r < 0) {
        UDisksAnswer a;
        if (r == -ETIMEDOUT)
            a = Failure("UDisks2 did not answer within " + std::to_string(wait.count()) + " ms");
        else if (IsNoService(error))
            a = Failure("UDisks2 is not running on the system bus", true);
        else
            a = Failure(std::string("UDisks2 refused: ") + (error.message ? error.message : std::strerror(-r)) +
                        (error.name ? std::string(" (") + error.name + ")" : std::string()));
        sd_bus_error_free(&error);
        return a;
    }
    int fd = -1;
    if (sd_bus_message_read(answer, "h", &fd) < 0 || fd < 0) return Failure("UDisks2 answered without a descriptor");
    // The descriptor belongs to the message: keep a copy of our own.
    UDisksAnswer a;
    a.Fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (a.Fd < 0) return Failure(std::string("the descriptor from UDisks2 cannot be kept: ") + std::strerror(errno));
    return a;
}

}  // namespace vm
