// The NTFS analysis of a large volume against sleuthkit's `fls -r -p` of the same image, run
// in the same invocation. The image is the one VM_BENCH_NTFS_IMAGE names, else
// bench/data/ntfs_100k.img below the working folder (bench/make_large_images.sh); without one
// the benchmarks are skipped.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/stat.h>

#include "app/Log.h"
#include "filesystem/FileSystem_NTFS.h"
#include "volume/Volume.h"

namespace {

std::string Image() {
    if (const char* env = std::getenv("VM_BENCH_NTFS_IMAGE"); env && *env) return env;
    return "bench/data/ntfs_100k.img";
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

void BM_NtfsAnalyse(benchmark::State& state) {
    const std::string image = Image();
    if (!Exists(image)) return state.SkipWithError(("no " + image).c_str());
    vm::CLog log;
    vm::SetGlobalLog(&log);
    std::int64_t records = 0, items = 0;
    for (auto _ : state) {
        vm::CVolume volume(vm::VK_IMAGE);
        volume.DevicePath = image;
        volume.ParseBootSector();
        auto fs = std::make_unique<vm::CFileSystem_NTFS>(&volume);
        fs->CopyTypeFrom(*volume.pFileSystem);
        vm::CFileSystem_NTFS* ntfs = fs.get();
        volume.pFileSystem = std::move(fs);
        volume.FoundTree.RootId = 5;
        ntfs->RootFolder.Id = 5;
        volume.FoundTree.Insert(&ntfs->RootFolder, false);
        ntfs->Analyse();
        records = std::int64_t(ntfs->RecordCount);
        items = volume.FsFiles + volume.FsFolders;
        volume.FoundTree.Clear();
    }
    vm::SetGlobalLog(nullptr);
    state.counters["records"] = double(records);
    state.counters["items"] = double(items);
}

void BM_FlsReference(benchmark::State& state) {
    const std::string image = Image();
    if (!Exists(image)) return state.SkipWithError(("no " + image).c_str());
    const std::string command = "fls -r -p '" + image + "' > /dev/null 2>&1";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) return state.SkipWithError("fls failed");
}

}  // namespace

BENCHMARK(BM_NtfsAnalyse)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FlsReference)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
