#pragma once
// The "Filters" dialog: which found items the lists show (wildcard mask, deleted files only, a
// creation-date range, the file-type mode). The date pickers show local time; the filter keeps
// UTC FILETIMEs. OK refuses an "and:" date before the "Between:" date, then stores the filter.
// Window thread only.
#include <QDialog>

class QTabWidget;

namespace vm {
class CFilter;
class CRegistryStore;
}

namespace vm::ui {

class CFiltersDialog final : public QDialog {
    Q_OBJECT
public:
    CFiltersDialog(CFilter& filter, QWidget* owner);
    // Checks the pages and writes them into the filter: false (and a message) when refused.
    bool Apply();
    QTabWidget* Pages() const { return Tabs; }

private:
    QWidget* GeneralPage();
    QWidget* TypesPage();
    void Load();
    void UpdateEnabling();
    void done(int result) override;

    CFilter& Filter;
    QTabWidget* Tabs = nullptr;
};

// Shows the dialog; true when OK changed the filter (it is then stored, and the main window lists
// its folder again).
bool ShowFilters(QWidget* owner, CFilter& filter);

}  // namespace vm::ui
