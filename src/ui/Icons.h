#pragma once
// The icons of the windows, by role, from the program's resources (Tango icons, public domain;
// see icons/COPYING.tango); never from the desktop's theme, so the program looks the same
// everywhere. Variants (deleted, matched, has deleted items) are drawn over the base icons.
#include <QIcon>

namespace vm::ui {

// Registers the program's bundled icons, help pages and media (once; before any window is made).
void LoadResources();

// The icon of a command of the menus and the tool bar; a null icon for a command without one.
QIcon CommandIcon(int commandId);
// An entry of the drive tree's image list (12 computer, 13 recycle bin, 14 physical, 15 logical,
// 16 found or virtual, 17 image, 19 removable, 20 logical drive whose boot sector a search hit).
QIcon DriveIcon(int image);
// An entry of the found items' image list (0 file ... 11 deleted matched file; see ItemIcon).
QIcon ItemIcon(int icon);
// The program's own icon.
QIcon AppIcon();

}  // namespace vm::ui
