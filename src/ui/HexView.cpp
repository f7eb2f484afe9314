#include "ui/HexView.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

#include "ui/Prompter.h"
#include "ui/Texts.h"
#include "ui/UiIds.h"

namespace vm::ui {
namespace {

constexpr int kRow = 16;
constexpr int kOffsetChars = 10;  // "%08X  "
constexpr int kHexChars = 50;     // a blank, 16 bytes of " XX", the blank after the eighth byte
constexpr int kGapChars = 1;
constexpr int kCharsGap = 2;
constexpr int kMarginX = 3, kMarginY = 2;
constexpr std::uint64_t kAskAbove = 65536;
const QColor kOffsetColour(0, 0, 200);
const QColor kLineColour(200, 200, 200);

bool Printable(std::uint8_t b) { return b >= 0x20 && b < 0x7F; }
QChar HexDigit(int v) { return QChar("0123456789ABCDEF"[v & 15]); }
QString Hex2(std::uint8_t b) { return QString(HexDigit(b >> 4)) + HexDigit(b); }

}  // namespace

CHexView::CHexView(QWidget* parent) : QAbstractScrollArea(parent) {
    Font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    Font.setStyleHint(QFont::Monospace);
    Font.setFixedPitch(true);
    viewport()->setFont(Font);
    setFont(Font);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setAutoFillBackground(true);
    viewport()->setBackgroundRole(QPalette::Base);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

CHexView::~CHexView() = default;

void CHexView::SetMemory(std::uint8_t* buffer, std::size_t size) {
    SetSource(std::make_unique<CMemorySource>(buffer, size));
}

bool CHexView::OpenFile(const QString& path) {
    auto source = CFileSource::Open(path.toStdString());
    const bool opened = source != nullptr;
    SetSource(std::move(source));
    return opened;
}

void CHexView::ShowItem(CVolume& drive, const ItemSnapshot& item) {
    SetSource(std::make_unique<CItemSource>(drive, item));
}

void CHexView::SetSource(std::unique_ptr<IHexSource> source) {
    Source = std::move(source);
    ResetView();
}

void CHexView::Clear() { SetSource(nullptr); }

void CHexView::ResetView() {
    Undos.clear();
    SelBegin = SelStop = -1;
    CaretPos = Anchor = 0;
    Nibbles = 0;
    UpdateScrollRange();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    viewport()->update();
}

QString CHexView::SourceName() const { return Source ? QString::fromStdString(Source->Name()) : QString(); }
std::uint64_t CHexView::DataSize() const { return Source ? Source->Size() : 0; }

void CHexView::SetShowOffsets(bool on) { ShowOffsets = on; UpdateScrollRange(); viewport()->update(); }
void CHexView::SetShowHex(bool on) { ShowHex = on; UpdateScrollRange(); viewport()->update(); }
void CHexView::SetShowChars(bool on) { ShowChars = on; UpdateScrollRange(); viewport()->update(); }
void CHexView::SetReplacementChar(char c) { Replacement = c; viewport()->update(); }

void CHexView::SetGroupBytes(int bytes) {
    Group = (bytes == 2 || bytes == 4) ? bytes : 1;
    CaretPos -= CaretPos % Group;
    Nibbles = 0;
    viewport()->update();
}

void CHexView::Select(std::int64_t start, std::int64_t end) {
    const std::int64_t size = std::int64_t(DataSize());
    if (start < 0 || end < 0) {
        SelBegin = SelStop = -1;
    } else {
        SelBegin = std::clamp<std::int64_t>(std::min(start, end), 0, size);
        SelStop = std::clamp<std::int64_t>(std::max(start, end), 0, size);
        Anchor = SelBegin;
        CaretPos = SelStop;
    }
    Nibbles = 0;
    viewport()->update();
}

std::uint64_t CHexView::TopLine() const { return std::uint64_t(verticalScrollBar()->value()) * kRow; }

// ---- text of the rows ----

int CHexView::HexCharIndex(int i) const {
    return 1 + (i / Group) * (1 + 2 * Group) + 1 + (i % Group) * 2 + (i >= 8 ? 1 : 0);
}

std::vector<std::uint8_t> CHexView::ReadRow(std::uint64_t row) const {
    std::vector<std::uint8_t> bytes;
    if (!Source || row >= RowCount()) return bytes;
    bytes.resize(std::min<std::uint64_t>(kRow, Source->Size() - row * kRow));
    bytes.resize(Source->Read(row * kRow, bytes.data(), bytes.size()));
    return bytes;
}

QString CHexView::RowText(std::uint64_t row) const {
    if (row >= RowCount()) return {};
    const std::vector<std::uint8_t> bytes = ReadRow(row);
    QString text;
    if (ShowOffsets) text += QString::asprintf("%08llX  ", static_cast<unsigned long long>(row * kRow));
    if (ShowHex) {
        QString hex(kHexChars, ' ');
        for (int i = 0; i < int(bytes.size()); ++i) {
            const QString digits = Hex2(bytes[std::size_t(i)]);
            hex[HexCharIndex(i)] = digits[0];
            hex[HexCharIndex(i) + 1] = digits[1];
        }
        text += hex + QString(kGapChars, ' ');
    }
    if (ShowChars) {
        text += QString(kCharsGap, ' ');
        for (std::uint8_t b : bytes) text += QChar(Printable(b) ? char(b) : Replacement);
    }
    return text;
}

QString CHexView::HeaderText() const {
    QString text;
    if (ShowOffsets) text += QString("Offset ").leftJustified(kOffsetChars);
    if (ShowHex) text += QString("  0  1  2  3  4  5  6  7   8  9  A  B  C  D  E  F").leftJustified(kHexChars + kGapChars);
    return text;
}

QString CHexView::SelectionText() const {
    QString text;
    if (!Source || SelBegin < 0 || SelBegin >= SelStop) return text;
    std::vector<std::uint8_t> chunk(65536);
    for (std::uint64_t at = std::uint64_t(SelBegin); at < std::uint64_t(SelStop);) {
        const std::size_t want = std::size_t(std::min<std::uint64_t>(chunk.size(), std::uint64_t(SelStop) - at));
        const std::size_t got = Source->Read(at, chunk.data(), want);
        if (got == 0) break;
        for (std::size_t i = 0; i < got; ++i) {
            const std::uint8_t b = chunk[i];
            if (HexActive) {
                text += Hex2(b) + ' ';
                if ((at + i + 1 - std::uint64_t(SelBegin)) % kRow == 0) text += '\n';
            } else {
                text += QChar(Printable(b) ? char(b) : Replacement);
            }
        }
        at += got;
    }
    return text;
}

// ---- commands ----

void CHexView::Copy() {
    if (!Source || SelBegin < 0 || SelBegin >= SelStop) return;
    if (std::uint64_t(SelStop - SelBegin) > kAskAbove &&
        Prompter().Ask(this, Text(text::CopyLargeAmount), Text(text::CopyLargeAmountCaption), Buttons::YesNo,
                       PromptIcon::Question) != Answer::Yes)
        return;
    if (QClipboard* clipboard = QApplication::clipboard())
        clipboard->setText(QString::fromLatin1(SelectionText().toLatin1()));
}

void CHexView::SelectAll() {
    if (!Source) return;
    Select(0, std::int64_t(Source->Size()));
}

void CHexView::NextPane() {
    HexActive = !HexActive;
    Nibbles = 0;
    viewport()->update();
}

bool CHexView::Undo() {
    if (Undos.empty() || !Source) return false;
    const auto [position, old] = Undos.back();
    Undos.pop_back();
    Source->Write(position, old);
    CaretPos = std::int64_t(position) - std::int64_t(position) % Group;
    SelBegin = SelStop = Anchor = CaretPos;
    Nibbles = 0;
    EnsureCaretVisible();
    viewport()->update();
    return true;
}

void CHexView::TypeDigit(int digit) {
    if (!Source || !Source->Writable() || !HexActive) return;
    const std::int64_t size = std::int64_t(Source->Size());
    if (CaretPos >= size) return;  // the end caret has no byte to edit
    const std::int64_t groupStart = CaretPos - CaretPos % Group;
    const std::int64_t position = groupStart + Nibbles / 2;
    if (position < size) {  // a group running past the end edits only the bytes that exist
        std::uint8_t old = 0;
        Source->Read(std::uint64_t(position), &old, 1);
        const std::uint8_t value = (Nibbles % 2 == 0) ? std::uint8_t((old & 0x0F) | (digit << 4))
                                                      : std::uint8_t((old & 0xF0) | digit);
        Undos.emplace_back(std::uint64_t(position), old);
        Source->Write(std::uint64_t(position), value);
    }
    if (++Nibbles == 2 * Group) {
        Nibbles = 0;
        CaretPos = std::min(groupStart + Group, size);
    }
    SelBegin = SelStop = Anchor = CaretPos;
    EnsureCaretVisible();
    viewport()->update();
}

// ---- caret, keys and mouse ----

void CHexView::MoveCaret(std::int64_t position, bool extend) {
    const std::int64_t size = std::int64_t(DataSize());
    CaretPos = std::clamp<std::int64_t>(position, 0, size);
    if (extend) {
        SelBegin = std::min(Anchor, CaretPos);
        SelStop = std::max(Anchor, CaretPos);
    } else {
        Anchor = SelBegin = SelStop = CaretPos;
    }
    Nibbles = 0;
    EnsureCaretVisible();
    viewport()->update();
}

void CHexView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) return Copy();
    if (event->matches(QKeySequence::SelectAll)) return SelectAll();
    if (event->matches(QKeySequence::Undo)) { Undo(); return; }
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const std::int64_t size = std::int64_t(DataSize());
    const std::int64_t screen = std::int64_t(std::max(1, VisibleRows())) * kRow;
    QScrollBar* bar = verticalScrollBar();
    switch (event->key()) {
    case Qt::Key_Left: return MoveCaret(CaretPos - Group, shift);
    case Qt::Key_Right: return MoveCaret(CaretPos + Group, shift);
    case Qt::Key_Up:
        if (ctrl) return bar->setValue(bar->value() - 1);
        return MoveCaret(CaretPos >= kRow ? CaretPos - kRow : CaretPos, shift);
    case Qt::Key_Down:
        if (ctrl) return bar->setValue(bar->value() + 1);
        return MoveCaret(CaretPos + kRow <= size ? CaretPos + kRow : CaretPos, shift);
    case Qt::Key_PageUp:
        if (ctrl) return bar->setValue(bar->value() - VisibleRows());
        return MoveCaret(CaretPos - screen, shift);
    case Qt::Key_PageDown:
        if (ctrl) return bar->setValue(bar->value() + VisibleRows());
        return MoveCaret(CaretPos + screen <= size ? CaretPos + screen : CaretPos, shift);
    case Qt::Key_Home: return MoveCaret(ctrl ? 0 : CaretPos - CaretPos % kRow, shift);
    case Qt::Key_End:
        if (ctrl) return MoveCaret(std::max<std::int64_t>(size - 1, 0), shift);
        return MoveCaret(std::min(CaretPos - CaretPos % kRow + kRow - 1, std::max<std::int64_t>(size - 1, 0)), shift);
    case Qt::Key_Delete:
        if (HexActive) {
            Nibbles = 0;
            for (int i = 0; i < 2 * Group; ++i) TypeDigit(0);
        }
        return;
    case Qt::Key_F6: return NextPane();
    default: break;
    }
    const QString typed = event->text();
    bool ok = false;
    const int digit = typed.size() == 1 ? typed.toInt(&ok, 16) : -1;
    if (ok && !ctrl) return TypeDigit(digit);
    QAbstractScrollArea::keyPressEvent(event);
}

