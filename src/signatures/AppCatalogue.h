#pragma once
// The process-wide file-type catalogue: the built-in types until start-up loads the stored ones.
#include "signatures/FileTypeCatalogue.h"

namespace vm {

FileTypeCatalogue& AppCatalogue();

// The sector search of the engine: CSearcher over the drive with the process's catalogue and
// the search settings.
void RunSectorSearch(CVolume& volume);

}  // namespace vm
