#include "app/StringTable.h"

#include <algorithm>
#include <iterator>

#include "app/Languages.h"

namespace vm {
namespace {

struct Entry {
    int id;
    const char* text;
};

// Sorted by id. Add new texts in their place.
constexpr Entry kStrings[] = {
    {132, "You are copying a large amount of data to the clipboard.\r\nAre you sure you want to do this?"},
    {133, "Error"},
    {134, "Found file: %s"},
    {135, "Analysis duration: %d minute(s), %d second(s)."},
    {136, "Analysis completed. Found %d folder(s) and %d file(s)."},
    {139, "Analyse volume sectors started"},
    {141, "Filters"},
    {153, "Error: Administrator access necessary"},
    {154, "Administrator access necessary. Please run the program using an administrator's account on your computer."},
    {157, "Confirmation"},
    {158, "Are you sure you want to exit the application?"},
    {160, "Settings"},
    {170, "Are you sure you want to stop scanning?"},
    {172, "Volume %s at position %I64d not read, retry %d"},
    {173, "Can't read boot sector on [%s]"},
    {174, "GetPartitionInfo error on volume [%s]"},
    {178, "Analyzing MFT table"},
    {179, "Found %s volume at: %I64d"},
    {180, "Volume %c: Medium connected!"},
    {181, "Drive %c: Medium removed!"},
    {182, "No files found"},
    {183, "Recovery list is empty!"},
    {184, "Recovery started."},
    {185, "Creating recovery list."},
    {186, "Can't create temporary file"},
    {190, "Legend"},
    {191, "Image_Create: Can't read sector: 0x%I64x"},
    {192, "Image_Create: Can't write sector: 0x%I64x"},
    {193, "Can't allocate memory!"},
    {194, "FAT Root directory not read!"},
    {196, "CRecovery::FileRecovery.CreateFile '%s' failed"},
    {197, "CRecovery::FileRecovery.ReadError: ReadedSize = %d, ReqSize = %d"},
    {198, "CRecovery::FileRecovery.WriteError: WritedSize = %d, ReqSize = %d"},
    {201, "FileRecovery: Recovering file: %s [from '%s' to '%s']"},
    {202, "FileRecovery: File '%s' recovery skipped"},
    {203, "FileRecovery: File '%s' recovery cancelled"},
    {205, "File '%s'  opened successfully"},
    {206, "Opening file: \"%s\" failed! No application associated with this file"},
    {207, "Opening file: \"%s\" failed! System error code: %d"},
    {210, "Can't create folder: %s"},
    {211, "FileRecovery: Write system error %d"},
    {212, "File: %s exists"},
    {213, "Recovery aborted."},
    {214, "Recovery completed."},
    {215, "CRecovery::FileRecovery of '%s' failed because file size == 0"},
    {369, "Data viewer"},
    {4352, "Lost folders"},
    {4865, "lost_file_%I64d"},
    {5120, "Lost files"},
    {5376, "lost_folder_%d"},
    {32774, "Start drive analysis\nStart analyzing"},
    {32775, "Stop drive analysis\nStop analyzing"},
    {32781, "Rescan drives\nRescan drives"},
    {32782, "Save drive image to file\nCreate drive image"},
    {32783, "Load drive image from file\nLoad drive image"},
    {32784, "Create virtual drive\nCreate virtual drive"},
    {32787, "Recover selected files\nRecover selected files"},
    {32789, "Visit the Vellumark web site\nVellumark on the web"},
    {32791, "Find files\nFind files"},
    {32794, "Show or hide button.\nToggle button appearance"},
    {32795, "Send E-mail to Support\nSend E-mail to Support"},
    {32797, "Information...\nInformation..."},
    {32798, "Program settings\nProgram settings"},
    {32799, "Confirmations\nConfirmations"},
    {32800, "Drive Access\nDrive Access"},
    {32801, "Interface Language\nInterface Language"},
    {32802, "General Settings\nGeneral Settings"},
    {32803, "Filters\nFilters"},
    {32809, "Try to open...\nTry to open..."},
    {32831, "Change file size"},
    {32845, "Set file size as 'unknown'"},
    {32862, "Find Lost Disks"},
    {57111, "Initializing drive %s"},
    {57112, "Aborting..."},
    {57113, "Operation aborted. Incomplete drive analysis!"},
    {57114, "Clear last drive analysis information..."},
    {57116, "unknown"},
    {57118, "Folder"},
    {57123, "Analysis of %s completed"},
    {57211, "Analyzing file system."},
    {57212, "Beginning file system analysis."},
    {57214, "No file system detected! File system analysis skipped."},
    {57311, "Analyzing drive sectors."},
    {57313, "Starting drive sector analysis, searching for lost files."},
    {57345, "Ready"},
    {57664, "About\nAbout"},
    {57670, "Help\nHelp"},
    {59392, "Show or hide the tool bar\nToggle tool bar"},
    {59393, "Show or hide the status bar\nToggle status bar"},
};

constexpr bool SortedById() {
    for (std::size_t i = 1; i < std::size(kStrings); ++i)
        if (kStrings[i - 1].id >= kStrings[i].id) return false;
    return true;
}
static_assert(SortedById(), "the string table must stay sorted by id, each id once");

}  // namespace

const char* BuiltinString(int id) {
    auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                               [](const Entry& e, int v) { return e.id < v; });
    if (it == std::end(kStrings) || it->id != id) return "";
    return it->text;
}

std::string GetString(int id) { return AppLanguages().GetString(id); }

}  // namespace vm
