#include "ui/HelpWindow.h"

#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QSplitter>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "ui/Icons.h"

namespace vm::ui {
namespace {

QString PageName(HelpPage page) {
    switch (page) {
        case HelpPage::RecoveryGuide: return "recovery-guide";
        case HelpPage::TryOpen: return "try-open";
        case HelpPage::MainWindow: return "main-window";
        case HelpPage::Contents: break;
    }
    return "contents";
}

QString PageText(const QString& name) {
    QFile file(":/help/" + name + ".html");
    if (!file.open(QIODevice::ReadOnly)) return {};
    QString html = QString::fromUtf8(file.readAll());
    return html.remove(QRegularExpression("<[^>]*>"));
}

QString PageTitle(const QString& name) {
    QFile file(":/help/" + name + ".html");
    if (!file.open(QIODevice::ReadOnly)) return name;
    const QString html = QString::fromUtf8(file.readAll());
    const auto match = QRegularExpression("<title>([^<]*)</title>").match(html);
    return match.hasMatch() ? match.captured(1) : name;
}

}  // namespace

QStringList CHelpWindow::PageNames() {
    QStringList names{"contents"};
    for (const QString& file : QDir(":/help").entryList({"*.html"}, QDir::Files, QDir::Name))
        if (file != "contents.html") names << file.chopped(5);
    return names;
}

CHelpWindow::CHelpWindow() {
    setWindowTitle("Vellumark Help");
    setWindowIcon(AppIcon());
    setAttribute(Qt::WA_DeleteOnClose);
    Browser = new QTextBrowser;
    Browser->setSearchPaths({":/help"});
    Browser->setOpenExternalLinks(true);
    Query = new QLineEdit;
    Query->setPlaceholderText("Search the help");
    Results = new QListWidget;
    auto* side = new QWidget;
    auto* sideLayout = new QVBoxLayout(side);
    sideLayout->setContentsMargins(0, 0, 0, 0);
    sideLayout->addWidget(new QLabel("Search:"));
    sideLayout->addWidget(Query);
    sideLayout->addWidget(Results);
    auto* split = new QSplitter;
    split->addWidget(side);
    split->addWidget(Browser);
    split->setStretchFactor(1, 3);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(split);
    resize(820, 560);
    connect(Query, &QLineEdit::returnPressed, this, [this] { Search(Query->text()); });
    connect(Results, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { Go(item->data(Qt::UserRole).toString()); });
    connect(Results, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { Go(item->data(Qt::UserRole).toString()); });
}

CHelpWindow* CHelpWindow::Instance() {
    static QPointer<CHelpWindow> window;
    if (!window) window = new CHelpWindow;
    return window;
}

void CHelpWindow::Go(const QString& name) {
    const QString page = QFile::exists(":/help/" + name + ".html") ? name : "contents";
    Browser->setSource(QUrl("qrc:/help/" + page + ".html"));
}

QString CHelpWindow::CurrentPage() const {
    return Browser->source().fileName().chopped(QString(".html").size());
}

CHelpWindow* CHelpWindow::ShowPage(HelpPage page) { return ShowPage(PageName(page)); }

CHelpWindow* CHelpWindow::ShowPage(const QString& name) {
    CHelpWindow* window = Instance();
    window->Go(name);
    window->show();
    window->raise();
    return window;
}

CHelpWindow* CHelpWindow::ShowSearch() {
    CHelpWindow* window = ShowPage(HelpPage::Contents);
    window->Query->setFocus();
    return window;
}

QStringList CHelpWindow::Search(const QString& query) {
    const QStringList words = query.split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
    Results->clear();
    QStringList found;
    if (words.isEmpty()) return found;
    for (const QString& name : PageNames()) {
        const QString text = PageText(name);
        if (std::all_of(words.begin(), words.end(), [&](const QString& w) { return text.contains(w, Qt::CaseInsensitive); })) {
            found << name;
            auto* item = new QListWidgetItem(PageTitle(name), Results);
            item->setData(Qt::UserRole, name);
        }
    }
    if (found.isEmpty()) Results->addItem("No page holds all of these words.");
    return found;
}

}  // namespace vm::ui
