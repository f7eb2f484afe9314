// The temporary folder a user types into the settings is refused when it cannot hold files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/TempFolderCheck.h"
#include "support/TestSupport.h"

namespace vm {
namespace {

TEST(TempFolderCheck, RefusesWhatCannotHoldFiles) {
    vmtest::TempDir dir;
    vmtest::WriteFile(dir.File("plain"), {1, 2, 3});
    const std::string readOnly = dir.File("ro");
    mkdir(readOnly.c_str(), 0500);
    struct Case { std::string Folder; std::size_t Max; TempFolderFault Fault; };
    const Case cases[] = {
        {dir.Path(), 4095, TempFolderFault::None},
        {"", 4095, TempFolderFault::Empty},
        {dir.File("gone"), 4095, TempFolderFault::Missing},
        {dir.File("plain"), 4095, TempFolderFault::NotFolder},
        {dir.Path(), dir.Path().size() - 1, TempFolderFault::TooLong},
        {"/" + std::string(5000, 'a'), 4095, TempFolderFault::TooLong},
    };
    for (const Case& c : cases) EXPECT_EQ(CheckTempFolder(c.Folder, c.Max), c.Fault) << c.Folder.substr(0, 80);
    if (geteuid() != 0) EXPECT_EQ(CheckTempFolder(readOnly, 4095), TempFolderFault::Unwritable);
    EXPECT_NE(TempFolderFaultText(TempFolderFault::Missing, "/x").find("/x"), std::string::npos);
    chmod(readOnly.c_str(), 0700);
}

TEST(TempFolderCheck, CountsCharactersNotBytes) {
    vmtest::TempDir dir;
    const std::string folder = dir.File("\xc3\xa9\xc3\xa9");  // two characters, four bytes
    mkdir(folder.c_str(), 0700);
    EXPECT_EQ(CheckTempFolder(folder, folder.size() - 2), TempFolderFault::None);
    EXPECT_EQ(CheckTempFolder(folder, folder.size() - 3), TempFolderFault::TooLong);
}

}  // namespace
}  // namespace vm
