// The command line and the log it asks for, on their own.
#include <string>
#include <vector>

#include "app/cmdline.h"
#include "app/runlog.h"
#include "tests/support/sim_fixture.h"

TEST(CommandLineTest, SwitchesAreReadAsAdministratorsWriteThem) {
    struct Case {
        const char* line;
        CommandLine::Mode mode;
        bool check, usage, noRestart, forceRestart;
        const char* log;
        const char* bad;  // "" when understood
    };
    const auto I = CommandLine::kInteractive, P = CommandLine::kPassive, Q = CommandLine::kQuiet;
    const Case cases[] = {
        {"\"C:\\Program Files\\x\\upd.exe\"", I, false, false, false, false, "", ""},
        {"upd.exe   ", I, false, false, false, false, "", ""},
        {"\"C:\\a b\\upd.exe\" /QUIET -NoRestart", Q, false, false, true, false, "", ""},
        {"upd /passive /forcerestart", P, false, false, false, true, "", ""},
        {"upd /passive /quiet", Q, false, false, false, false, "", ""},
        {"upd /quiet /passive", Q, false, false, false, false, "", ""},
        {"upd -check /log \"C:\\Log Files\\upd.log\"", I, true, false, false, false, "C:\\Log Files\\upd.log", ""},
        {"upd /log C:\\Logs\\", I, false, false, false, false, "C:\\Logs\\", ""},
        {"upd /?", I, false, true, false, false, "", ""},
        {"upd /quiet /reboot", Q, false, false, false, false, "", "/reboot"},
        {"upd quiet", I, false, false, false, false, "", "quiet"},
        {"upd /log", I, false, false, false, false, "", "/log"},
        {"upd /log /quiet", Q, false, false, false, false, "", "/log"},
        {"upd /log a.log /log b.log", I, false, false, false, false, "a.log", "/log"},
        {"upd \"\"", I, false, false, false, false, "", "\"\""},
        {"upd /norestart /forcerestart", I, false, false, true, true, "", "/forcerestart"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        CommandLine o;
        EXPECT_EQ(ParseCommandLine(c.line, &o), *c.bad == '\0');
        EXPECT_EQ(o.mode, c.mode);
        EXPECT_EQ(o.check, c.check);
        EXPECT_EQ(o.usage, c.usage);
        EXPECT_EQ(o.noRestart, c.noRestart);
        EXPECT_EQ(o.forceRestart, c.forceRestart);
        EXPECT_STREQ(o.logPath, c.log);
        EXPECT_STREQ(o.bad, c.bad);
    }
    // The completion at the start of Windows: windowless, with a log at
    // most, and never mixed with a mode that revises.
    CommandLine o;
    EXPECT_TRUE(ParseCommandLine("\"C:\\x\\upd.exe\" /Complete /log C:\\l.log", &o));
    EXPECT_TRUE(o.complete && o.Windowless() && o.Unattended());
    for (const char* line : {"upd /complete /quiet", "upd /passive /complete", "upd /complete /check",
                             "upd /complete /forcerestart"}) {
        EXPECT_FALSE(ParseCommandLine(line, &o)) << line;
        EXPECT_STREQ(o.bad, "/complete") << line;
    }
    // A path the ANSI functions cannot open is refused before anything runs.
    EXPECT_FALSE(ParseCommandLine(("upd /log C:\\" + std::string(300, 'a')).c_str(), &o));
    EXPECT_TRUE(o.logPath.IsEmpty());
}

namespace {

class RunLogTest : public testdata::SimMachineTest {};

std::string Text(const testdata::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace

TEST_F(RunLogTest, LinesAreUtf8WithOneMarkTimedToTheMillisecondAndAppended) {
    MakeFolder("C:\\Logs");
    sim::SetTime(1700000000);  // 2023-11-14 22:13:20
    {
        CRunLog log;
        ASSERT_TRUE(log.Open("C:\\Logs\\run.log", true));
        log.Write("改訂が正常に終了しました。\r\n\r\n再起動します。");
        ::Sleep(1234);
        log.Writef("exit %d", 3010);
    }
    {
        CRunLog log;
        ASSERT_TRUE(log.Open("C:\\Logs\\run.log", true));
        log.Write("again");
    }
    EXPECT_EQ(Text(Get("C:\\Logs\\run.log")),
              "\xEF\xBB\xBF"
              u8"2023-11-14 22:13:20.000 改訂が正常に終了しました。  再起動します。\r\n"
              "2023-11-14 22:13:21.234 exit 3010\r\n"
              "2023-11-14 22:13:21.234 again\r\n");
    EXPECT_EQ(sim::OpenHandleCount(), 0);
}

TEST_F(RunLogTest, ALongLineIsCutWholeCharactersAndAGrownLogIsCopiedAsideAndBegunAnew) {
    MakeFolder("C:\\Logs");
    // A double-byte character straddles the cut.
    std::string straddle(static_cast<size_t>(CRunLog::kMaxLine - 1), 'c');
    straddle += sim::AnsiFromUtf8(u8"漢字");
    Put("C:\\Logs\\big.log", testdata::Bytes(CRunLog::kMaxBytes + 1, 'z'));
    {
        CRunLog log;
        ASSERT_TRUE(log.Open("C:\\Logs\\big.log", true));
        log.Write(straddle.c_str());
    }
    EXPECT_EQ(Get("C:\\Logs\\big.log.old").size(), CRunLog::kMaxBytes + 1u);
    const std::string now = Text(Get("C:\\Logs\\big.log"));
    ASSERT_EQ(now.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_EQ(now.substr(3 + 24), std::string(static_cast<size_t>(CRunLog::kMaxLine - 1), 'c') + "\r\n")
        << "the character that does not fit whole is left out";

    // A log that cannot be opened is no log; writing to it does nothing.
    CRunLog none;
    EXPECT_FALSE(none.Open("C:\\No\\Such\\Folder\\x.log", true));
    none.Write("nothing");
    EXPECT_FALSE(none.IsOpen());
}
