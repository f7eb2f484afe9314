#pragma once
// The built-in English texts by string id. The language manager translates through this table;
// every numbered text the system shows or logs is listed once, in StringTable.cpp.
#include <string>

namespace vm {

// The English text with that id, or an empty string for an unknown id.
const char* BuiltinString(int id);

// The text shown for an id: the current interface language's translation, else the
// built-in English text.
std::string GetString(int id);

}  // namespace vm
