#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <thread>

#include "app/Log.h"
#include "app/Notify.h"
#include "support/TestSupport.h"

using namespace vm;

TEST(Log, LineFormatsByLevel) {
    CLog log;
    log.Error("Can't read sector at: %I64d", std::uint64_t(77));
    log.Message("plain");
    log.Notice("notice");
    log.Write("debug", LOG_DEBUG);
    log.Write("critical", LOG_CRITICAL);
    log.SetTimeStamps(false);
    log.Error("no stamp");
    log.Message("bare");
    log.Notice("bare notice");
    auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 8u);
    // "<local short date> <local time> - ERR: text"
    const std::regex stamped(R"(^\S+ \S+( [AP]M)? - ERR: Can't read sector at: 77$)");
    EXPECT_TRUE(std::regex_match(lines[0], stamped)) << lines[0];
    EXPECT_TRUE(lines[1].ends_with(" - plain"));
    EXPECT_TRUE(lines[2].ends_with(" - notice"));
    EXPECT_TRUE(lines[3].ends_with(" - DBG: debug"));
    EXPECT_TRUE(lines[4].ends_with(" - CRITICALERR: critical"));
    EXPECT_EQ(lines[5], "ERR: no stamp");
    EXPECT_EQ(lines[6], "bare");
    EXPECT_EQ(lines[7], "bare notice");
    EXPECT_NE(log.LastTime(), 0u);
}

TEST(Log, MessageIdUsesTheBuiltInText) {
    CLog log;
    log.SetTimeStamps(false);
    EXPECT_EQ(log.MessageId(136, 3, 12), 1);
    EXPECT_EQ(log.Line(0), "Analysis completed. Found 3 folder(s) and 12 file(s).");
}

TEST(Log, LinesArePostedOnlyOnceTheLogBoxExists) {
    CRecordingSink sink;
    SetNotifier(&sink);
    CLog log;
    log.Message("before the window");
    log.AttachLogView(true);
    log.Message("after");
    SetNotifier(nullptr);
    auto posted = sink.EntriesWithCode(msg::LogLine);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_FALSE(posted[0].sent);
    EXPECT_TRUE(reinterpret_cast<const std::string*>(posted[0].wParam)->ends_with("after"));
}

TEST(Log, SaveAndShowWritesEveryLineOldestFirst) {
    vmtest::TempDir dir;
    setenv("TMPDIR", dir.Path().c_str(), 1);
    CLog log;
    log.SetTimeStamps(false);
    std::string opened;
    log.SetOpener([&](const std::string& p) { opened = p; });
    log.Message("first");
    log.Error("second");
    ASSERT_EQ(log.SaveAndShow(), 1);
    EXPECT_EQ(opened, log.SavedLogPath());
    EXPECT_TRUE(opened.ends_with("/Recovery log file.txt"));
    auto bytes = vmtest::ReadFile(opened);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "first\r\nERR: second\r\n");
    log.Message("third");
    ASSERT_EQ(log.SaveAndShow(), 1);  // saving again replaces the file
    bytes = vmtest::ReadFile(opened);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "first\r\nERR: second\r\nthird\r\n");

    // A temporary folder that cannot be made: the failure itself is logged.
    vmtest::WriteFile(dir.File("not-a-folder"), {1});
    setenv("TMPDIR", dir.File("not-a-folder").c_str(), 1);
    EXPECT_EQ(log.SaveAndShow(), 0);
    EXPECT_EQ(log.Lines().back(), "ERR: Can't create temporary file");
    unsetenv("TMPDIR");
}

TEST(Log, ContinuousFileAppendsAndRollsOver) {
    vmtest::TempDir dir;
    std::string file = dir.File("vellumark.log");
    {
        CLog log;
        log.SetTimeStamps(false);
        log.SetFileOutput(true, file, true, 1);  // 1 KB at most
        for (int i = 0; i < 30; ++i) log.Message(std::string(60, char('a' + i % 26)));
    }
    auto current = vmtest::ReadFile(file);
    auto old = vmtest::ReadFile(file + ".old");
    EXPECT_LE(current.size(), 1024u);
    EXPECT_GT(old.size(), 0u);
    EXPECT_LE(old.size(), 1024u);
    std::string text(current.begin(), current.end());
    EXPECT_TRUE(text.ends_with(std::string(60, char('a' + 29 % 26)) + "\r\n"));

    CLog failing;
    failing.SetFileOutput(true, dir.File("missing/folder/x.log"), false);
    EXPECT_FALSE(failing.WritesToFile());
    failing.Message("still kept in memory");
    EXPECT_EQ(failing.LineCount(), 1u);
}

TEST(Log, ManyWritersLoseNothing) {
    CLog log;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&log, t] {
            for (int i = 0; i < 2000; ++i) log.Error("thread %d line %d", t, i);
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(log.LineCount(), 16000u);
    EXPECT_TRUE(log.Contains("thread 7 line 1999"));
}

#include "app/LogSettings.h"
#include "app/RegistryStore.h"
#include "app/SettingsBlock.h"

TEST(Log, LoggingSettingsActAsTheirLabelsSay) {
    vmtest::TempDir dir;
    setenv("VELLUMARK_CONFIG_DIR", dir.Path().c_str(), 1);
    CRegistryStore store(dir.File("registry.db"));
    CSettingsBlock settings(&store);
    settings.SetSaveLogToFile(1);
    settings.SetLogFileName("vellumark.log");  // no folder: the configuration folder
    settings.SetLogClearOnStart(0);
    {
        CLog log;
        log.SetTimeStamps(false);
        ApplyLogSettings(settings, log);
        log.Message("first run");
    }
    {
        CLog log;
        log.SetTimeStamps(false);
        ApplyLogSettings(settings, log);
        log.Message("second run");
    }
    auto kept = vmtest::ReadFile(dir.File("vellumark.log"));
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "first run\r\nsecond run\r\n");
    settings.SetLogClearOnStart(1);
    {
        CLog log;
        log.SetTimeStamps(false);
        ApplyLogSettings(settings, log);
        log.Message("cleared");
    }
    kept = vmtest::ReadFile(dir.File("vellumark.log"));
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "cleared\r\n");
    settings.SetSaveLogToFile(0);
    CLog off;
    ApplyLogSettings(settings, off);
    EXPECT_FALSE(off.WritesToFile());
    unsetenv("VELLUMARK_CONFIG_DIR");
}
