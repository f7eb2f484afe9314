#pragma once
// Signature files (".filesig"): exactly the stored record of one file type, nothing around it.
// They are written by the signature wizard, installed by opening them (the desktop starts the
// program with "/addsig FILE"), and can be mailed to the signature mailbox as Base64 text.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "signatures/FileTypeDescriptor.h"

namespace vm {

class CRegistryStore;
class FileTypeCatalogue;

// The file extension and the type name under which the desktop knows signature files.
inline constexpr const char* kSignatureFileMimeType = "application/x-vellumark-filesig";
// The encoded text of a mailed signature may hold at most this many characters.
inline constexpr std::size_t kMaxMailText = 16384;

// Writes the descriptor's record to the file, replacing an existing one only once the whole
// record is written. → 1, or 0 when the record is too large for a signature file or the file
// cannot be written.
int WriteToFile(const FileTypeDescriptor& descriptor, const std::string& path);

// The "/addsig" action: reads the signature file (double quotes around the path are removed)
// and adds its type to the catalogue, or replaces the type with the same identifier, and stores
// it. A catalogue that holds nothing yet is loaded from the store first, so that the stored
// catalogue is extended, never replaced by the one type. Every outcome is shown as a message box
// (msg::ShowMessageBox). A file that cannot be read, is empty, too large or damaged, or that
// names a reserved type identifier changes nothing. A catalogue that holds types the store
// does not have yet is stored in full first. → the added or updated type, or null.
FileTypeDescriptor* ImportSignatureFile(FileTypeCatalogue& catalogue, CRegistryStore& store,
                                        const std::string& path);

// Identifiers that a signature file may not take: the drive's own records and the compound
// documents' types.
bool IsReservedTypeId(std::int32_t typeId);

// Base64 with the standard alphabet and "=" padding, lines of 76 characters ended by CR LF
// (none after the last line).
std::string Base64Lines(std::span<const std::uint8_t> bytes);

// "mailto:MAILBOX?subject=newsign&body=TEXT" with the record's Base64 text, percent-encoded as a
// URL needs it; nothing when the Base64 text would exceed kMaxMailText characters.
std::optional<std::string> SignatureMailUrl(const FileTypeDescriptor& descriptor);
const char* SignatureMailbox();

// Opens the mail URL with the desktop's mail program. `open` replaces the desktop's opener
// (tests); it returns whether the URL could be handed on. → 1, or 0 when the text is too long
// or the URL could not be opened.
using UrlOpener = std::function<bool(const std::string& url)>;
int SendSignature(const FileTypeDescriptor& descriptor, const UrlOpener& open = {});

// Ties ".filesig" files to "PROGRAM /addsig FILE" for the desktop: a shared-mime-info type and
// a desktop entry under $XDG_DATA_HOME (~/.local/share), then refreshes the desktop's caches
// with update-mime-database and update-desktop-database where they are installed. → true when
// both files were written.
bool RegisterFileClass(const std::string& programPath);
bool RegisterFileClass();  // for the desktop program beside this executable

// The Exec line's program argument as the desktop-entry format quotes it.
std::string DesktopExecQuote(const std::string& argument);

}  // namespace vm