std::int64_t CHexView::PositionAt(const QPoint& point, bool* inHex) const {
    const Layout g = Geometry();
    const int x = point.x() + horizontalScrollBar()->value();
    const std::int64_t row = std::int64_t(verticalScrollBar()->value()) + std::max(0, (point.y() - g.Top) / g.LineHeight);
    int column = 0;
    *inHex = ShowHex && (!ShowChars || x < g.CharsX);
    if (*inHex) {
        const int cell = (1 + 2 * Group) * g.CharWidth;
        column = std::clamp((x - g.HexX - g.CharWidth) / cell, 0, kRow / Group - 1) * Group;
    } else {
        column = std::clamp((x - g.CharsX) / g.CharWidth, 0, kRow - 1);
    }
    const std::int64_t size = std::int64_t(DataSize());
    std::int64_t position = row * kRow + column;
    if (position >= size) position = std::max<std::int64_t>(size - 1, 0);
    return *inHex ? position - position % Group : position;
}

void CHexView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !Source || Source->Size() == 0) return;
    bool inHex = true;
    const std::int64_t position = PositionAt(event->position().toPoint(), &inHex);
    HexActive = inHex;
    Dragging = true;
    Anchor = CaretPos = position;
    SelBegin = position;
    SelStop = std::min<std::int64_t>(position + (inHex ? Group : 1), std::int64_t(Source->Size()));
    Nibbles = 0;
    viewport()->update();
}

