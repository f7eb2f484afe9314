// Stand-in for the found tree's filing until the full tree is merged: files a copy of each
// record with its name so that the analyser's tests link and can read the tree back.
#include <deque>
#include <string>

#include "filesystem/FoundTree.h"

namespace vm {
namespace {
std::mutex NamesLock;
std::deque<std::string> Names;
}  // namespace

FoundItem* CFoundTree::AddFound(const FoundItem& rec, bool) {
    auto* item = new FoundItem(rec);
    if (rec.Name) {
        std::lock_guard<std::mutex> g(NamesLock);
        Names.emplace_back(rec.Name);
        item->Name = Names.back().c_str();
    }
    Insert(item, true);
    return item;
}

FoundItem* CFoundTree::GetLostFoldersItem() {
    if (FoundItem* f = FindById(ID_LOST_FOLDERS)) return f;
    auto* item = new FoundItem;
    item->Flags = FI_FOLDER | FI_HAS_DELETED | FI_NAMED;
    item->Id = std::uint32_t(ID_LOST_FOLDERS);
    item->Name = "Lost folders";
    Insert(item, true);
    return item;
}

}  // namespace vm
