// The "Filters" dialog: its values reach the filter, picker times are local and become UTC
// FILETIMEs, an "and:" date before the "Between:" date is refused, and OK stores the filter.
#include <QButtonGroup>
#include <QCheckBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QTabWidget>
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <ctime>

#include "UiTestSupport.h"
#include "app/RegistryStore.h"
#include "filesystem/Filter.h"
#include "platform/FileTime.h"
#include "ui/FiltersDialog.h"

using namespace vm;
using namespace vm::ui;

class FiltersTest : public QObject {
    Q_OBJECT
public:
    // A zone far from UTC, so that a local time taken as UTC shows.
    FiltersTest() {
        qputenv("TZ", "Asia/Kolkata");
        tzset();
    }

private slots:
    void valuesReachTheFilterWithLocalTimesAsUtc() {
        CFilter filter;
        CFiltersDialog dialog(filter, nullptr);
        dialog.findChild<QCheckBox*>("MaskOn")->setChecked(true);
        dialog.findChild<QLineEdit*>("Mask")->setText("*.JPG");
        dialog.findChild<QCheckBox*>("DeletedOnly")->setChecked(true);
        dialog.findChild<QCheckBox*>("DateOn")->setChecked(true);
        const QDateTime midnight(QDate(2024, 3, 1), QTime(0, 0), Qt::LocalTime);
        const QDateTime evening(QDate(2024, 3, 2), QTime(23, 59), Qt::LocalTime);
        dialog.findChild<QDateTimeEdit*>("DateFrom")->setDateTime(midnight);
        dialog.findChild<QDateTimeEdit*>("DateTo")->setDateTime(evening);
        dialog.findChild<QButtonGroup*>("TypeMode")->button(FILTER_KNOWN_TYPES)->click();
        QVERIFY(dialog.Apply());
        QCOMPARE(filter.MaskOn, 1);
        QCOMPARE(filter.Mask, std::string("*.JPG"));
        QCOMPARE(filter.DeletedOnly, 1);
        QCOMPARE(filter.DateOn, 1);
        QCOMPARE(filter.DateFrom, UnixToFileTime(midnight.toSecsSinceEpoch() * 1000000000LL));
        QCOMPARE(filter.DateFrom, UnixToFileTime(1709231400LL * 1000000000LL));  // 2024-02-29 18:30 UTC
        QCOMPARE(filter.DateTo, UnixToFileTime(evening.toSecsSinceEpoch() * 1000000000LL));
        QCOMPARE(filter.TypeMode, FILTER_KNOWN_TYPES);

        // Opened again, the pickers show the same local times.
        CFiltersDialog again(filter, nullptr);
        QCOMPARE(again.findChild<QDateTimeEdit*>("DateFrom")->dateTime(), midnight);
        QCOMPARE(again.findChild<QLineEdit*>("Mask")->text(), QString("*.JPG"));
    }

    void toBeforeFromIsRefused() {
        test::CScriptedPrompter prompter;
        CFilter filter;
        CFiltersDialog dialog(filter, nullptr);
        dialog.findChild<QCheckBox*>("DateOn")->setChecked(true);
        dialog.findChild<QDateTimeEdit*>("DateFrom")->setDateTime(QDateTime(QDate(2024, 5, 2), QTime(0, 0)));
        dialog.findChild<QDateTimeEdit*>("DateTo")->setDateTime(QDateTime(QDate(2024, 5, 1), QTime(0, 0)));
        QVERIFY(!dialog.Apply());
        QCOMPARE(prompter.Asked.size(), 1);
        QCOMPARE(filter.DateOn, 0);
        QCOMPARE(filter.DateTo, CFilter::kNoUpperBound);
    }

    void longMaskIsCutToItsField() {
        CFilter filter;
        CFiltersDialog dialog(filter, nullptr);
        dialog.findChild<QLineEdit*>("Mask")->setText(QString(5000, 'a'));
        QVERIFY(dialog.Apply());
        QCOMPARE(filter.Mask.size(), CFilter::kMaskUnits - 1);
    }

    void okStoresTheFilter() {
        CFilter filter;
        QTimer::singleShot(0, [] {
            auto* dialog = qobject_cast<CFiltersDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->findChild<QCheckBox*>("DeletedOnly")->setChecked(true);
            dialog->accept();
        });
        QVERIFY(ShowFilters(nullptr, filter));
        CFilter stored;
        QCOMPARE(stored.LoadOrCreate(CRegistryStore::Default()), 1);
        QCOMPARE(stored.DeletedOnly, 1);
    }

    void screenshots() {
        CFilter filter;
        CFiltersDialog dialog(filter, nullptr);
        test::CheckScreenshot(&dialog, "filters-general", QSize(480, 360));
        dialog.Pages()->setCurrentIndex(1);
        test::CheckScreenshot(&dialog, "filters-types", QSize(480, 360));
    }
};

VM_UI_TEST_MAIN(FiltersTest)
#include "tst_filters.moc"
