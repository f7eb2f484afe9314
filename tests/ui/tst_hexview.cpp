// The hex view: rows, groups, typing, Delete, copying with the large-copy question, the end of
// the buffer, read-only files, and its look on a real drive image.
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <vector>

#include "UiTestSupport.h"
#include "ui/HexView.h"

using namespace vm::ui;

namespace {
std::vector<std::uint8_t> Counting(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = std::uint8_t(i);
    return v;
}
}  // namespace

class HexViewTest : public QObject {
    Q_OBJECT
private slots:
    void rowsShowOffsetsDigitsAndCharacters() {
        std::vector<std::uint8_t> data(512, 0);
        data[0x1F0] = 0x41;
        data[0x1F1] = 0x07;
        CHexView view;
        view.SetMemory(data.data(), data.size());
        QCOMPARE(view.SourceName(), QString("Memory"));
        const QString last = view.RowText(31);
        QVERIFY2(last.startsWith("000001F0    41 07 00"), qPrintable(last));
        QVERIFY2(last.endsWith("  A..............."), qPrintable(last));
        QVERIFY(view.RowText(32).isEmpty());
        QVERIFY(view.RowText(0).contains("00 00 00 00 00 00 00 00  00"));  // the blank after the eighth byte
        QVERIFY(view.HeaderText().startsWith("Offset      0  1  2  3  4  5  6  7   8  9  A  B  C  D  E  F"));
    }

    void groupsOfTwoShowEightGroupsOfFourDigits() {
        auto data = Counting(16);
        CHexView view;
        view.SetMemory(data.data(), data.size());
        view.SetGroupBytes(2);
        view.SetShowChars(false);
        const QString row = view.RowText(0);
        QCOMPARE(row.mid(10).simplified(), QString("0001 0203 0405 0607 0809 0A0B 0C0D 0E0F"));
    }

    void typingEditsNibblesAndKeepsUndo() {
        std::vector<std::uint8_t> data(32, 0);
        data[1] = 0x55;
        CHexView view;
        view.SetMemory(data.data(), data.size());
        view.setFocus();
        QTest::keyClicks(&view, "41");
        QCOMPARE(data[0], 0x41);
        QCOMPARE(view.Caret(), 1);
        QCOMPARE(view.UndoList().size(), std::size_t(2));  // one entry per nibble, both of byte 0
        QCOMPARE(view.UndoList().front(), std::make_pair(std::uint64_t(0), std::uint8_t(0)));
        QTest::keyClick(&view, Qt::Key_Delete);  // at byte 1: two zero digits
        QCOMPARE(data[1], 0x00);
        QCOMPARE(view.Caret(), 2);
        while (view.Undo()) {
        }
        QCOMPARE(data[0], 0x00);
        QCOMPARE(data[1], 0x55);
        // Groups of four: Delete zeroes the whole group.
        view.SetGroupBytes(4);
        std::fill(data.begin(), data.end(), 0xEE);
        view.Select(4, 4);
        QTest::keyClick(&view, Qt::Key_Delete);
        QCOMPARE(std::vector<std::uint8_t>(data.begin() + 3, data.begin() + 9),
                 (std::vector<std::uint8_t>{0xEE, 0, 0, 0, 0, 0xEE}));
        QCOMPARE(view.Caret(), 8);
    }

