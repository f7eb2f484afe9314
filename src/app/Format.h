#pragma once
// Formatting of the system's printf-style texts ("%I64d", "%s", "%C", "%d", "%x", ...).
// Texts come from the string table and from language files, so the format is data: every
// conversion is checked against the argument it meets, and a missing or mismatched argument
// formats as nothing instead of reading past the argument list.
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace vm {

using FormatArg = std::variant<std::int64_t, std::uint64_t, double, std::string>;

std::string FormatV(std::string_view format, const std::vector<FormatArg>& args);

template <typename T>
FormatArg MakeFormatArg(const T& value) {
    if constexpr (std::is_same_v<T, bool>) {
        return FormatArg(std::int64_t(value ? 1 : 0));
    } else if constexpr (std::is_integral_v<T> || std::is_enum_v<T>) {
        if constexpr (std::is_signed_v<T> || std::is_enum_v<T>)
            return FormatArg(std::int64_t(value));
        else
            return FormatArg(std::uint64_t(value));
    } else if constexpr (std::is_floating_point_v<T>) {
        return FormatArg(double(value));
    } else {
        return FormatArg(std::string(value));
    }
}

template <typename... Args>
std::string Format(std::string_view format, const Args&... args) {
    return FormatV(format, std::vector<FormatArg>{MakeFormatArg(args)...});
}

}  // namespace vm
