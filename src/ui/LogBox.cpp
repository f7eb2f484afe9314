#include "ui/LogBox.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QHBoxLayout>
#include <QToolButton>

#include "app/Log.h"
#include "ui/UiIds.h"

namespace vm::ui {

namespace {
constexpr int kDropDownHeight = 300;
constexpr std::size_t kMostLines = 20000;  // the box keeps the newest; the log keeps them all
}  // namespace

CLogBox::CLogBox(QWidget* parent) : QWidget(parent) {
    Combo = new QComboBox;
    Combo->setModel(&Model);
    Combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    Combo->setMinimumContentsLength(20);
    Combo->view()->setMinimumHeight(kDropDownHeight);
    Combo->setToolTip("Log");
    Save = new QToolButton;
    Save->setText("...");
    Save->setToolTip("Save the log to a file and open it");
    Save->setProperty("commandId", cmd::SaveLog);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(Combo, 1);
    layout->addWidget(Save);
    connect(Save, &QToolButton::clicked, this, [] { Log().SaveAndShow(); });
    Update();
}

void CLogBox::Update() {
    const std::size_t count = Log().LineCount();
    if (count == Seen) return;
    QStringList lines = Model.stringList();
    for (std::size_t i = Seen; i < count; ++i) lines.prepend(QString::fromStdString(Log().Line(i)));
    while (std::size_t(lines.size()) > kMostLines) lines.removeLast();
    Seen = count;
    Model.setStringList(lines);
    Combo->setCurrentIndex(0);
}

}  // namespace vm::ui
