#pragma once
// Asks the UDisks2 service on the system bus for a read-only descriptor of a block device, so
// that a user who may not open the device himself can read it once polkit lets him (it may ask
// for a password). Blocking: call it on the thread that opens the drive; it waits at most as
// long as it is told. Uses libsystemd's sd-bus; $DBUS_SYSTEM_BUS_ADDRESS names another bus.
#include <chrono>
#include <string>

namespace vm {

struct UDisksAnswer {
    int Fd = -1;                // the descriptor, owned by the caller; -1 when none was given
    bool Unavailable = false;   // no system bus, or no UDisks2 on it
    std::string Error;          // why no descriptor was given, for the user
};

// The object that stands for the block device of that kernel name ("sda1"):
// /org/freedesktop/UDisks2/block_devices/ and the name with every byte other than a letter
// or digit written as "_" and two hexadecimal digits.
std::string UDisksBlockObjectPath(const std::string& kernelName);

// Calls org.freedesktop.UDisks2.Block.OpenDevice with the mode "r" on that device's object,
// letting polkit ask the user; an answer that does not come within `wait` is given up.
UDisksAnswer OpenThroughUDisks(const std::string& kernelName, std::chrono::milliseconds wait);

}  // namespace vm
