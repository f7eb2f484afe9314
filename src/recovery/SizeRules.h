#pragma once
// The size of a lost file, whose end no file system records: the type's default size, the
// distance to the next find of any type or of the same type, or a size the user gives.
#include <cstdint>
#include <map>
#include <mutex>

#include "filesystem/FoundItem.h"

namespace vm {

class CFoundTree;
class FileTypeCatalogue;

enum SizeRule : std::uint32_t {
    SR_NONE = 0,
    SR_DEFAULT_SIZE = 1,     // the type's DefaultSizeKB
    SR_NEXT_ANY_TYPE = 2,    // distance to the next find of any type
    SR_NEXT_SAME_TYPE = 3,   // distance to the next find of the same type
    SR_CUSTOM = 4,           // a size given by the user
};

// What recovery needs of the file-type catalogue: a type's default size and the size rule
// remembered for all files of that type. Must be safe to call from the recovery thread.
class ITypeSizes {
public:
    virtual ~ITypeSizes() = default;
    virtual std::uint32_t DefaultSizeKB(std::int16_t typeId) const = 0;
    virtual std::uint32_t RememberedRule(std::int16_t typeId) const = 0;
    // Remembers a rule for all files of the type; for SR_CUSTOM also the size as the type's
    // default size.
    virtual void RememberRule(std::int16_t typeId, std::uint32_t rule, std::uint32_t customSizeKB) = 0;
};

// The types' sizes and remembered rules for recovery threads. Filled from the catalogue on the
// window thread, so that a recovery thread never reads descriptors the window may change; the
// program keeps one table for both jobs, and a rule remembered in one run holds for every later
// one until the program ends.
class CTypeSizeTable final : public ITypeSizes {
public:
    // Every type's default size and remembered rule (rules remembered here are kept).
    void LoadFrom(const FileTypeCatalogue& catalogue);
    void SetDefaultSizeKB(std::int16_t typeId, std::uint32_t kb);
    std::uint32_t DefaultSizeKB(std::int16_t typeId) const override;
    std::uint32_t RememberedRule(std::int16_t typeId) const override;
    void RememberRule(std::int16_t typeId, std::uint32_t rule, std::uint32_t customSizeKB) override;

private:
    struct Entry {
        std::uint32_t DefaultKB = 0;
        std::uint32_t Rule = SR_NONE;
    };
    mutable std::mutex Lock;
    std::map<std::int16_t, Entry> Types;
};

enum ProbableSizeAnswer : std::intptr_t {
    PSA_NO_ANSWER = 0,  // nobody asked the user: the file is skipped
    PSA_OK = 1,
    PSA_SKIP = 2,
    PSA_CANCEL = 3,
};

enum ProbableSizeScope : std::uint32_t {
    PSS_THIS_FILE = 0,
    PSS_ALL_OF_TYPE = 1,
    PSS_ALL_TYPES = 2,
};

// Sent with msg::AskProbableSize (wParam: this record) while the recovery thread waits; the
// receiver fills the answer fields and returns a ProbableSizeAnswer.
struct ProbableSizeQuestion {
    const FoundItem* Item = nullptr;
    std::uint64_t DefaultBytes = 0;     // rule 1
    std::uint64_t NextAnyBytes = 0;     // rule 2 (rule 1's size when nothing follows)
    std::uint64_t NextSameBytes = 0;    // rule 3 (likewise)
    std::uint32_t Rule = SR_DEFAULT_SIZE;
    std::uint64_t CustomBytes = 0;      // rule 4: the entered size in bytes
    std::uint32_t Scope = PSS_THIS_FILE;
};

// The size in bytes that `rule` gives the lost item; `customBytes` serves rule 4. Rules 2 and 3
// fall back to rule 1 when nothing lies behind the item. SIZE_UNKNOWN for an unknown rule.
std::uint64_t SizeByRule(std::uint32_t rule, const FoundItem& item, const CFoundTree& tree, const ITypeSizes& types,
                         std::uint64_t customBytes);

}  // namespace vm
