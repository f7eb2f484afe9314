#include "volume/SectorSearch.h"

#include <mutex>

#include "signatures/AppCatalogue.h"

namespace vm {
namespace {
std::mutex g_lock;
SectorSearchRun g_search;
}  // namespace

SectorSearchRun SetSectorSearch(SectorSearchRun run) {
    std::lock_guard<std::mutex> g(g_lock);
    std::swap(g_search, run);
    return run;
}

SectorSearchRun CurrentSectorSearch() {
    std::lock_guard<std::mutex> g(g_lock);
    return g_search ? g_search : SectorSearchRun(RunSectorSearch);
}

}  // namespace vm
