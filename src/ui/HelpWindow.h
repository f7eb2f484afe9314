#pragma once
// The help window: the program's bundled HTML pages in a browser pane, with a search over them.
// One window for the whole program; each help command or Help button opens it at its page.
#include <QPointer>
#include <QWidget>

class QLineEdit;
class QListWidget;
class QTextBrowser;

namespace vm::ui {

enum class HelpPage { Contents, RecoveryGuide, TryOpen, MainWindow };

class CHelpWindow final : public QWidget {
    Q_OBJECT
public:
    // Shows the help window at the page ("contents", "recovery-guide", ... without ".html").
    static CHelpWindow* ShowPage(HelpPage page);
    static CHelpWindow* ShowPage(const QString& name);
    // Shows the help window with the search field focused.
    static CHelpWindow* ShowSearch();
    // The bundled pages by name: the contents first, then the others in name order.
    static QStringList PageNames();

    QString CurrentPage() const;
    // Lists the pages whose text holds every word of `query` (letters without case).
    QStringList Search(const QString& query);

private:
    CHelpWindow();
    void Go(const QString& name);
    static CHelpWindow* Instance();

    QTextBrowser* Browser;
    QLineEdit* Query;
    QListWidget* Results;
};

}  // namespace vm::ui
