#include "app/Format.h"

#include <cstdio>

namespace vm {
namespace {

struct Spec {
    std::string flags;
    std::string width;
    std::string precision;  // with its leading '.'
    char conversion = 0;
};

// Reads one conversion after a '%'; returns false when the text ends inside it.
bool ParseSpec(std::string_view f, size_t& i, Spec& spec) {
    while (i < f.size() && std::string_view("-+ #0").find(f[i]) != std::string_view::npos)
        spec.flags += f[i++];
    while (i < f.size() && f[i] >= '0' && f[i] <= '9' && spec.width.size() < 4) spec.width += f[i++];
    if (i < f.size() && f[i] == '.') {
        spec.precision += f[i++];
        while (i < f.size() && f[i] >= '0' && f[i] <= '9' && spec.precision.size() < 5)
            spec.precision += f[i++];
    }
    // Length modifiers carry no meaning here: every integer argument is 64-bit already.
    if (f.substr(i, 3) == "I64") i += 3;
    while (i < f.size() && std::string_view("hlLqjzt").find(f[i]) != std::string_view::npos) ++i;
    if (i >= f.size()) return false;
    spec.conversion = f[i++];
    return true;
}

std::string Printf(const std::string& fmt, auto value) {
    char small[128];
    int n = std::snprintf(small, sizeof small, fmt.c_str(), value);
    if (n < 0) return {};
    if (size_t(n) < sizeof small) return std::string(small, size_t(n));
    std::string big(size_t(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), fmt.c_str(), value);
    big.resize(size_t(n));
    return big;
}

std::int64_t AsSigned(const FormatArg& a) {
    if (auto p = std::get_if<std::int64_t>(&a)) return *p;
    if (auto p = std::get_if<std::uint64_t>(&a)) return std::int64_t(*p);
    if (auto p = std::get_if<double>(&a)) return std::int64_t(*p);
    return 0;
}

std::string Convert(const Spec& spec, const FormatArg* arg) {
    const std::string head = "%" + spec.flags + spec.width + spec.precision;
    switch (spec.conversion) {
        case 'd':
        case 'i':
            if (!arg || std::holds_alternative<std::string>(*arg)) return {};
            return Printf(head + "lld", (long long)AsSigned(*arg));
        case 'u':
        case 'x':
        case 'X':
        case 'o':
            if (!arg || std::holds_alternative<std::string>(*arg)) return {};
            return Printf(head + "ll" + spec.conversion, (unsigned long long)AsSigned(*arg));
        case 'c':
        case 'C': {
            if (!arg) return {};
            if (auto s = std::get_if<std::string>(arg)) return *s;  // a drive name in place of a letter
            char c = char(AsSigned(*arg));
            return Printf(head + "c", c);
        }
        case 's':
        case 'S':
            if (!arg) return {};
            if (auto s = std::get_if<std::string>(arg)) return Printf(head + "s", s->c_str());
            return Printf("%lld", (long long)AsSigned(*arg));
        case 'f':
        case 'g':
        case 'e':
            if (!arg || std::holds_alternative<std::string>(*arg)) return {};
            if (auto d = std::get_if<double>(arg)) return Printf(head + spec.conversion, *d);
            return Printf(head + spec.conversion, double(AsSigned(*arg)));
        default:
            return {};
    }
}

}  // namespace

std::string FormatV(std::string_view f, const std::vector<FormatArg>& args) {
    std::string out;
    out.reserve(f.size() + 16);
    size_t next = 0;
    for (size_t i = 0; i < f.size();) {
        char c = f[i++];
        if (c != '%') {
            out += c;
            continue;
        }
        if (i < f.size() && f[i] == '%') {
            out += '%';
            ++i;
            continue;
        }
        Spec spec;
        if (!ParseSpec(f, i, spec)) break;
        const FormatArg* arg = next < args.size() ? &args[next] : nullptr;
        ++next;
        out += Convert(spec, arg);
    }
    return out;
}

}  // namespace vm
