#include "filesystem/AnalyserFactory.h"

#include "filesystem/FileSystem_EXFAT.h"
#include "filesystem/FileSystem_FAT.h"
#include "filesystem/FileSystem_NTFS.h"
#include "volume/Volume.h"

#include <map>
#include <mutex>

#include "app/Log.h"

namespace vm {
namespace {

std::mutex g_lock;
std::map<std::uint32_t, AnalyserMaker> g_makers;

AnalyserMaker MakerFor(std::uint32_t typeCode) {
    std::lock_guard<std::mutex> g(g_lock);
    auto it = g_makers.find(typeCode);
    return it == g_makers.end() ? AnalyserMaker() : it->second;
}

}  // namespace

std::unique_ptr<CFileSystem> CreateAnalyser(std::uint32_t typeCode, CVolume* volume) {
    if (AnalyserMaker make = MakerFor(typeCode)) return make(volume);
    switch (FsType(typeCode).Family) {
        case FsFamily::Fat12:
        case FsFamily::Fat16:
        case FsFamily::Fat32:
        {
            auto fat = std::make_unique<CFileSystem_FAT>(volume);
            // The run this drive's worker serves: a worker let go after a stop does not go on
            // when a later run sets Running again.
            if (volume) fat->SetRunCheck([volume] { return volume->Progress().IsRunning(volume->RunId.load()); });
            return fat;
        }
        case FsFamily::Ntfs:
        {
            auto ntfs = std::make_unique<CFileSystem_NTFS>(volume);
            if (volume) ntfs->SetRunCheck([volume] { return volume->Progress().Running.load() == 1; });
            return ntfs;
        }
        case FsFamily::Exfat:
        {
            auto exfat = std::make_unique<CFileSystem_EXFAT>(volume);
            if (volume) exfat->SetRunCheck([volume] { return volume->Progress().IsRunning(volume->RunId.load()); });
            return exfat;
        }
        case FsFamily::None:
            break;
    }
    Log().MessageId(57214);
    return nullptr;
}

std::int32_t AnalyserRootId(std::uint32_t typeCode) { return FsType(typeCode).RootId; }

AnalyserMaker SetAnalyserMaker(std::uint32_t typeCode, AnalyserMaker maker) {
    std::lock_guard<std::mutex> g(g_lock);
    AnalyserMaker previous;
    auto it = g_makers.find(typeCode);
    if (it != g_makers.end()) previous = std::move(it->second);
    if (maker)
        g_makers[typeCode] = std::move(maker);
    else
        g_makers.erase(typeCode);
    return previous;
}

}  // namespace vm
