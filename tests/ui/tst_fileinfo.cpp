// The item pane and the "File Information" dialog over items of a drive's found tree: the rows of
// a folder and of lost files, a stale handle after the tree is cleared, and their look.
#include <QTest>

#include "UiTestSupport.h"
#include "platform/FileTime.h"
#include "ui/FileInformation.h"
#include "volume/Volume.h"

using namespace vm;
using namespace vm::ui;

class FileInfoTest : public QObject {
    Q_OBJECT
    static FoundItem Record(std::uint32_t id, std::uint32_t parent, const char* name, std::uint16_t flags, std::uint64_t size) {
        FoundItem r;
        r.Id = id;
        r.ParentId = parent;
        r.Name = name;
        r.Flags = flags | FI_NAMED;
        r.Size = size;
        r.DataOffset = 0x10000;
        r.CreateTime = UnixToFileTime(1600000000LL * 1000000000LL);
        r.WriteTime = UnixToFileTime(1700000000LL * 1000000000LL);
        r.AccessTime = 0;
        return r;
    }

private slots:
    // The icons are in the interface library's resources, which a static library does not
    // register by itself.

    void rowsOfFoldersAndFilesAndAStaleHandle() {
        CVolume drive(VK_IMAGE);
        drive.BytesPerCluster = 4096;
        drive.FoundTree.SetDriveRootId(5);
        QVERIFY(drive.FoundTree.AddFound(Record(5, 5, "", FI_FOLDER, SIZE_UNKNOWN), false));
        FoundItem* folder = drive.FoundTree.AddFound(Record(50, 5, "Docs", FI_FOLDER, SIZE_UNKNOWN), false);
        FoundItem* file = drive.FoundTree.AddFound(Record(60, 50, "notes.txt", FI_DELETED, 1000), false);
        FoundItem* big = drive.FoundTree.AddFound(Record(61, 50, "big.bin", 0, 8192), false);
        QVERIFY(folder && file && big);

        CDataInfoView pane;
        QVERIFY(pane.ShowItem(drive, drive.FoundTree.HandleOf(folder)));
        QCOMPARE(pane.Form()->ValueOf("Size on disk:"), QString("0"));
        QCOMPARE(pane.Form()->ValueOf("Type:"), QString("Folder"));
        QCOMPARE(pane.Form()->ValueOf("Signature:"), QString());  // the pane has no signature row

        const ItemHandle handle = drive.FoundTree.HandleOf(file);
        QVERIFY(pane.ShowItem(drive, handle));
        CItemInfoForm* rows = pane.Form();
        QCOMPARE(rows->ValueOf("Size:"), QString("1000"));
        QCOMPARE(rows->ValueOf("Size on disk:"), QString("4096"));
        QCOMPARE(rows->ValueOf("Status:"), QString("Deleted"));
        QCOMPARE(rows->ValueOf("Location:"), QString("\\Docs\\"));
        QCOMPARE(rows->ValueOf("Accessed time:"), QString("unknown"));
        QVERIFY(rows->ValueOf("Modified time:") != "unknown");
        QVERIFY(!rows->ValueOf("Type:").isEmpty());  // the desktop's name of a .txt file
        QVERIFY(pane.ShowItem(drive, drive.FoundTree.HandleOf(big)));
        QCOMPARE(rows->ValueOf("Size on disk:"), QString("8192"));

        ItemInfoSnapshot item;
        QVERIFY(TakeItemInfo(drive, handle, nullptr, item));
        CFileInformationDialog dialog(nullptr, item);
        QCOMPARE(dialog.Form()->ValueOf("Signature:"), QString("unknown"));
        test::CheckScreenshot(&dialog, "file-info", QSize(420, 460));
        test::CheckScreenshot(&pane, "file-info-pane", QSize(320, 400));

        drive.FoundTree.Clear();
        QVERIFY(!pane.ShowItem(drive, handle));
        QCOMPARE(rows->ValueOf("Size:"), QString("8192"));  // left as it was
        QVERIFY(!TakeItemInfo(drive, handle, nullptr, item));
    }
};

VM_UI_TEST_MAIN(FileInfoTest)
#include "tst_fileinfo.moc"
