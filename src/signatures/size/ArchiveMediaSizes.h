#pragma once
// Size checks of archive and media formats: each reads the find's own structure to its end.
#include "signatures/SizeCheck.h"

namespace vm {

SizeAnswer CheckZipSize(CFindReader& reader);       // ZIP, JAR
SizeAnswer CheckGzipSize(CFindReader& reader);      // GZIP members
SizeAnswer CheckSevenZipSize(CFindReader& reader);  // 7z
SizeAnswer CheckRarSize(CFindReader& reader);       // RAR 1.5-4.x and RAR 5
SizeAnswer CheckBzip2Size(CFindReader& reader);     // bzip2 streams
SizeAnswer CheckArjSize(CFindReader& reader);       // ARJ
SizeAnswer CheckHaSize(CFindReader& reader);        // HA
SizeAnswer CheckCompressSize(CFindReader& reader);  // Unix compress (.Z): whether the codes hold
SizeAnswer CheckExeSize(CFindReader& reader);       // MZ executables: DOS and PE
SizeAnswer CheckRiffSize(CFindReader& reader);      // WAV, AVI and other RIFF forms
SizeAnswer CheckMp4Size(CFindReader& reader);       // MP4, QuickTime, 3GP boxes
SizeAnswer CheckOggSize(CFindReader& reader);       // Ogg pages
SizeAnswer CheckMidiSize(CFindReader& reader);      // Standard MIDI files

}  // namespace vm
