#pragma once
// The set of file types and groups the program knows. Built from the built-in table on a first
// run, kept in the registry store afterwards ("Groups" and "File Types" below the program's
// key), extended by signature files and the signature wizard.
//
// The window thread changes the catalogue; the search workers and the found tree read it. Their
// lookups (TypeOfItem, FindType, GroupTitle) go through published, immutable snapshots, so they
// are safe from any thread; after editing descriptors in place, call PublishLookups().
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "filesystem/TypeLookup.h"
#include "signatures/FileTypeDescriptor.h"

namespace vm {

class CRegistryStore;

class FileTypeCatalogue : public ITypeLookup {
public:
    FileTypeCatalogue();
    ~FileTypeCatalogue() override;
    FileTypeCatalogue(const FileTypeCatalogue&) = delete;
    FileTypeCatalogue& operator=(const FileTypeCatalogue&) = delete;

    // Reads groups and types from the store, or builds and stores the built-in ones. → 1.
    int Load(CRegistryStore& store);
    int Load();  // the user's store
    // Writes every group and type as one value each; values are never deleted. → 1.
    int Save(CRegistryStore& store) const;
    int Save() const;

    void BuildDefaultGroups();
    void BuildDefaultTypes();
    FileTypeDescriptor& AddGroup(std::int32_t groupId, const std::string& title);
    FileTypeDescriptor& AddType(std::int32_t groupId, std::int32_t typeId, const char* title,
                                const std::string& description, const std::string& namePrefix,
                                const std::string& extensions);
    // Appends a type and publishes it to the lookups.
    FileTypeDescriptor& Register(std::unique_ptr<FileTypeDescriptor> type);
    void BuildExtensionMap();
    // Makes the lookups show the descriptors as they are now.
    void PublishLookups();

    // The descriptors themselves (window thread, or readers that tolerate its changes).
    const std::vector<std::unique_ptr<FileTypeDescriptor>>& Types() const { return TypeList; }
    const std::vector<std::unique_ptr<FileTypeDescriptor>>& Groups() const { return GroupList; }
    const std::map<std::string, FileTypeDescriptor*>& ExtensionMap() const { return Extensions; }
    FileTypeDescriptor* FindDescriptor(std::int32_t typeId) const;
    FileTypeDescriptor* FindGroup(std::int32_t groupId) const;
    // The descriptor owning an upper- or lower-case extension (without dot), or null.
    FileTypeDescriptor* DescriptorOfExtension(const std::string& extension) const;

    // ITypeLookup, safe from any thread.
    const TypeInfo* TypeOfItem(FoundItem& item) const override;
    const TypeInfo* FindType(std::int16_t typeId) const override;
    const char* GroupTitle(std::int32_t groupId) const override;

private:
    struct Lookups {
        std::unordered_map<std::int32_t, const TypeInfo*> ById;
        std::map<std::string, const TypeInfo*> ByExtension;
        std::unordered_map<std::int32_t, const char*> GroupTitles;
    };
    const TypeInfo* Snapshot(const FileTypeDescriptor& type);
    const char* TitleSnapshot(const std::string& title);
    void LoadGroups(CRegistryStore& store, const std::string& key);
    void LoadTypes(CRegistryStore& store, const std::string& key);
    void AddStoredGroup(std::unique_ptr<FileTypeDescriptor> group);

    std::vector<std::unique_ptr<FileTypeDescriptor>> TypeList;
    std::vector<std::unique_ptr<FileTypeDescriptor>> GroupList;  // insertion order
    std::map<std::string, FileTypeDescriptor*> Extensions;       // upper-case extension → type

    // Published for readers on other threads. Snapshots are never changed once published and
    // live as long as the catalogue, so a pointer handed out stays valid.
    mutable std::shared_mutex PublishLock;
    Lookups Published;
    std::deque<TypeInfo> InfoStore;
    std::deque<std::string> TitleStore;
    std::unordered_map<const FileTypeDescriptor*, const TypeInfo*> LastInfo;
};

}  // namespace vm
