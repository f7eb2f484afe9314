#include "ui/FiltersDialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "app/RegistryStore.h"
#include "filesystem/Filter.h"
#include "platform/FileTime.h"
#include "ui/DialogHelp.h"
#include "ui/Prompter.h"
#include "ui/Texts.h"
#include "ui/UiIds.h"

namespace vm::ui {
namespace {

constexpr int kFiltersTitle = 141;
constexpr std::uint64_t kTicksPerMs = 10000;

template <typename W>
W* Named(W* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}
template <typename W>
W* Find(QObject* root, const char* name) { return root->findChild<W*>(name); }

// A picker's local time as a UTC FILETIME, and back.
std::uint64_t ToFileTime(const QDateTime& local) {
    return UnixToFileTime(local.toMSecsSinceEpoch() * 1000000);
}
QDateTime FromFileTime(std::uint64_t ft) {
    if (ft < kFileTimeUnixEpoch || ft == CFilter::kNoUpperBound) return QDateTime::currentDateTime();
    return QDateTime::fromMSecsSinceEpoch(qint64((ft - kFileTimeUnixEpoch) / kTicksPerMs)).toLocalTime();
}

QDateTimeEdit* Picker(const char* name) {
    auto* p = Named(new QDateTimeEdit, name);
    p->setCalendarPopup(true);
    p->setDisplayFormat("yyyy-MM-dd HH:mm");
    p->setMinimumWidth(170);
    return p;
}

}  // namespace

CFiltersDialog::CFiltersDialog(CFilter& filter, QWidget* owner) : QDialog(owner), Filter(filter) {
    setWindowTitle(Text(kFiltersTitle));
    Tabs = new QTabWidget;
    Tabs->addTab(GeneralPage(), "General");
    Tabs->addTab(TypesPage(), "File Types");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Tabs);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this, [] { OpenHelpPage("filters"); });
    Load();
}

QWidget* CFiltersDialog::GeneralPage() {
    auto* w = new QWidget;
    auto* l = new QGridLayout(w);
    auto* maskOn = Named(new QCheckBox("Show folders and files filtered by wildcards:"), "MaskOn");
    auto* mask = Named(new QLineEdit, "Mask");
    mask->setMaxLength(int(CFilter::kMaskUnits) - 1);
    l->addWidget(maskOn, 0, 0, 1, 3);
    l->addWidget(mask, 1, 0, 1, 3);
    l->addWidget(Named(new QCheckBox("Show deleted files only"), "DeletedOnly"), 2, 0, 1, 3);
    l->addWidget(Named(new QCheckBox("Date:"), "DateOn"), 3, 0, 1, 3);
    l->addWidget(new QLabel("Between:"), 4, 0);
    l->addWidget(Picker("DateFrom"), 4, 1);
    l->addWidget(new QLabel("and:"), 5, 0);
    l->addWidget(Picker("DateTo"), 5, 1);
    l->setRowStretch(6, 1);
    l->setColumnStretch(2, 1);
    connect(maskOn, &QCheckBox::toggled, this, [this] { UpdateEnabling(); });
    connect(Find<QCheckBox>(w, "DateOn"), &QCheckBox::toggled, this, [this] { UpdateEnabling(); });
    return w;
}

QWidget* CFiltersDialog::TypesPage() {
    auto* w = new QWidget;
    auto* l = new QVBoxLayout(w);
    l->addWidget(new QLabel("Specify the file types you want to appear in the list:"));
    auto* group = Named(new QButtonGroup(w), "TypeMode");
    const char* texts[] = {"Show all files", "Show only known file types", "Custom:"};
    for (int mode = 0; mode < 3; ++mode) {
        auto* b = new QRadioButton(texts[mode]);
        group->addButton(b, mode);
        l->addWidget(b);
    }
    l->addStretch(1);
    return w;
}

void CFiltersDialog::Load() {
    Find<QCheckBox>(this, "MaskOn")->setChecked(Filter.MaskOn);
    Find<QLineEdit>(this, "Mask")->setText(QString::fromStdString(Filter.Mask));
    Find<QCheckBox>(this, "DeletedOnly")->setChecked(Filter.DeletedOnly);
    Find<QCheckBox>(this, "DateOn")->setChecked(Filter.DateOn);
    Find<QDateTimeEdit>(this, "DateFrom")->setDateTime(FromFileTime(Filter.DateFrom));
    Find<QDateTimeEdit>(this, "DateTo")->setDateTime(FromFileTime(Filter.DateTo));
    const int mode = std::clamp<int>(Filter.TypeMode, FILTER_ALL_TYPES, FILTER_CUSTOM_TYPES);
    Find<QButtonGroup>(this, "TypeMode")->button(mode)->setChecked(true);
    UpdateEnabling();
}

void CFiltersDialog::UpdateEnabling() {
    Find<QLineEdit>(this, "Mask")->setEnabled(Find<QCheckBox>(this, "MaskOn")->isChecked());
    const bool dates = Find<QCheckBox>(this, "DateOn")->isChecked();
    Find<QDateTimeEdit>(this, "DateFrom")->setEnabled(dates);
    Find<QDateTimeEdit>(this, "DateTo")->setEnabled(dates);
}

bool CFiltersDialog::Apply() {
    const bool dates = Find<QCheckBox>(this, "DateOn")->isChecked();
    const std::uint64_t from = ToFileTime(Find<QDateTimeEdit>(this, "DateFrom")->dateTime());
    const std::uint64_t to = ToFileTime(Find<QDateTimeEdit>(this, "DateTo")->dateTime());
    if (dates && to < from) {
        Tabs->setCurrentIndex(0);
        Prompter().Tell(this, "The \"and:\" date lies before the \"Between:\" date.", Text(kFiltersTitle),
                        PromptIcon::Warning);
        return false;
    }
    Filter.MaskOn = Find<QCheckBox>(this, "MaskOn")->isChecked();
    Filter.Mask = Find<QLineEdit>(this, "Mask")->text().toStdString();
    Filter.DeletedOnly = Find<QCheckBox>(this, "DeletedOnly")->isChecked();
    Filter.DateOn = dates;
    if (dates) {
        Filter.DateFrom = from;
        Filter.DateTo = to;
    }
    Filter.TypeMode = FilterTypeMode(Find<QButtonGroup>(this, "TypeMode")->checkedId());
    return true;
}

void CFiltersDialog::done(int result) {
    if (result == QDialog::Accepted && !Apply()) return;
    QDialog::done(result);
}

bool ShowFilters(QWidget* owner, CFilter& filter) {
    const std::vector<std::uint8_t> before = filter.StoredForm();
    CFiltersDialog dialog(filter, owner);
    if (dialog.exec() != QDialog::Accepted || filter.StoredForm() == before) return false;
    if (!filter.Save(CRegistryStore::Default()))
        Prompter().Tell(owner, "The filter applies now but could not be stored for the next start.", Text(kFiltersTitle),
                        PromptIcon::Warning);
    return true;
}

}  // namespace vm::ui
