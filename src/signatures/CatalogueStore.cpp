// Loading and saving the catalogue through the registry store.
#include <string>

#include "app/Log.h"
#include "app/RegistryStore.h"
#include "signatures/FileTypeCatalogue.h"

namespace vm {
namespace {

constexpr std::uint32_t kMaxValues = 32767;

std::string GroupsKey() { return std::string(kProgramKey) + "\\Groups"; }
std::string TypesKey() { return std::string(kProgramKey) + "\\File Types"; }

// Every value of the key that holds a well-formed record, in enumeration order; damaged or
// oversized values are logged and passed over.
template <typename F>
void ForEachStoredRecord(CRegistryStore& store, const std::string& key, F&& take) {
    const auto values = store.Values(key);
    for (std::size_t i = 0; i < values.size() && i < kMaxValues; ++i) {
        const auto& [name, value] = values[i];
        auto descriptor = std::make_unique<FileTypeDescriptor>();
        if (value.Data.size() > kMaxStoredRecord || !descriptor->Deserialize(value.Data)) {
            Log().Error("FileTypeCatalogue::Load: damaged record '%s' (%d bytes) skipped", name,
                        std::int64_t(value.Data.size()));
            continue;
        }
        take(std::move(descriptor));
    }
}

void WriteAll(CRegistryStore& store, const std::string& key,
              const std::vector<std::unique_ptr<FileTypeDescriptor>>& list) {
    if (!store.CreateKey(key)) return;
    for (const auto& descriptor : list) {
        const std::vector<std::uint8_t> record = descriptor->Record();
        if (record.size() > kMaxStoredRecord) {
            Log().Error("FileTypeCatalogue::Save: type %d is too large to store (%d bytes)",
                        descriptor->TypeId, std::int64_t(record.size()));
            continue;
        }
        store.SetValue(key, descriptor->RegistryValueName(), REG_BINARY, record);
    }
}

}  // namespace

int FileTypeCatalogue::Load() { return Load(CRegistryStore::Default()); }
int FileTypeCatalogue::Save() const { return Save(CRegistryStore::Default()); }

int FileTypeCatalogue::Load(CRegistryStore& store) {
    // Both keys are looked at before anything is stored: saving the built-in groups creates the
    // types' key too, which must not then pass for a stored, empty list of types.
    const bool haveGroups = store.KeyExists(GroupsKey());
    const bool haveTypes = store.KeyExists(TypesKey());
    if (haveGroups)
        LoadGroups(store, GroupsKey());
    else
        BuildDefaultGroups();
    if (haveTypes)
        LoadTypes(store, TypesKey());
    else
        BuildDefaultTypes();
    if (!haveGroups || !haveTypes) Save(store);
    BuildExtensionMap();
    return 1;
}

void FileTypeCatalogue::LoadGroups(CRegistryStore& store, const std::string& key) {
    ForEachStoredRecord(store, key, [&](std::unique_ptr<FileTypeDescriptor> group) {
        AddStoredGroup(std::move(group));
    });
    PublishLookups();
}

void FileTypeCatalogue::AddStoredGroup(std::unique_ptr<FileTypeDescriptor> group) {
    for (auto& kept : GroupList) {
        if (kept->GroupId == group->GroupId) {
            kept = std::move(group);  // one group per identifier: the later value wins
            return;
        }
    }
    GroupList.push_back(std::move(group));
}

void FileTypeCatalogue::LoadTypes(CRegistryStore& store, const std::string& key) {
    ForEachStoredRecord(store, key, [&](std::unique_ptr<FileTypeDescriptor> type) {
        if (FileTypeDescriptor* known = FindDescriptor(type->TypeId))
            known->AssignFixedBlock(*type);
        else
            Register(std::move(type));
    });
    PublishLookups();
}

int FileTypeCatalogue::Save(CRegistryStore& store) const {
    WriteAll(store, GroupsKey(), GroupList);
    WriteAll(store, TypesKey(), TypeList);
    return 1;
}

}  // namespace vm
