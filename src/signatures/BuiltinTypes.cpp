#include "signatures/BuiltinTypes.h"

#include <vector>

#include "signatures/FileTypeDescriptor.h"

namespace vm {
namespace {

constexpr std::int32_t kDocuments = -144, kArchives = -48, kDatabases = -64, kImages = -115,
                       kPhotos = -117, kVideo = -120, kAudio = -122, kStorages = -112,
                       kMobile = -128, kExecutable = -80, kEmail = -133, kSystem = kSystemGroupId;

constexpr BuiltinGroup kGroups[] = {
    {kDocuments, "Documents"}, {kArchives, "Archives"},   {kDatabases, "Databases"},
    {kImages, "Images"},       {kPhotos, "Photos"},       {kVideo, "Video"},
    {kAudio, "Audio"},         {kStorages, "Storages and Drive images"},
    {kMobile, "Mobile"},       {kExecutable, "Executable"}, {kEmail, "E-mail"},
};

constexpr const char* kTiff = R"(4[0] "MM" 00 "*" ; 4[0] "II*" 00)";

// Notes on a few rows:
// - Icon File also bounds the image count at offset 4 to 1..511.
// - Xerox Image Format is a little-endian TIFF that carries the text "eXtended" in its first
//   sector; TIFF Image follows it, so that every other TIFF is filed as TIFF, not as Xerox nor
//   as one of the camera formats that share its header.
// - The letter S is a search that minds case, s one that ignores it.
// - SymbianOS Installer File: the installer's second and third UIDs are stored little-endian
//   (..6D 00 00 10 19 04 00 10), so bytes 6 to 11 read 00 10 19 04 00 10.
// - Identifiers 267, 612 and 801 to 803 sit next to the rows of the same family.
// - MPEG-4 Video File and QuickTime also know the type box ("ftyp") that today's writers put
//   first: major brands isom/iso2..., mp41/mp42, avc1 and M4V, and "qt  " for QuickTime.
constexpr BuiltinType kTypes[] = {
    {47, kDocuments, "Portable Document Format (Adobe Acrobat)", "adobe", "PDF", R"(b[0] "%PDF-1.")", nullptr},
    {42, kDocuments, "WordPerfect Format", "document", "WPC", R"(4[0] FF "WPC")", nullptr},
    {46, kDocuments, "Microsoft Write", "document", "WRI", R"(b[1] BE 00 00 00 AB 00 00 00 00 00 00 00 00)", nullptr},
    {45, kDocuments, "Microsoft Reader Document (Windows CE)", "document", "LIT", R"(b[0] "ITOLITLS")", nullptr},
    {41, kDocuments, "Rich Text Format", "document", "RTF", R"(b[0] "{\rtf")", nullptr},
    {60, kDocuments, "DjVu Text Format", "document", "DJVU;DJV", R"(b[0] "AT&TFORM")", nullptr},
    {82, kDocuments, "Adobe Encapsulated PostScript", "adobe", "EPS", R"(b[0] "%!PS-Adobe")", nullptr},
    {51, kDocuments, "XML File", "xml", "XML", R"(b[0] "<?xml " ; b[0] "<?XML ")", nullptr},
    {52, kDocuments, "HTML Hypertext Web Document", "web_document", "HTML;HTM", R"(s "<HTML" ; s "<!DOCTYPE HTML")", nullptr},
    {44, kDocuments, "HTML Help File", "help", "CHM", R"(8[0] "ITSF" 03 00 00 00)", nullptr},
    {43, kDocuments, "Windows Help File", "help", "HLP", R"(4[0] "?_" 03 00)", nullptr},
    {48, kDocuments, "Lotus 1-2-3/Symphony Document", "document", "WKS", R"(b[0] 00 00 02 00 04)", nullptr},
    {50, kDocuments, "Business Card (vCard)", "vCard", "VCF", R"(b[0] "BEGIN:VCARD")", nullptr},
    {54, kDocuments, "Internet shortcut file", "url", "URL", R"(b[0] "[InternetShortcut]")", nullptr},
    {200, kAudio, "Windows Audio", "audio", "WAV", R"(4[0] "RIFF" & b[8] "WAVEfmt")", nullptr},
    {220, kAudio, "MIDI Audio (.MID, .MIDI, .KAR, .RMI)", "audio", "MID,MIDI,KAR,RMI", R"(8[0] "MThd" 00 00 00 06)", nullptr},
    {202, kAudio, "OGG Audio", "audio", "OGG", R"(8[0] "OggS" 00 02 00 00)", nullptr},
    {221, kAudio, "Digital Speech Standard", "audio", "DSS", R"(4[0] 02 "dss")", nullptr},
    {222, kAudio, "AU Audio", "audio", "AU,SND", R"(4[0] ".snd")", nullptr},
    {223, kAudio, "AIF Audio", "audio", "AIF,AIFF,AIFC", R"(4[0] "FORM" & b[8] "AIF")", nullptr},
    {224, kAudio, "M3U Play List File", "audio", "M3U", R"(b[0] "#EXTM3U")", nullptr},
    {226, kAudio, "Creative Voice File", "audio", "VOC", R"(b[0] "Creative Voice File")", nullptr},
    {227, kAudio, "Audio Visual Research File", "audio", "AVR", R"(4[0] "2BIT")", nullptr},
    {83, kImages, "JPEG Image", "image", "JPG,JPEG,JPE,JFIF,JFI", R"(4[0] FF D8 FF E1 ; 4[0] FF D8 FF E0)", nullptr},
    {525, kImages, "Bitmap Image", "image", "BMP", R"(2[0] "BM" & 4[6] 00 00 00 00)", nullptr},
    {85, kImages, "GIF Image", "image", "GIF", R"(4[0] "GIF8" & 1[5] "a")", nullptr},
    {88, kImages, "PNG Image", "image", "PNG", R"(8[0] 89 "PNG" 0D 0A 1A 0A & 8[8] 00 00 00 0D "IHDR")", nullptr},
    {89, kImages, "Photoshop Document", "image", "PSD", R"(8[0] "8BPS" 00 01 00 00)", nullptr},
    {91, kImages, "Windows Metafile", "image", "WMF,MET", R"(4[0] D7 CD C6 9A & 2[4] 00 00)", nullptr},
    {92, kImages, "TrueType Font File", "image", "TTF", R"(4[0] 00 01 00 00 & 4[12] "OS/2")", nullptr},
    {93, kImages, "Paint Shop Pro Image", "image", "PSP", R"(b[0] "Paint Shop Pro Image File")", nullptr},
    {94, kImages, "Corel Draw", "image", "CDR", R"(4[0] "RIFF" & b[8] "CDR")", nullptr},
    {95, kImages, "Xerox Image Format", "image", "XIF", R"(4[0] "II*" 00 & S "eXtended")", nullptr},
    {87, kImages, "TIFF Image", "image", "TIFF,TIF", kTiff, nullptr},
    {90, kImages, "Icon File", "image", "ICO", R"(4[0] 00 00 01 00 & 1[9] 00 & w[4] 01 00 FF 01)", nullptr},
    {96, kImages, "AutoCAD Drawing", "image", "DWG", R"(4[0] "AC10")", nullptr},
    {97, kImages, "AutoCAD Drawing", "image", "DXF", R"(b[4] "SECTION")", nullptr},
    {110, kPhotos, "Minolta RAW. Raster image from a Minolta digital camera", "foto_image", "MRW", R"(4[0] 00 "MRM")", nullptr},
    {111, kPhotos, "Canon RAW. Photograph from a Canon camera", "foto_image", "CRW,CR2", R"(b[8] "HEAPCCDR" ; b[8] "HEAPJPGM" ; b[8] "HEAPTIFP" ; b[8] "HEAPARCH")", nullptr},
    {112, kPhotos, "Digital Camera RAW. Photograph from a Kodak digital camera", "foto_image", "DCR", R"(4[0] "RIFX" ; 4[0] "XFIR")", nullptr},
    {117, kPhotos, "Fuji RAW. Raster image from a Fuji digital camera", "foto_image", "RAF", R"(b[0] "FUJIFILM")", nullptr},
    {114, kPhotos, "NEF Foto", "foto_image", "NEF", kTiff, nullptr},
    {115, kPhotos, "Olympus Raw Format", "foto_image", "ORF", R"(4[0] "IIRS")", nullptr},
    {116, kPhotos, "Pentax Electronic Format", "foto_image", "PEF", kTiff, nullptr},
    {118, kPhotos, "Sony RAW File", "foto_image", "SRF", kTiff, nullptr},
    {160, kVideo, "ASF", "video", "ASF", R"(8[0] "0&" B2 "u" 8E "f" CF 11 & 8[8] A6 D9 00 AA 00 "b" CE "l")", nullptr},
    {150, kVideo, "RealMedia File", "video", "RM", R"(4[0] ".RMF")", nullptr},
    {170, kVideo, "QuickTime (Rich Media Format)", "quicktime", "MOV,QT,PKG,M2S,MPGX,MPM,QTIF,QTI",
     R"(4[4] "moov" ; 4[4] "pnot" ; 4[4] "mdat" ; 4[4] "wide" ; 4[4] "vide" ; 4[4] "trak" ; 4[4] "skip" ; 4[4] "MPEG" ; 4[4] "strm" ; 4[4] "free" ; 4[4] "ftyp" & b[8] "qt  ")", nullptr},
    {524, kVideo, "AVI (RIFF Video Format)", "video", "AVI", R"(4[0] "RIFF" & b[8] "AVI LIST")", nullptr},
    {181, kVideo, "Mobile Phone Video", "mobile_video", "3GP", R"(b[4] "ftyp3gp")", nullptr},
    {141, kVideo, "MPEG-4 Video File", "video", "MP4", R"(4[4] "ftyp" & b[16] "mp4" ; 4[4] "ftyp" & b[8] "mp4" ; 4[4] "ftyp" & b[8] "iso" ; 4[4] "ftyp" & b[8] "avc1" ; 4[4] "ftyp" & b[8] "M4V")", nullptr},
    {265, kMobile, "SymbianOS Installer File", "mobile_content", "SIS", R"(4[6] 00 10 19 04 & 2[10] 00 10)", nullptr},
    {266, kMobile, "Microsoft PocketPC Word", "mobile_content", "PSW", R"(b[0] "{\pwi")", nullptr},
    {267, kMobile, "Microsoft PocketPC Buckup", "mobile_content", "PBF", R"(b[0] "POCKETPCIMAGE")", nullptr},
    {300, kArchives, "PkZIP/WinZIP Archive File", "archive", "ZIP", R"(4[0] "PK" 03 04)", nullptr},
    {330, kArchives, "TAR Archive File", "archive", "TAR", R"(b[257] "ustar")", nullptr},
    {310, kArchives, "RAR Archive File", "archive", "RAR", R"(4[0] "Rar!" ; b[4] 1A 07 00)", nullptr},
    {320, kArchives, "ARJ Archive File", "archive", "ARJ", R"(2[0] 60 EA)", nullptr},
    {331, kArchives, "GZIP Archive File", "archive", "GZIP", R"(2[0] 1F 8B)", nullptr},
    {332, kArchives, "ACE Archive File", "archive", "ACE", R"(b[0] "**ACE**")", nullptr},
    {333, kArchives, "LZH Archive File", "archive", "LZH", R"(b[2] "-lh" ; b[2] "-lz")", nullptr},
    {334, kArchives, "HA Archive File", "archive", "HA", R"(2[0] "HA")", nullptr},
    {335, kArchives, "HYP Archive File", "archive", "HYP", R"(b[0] 1A "HP" ; b[0] 1A "ST")", nullptr},
    {336, kArchives, "MS Cabinet File", "archive", "CAB", R"(8[0] "MSCF" 00 00 00 00)", nullptr},
    {337, kArchives, "ZOO Archive File", "archive", "ZOO", R"(4[0] "ZOO ")", nullptr},
    {338, kArchives, "JAR Archive File", "archive", "JAR", R"(8[0] "PK" 03 04 14 00 08 00 ; b[0] "JARCS" 00)", nullptr},
    {339, kArchives, "Z Archive File", "archive", "Z", R"(b[0] 1F 9D 90)", nullptr},
    {344, kArchives, "GZ Archive File", "archive", "GZ", R"(b[0] 1F 8B 08)", nullptr},
    {345, kArchives, "7Z Archive File", "archive", "7Z", R"(2[0] "7z" & 4[2] BC AF "'" 1C)", nullptr},
    {340, kArchives, "AIN Archive File", "archive", "AIN", R"(4[0] "!" 12 00 00)", nullptr},
    {341, kArchives, "BZIP Archive File", "archive", "BZIP,BZI", R"(b[0] "BZh91AY&SY")", nullptr},
    {342, kArchives, "RK Archive File", "archive", "RK", R"(4[0] "RKA7")", nullptr},
    {343, kArchives, "UC2 Archive File", "archive", "UC2", R"(4[0] "UC2" 1A)", nullptr},
    {400, kExecutable, "DOS Executable File", "executable", "EXE", R"(2[0] "MZ")", "EXE-DOS"},
    {411, kExecutable, "LIBCOFF Executable File", "executable", "LIB", R"(8[0] "!<arch>" 0A)", "EXE-LIBCOFF"},
    {412, kExecutable, "MSLIB Executable File", "executable", "LIB", R"(4[0] F0 0D 00 00)", "EXE-MSLIB"},
    {801, kDatabases, "Outlook Express E-mail Folder", "outlook_express_data", "DBX", R"(4[0] CF AD 12 FE)", nullptr},
    {802, kDatabases, "Microsoft Access Database", "access_database", "MDB", R"(b[4] "Standard Jet DB" 00)", nullptr},
    {800, kDatabases, "Microsoft Money Data", "money_data", "MNY", R"(b[4] "MSISAM.Database")", nullptr},
    {250, kDocuments, "MS Outlook Personal Folders", "outlook", "PST,OST", R"(4[0] "!BDN")", nullptr},
    {251, kDocuments, "MS Outlook Address Book", "outlook_address_book", "OAB", R"(b[1] 00 00 00 94 01 00 ">")", nullptr},
    {53, kDocuments, "Ichitaro Document (Japanese)", "document", "JXW,JAW,JBW,JSW", R"(4[0] "DOC" 00 & 4[4] 00 00 00 00)", nullptr},
    {252, kDocuments, "MS Calendar", "Calendar", "CAL", R"(8[0] B5 A2 B0 B3 B3 B0 A2 B5)", nullptr},
    {803, kDatabases, "Microsoft Cardfile", "Cardfile", "CRD", R"(b[0] "MGC")", nullptr},
    {610, kDocuments, "Win Organizer", "WinOrganizer", "GSO", R"(b[1] "TreeData")", nullptr},
    {612, kStorages, "Best Crypt Disk Image", "Disk_Image", "JBC", R"(b[3] "LOCOS")", nullptr},
    {611, kStorages, "PGP Disk Image", "Disk_Image", "PGD", R"(b[0] "PGPdMAIN")", nullptr},
    {1, kSystem, "System Logical FAT12 Disk", "system", "SYSTEM", R"(2[510] "U" AA & 1[0] EB & 1[2] 90 & b[54] "FAT12")", nullptr},
    {4, kSystem, "System Logical FAT16 Disk", "system", "SYSTEM", R"(2[510] "U" AA & 1[0] EB & 1[2] 90 & b[54] "FAT16")", nullptr},
    {11, kSystem, "System Logical FAT32 Disk", "system", "SYSTEM", R"(2[510] "U" AA & 1[0] EB & 1[2] 90 & b[82] "FAT32")", nullptr},
    {7, kSystem, "System Logical NTFS Disk", "system", "SYSTEM", R"(2[510] "U" AA & 1[0] EB & 1[2] 90 & b[3] "NTFS    ")", nullptr},
    {26, kSystem, "System Logical exFAT Disk", "system", "SYSTEM", R"(2[510] "U" AA & 1[0] EB & b[3] "EXFAT   ")", nullptr},
    {24, kSystem, "NTFS File Entry ", "system", "SYSTEM", R"(4[0] "FILE")", nullptr},
    // A FAT folder's first cluster: its "." entry, a folder, followed by its ".." entry.
    {25, kSystem, "FAT Directory", "system", "SYSTEM", R"(b[0] ".          " & 1[11] 10 & b[32] "..         ")", nullptr},
    {500, kDocuments, "Microsoft Storage File (DOC,XLS,PPT and etc.)", "document", "DOC", R"(4[0] D0 CF 11 E0)", nullptr},
    {502, kDocuments, "Microsoft Word Document", "document", "DOC", "", nullptr},
    {501, kDocuments, "Microsoft Excel Document", "document", "XLS", "", nullptr},
    {503, kDocuments, "Microsoft PowerPoint Presentation", "document", "PPT", "", nullptr},
    {508, kDocuments, "Microsoft Publisher Document", "document", "PUB", "", nullptr},
    {506, kDocuments, "Microsoft Project Document", "document", "MPP", "", nullptr},
    {505, kDocuments, "Microsoft Visio Document", "document", "VSD", "", nullptr},
    {507, kDocuments, "Microsoft Works Document", "document", "WPS", "", nullptr},
    {522, kDocuments, "3D Studio Max Model", "discreet", "MAX", "", nullptr},
    {81, kDocuments, "3D Studio Max Model", "discreet", "3DS", "", nullptr},
    {523, kDocuments, "Macromedia Flash", "flash_document", "FLA", "", nullptr},
    {520, kDocuments, "Ichitaro Document (Storage File) (Japanese)", "document", "JTD,JTD,JFW,JTT", "", nullptr},
};

// A reader of the notation, one token at a time.
class NotationReader {
public:
    explicit NotationReader(std::string_view text) : Text(text) {}

    bool AtEnd() { SkipBlanks(); return Pos >= Text.size(); }
    bool Take(char c) {
        SkipBlanks();
        if (Pos < Text.size() && Text[Pos] == c) { ++Pos; return true; }
        return false;
    }
    bool Peek(char c) { SkipBlanks(); return Pos < Text.size() && Text[Pos] == c; }
    char TakeAny() { SkipBlanks(); return Pos < Text.size() ? Text[Pos++] : '\0'; }

    bool Number(std::uint32_t& out) {
        SkipBlanks();
        std::size_t start = Pos;
        out = 0;
        while (Pos < Text.size() && Text[Pos] >= '0' && Text[Pos] <= '9') out = out * 10 + (Text[Pos++] - '0');
        return Pos > start;
    }

    // Quoted runs and hexadecimal bytes up to the next separator.
    bool Data(std::vector<std::uint8_t>& out) {
        while (!AtEnd() && !Peek('&') && !Peek(';')) {
            if (Take('"')) {
                while (Pos < Text.size() && Text[Pos] != '"') out.push_back(std::uint8_t(Text[Pos++]));
                if (Pos >= Text.size()) return false;
                ++Pos;
            } else {
                int hi = Hex(TakeAny()), lo = Pos < Text.size() ? Hex(Text[Pos++]) : -1;
                if (hi < 0 || lo < 0) return false;
                out.push_back(std::uint8_t(hi << 4 | lo));
            }
        }
        return true;
    }

private:
    static int Hex(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    }
    void SkipBlanks() { while (Pos < Text.size() && Text[Pos] == ' ') ++Pos; }

    std::string_view Text;
    std::size_t Pos = 0;
};

std::uint32_t KindOfLetter(char letter) {
    switch (letter) {
        case 'b': return SC_BYTES;
        case '1': return SC_BYTE;
        case '2': return SC_WORD;
        case '4': return SC_DWORD;
        case '8': return SC_QWORD;
        case 'r': return SC_BYTE_RANGE;
        case 'w': return SC_WORD_RANGE;
        case 's': return SC_SEARCH_NOCASE;
        case 'S': return SC_SEARCH;
        default: return 0;
    }
}

// The data length each kind needs: its width for the value kinds, two bounds for the ranges.
bool LengthFits(std::uint32_t kind, std::size_t size) {
    if (IsValueKind(kind)) return size == ValueWidth(kind);
    if (kind == SC_BYTE_RANGE) return size == 2;
    if (kind == SC_WORD_RANGE) return size == 4;
    return size > 0 && size <= kSearchSpan;
}

bool ReadCondition(NotationReader& in, SignatureVariant& variant) {
    const std::uint32_t kind = KindOfLetter(in.TakeAny());
    if (kind == 0) return false;
    std::uint32_t offset = 0;
    if (!IsSearchKind(kind) && !(in.Take('[') && in.Number(offset) && in.Take(']'))) return false;
    std::vector<std::uint8_t> data;
    if (!in.Data(data) || !LengthFits(kind, data.size())) return false;
    variant.AddCondition(kind, data, offset, std::uint16_t(data.size()), 0);
    return true;
}

}  // namespace

std::span<const BuiltinGroup> BuiltinGroups() { return kGroups; }
std::span<const BuiltinType> BuiltinTypes() { return kTypes; }

bool AddSignatures(FileTypeDescriptor& type, std::string_view notation) {
    NotationReader in(notation);
    std::vector<SignatureVariant> variants;
    while (!in.AtEnd()) {
        SignatureVariant& v = variants.emplace_back();
        do {
            if (!ReadCondition(in, v)) return false;
        } while (in.Take('&'));
        if (!in.AtEnd() && !in.Take(';')) return false;
    }
    for (SignatureVariant& v : variants) type.Signatures.push_back(std::move(v));
    return true;
}

}  // namespace vm
