#include "ui/HexSource.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <linux/fs.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "volume/Volume.h"

namespace vm::ui {

std::size_t CMemorySource::Read(std::uint64_t offset, std::uint8_t* out, std::size_t length) const {
    if (offset >= Bytes) return 0;
    const std::size_t n = std::min<std::uint64_t>(length, Bytes - offset);
    std::memcpy(out, Buffer + offset, n);
    return n;
}

bool CMemorySource::Write(std::uint64_t offset, std::uint8_t value) {
    if (offset >= Bytes) return false;
    Buffer[offset] = value;
    return true;
}

std::unique_ptr<CFileSource> CFileSource::Open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    std::uint64_t size = 0;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        size = std::uint64_t(st.st_size);
    } else if (S_ISBLK(st.st_mode) && ::ioctl(fd, BLKGETSIZE64, &size) == 0) {
    } else {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<CFileSource>(new CFileSource(fd, size, path));
}

CFileSource::~CFileSource() { ::close(Fd); }

std::size_t CFileSource::Read(std::uint64_t offset, std::uint8_t* out, std::size_t length) const {
    if (offset >= Bytes) return 0;
    length = std::min<std::uint64_t>(length, Bytes - offset);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(Fd, out + done, length - done, off_t(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += std::size_t(n);
    }
    return done;
}

CItemSource::CItemSource(CVolume& drive, const ItemSnapshot& item, std::uint64_t unknownSizeShown)
    : Drive(drive), Item(item), Bytes(item.Fields.SizeKnown() ? item.Fields.Size : unknownSizeShown) {
    if (Item.Is(FI_FOLDER) || Item.Is(FI_DRIVE)) Bytes = 0;
    Item.Fields.Name = nullptr;  // the snapshot's name lives in Item.Name
}

std::size_t CItemSource::Read(std::uint64_t offset, std::uint8_t* out, std::size_t length) const {
    if (offset >= Bytes) return 0;
    length = std::min<std::uint64_t>({length, Bytes - offset, std::uint64_t(1) << 30});
    return Drive.ReadItem(Item.Fields, out, offset, std::uint32_t(length));
}

}  // namespace vm::ui
