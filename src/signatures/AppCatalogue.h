#pragma once
// The process-wide file-type catalogue: the built-in types until start-up loads the stored ones.
#include "signatures/FileTypeCatalogue.h"

namespace vm {

FileTypeCatalogue& AppCatalogue();
// Makes the process's catalogue the one of the user's store (the built-in types on the first
// run, with the signatures the user added since). Call once at start, before anything reads it.
void LoadAppCatalogue();

// The sector search of the engine: CSearcher over the drive with the process's catalogue and
// the search settings.
void RunSectorSearch(CVolume& volume);

}  // namespace vm
