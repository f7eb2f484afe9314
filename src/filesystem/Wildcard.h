#pragma once
// Name patterns: '*' stands for any run of characters (the empty run included), '?' for any one
// character; the whole name must be matched. Characters are Unicode code points of the UTF-8
// text; bytes that are not valid UTF-8 each count as one character.
#include <string_view>

namespace vm {

enum class WildcardCase {
    Exact,    // characters compare as they are
    Caseless  // letters compare without case (ASCII, Latin-1, Greek and basic Cyrillic)
};

bool WildcardMatch(std::string_view pattern, std::string_view name, WildcardCase mode);

}  // namespace vm
