#include "ui/DesktopOpen.h"

#include <QDesktopServices>
#include <QProcess>
#include <pwd.h>
#include <unistd.h>

namespace vm::ui {

QString DesktopUser() {
    if (::geteuid() != 0) return {};
    const QString sudo = qEnvironmentVariable("SUDO_USER");
    if (!sudo.isEmpty() && sudo != "root") return sudo;
    bool ok = false;
    const uint uid = qEnvironmentVariable("PKEXEC_UID").toUInt(&ok);
    if (ok && uid != 0)
        if (const passwd* pw = ::getpwuid(uid)) return QString::fromLocal8Bit(pw->pw_name);
    return {};
}

bool OpenWithDesktop(const QUrl& url) {
    if (::geteuid() != 0) return QDesktopServices::openUrl(url);
    const QString user = DesktopUser();
    if (user.isEmpty()) return false;
    return QProcess::startDetached("runuser", {"-u", user, "--", "xdg-open", url.toString()});
}

}  // namespace vm::ui
