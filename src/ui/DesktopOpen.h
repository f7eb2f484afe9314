#pragma once
// Opening files, folders and web pages with the desktop's own programs. When the program runs as
// root for device access, a desktop program is started as the user who started this one
// (SUDO_USER, PKEXEC_UID), never as root; without such a user nothing is opened.
#include <QString>
#include <QUrl>

namespace vm::ui {

// The user a desktop program is started as when this process runs as root; empty when there is
// none to be had (or the process does not run as root).
QString DesktopUser();
// → true when the URL was handed to the desktop.
bool OpenWithDesktop(const QUrl& url);

}  // namespace vm::ui
