#include "signatures/AppCatalogue.h"

#include <atomic>

#include "signatures/Searcher.h"
#include "volume/Volume.h"

namespace vm {

namespace {
// Lives to the end of the process: workers may read it.
std::atomic<FileTypeCatalogue*> g_catalogue{nullptr};
}  // namespace

FileTypeCatalogue& AppCatalogue() {
    if (FileTypeCatalogue* c = g_catalogue.load()) return *c;
    static FileTypeCatalogue* builtIn = [] {
        auto* c = new FileTypeCatalogue();
        c->BuildDefaultGroups();
        c->BuildDefaultTypes();
        c->BuildExtensionMap();
        c->PublishLookups();
        return c;
    }();
    FileTypeCatalogue* expected = nullptr;
    g_catalogue.compare_exchange_strong(expected, builtIn);
    return *g_catalogue.load();
}

void LoadAppCatalogue() {
    if (g_catalogue.load()) return;  // already in use: keep it
    auto* c = new FileTypeCatalogue();
    c->Load();
    c->PublishLookups();
    FileTypeCatalogue* expected = nullptr;
    if (!g_catalogue.compare_exchange_strong(expected, c)) delete c;
}

void RunSectorSearch(CVolume& volume) {
    CSearcher searcher(volume, volume.Progress(), AppCatalogue(),
                       [&volume](std::unique_ptr<FoundItem> item) { volume.AddSectorItem(std::move(item)); });
    searcher.Run(CSearcher::OptionsFromSettings(volume));
}

}  // namespace vm
