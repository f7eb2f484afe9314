#pragma once
// The hex view: rows of sixteen bytes with their offset, their hexadecimal digits and their
// characters; a caret, selection by mouse and keys, copying as text, and (over a memory buffer
// of its owner) editing by typing hexadecimal digits, with undo. Files and found items are shown
// read-only. A widget of the window thread.
#include <QAbstractScrollArea>
#include <QFont>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "ui/HexSource.h"

namespace vm::ui {

class CHexView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit CHexView(QWidget* parent = nullptr);
    ~CHexView() override;

    // Attaching a source clears the undo list and the selection and scrolls to the top.
    void SetMemory(std::uint8_t* buffer, std::size_t size);
    bool OpenFile(const QString& path);  // false when the file cannot be opened (the view is then empty)
    void ShowItem(CVolume& drive, const ItemSnapshot& item);
    void SetSource(std::unique_ptr<IHexSource> source);
    void Clear();
    QString SourceName() const;
    std::uint64_t DataSize() const;

    void SetShowOffsets(bool on);
    void SetShowHex(bool on);
    void SetShowChars(bool on);
    void SetGroupBytes(int bytes);  // 1, 2 or 4
    int GroupBytes() const { return Group; }
    void SetReplacementChar(char c);
    bool HexPaneActive() const { return HexActive; }

    // Selection [SelStart, SelEnd), -1 for none; the caret is where typing edits.
    void Select(std::int64_t start, std::int64_t end);
    std::int64_t SelStart() const { return SelBegin; }
    std::int64_t SelEnd() const { return SelStop; }
    std::int64_t Caret() const { return CaretPos; }
    std::uint64_t TopLine() const;

    // Commands: copy (57634), select all (57643), next pane (57680, F6), undo of the last edit.
    void Copy();
    void SelectAll();
    void NextPane();
    bool Undo();
    const std::vector<std::pair<std::uint64_t, std::uint8_t>>& UndoList() const { return Undos; }

    // The text a row shows (offset, hexadecimal and character columns as shown), and the text a
    // copy of the selection puts on the clipboard.
    QString RowText(std::uint64_t row) const;
    QString HeaderText() const;
    QString SelectionText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    struct Layout {
        int CharWidth, LineHeight, Top, OffsetX, HexX, CharsX;
    };
    Layout Geometry() const;
    int HexCharIndex(int byteInRow) const;
    std::int64_t PositionAt(const QPoint& point, bool* inHex) const;
    int VisibleRows() const;
    std::uint64_t RowCount() const;
    void UpdateScrollRange();
    void MoveCaret(std::int64_t position, bool extend);
    void EnsureCaretVisible();
    void TypeDigit(int digit);
    void ResetView();
    std::vector<std::uint8_t> ReadRow(std::uint64_t row) const;

    std::unique_ptr<IHexSource> Source;
    QFont Font;
    bool ShowOffsets = true, ShowHex = true, ShowChars = true, HexActive = true;
    int Group = 1;
    char Replacement = '.';
    std::int64_t SelBegin = -1, SelStop = -1, CaretPos = 0, Anchor = 0;
    int Nibbles = 0;
    bool Dragging = false;
    std::vector<std::pair<std::uint64_t, std::uint8_t>> Undos;
};

}  // namespace vm::ui
