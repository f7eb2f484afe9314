#include "ui/Icons.h"

#include <QHash>
#include <QPainter>
#include <QPixmap>

#include "filesystem/ItemPresentation.h"
#include "ui/UiIds.h"

// The resources are linked in from a static library: they must be registered by hand.
static void RegisterUiResources() { Q_INIT_RESOURCE(ui); }

namespace vm::ui {

void LoadResources() {
    static const bool once = (RegisterUiResources(), true);
    (void)once;
}

namespace {

QIcon TwoSizes(const QString& name) {
    QIcon icon;
    icon.addFile(":/icons/cmd-" + name + "-16.png", QSize(16, 16));
    icon.addFile(":/icons/cmd-" + name + "-24.png", QSize(24, 24));
    return icon;
}

QPixmap Base(const QString& name) { return QPixmap(":/icons/" + name + "-16.png"); }

// A faded base with a red cross: something deleted.
QPixmap Deleted(QPixmap pixmap) {
    QPixmap out(pixmap.size());
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setOpacity(0.55);
    p.drawPixmap(0, 0, pixmap);
    p.setOpacity(1.0);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(200, 0, 0), 2));
    p.drawLine(9, 9, 15, 15);
    p.drawLine(15, 9, 9, 15);
    return out;
}

// The base with an emblem in its lower right quarter.
QPixmap WithEmblem(QPixmap pixmap, const QString& emblem) {
    QPainter p(&pixmap);
    p.drawPixmap(8, 8, 8, 8, Base(emblem));
    return pixmap;
}

QPixmap ItemPixmap(int icon) {
    const bool open = icon == ICON_ROOT_FOLDER || icon == 5 || icon == 7 || icon == 9;
    const QPixmap folder = Base(open ? "folder-open" : "folder");
    switch (icon) {
        case ICON_FILE: return Base("text-x-generic");
        case ICON_FILE_DELETED: return Deleted(Base("text-x-generic"));
        case ICON_FOLDER:
        case ICON_ROOT_FOLDER: return folder;
        case ICON_FOLDER_HAS_DELETED:
        case 5: return WithEmblem(folder, "emblem-unreadable");
        case ICON_FOLDER_DELETED:
        case 7: return Deleted(folder);
        case ICON_FOLDER_LOST:
        case 9: return Base("folder-saved-search");
        case ICON_FILE_MATCHED: return WithEmblem(Base("text-x-generic"), "emblem-important");
        case ICON_FILE_DELETED_MATCHED: return WithEmblem(Deleted(Base("text-x-generic")), "emblem-important");
        default: return Base("text-x-generic");
    }
}

}  // namespace

QIcon CommandIcon(int commandId) {
    switch (commandId) {
        case cmd::StartAnalyzing: return TwoSizes("media-playback-start");
        case cmd::StopAnalyzing: return TwoSizes("process-stop");
        case cmd::RescanDrives: return TwoSizes("view-refresh");
        case cmd::Recover: return TwoSizes("document-save");
        case cmd::Search: return TwoSizes("system-search");
        case cmd::Settings: return TwoSizes("preferences-system");
        case cmd::WebSite: return TwoSizes("internet-web-browser");
        case cmd::HelpContents: return TwoSizes("help-browser");
        case cmd::About: return TwoSizes("dialog-information");
        default: return {};
    }
}

QIcon DriveIcon(int image) {
    static QHash<int, QIcon> cache;
    if (auto it = cache.find(image); it != cache.end()) return *it;
    QPixmap pixmap;
    switch (image) {
        case 12: pixmap = Base("computer"); break;
        case 13: pixmap = Base("user-trash"); break;
        case 14: pixmap = Base("drive-harddisk"); break;
        case 15: pixmap = Base("gnome-dev-harddisk"); break;
        case 16: pixmap = Base("media-flash"); break;
        case 17: pixmap = Base("media-optical"); break;
        case 19: pixmap = Base("drive-removable-media"); break;
        case 20: pixmap = WithEmblem(Base("gnome-dev-harddisk"), "emblem-important"); break;
        default: pixmap = Base("drive-harddisk"); break;
    }
    return *cache.insert(image, QIcon(pixmap));
}

QIcon ItemIcon(int icon) {
    static QHash<int, QIcon> cache;
    if (auto it = cache.find(icon); it != cache.end()) return *it;
    return *cache.insert(icon, QIcon(ItemPixmap(icon)));
}

QIcon AppIcon() {
    QIcon icon(":/icons/app-32.png");
    icon.addFile(":/icons/app.svg");
    return icon;
}

}  // namespace vm::ui
