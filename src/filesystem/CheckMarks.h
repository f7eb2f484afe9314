#pragma once
// The check marks of the folder tree: a user marks folders to keep track of them (recovery takes
// the selection, not the marks). A folder is checked (FI_CHECKED), partly checked (some folder
// below it is checked: CheckedCount > 0) or unchecked; CheckedCount is the number of checked
// folders below a folder, kept up the parent chain as marks change.
//
// Runs under the tree's lock, so the analysis may go on filing items meanwhile.
#include "filesystem/FoundTree.h"

namespace vm {

enum CheckState : int { CS_UNCHECKED = 1, CS_CHECKED = 2, CS_PARTLY = 3 };

// Checking a folder checks it and its direct child folders; unchecking it clears both and also
// the mark of its parent, which then only counts what is still checked below it. False when the
// handle is stale.
bool ToggleFolderCheck(CFoundTree& tree, const ItemHandle& folder);
CheckState CheckStateOf(const FoundItem& item);

}  // namespace vm