void CHexView::mouseMoveEvent(QMouseEvent* event) {
    if (!Dragging || !Source) return;
    bool inHex = HexActive;
    const std::int64_t position = PositionAt(event->position().toPoint(), &inHex);
    const std::int64_t cell = HexActive ? Group : 1, size = std::int64_t(Source->Size());
    SelBegin = std::min(Anchor, position);
    SelStop = std::min(std::max(Anchor, position) + cell, size);
    CaretPos = position;
    Nibbles = 0;
    EnsureCaretVisible();
    viewport()->update();
}

void CHexView::mouseReleaseEvent(QMouseEvent*) { Dragging = false; }

// ---- scrolling and painting ----

CHexView::Layout CHexView::Geometry() const {
    const QFontMetrics metrics(Font);
    Layout g{};
    g.CharWidth = std::max(1, metrics.horizontalAdvance(QLatin1Char('0')));
    g.LineHeight = std::max(1, metrics.height());
    g.Top = kMarginY + g.LineHeight + 3;
    g.OffsetX = kMarginX;
    g.HexX = g.OffsetX + (ShowOffsets ? kOffsetChars * g.CharWidth : 0);
    g.CharsX = g.HexX + (ShowHex ? (kHexChars + kGapChars) * g.CharWidth : 0);
    return g;
}

