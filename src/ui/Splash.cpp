#include "ui/Splash.h"

#include <QPainter>

#include "ui/Icons.h"

namespace vm::ui {
namespace {

QPixmap SplashPixmap() {
    QPixmap pixmap(420, 220);
    pixmap.fill(QColor(246, 248, 252));
    QPainter p(&pixmap);
    p.setPen(QColor(40, 60, 120));
    p.drawRect(0, 0, pixmap.width() - 1, pixmap.height() - 1);
    p.drawPixmap(24, 28, AppIcon().pixmap(64, 64));
    QFont title = p.font();
    title.setPointSize(22);
    title.setBold(true);
    p.setFont(title);
    p.drawText(QRect(104, 30, 300, 40), Qt::AlignLeft | Qt::AlignVCenter, "Vellumark");
    QFont body = p.font();
    body.setPointSize(10);
    body.setBold(false);
    p.setFont(body);
    p.setPen(QColor(60, 60, 60));
    p.drawText(QRect(104, 70, 300, 24), Qt::AlignLeft, QStringLiteral("Version %1").arg(VM_VERSION));
    p.drawText(QRect(24, 120, 372, 80), Qt::AlignLeft | Qt::TextWordWrap,
               "Recovers deleted and lost files from FAT and NTFS drives, memory cards and drive images. "
               "Drives are only ever read, never written.");
    return pixmap;
}

}  // namespace

CSplash::CSplash() : QSplashScreen(SplashPixmap()) {}

}  // namespace vm::ui
