#include "signatures/AppCatalogue.h"

#include "signatures/Searcher.h"
#include "volume/Volume.h"

namespace vm {

FileTypeCatalogue& AppCatalogue() {
    static FileTypeCatalogue* catalogue = [] {
        auto* c = new FileTypeCatalogue();  // lives to the end of the process: workers may read it
        c->BuildDefaultGroups();
        c->BuildDefaultTypes();
        c->BuildExtensionMap();
        c->PublishLookups();
        return c;
    }();
    return *catalogue;
}

void RunSectorSearch(CVolume& volume) {
    CSearcher searcher(volume, volume.Progress(), AppCatalogue(),
                       [&volume](std::unique_ptr<FoundItem> item) { volume.AddSectorItem(std::move(item)); });
    searcher.Run(CSearcher::OptionsFromSettings(volume));
}

}  // namespace vm