int CHexView::VisibleRows() const {
    const Layout g = Geometry();
    return std::max(0, (viewport()->height() - g.Top) / g.LineHeight);
}

std::uint64_t CHexView::RowCount() const { return (DataSize() + kRow - 1) / kRow; }

void CHexView::UpdateScrollRange() {
    const Layout g = Geometry();
    const int visible = VisibleRows();
    const std::uint64_t rows = RowCount();
    const std::uint64_t hidden = rows > std::uint64_t(visible) ? rows - std::uint64_t(visible) : 0;
    verticalScrollBar()->setRange(0, int(std::min<std::uint64_t>(hidden, std::uint64_t(INT32_MAX))));
    verticalScrollBar()->setPageStep(std::max(1, visible));
    const int width = g.CharsX + (ShowChars ? (kCharsGap + kRow) * g.CharWidth : 0) + kMarginX;
    horizontalScrollBar()->setRange(0, std::max(0, width - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
}

void CHexView::EnsureCaretVisible() {
    const int row = int(std::min<std::int64_t>(CaretPos / kRow, INT32_MAX));
    QScrollBar* bar = verticalScrollBar();
    const int visible = std::max(1, VisibleRows());
    if (row < bar->value()) bar->setValue(row);
    else if (row >= bar->value() + visible) bar->setValue(row - visible + 1);
}

void CHexView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollRange();
}

void CHexView::scrollContentsBy(int, int) { viewport()->update(); }

void CHexView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    painter.setFont(Font);
    const Layout g = Geometry();
    const QPalette& pal = palette();
    const int dx = -horizontalScrollBar()->value();
    const int ascent = QFontMetrics(Font).ascent();
    const int bottom = viewport()->height();
    auto cell = [&](int x, int y, const QString& s, bool selected, bool activeColumn) {
        if (selected) {
            painter.fillRect(QRect(x, y, g.CharWidth * int(s.size()), g.LineHeight),
                             pal.color(activeColumn ? QPalette::Highlight : QPalette::Button));
            painter.setPen(pal.color(activeColumn ? QPalette::HighlightedText : QPalette::ButtonText));
        } else {
            painter.setPen(pal.color(QPalette::Text));
        }
        painter.drawText(x, y + ascent, s);
    };

    // Header and the lines that frame the columns.
    painter.setPen(pal.color(QPalette::Text));
    if (ShowOffsets)
        painter.drawText(QRect(g.OffsetX + dx, kMarginY, (kOffsetChars - 1) * g.CharWidth, g.LineHeight),
                         Qt::AlignHCenter | Qt::AlignTop, "Offset ");
    if (ShowHex)
        painter.drawText(g.HexX + dx, kMarginY + ascent, "  0  1  2  3  4  5  6  7   8  9  A  B  C  D  E  F");
    painter.setPen(kLineColour);
    painter.drawLine(0, g.Top - 2, viewport()->width(), g.Top - 2);
    if (ShowOffsets && (ShowHex || ShowChars)) painter.drawLine(g.HexX + dx - g.CharWidth / 2, 0, g.HexX + dx - g.CharWidth / 2, bottom);
    if (ShowHex && ShowChars) painter.drawLine(g.CharsX + dx, 0, g.CharsX + dx, bottom);

    if (!Source) return;
    const std::uint64_t first = std::uint64_t(verticalScrollBar()->value());
    const std::int64_t caretGroup = CaretPos - CaretPos % (HexActive ? Group : 1);
    const bool noSelection = SelBegin < 0 || SelBegin >= SelStop;
    for (std::uint64_t row = first; row < RowCount(); ++row) {
        const int y = g.Top + int(row - first) * g.LineHeight;
        if (y >= bottom) break;
        const std::vector<std::uint8_t> bytes = ReadRow(row);
        if (ShowOffsets) {
            painter.setPen(kOffsetColour);
            painter.drawText(g.OffsetX + dx, y + ascent, QString::asprintf("%08llX  ", static_cast<unsigned long long>(row * kRow)));
        }
        for (int i = 0; i < int(bytes.size()); ++i) {
            const std::int64_t at = std::int64_t(row * kRow) + i;
            const bool selected = !noSelection && at >= SelBegin && at < SelStop;
            const std::uint8_t b = bytes[std::size_t(i)];
            if (ShowHex) cell(g.HexX + dx + HexCharIndex(i) * g.CharWidth, y, Hex2(b), selected, HexActive);
            if (ShowChars)
                cell(g.CharsX + dx + (kCharsGap + i) * g.CharWidth, y, QString(QChar(Printable(b) ? char(b) : Replacement)),
                     selected, !HexActive);
        }
        // The caret: a bar before the digit or character that typing changes next.
        if (hasFocus() && noSelection && CaretPos >= std::int64_t(row * kRow) && CaretPos < std::int64_t(row * kRow) + kRow) {
            const int i = int(caretGroup - std::int64_t(row * kRow));
            const int x = HexActive ? g.HexX + dx + (HexCharIndex(i) + Nibbles) * g.CharWidth
                                    : g.CharsX + dx + (kCharsGap + i) * g.CharWidth;
            painter.fillRect(QRect(x, y, 2, g.LineHeight), pal.color(QPalette::Text));
        }
    }
}

}  // namespace vm::ui
