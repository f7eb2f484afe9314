#include "signatures/FileTypeCatalogue.h"

#include <algorithm>
#include <mutex>

#include "app/Log.h"
#include "signatures/BuiltinTypes.h"

namespace vm {
namespace {

std::string UpperAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return text;
}

// The pieces of an extension list, trimmed of separators, blanks, stars and dots.
std::vector<std::string> SplitExtensions(const std::string& list) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find_first_of(",;", start);
        if (end == std::string::npos) end = list.size();
        std::string piece = list.substr(start, end - start);
        const std::size_t first = piece.find_first_not_of(",; *.");
        if (first != std::string::npos) {
            const std::size_t last = piece.find_last_not_of(",; *.");
            pieces.push_back(piece.substr(first, last - first + 1));
        }
        start = end + 1;
    }
    return pieces;
}

bool FitsItemType(std::int32_t typeId) { return typeId >= INT16_MIN && typeId <= INT16_MAX; }

bool SameInfo(const TypeInfo& a, const TypeInfo& b) {
    return a.TypeId == b.TypeId && a.GroupId == b.GroupId && a.Checked == b.Checked &&
           a.NamePrefix == b.NamePrefix && a.FirstExtension == b.FirstExtension &&
           a.FilterChecked == b.FilterChecked;
}

}  // namespace

FileTypeCatalogue::FileTypeCatalogue() = default;
FileTypeCatalogue::~FileTypeCatalogue() = default;

void FileTypeCatalogue::BuildDefaultGroups() {
    for (const BuiltinGroup& g : BuiltinGroups()) AddGroup(g.GroupId, g.Title);
}

void FileTypeCatalogue::BuildDefaultTypes() {
    for (const BuiltinType& row : BuiltinTypes()) {
        FileTypeDescriptor& type = AddType(row.GroupId, row.TypeId, row.Title, row.Description,
                                           row.NamePrefix, row.Extensions);
        if (!AddSignatures(type, row.Signatures))
            Log().Error("FileTypeCatalogue::BuildDefaultTypes: bad signature of type %d", row.TypeId);
    }
    PublishLookups();
}

FileTypeDescriptor& FileTypeCatalogue::AddGroup(std::int32_t groupId, const std::string& title) {
    auto group = std::make_unique<FileTypeDescriptor>();
    group->GroupId = groupId;
    group->IsGroup = 1;
    group->Title = title;
    GroupList.push_back(std::move(group));
    PublishLookups();
    return *GroupList.back();
}

FileTypeDescriptor& FileTypeCatalogue::AddType(std::int32_t groupId, std::int32_t typeId,
                                               const char* title, const std::string& description,
                                               const std::string& namePrefix,
                                               const std::string& extensions) {
    auto type = std::make_unique<FileTypeDescriptor>();
    type->GroupId = groupId;
    type->TypeId = typeId;
    if (title) type->Title = title;
    type->Description = description;
    type->NamePrefix = namePrefix;
    type->Extensions = extensions;
    return Register(std::move(type));
}

FileTypeDescriptor& FileTypeCatalogue::Register(std::unique_ptr<FileTypeDescriptor> type) {
    TypeList.push_back(std::move(type));
    PublishLookups();
    return *TypeList.back();
}

void FileTypeCatalogue::BuildExtensionMap() {
    Extensions.clear();
    for (const auto& type : TypeList)
        for (const std::string& piece : SplitExtensions(type->Extensions))
            Extensions.emplace(UpperAscii(piece), type.get());  // the first type keeps it
    PublishLookups();
}

FileTypeDescriptor* FileTypeCatalogue::FindDescriptor(std::int32_t typeId) const {
    for (const auto& type : TypeList)
        if (type->TypeId == typeId) return type.get();
    return nullptr;
}

FileTypeDescriptor* FileTypeCatalogue::FindGroup(std::int32_t groupId) const {
    for (const auto& group : GroupList)
        if (group->GroupId == groupId) return group.get();
    return nullptr;
}

FileTypeDescriptor* FileTypeCatalogue::DescriptorOfExtension(const std::string& extension) const {
    auto it = Extensions.find(UpperAscii(extension));
    return it == Extensions.end() ? nullptr : it->second;
}

const TypeInfo* FileTypeCatalogue::Snapshot(const FileTypeDescriptor& type) {
    TypeInfo info;
    info.TypeId = std::int16_t(type.TypeId);
    info.GroupId = type.GroupId;
    info.Checked = type.Checked != 0;
    info.NamePrefix = type.NamePrefix;
    info.FirstExtension = type.GetFirstExtension();
    info.FilterChecked = type.FilterChecked != 0;
    const TypeInfo*& last = LastInfo[&type];
    if (!last || !SameInfo(*last, info)) last = &InfoStore.emplace_back(std::move(info));
    return last;
}

const char* FileTypeCatalogue::TitleSnapshot(const std::string& title) {
    for (const std::string& kept : TitleStore)
        if (kept == title) return kept.c_str();
    return TitleStore.emplace_back(title).c_str();
}

void FileTypeCatalogue::PublishLookups() {
    // Found items carry 16-bit type identifiers: a type whose identifier does not fit cannot be
    // named by one, so it stays out of these lookups rather than being found under a cut one.
    Lookups next;
    for (const auto& type : TypeList)
        if (FitsItemType(type->TypeId)) next.ById.emplace(type->TypeId, Snapshot(*type));
    for (const auto& [extension, type] : Extensions)
        if (FitsItemType(type->TypeId)) next.ByExtension.emplace(extension, Snapshot(*type));
    for (const auto& group : GroupList) next.GroupTitles[group->GroupId] = TitleSnapshot(group->Title);
    std::unique_lock lock(PublishLock);
    Published = std::move(next);
}

const TypeInfo* FileTypeCatalogue::FindType(std::int16_t typeId) const {
    std::shared_lock lock(PublishLock);
    auto it = Published.ById.find(typeId);
    return it == Published.ById.end() ? nullptr : it->second;
}

const char* FileTypeCatalogue::GroupTitle(std::int32_t groupId) const {
    std::shared_lock lock(PublishLock);
    auto it = Published.GroupTitles.find(groupId);
    return it == Published.GroupTitles.end() ? nullptr : it->second;
}

const TypeInfo* FileTypeCatalogue::TypeOfItem(FoundItem& item) const {
    if (item.FileType != 0)
        if (const TypeInfo* info = FindType(item.FileType)) return info;
    const std::string name = item.NameOrEmpty();
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return nullptr;
    const std::size_t start = name.find_first_not_of('.', dot);
    if (start == std::string::npos) return nullptr;

    std::shared_lock lock(PublishLock);
    auto it = Published.ByExtension.find(UpperAscii(name.substr(start)));
    if (it == Published.ByExtension.end()) return nullptr;
    item.FileType = it->second->TypeId;
    return it->second;
}

}  // namespace vm
