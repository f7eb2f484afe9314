#pragma once
// Whether this process may read the machine's disks below their file systems: the counterpart of
// running as an administrator. Reading a block device needs read permission on its node (root, or
// membership of the group that owns it, usually "disk"); image files need nothing.
#include <string>
#include <vector>

namespace vm {

// True when every listed device node that exists can be opened for reading (missing nodes are
// skipped), and so when there is none.
bool CanReadRawDevices(const std::vector<std::string>& devicePaths);
// The same for the whole disks of this machine (/sys/block).
bool CanReadRawDevices();

}  // namespace vm
