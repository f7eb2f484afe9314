#pragma once
// The groups and types the catalogue starts with on a first run, and the compact signature
// notation their table is written in.
//
// Notation: variants are separated by ";", the conditions of one variant by "&". A condition is
// a kind letter, an offset in brackets and its data: b = SC_BYTES; 1, 2, 4, 8 = SC_BYTE,
// SC_WORD, SC_DWORD, SC_QWORD (the value written as its bytes in file order); r, w =
// SC_BYTE_RANGE, SC_WORD_RANGE (low then high, little-endian); s = SC_SEARCH_NOCASE at offset 0,
// written without brackets. Data is quoted ASCII runs and two-digit hexadecimal bytes.
// Example: 4[0] "RIFF" & b[8] "WAVEfmt" ; b[0] 1A "HP".
#include <cstdint>
#include <span>
#include <string_view>

namespace vm {

class FileTypeDescriptor;

struct BuiltinGroup {
    std::int32_t GroupId;
    const char* Title;
};

struct BuiltinType {
    std::int32_t TypeId;
    std::int32_t GroupId;
    const char* Description;
    const char* NamePrefix;
    const char* Extensions;
    const char* Signatures;  // in the notation above; empty for a type without signature
    const char* Title;       // null for most types
};

inline constexpr std::int32_t kSystemGroupId = -16;

std::span<const BuiltinGroup> BuiltinGroups();
std::span<const BuiltinType> BuiltinTypes();

// Appends the variants written in `notation` to the descriptor. False (and the descriptor
// unchanged) when the text is not well formed.
bool AddSignatures(FileTypeDescriptor& type, std::string_view notation);

}  // namespace vm
