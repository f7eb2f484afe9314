#pragma once
// The log box of the status bar: the log's lines, newest first, in a drop-down list (300 pixels
// high), with the "..." button that saves the whole log to a file and opens it.
//
// Window thread only; new lines are announced by the log's notifications and read from the log.
#include <QStringListModel>
#include <QWidget>

class QComboBox;
class QToolButton;

namespace vm::ui {

class CLogBox final : public QWidget {
    Q_OBJECT
public:
    explicit CLogBox(QWidget* parent = nullptr);
    // Takes the lines logged since the last look.
    void Update();
    QStringList Lines() const { return Model.stringList(); }
    QComboBox* Box() const { return Combo; }
    QToolButton* SaveButton() const { return Save; }

private:
    QComboBox* Combo;
    QToolButton* Save;
    QStringListModel Model;
    std::size_t Seen = 0;
};

}  // namespace vm::ui
