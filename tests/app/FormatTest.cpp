#include <gtest/gtest.h>

#include "app/Format.h"

using vm::Format;

TEST(Format, SystemConversions) {
    struct Case {
        std::string got, want;
    } cases[] = {
        {Format("Volume %s at position %I64d not read, retry %d", "sda", std::uint64_t(1048576), 0),
         "Volume sda at position 1048576 not read, retry 0"},
        {Format("%C: (%s)", 'E', "DATA"), "E: (DATA)"},
        {Format("%C:", std::string("sdb1")), "sdb1:"},
        {Format("%08X-%x", 0xABCDu, 255), "0000ABCD-ff"},
        {Format("100%% of %I64d", std::int64_t(-5)), "100% of -5"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(Format, HostileFormatsNeverReadPastTheArguments) {
    EXPECT_EQ(Format("%s and %s and %d", "one"), "one and  and ");
    EXPECT_EQ(Format("%d", "text"), "");
    EXPECT_EQ(Format("trailing %"), "trailing ");
    EXPECT_LT(Format("%99999999999d", 5).size(), 20000u);
}
