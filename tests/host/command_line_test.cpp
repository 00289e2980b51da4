#include <gtest/gtest.h>

#include "host/command_line.h"

namespace {

ParsedCommandLine Parse(const std::string& args) { return ParseCommandLine("\"/usr/bin/kaleidra\"" + args); }

TEST(CommandLine, EverySpellingOfTheSaverSwitch) {
    for (const char* args : {" /s", " -s", " s", "  /S", " //s", " /s extra"})
        EXPECT_EQ(Parse(args).mode, RunMode::Saver) << args;
    EXPECT_EQ(ParseCommandLine("kaleidra /s").mode, RunMode::Saver) << "unquoted program name";
    EXPECT_EQ(ParseCommandLine("\"/opt/my saver/kaleidra\" /s").mode, RunMode::Saver) << "quoted name with a blank";
}

TEST(CommandLine, RefusedSwitches) {
    EXPECT_EQ(Parse(" /x").mode, RunMode::Refused);
    EXPECT_EQ(Parse(" /1").mode, RunMode::Refused);
}

TEST(CommandLine, SettingsAndTheirOwner) {
    ParsedCommandLine empty = Parse("");
    EXPECT_EQ(empty.mode, RunMode::Settings);
    EXPECT_TRUE(empty.ownerless);
    EXPECT_TRUE(Parse("   ").ownerless);

    ParsedCommandLine colon = Parse(" /c:1234");
    EXPECT_EQ(colon.mode, RunMode::Settings);
    EXPECT_EQ(colon.window, 1234u);
    EXPECT_FALSE(colon.ownerless);

    ParsedCommandLine spaced = Parse(" /c 1234");
    EXPECT_EQ(spaced.mode, RunMode::Settings);
    EXPECT_EQ(spaced.window, 0u) << "only a colon introduces the owner";
    EXPECT_FALSE(spaced.ownerless) << "the foreground window owns it";
    EXPECT_EQ(Parse(" /C:").window, 0u);
}

TEST(CommandLine, PreviewAndPasswordReadTheirWindow) {
    for (const char* args : {" /p 4242", " /P4242", " /l 4242", " -L   4242x"}) {
        ParsedCommandLine p = Parse(args);
        EXPECT_EQ(p.mode, RunMode::Preview) << args;
        EXPECT_EQ(p.window, 4242u) << args;
    }
    EXPECT_EQ(Parse(" /p").window, 0u);
    EXPECT_EQ(Parse(" /p 99999999999999999999").window, 0xFFFFFFFFul) << "a long number names no window";
    ParsedCommandLine a = Parse(" /a 77");
    EXPECT_EQ(a.mode, RunMode::ChangePassword);
    EXPECT_EQ(a.window, 77u);
}

TEST(CommandLine, DaemonSwitchesAndTheDaemonsWindow) {
    for (const char* args : {" -root", " --root", " --root -x"}) {
        EXPECT_EQ(Parse(args).mode, RunMode::Daemon) << args;
        EXPECT_EQ(Parse(args).window, 0u) << args;
    }
    EXPECT_EQ(Parse(" -window-id 0x1A").window, 26u);
    EXPECT_EQ(Parse(" --window-id 26").window, 26u);
    EXPECT_EQ(Parse(" -window-id 26z").mode, RunMode::Refused);
    EXPECT_EQ(Parse(" -rooted").mode, RunMode::Refused);

    EXPECT_EQ(ApplyDaemonWindow(Parse(" --root"), "0x2a").window, 42u);
    EXPECT_EQ(ApplyDaemonWindow(Parse(""), "42").mode, RunMode::Daemon);
    EXPECT_EQ(ApplyDaemonWindow(Parse(" -window-id 7"), "42").window, 7u) << "the command line names its own";
    EXPECT_EQ(ApplyDaemonWindow(Parse(" /s"), "42").mode, RunMode::Saver);
    EXPECT_EQ(ApplyDaemonWindow(Parse(""), "junk").mode, RunMode::Settings);
}

TEST(CommandLine, JoinQuotesTheProgramName) {
    char prog[] = "/opt/my saver/kaleidra";
    char s[] = "/s";
    char* argv[] = {prog, s};
    EXPECT_EQ(ParseCommandLine(JoinCommandLine(2, argv)).mode, RunMode::Saver);
}

}  // namespace