    void editsStopAtTheEndOfTheBuffer_data() {
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("caret");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("expected");  // all 8 bytes: the 6 of the buffer and 2 beyond it
        QTest::newRow("end caret") << 1 << 6 << "FFFF" << QByteArray("\x00\x00\x00\x00\x00\x00\x11\x11", 8);
        QTest::newRow("group of 4 past the end") << 4 << 4 << "FFFFFFFFAB" << QByteArray("\x00\x00\x00\x00\xFF\xFF\x11\x11", 8);
        QTest::newRow("group of 2 at the end") << 2 << 4 << "ABCDEF" << QByteArray("\x00\x00\x00\x00\xAB\xCD\x11\x11", 8);
    }
    void editsStopAtTheEndOfTheBuffer() {
        QFETCH(int, group);
        QFETCH(int, caret);
        QFETCH(QString, typed);
        QFETCH(QByteArray, expected);
        std::vector<std::uint8_t> data{0, 0, 0, 0, 0, 0, 0x11, 0x11};
        CHexView view;
        view.SetMemory(data.data(), 6);
        view.SetGroupBytes(group);
        view.Select(caret, caret);
        QTest::keyClicks(&view, typed);
        QTest::keyClick(&view, Qt::Key_Right);
        QTest::keyClick(&view, Qt::Key_Delete);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(data.data()), 8), expected);
        QCOMPARE(view.Caret(), 6);
    }

    void copyingSixteenBytesGivesOneLine() {
        auto data = Counting(64);
        test::CScriptedPrompter prompter;
        CHexView view;
        view.SetMemory(data.data(), data.size());
        view.Select(0, 16);
        view.Copy();
        QCOMPARE(QApplication::clipboard()->text(), QString("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n"));
        view.NextPane();
        view.Select(0x40 - 32, 0x40 - 26);
        data[0x20] = 'V';
        view.Copy();
        QCOMPARE(QApplication::clipboard()->text(), QString("V!\"#$%"));
        QVERIFY(prompter.Asked.isEmpty());
    }

    void copyingMoreThan64KiBAsksFirst() {
        std::vector<std::uint8_t> data(70000, 0xAB);
        test::CScriptedPrompter prompter;
        CHexView view;
        view.SetMemory(data.data(), data.size());
        QApplication::clipboard()->setText("before");
        view.SelectAll();
        prompter.Answers << Answer::No;
        view.Copy();
        QCOMPARE(QApplication::clipboard()->text(), QString("before"));
        prompter.Answers << Answer::Yes;
        view.Copy();
        QCOMPARE(prompter.Asked.size(), 2);
        QVERIFY(prompter.Asked[0].startsWith("Error: You are copying a large amount of data"));
        const QString copied = QApplication::clipboard()->text();
        QCOMPARE(copied.size(), 70000 * 3 + 70000 / 16);
        QVERIFY(copied.startsWith("AB AB "));
        // 65 536 bytes exactly: no question.
        view.Select(0, 65536);
        view.Copy();
        QCOMPARE(prompter.Asked.size(), 2);
    }

    void keysMoveTheCaretAndShiftSelects() {
        auto data = Counting(100);
        CHexView view;
        view.SetMemory(data.data(), data.size());
        QTest::keyClick(&view, Qt::Key_Down);
        QTest::keyClick(&view, Qt::Key_Right);
        QCOMPARE(view.Caret(), 17);
        QTest::keyClick(&view, Qt::Key_End);
        QCOMPARE(view.Caret(), 31);
        QTest::keyClick(&view, Qt::Key_Home, Qt::ShiftModifier);
        QCOMPARE(std::make_pair(view.SelStart(), view.SelEnd()), std::make_pair(std::int64_t(16), std::int64_t(31)));
        QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(view.Caret(), 99);
        QTest::keyClick(&view, Qt::Key_Down);  // no row below: stays
        QCOMPARE(view.Caret(), 99);
        QTest::keyClick(&view, Qt::Key_F6);
        QVERIFY(!view.HexPaneActive());
    }

    void clickSelectsTheGroupUnderThePointer() {
        auto data = Counting(64);
        CHexView view;
        view.SetMemory(data.data(), data.size());
        view.SetGroupBytes(2);
        view.resize(700, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QFontMetrics fm(view.font());
        const int cw = fm.horizontalAdvance('0');
        // Row 1, the third group of two bytes (bytes 20 and 21): its first digit.
        const QPoint at(3 + 10 * cw + (1 + 2 * 5 + 1) * cw + cw / 2, 2 + fm.height() + 3 + fm.height() + fm.height() / 2);
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(std::make_pair(view.SelStart(), view.SelEnd()), std::make_pair(std::int64_t(20), std::int64_t(22)));
        QVERIFY(view.HexPaneActive());
    }

    void filesAreShownReadOnly() {
        QTemporaryDir dir;
        const QString path = dir.filePath("data.bin");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(40, 'x'));
        file.close();
        CHexView view;
        QVERIFY(view.OpenFile(path));
        QCOMPARE(view.SourceName(), path);
        QCOMPARE(view.DataSize(), std::uint64_t(40));
        QTest::keyClicks(&view, "0000");
        QTest::keyClick(&view, Qt::Key_Delete);
        QVERIFY(view.UndoList().empty());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray(40, 'x'));
        file.close();
        // The file shrinks while shown: rows past its end read short, nothing faults.
        QVERIFY(file.resize(10));
        QVERIFY(view.RowText(2).endsWith("  "));
        view.resize(600, 200);
        view.grab();
        QVERIFY(!view.OpenFile(dir.filePath("missing.bin")));
        QCOMPARE(view.DataSize(), std::uint64_t(0));
    }

    void anEmptyBufferIsHarmless() {
        std::uint8_t none = 0;
        test::CScriptedPrompter prompter;
        CHexView view;
        view.SetMemory(&none, 0);
        for (int key : {Qt::Key_Down, Qt::Key_End, Qt::Key_Right, Qt::Key_Delete, Qt::Key_PageDown})
            QTest::keyClick(&view, Qt::Key(key));
        QTest::keyClicks(&view, "FF");
        view.SelectAll();
        view.Copy();
        QCOMPARE(view.Caret(), 0);
        QVERIFY(view.UndoList().empty());
        QVERIFY(prompter.Asked.isEmpty());
        view.resize(400, 100);
        view.grab();
    }

    void screenshotOfADriveImage() {
        const QString image = test::FixturePath("fat12.img");
        if (!QFile::exists(image)) QSKIP("fat12.img has not been made");
        CHexView view;
        QVERIFY(view.OpenFile(image));
        view.resize(720, 420);
        view.show();
        view.Select(0x1FE, 0x200);
        view.verticalScrollBar()->setValue(16);
        test::CheckScreenshot(&view, "hex-view", QSize(720, 420));
    }
};

VM_UI_TEST_MAIN(HexViewTest)
#include "tst_hexview.moc"
