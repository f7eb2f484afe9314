// vellumark-cli sig and lang: a signature made from samples, installed, exported and mailed in a
// configuration of its own; the string table exported for translators.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace {

struct CliRun {
    int Status = -1;
    std::string Out;
};

// Runs the command line with its configuration and data folders in `dir`.
CliRun RunCli(const vmtest::TempDir& dir, const std::string& args) {
    CliRun r;
    r.Status = vmtest::RunCommand("VELLUMARK_CONFIG_DIR='" + dir.File("config") + "' XDG_DATA_HOME='" +
                                      dir.File("data") + "' " + VM_CLI_PATH + " " + args + " 2>&1",
                                  &r.Out);
    return r;
}

std::string TextOf(const std::string& path) {
    const std::vector<std::uint8_t> b = vmtest::ReadFile(path);
    return std::string(b.begin(), b.end());
}

}  // namespace

TEST(SigCli, ASignatureFromSamplesIsInstalledExportedAndMailed) {
    vmtest::TempDir dir;
    if (vmtest::RunCommand("python3 '" + std::string(VM_SOURCE_DIR) + "/tests/fixtures/make_pngs.py' '" +
                           dir.Path() + "'") != 0)
        GTEST_SKIP() << "python3 is not available";
    const std::string samples = "'" + dir.File("sample0.png") + "' '" + dir.File("sample1.png") + "' '" +
                                dir.File("sample2.png") + "'";
    const std::string sig = dir.File("pictures.filesig");
    CliRun r = RunCli(dir, "sig new " + samples + " --group Images --description 'Sample pictures' --prefix pic -o '" +
                            sig + "'");
    ASSERT_EQ(r.Status, 0) << r.Out;
    EXPECT_THAT(r.Out, testing::HasSubstr("type 1000:"));
    EXPECT_EQ(vmtest::ReadFile(sig).size(), 3032u);

    r = RunCli(dir, "sig import '" + sig + "'");
    EXPECT_EQ(r.Status, 0) << r.Out;
    EXPECT_THAT(r.Out, testing::HasSubstr("Signature file '" + sig + "' added!"));

    r = RunCli(dir, "sig export 1000 '" + dir.File("out.filesig") + "'");
    EXPECT_EQ(r.Status, 0) << r.Out;
    EXPECT_EQ(vmtest::ReadFile(dir.File("out.filesig")), vmtest::ReadFile(sig));
    r = RunCli(dir, "sig mailto 1000");
    EXPECT_EQ(r.Status, 0) << r.Out;
    EXPECT_THAT(r.Out, testing::StartsWith("mailto:"));
    EXPECT_THAT(r.Out, testing::HasSubstr("?subject=newsign&body="));

    // Refusals say why and fail.
    vmtest::WriteFile(dir.File("empty.filesig"), {});
    const struct {
        std::string args, message;
    } refusals[] = {
        {"sig import '" + dir.File("empty.filesig") + "'", "is empty!"},
        {"sig import '" + dir.File("none.filesig") + "'", "can't open!"},
        {"sig new " + samples + " --description x --compare-bytes 0 -o '" + dir.File("z.filesig") + "'",
         "must compare from 1 to 512"},
        {"sig new " + samples + " --description x --id 1000 -o '" + dir.File("z.filesig") + "'", "already used"},
        {"sig new " + samples + " --description x --group Nowhere -o '" + dir.File("z.filesig") + "'",
         "no group"},
        {"sig new '" + dir.File("sample0.png") + "' '" + dir.File("none.png") + "' --description x -o '" +
             dir.File("z.filesig") + "'",
         "at least two readable"},
        {"sig export 4242 '" + dir.File("z.filesig") + "'", "no file type 4242"},
    };
    for (const auto& c : refusals) {
        r = RunCli(dir, c.args);
        EXPECT_NE(r.Status, 0) << c.args;
        EXPECT_THAT(r.Out, testing::HasSubstr(c.message)) << c.args;
    }
}

TEST(SigCli, TheStringTableIsExportedButNoTranslationIsOverwritten) {
    vmtest::TempDir dir;
    CliRun r = RunCli(dir, "lang export '" + dir.File("English.lng") + "'");
    ASSERT_EQ(r.Status, 0) << r.Out;
    EXPECT_THAT(TextOf(dir.File("English.lng")), testing::HasSubstr("\n5120=Lost files\n"));

    const std::string german = "[StringsTable]\n5120=Verlorene Dateien\n";
    vmtest::WriteFile(dir.File("German.lng"), std::vector<std::uint8_t>(german.begin(), german.end()));
    r = RunCli(dir, "lang export '" + dir.File("German.lng") + "'");
    EXPECT_NE(r.Status, 0);
    EXPECT_EQ(TextOf(dir.File("German.lng")), german);

    r = RunCli(dir, "--lang Klingon types");
    EXPECT_EQ(r.Status, 0);
    EXPECT_THAT(r.Out, testing::HasSubstr("no language file for 'Klingon'"));
}
