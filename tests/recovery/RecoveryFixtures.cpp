#include "recovery/RecoveryFixtures.h"

#include <random>

#include "filesystem/FileSystem_FAT.h"
#include "volume/VolumeImage.h"

using namespace vm;

namespace rtest {

std::vector<std::uint8_t> PatternBytes(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(size);
    std::mt19937 gen(seed);
    for (auto& b : bytes) b = std::uint8_t(gen() >> 24);
    return bytes;
}

ReadResult CCallbackReader::ReadAt(std::uint64_t pos, void* buffer, std::size_t len) {
    if (Before) Before(pos);
    return Inner->ReadAt(pos, buffer, len);
}

CraftedDrive::CraftedDrive(std::size_t bytes) : Data(PatternBytes(bytes)) {
    Path = Dir.File("crafted.dsk");
    vmtest::WriteFile(Path, Data);
    Volume.DevicePath = Path;
    Volume.RootItem.Id = std::uint32_t(kDriveId);
    Volume.SetDeviceOpener([this](const std::string& p, int* err) -> std::shared_ptr<IDeviceReader> {
        auto file = CDeviceFile::Open(p, err);
        if (!file) return nullptr;
        Faulty = std::make_shared<CFaultyReader>(file);
        return std::make_shared<CCallbackReader>(Faulty, [this](std::uint64_t pos) {
            if (OnRead) OnRead(pos);
        });
    });
    Volume.ParseBootSector();
    Volume.FoundTree.RootId = 0;
    Volume.FoundTree.SetDriveRootId(kDriveId);
    Volume.FoundTree.Insert(&Volume.RootItem, false);
    RootFolder.Flags = FI_FOLDER | FI_NAMED;
    RootFolder.Name = ".";
    RootFolder.Id = 0;
    RootFolder.ParentId = std::uint32_t(kDriveId);
    Volume.FoundTree.Insert(&RootFolder, false);
}

FoundItem* CraftedDrive::Folder(std::int32_t id, std::int32_t parent, const std::string& name) {
    FoundItem rec;
    rec.Flags = FI_FOLDER | FI_NAMED;
    rec.Id = std::uint32_t(id);
    rec.ParentId = std::uint32_t(parent);
    rec.Name = name.c_str();
    rec.Size = 0;
    return Volume.FoundTree.AddFound(rec, false);
}

FoundItem* CraftedDrive::File(std::int32_t id, std::int32_t parent, const std::string& name, std::uint64_t offset,
                              std::uint64_t size) {
    FoundItem rec;
    rec.Flags = FI_NAMED;
    rec.Id = std::uint32_t(id);
    rec.ParentId = std::uint32_t(parent);
    rec.Name = name.c_str();
    rec.DataOffset = offset;
    rec.Size = size;
    rec.WriteTime = 132000000000000000ULL + std::uint64_t(id) * 10000000ULL;  // 2019, whole seconds apart
    rec.AccessTime = 132100000000000000ULL;
    rec.CreateTime = 131900000000000000ULL;
    return Volume.FoundTree.AddFound(rec, false);
}

std::vector<std::uint8_t> CraftedDrive::Bytes(std::uint64_t offset, std::uint64_t size) const {
    return {Data.begin() + std::ptrdiff_t(offset), Data.begin() + std::ptrdiff_t(offset + size)};
}

CFaultyReader& CraftedDrive::Faults() {
    if (!Faulty) Volume.OpenDrive();
    return *Faulty;
}

FatDrive::FatDrive(const std::string& fixture) {
    Volume = OpenImage(vmtest::FixturePath(fixture), kDriveId);
    if (!Volume) return;
    CVolume& v = *Volume;
    auto fat = std::make_unique<CFileSystem_FAT>(&v);
    fat->CopyTypeFrom(*v.pFileSystem);
    const std::int32_t rootId = fat->TypeCode == FS_FAT32 ? 2 : 0;
    v.FoundTree.Clear();
    v.FoundTree.RootId = rootId;
    v.FoundTree.SetDriveRootId(kDriveId);
    v.FoundTree.Insert(&v.RootItem, false);
    fat->RootFolder.Id = std::uint32_t(rootId);
    fat->RootFolder.ParentId = std::uint32_t(kDriveId);
    v.FoundTree.Insert(&fat->RootFolder, false);
    v.pFileSystem = std::move(fat);
    v.pFileSystem->Analyse();
}

FoundItem* FatDrive::Find(const std::string& path) const {
    std::int32_t parent = Volume->FoundTree.RootId;
    FoundItem* found = nullptr;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string name = path.substr(start, end - start);
        std::vector<FoundItem*> children;
        Volume->FoundTree.GetChildren(parent, children);
        found = nullptr;
        for (FoundItem* c : children)
            if (name == c->NameOrEmpty()) found = c;
        if (!found) return nullptr;
        parent = found->SignedId();
        start = end + 1;
    }
    return found;
}

std::size_t LinesWith(const std::string& needle, std::size_t from) {
    std::size_t n = 0;
    for (std::size_t i = from; i < Log().LineCount(); ++i)
        if (Log().Line(i).find(needle) != std::string::npos) ++n;
    return n;
}

std::string Sha256(const std::string& path) {
    std::string out;
    vmtest::RunCommand("sha256sum '" + path + "'", &out);
    return out.substr(0, 64);
}

}  // namespace rtest
