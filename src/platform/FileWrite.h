#pragma once
// Writing a whole buffer to a file descriptor: write() may take less than it was given.
#include <cerrno>
#include <cstddef>
#include <unistd.h>

namespace vm {

// Writes all `length` bytes unless an error stops it; returns the bytes written and leaves the
// errno of the failure in *error (ENOSPC when the device took nothing more without an error).
inline std::size_t WriteFully(int fd, const void* data, std::size_t length, int* error) {
    const char* p = static_cast<const char*>(data);
    std::size_t done = 0;
    *error = 0;
    while (done < length) {
        ssize_t n = ::write(fd, p + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = errno;
            break;
        }
        if (n == 0) {
            *error = ENOSPC;
            break;
        }
        done += std::size_t(n);
    }
    return done;
}

}  // namespace vm
