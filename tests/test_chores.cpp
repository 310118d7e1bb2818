// The start-up chores, end to end: the program started in scenarios, judged by its trace.
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support.h"

namespace {

using support::Json;

const char kSpare[] = "C:\\WINDOWS\\system32\\vxmport.cp_";
const char kApplet[] = "C:\\WINDOWS\\system32\\vxmport.cpl";

// A scenario with both driver devices present that runs `seconds` and is closed.
std::string Scenario(const std::string &system, int seconds = 5, const std::string &driver = "{voice: 0, control: 0}")
{
    return "name: chores\nsystem:\n" + system + "driver: " + driver + "\nevents:\n  - {at: " +
           std::to_string(seconds) + ", close: true}\n";
}

// The spare and a read-only applet, under C:\WINDOWS.
const char kSpareAndReadOnlyApplet[] =
    "  files: {'C:\\WINDOWS\\system32\\vxmport.cp_': {content: spare, attributes: 0x24},\n"
    "          'C:\\WINDOWS\\system32\\vxmport.cpl': {content: old, readonly: true}}\n";

std::vector<Json> FileEvents(const support::Run &run) { return run.Of("file"); }

// The ops of the file events, in order, for comparisons that print well.
std::string FileOps(const support::Run &run)
{
    std::string out;
    for (const Json &e : run.Of("file"))
        out += e["op"].get<std::string>() + (e["ok"].get<bool>() ? "" : "(failed)") + " ";
    return out;
}

// ---- the telephony location ----

TEST(ChoresTelephony, WithoutTheTelephonyLibraryTheControlPanelOpensOnceAtStartUp)
{
    // Devices absent: the program keeps retrying for two minutes, and the chores do not run again.
    auto run = support::Play(Scenario("  telephony: no-library\n", 130, "{}"));
    ASSERT_EQ(run.status, 0) << run.Dump();
    auto execs = run.Of("exec");
    ASSERT_EQ(execs.size(), 1u) << run.Dump();
    EXPECT_EQ(execs[0]["command"], "control.exe telephon.cpl") << run.Dump();
    EXPECT_EQ(execs[0]["show"], 1) << run.Dump();
    Json window = run.Find("window");
    ASSERT_FALSE(window.is_null()) << run.Dump();
    EXPECT_EQ(execs[0]["t"], window["t"]) << "the control panel starts while the window is created\n" << run.Dump();
}

TEST(ChoresTelephony, AFailingLocationQueryOrAMissingFunctionOpensTheControlPanel)
{
    for (const char *mode : {"no-location", "no-function", "no-location\n  windows: 95",
                             "no-function\n  windows: 95"}) {
        auto run = support::Play(Scenario(std::string("  telephony: ") + mode + "\n"));
        ASSERT_EQ(run.status, 0) << mode << "\n" << run.Dump();
        auto execs = run.Of("exec");
        ASSERT_EQ(execs.size(), 1u) << mode << "\n" << run.Dump();
        EXPECT_EQ(execs[0]["command"], "control.exe telephon.cpl") << mode;
        EXPECT_EQ(execs[0]["show"], 1) << mode;
    }
}

TEST(ChoresTelephony, ADefinedLocationShowsNothing)
{
    auto run = support::Play(Scenario("  telephony: location\n"));
    ASSERT_EQ(run.status, 0) << run.Dump();
    EXPECT_TRUE(run.Of("exec").empty()) << run.Dump();
    EXPECT_TRUE(run.Of("messagebox").empty()) << run.Dump();
    for (const Json &e : run.Of("shown"))
        EXPECT_FALSE(e["visible"].get<bool>()) << run.Dump();
    EXPECT_EQ(run.Find("exit")["code"], 0) << run.Dump();
}

TEST(ChoresTelephony, OnWindows95TheGenericNameIsBoundElsewhereTheAnsiOne)
{
    // The call that fails shows which function the binding took: the control panel opens.
    struct Case { const char *windows, *bound, *other; };
    for (const Case &c : {Case{"95", "tapiGetLocationInfo", "tapiGetLocationInfoA"},
                          Case{"98", "tapiGetLocationInfoA", "tapiGetLocationInfo"},
                          Case{"xp", "tapiGetLocationInfoA", "tapiGetLocationInfo"}}) {
        for (const char *failed : {c.bound, c.other}) {
            auto run = support::Play(std::string("name: t\nsystem: {windows: ") + c.windows +
                                     ", telephony: location}\ndriver: {voice: 0, control: 0}\n"
                                     "faults: [{call: " + failed + "}]\nevents: [{at: 3, close: true}]\n");
            ASSERT_EQ(run.status, 0) << c.windows << "\n" << run.Dump();
            EXPECT_EQ(run.Of("exec").size(), failed == c.bound ? 1u : 0u)
                << c.windows << ", " << failed << " failed\n" << run.Dump();
        }
    }
}

TEST(ChoresTelephony, AFailedStartOfTheControlPanelIsIgnored)
{
    auto run = support::Play("name: t\nsystem: {telephony: no-library}\ndriver: {voice: 0, control: 0}\n"
                             "faults: [{call: WinExec, nth: 1, error: 2}]\n"
                             "events: [{at: 3, close: true}]\n");
    ASSERT_EQ(run.status, 0) << run.Dump();
    EXPECT_FALSE(run.Find("fault", {{"call", "WinExec"}}).is_null()) << run.Dump();
    EXPECT_TRUE(run.Of("exec").empty()) << run.Dump();
    EXPECT_FALSE(run.Find("timer", {{"id", 1}, {"set", true}}).is_null()) << "the program runs on\n" << run.Dump();
    EXPECT_EQ(run.Find("exit")["code"], 0) << run.Dump();
}

// ---- the applet restore ----

TEST(ChoresApplet, SystemsOtherThanNtFiveTouchNoFile)
{
    for (const char *windows : {"95", "98", "me", "nt4", "vista", "7"}) {
        auto run = support::Play(Scenario(std::string("  windows: ") + windows + "\n" + kSpareAndReadOnlyApplet));
        ASSERT_EQ(run.status, 0) << windows << "\n" << run.Dump();
        EXPECT_TRUE(FileEvents(run).empty()) << windows << "\n" << run.Dump();
    }
}

TEST(ChoresApplet, NtFiveRestoresAReadOnlyAppletFromTheSpareKeepingTheSparesAttributes)
{
    for (const char *windows : {"2000", "xp", "2003", "{platform: 2, major: 5, minor: 9}"}) {
        auto run = support::Play(Scenario(std::string("  windows: ") + windows + "\n" + kSpareAndReadOnlyApplet));
        ASSERT_EQ(run.status, 0) << windows << "\n" << run.Dump();
        auto files = FileEvents(run);
        ASSERT_EQ(files.size(), 3u) << windows << "\n" << run.Dump();
        // Made writable: the attributes read (archive and read-only) without read-only.
        EXPECT_EQ(files[0]["op"], "attributes") << run.Dump();
        EXPECT_EQ(files[0]["path"], kApplet) << run.Dump();
        EXPECT_EQ(files[0]["attributes"], 0x20) << run.Dump();
        EXPECT_EQ(files[0]["ok"], true) << run.Dump();
        // Deleted.
        EXPECT_EQ(files[1]["op"], "delete") << run.Dump();
        EXPECT_EQ(files[1]["path"], kApplet) << run.Dump();
        EXPECT_EQ(files[1]["ok"], true) << run.Dump();
        // Replaced by a copy of the spare, with the spare's own attributes.
        EXPECT_EQ(files[2]["op"], "copy") << run.Dump();
        EXPECT_EQ(files[2]["from"], kSpare) << run.Dump();
        EXPECT_EQ(files[2]["path"], kApplet) << run.Dump();
        EXPECT_EQ(files[2]["ok"], true) << run.Dump();
        EXPECT_EQ(files[2]["attributes"], 0x24) << run.Dump();
        // All of it while the window is created, after the telephony check.
        EXPECT_EQ(files[2]["t"], run.Find("window")["t"]) << run.Dump();
    }
}

TEST(ChoresApplet, TheRestoreFollowsTheTelephonyCheck)
{
    auto run = support::Play(Scenario(std::string("  windows: xp\n  telephony: no-library\n") + kSpareAndReadOnlyApplet));
    ASSERT_EQ(run.status, 0) << run.Dump();
    std::vector<std::string> order;
    for (const Json &e : run.events)
        if (e["ev"] == "exec" || e["ev"] == "file" || (e["ev"] == "timer" && e["id"] == 1 && e["set"] == true))
            order.push_back(e["ev"].get<std::string>());
    EXPECT_EQ(order, (std::vector<std::string>{"timer", "exec", "file", "file", "file"})) << run.Dump();
}

TEST(ChoresApplet, WithoutTheSpareTheAppletIsLeftAlone)
{
    // Applet present, or not even that.
    for (const char *files : {"  files: {'C:\\WINDOWS\\system32\\vxmport.cpl': {content: old, readonly: true}}\n", ""}) {
        auto run = support::Play(Scenario(std::string("  windows: xp\n") + files));
        ASSERT_EQ(run.status, 0) << run.Dump();
        EXPECT_TRUE(FileEvents(run).empty()) << run.Dump();
    }
}

TEST(ChoresApplet, AMissingAppletIsCopiedFromTheSpare)
{
    auto run = support::Play(Scenario(
        "  windows: 2000\n  files: {'C:\\WINDOWS\\system32\\vxmport.cp_': {content: spare}}\n"));
    ASSERT_EQ(run.status, 0) << run.Dump();
    // The attribute change and the delete find nothing; the copy puts the applet in place.
    EXPECT_EQ(FileOps(run), "attributes(failed) delete(failed) copy ") << run.Dump();
    EXPECT_EQ(run.Find("file", {{"op", "copy"}})["attributes"], 0x20) << run.Dump();
}

TEST(ChoresApplet, TheWindowsDirectoryDecidesThePaths)
{
    auto run = support::Play(Scenario(
        "  windows: xp\n  windows_dir: 'D:\\WINNT'\n"
        "  files: {'D:\\WINNT\\system32\\vxmport.cp_': {content: spare}, 'D:\\WINNT\\system32\\vxmport.cpl': {content: old}}\n"));
    ASSERT_EQ(run.status, 0) << run.Dump();
    ASSERT_EQ(FileOps(run), "attributes delete copy ") << run.Dump();
    EXPECT_EQ(run.Find("file", {{"op", "copy"}})["from"], "D:\\WINNT\\system32\\vxmport.cp_") << run.Dump();
    EXPECT_EQ(run.Find("file", {{"op", "copy"}})["path"], "D:\\WINNT\\system32\\vxmport.cpl") << run.Dump();
}

// A Windows directory of `length` characters, with the spare and applet beneath it.
std::string LongDirectorySystem(size_t length)
{
    std::string dir = "C:\\";
    while (dir.size() < length)
        dir += dir.size() % 40 == 39 ? '\\' : 'd';
    dir.back() = 'd';
    return "  windows: xp\n  windows_dir: '" + dir + "'\n  files: {'" + dir + "\\system32\\vxmport.cp_': {content: spare}, '" +
           dir + "\\system32\\vxmport.cpl': {content: old, readonly: true}}\n";
}

TEST(ChoresApplet, AWindowsDirectoryTooLongForThePathsIsLeftAlone)
{
    // 234 characters and the 21 appended fill the 256-byte buffers exactly; one more would not fit.
    auto fits = support::Play(Scenario(LongDirectorySystem(234)));
    ASSERT_EQ(fits.status, 0) << fits.Dump();
    ASSERT_EQ(FileOps(fits), "attributes delete copy ") << fits.Dump();
    EXPECT_EQ(fits.Find("file", {{"op", "copy"}})["path"].get<std::string>().size(), 234u + 21u) << fits.Dump();

    for (size_t length : {235, 255, 256, 300}) {
        auto run = support::Play(Scenario(LongDirectorySystem(length)));
        ASSERT_EQ(run.status, 0) << length << "\n" << run.Dump();
        EXPECT_TRUE(FileEvents(run).empty()) << length << "\n" << run.Dump();
        EXPECT_EQ(run.Find("exit")["code"], 0) << length << "\n" << run.Dump();
    }
}

TEST(ChoresApplet, ARestoreThatCannotDeleteLeavesTheAppletAndTheSpare)
{
    // The user may not write to the system directory: nothing the program does changes a file.
    auto run = support::Play("name: t\nsystem:\n  windows: xp\n" + std::string(kSpareAndReadOnlyApplet) +
                             "driver: {voice: 0, control: 0}\n"
                             "faults: [{call: SetFileAttributesA, error: 5}, {call: DeleteFileA, error: 5}, "
                             "{call: CopyFileA, error: 5}]\n"
                             "events: [{at: 3, close: true}]\n");
    ASSERT_EQ(run.status, 0) << run.Dump();
    EXPECT_EQ(FileOps(run), "attributes(failed) delete(failed) copy(failed) ") << run.Dump();
    EXPECT_EQ(run.Find("exit")["code"], 0) << run.Dump();

    // A delete refused on its own (the applet in use) does not stop the restore: the copy
    // overwrites the applet, which the attribute change has made writable.
    run = support::Play("name: t\nsystem:\n  windows: xp\n" + std::string(kSpareAndReadOnlyApplet) +
                        "driver: {voice: 0, control: 0}\n"
                        "faults: [{call: DeleteFileA, error: 32}]\n"
                        "events: [{at: 3, close: true}]\n");
    ASSERT_EQ(run.status, 0) << run.Dump();
    EXPECT_EQ(FileOps(run), "attributes delete(failed) copy ") << run.Dump();
    Json copy = run.Find("file", {{"op", "copy"}});
    ASSERT_FALSE(copy.is_null()) << run.Dump();
    EXPECT_EQ(copy["from"], kSpare) << run.Dump();
    EXPECT_EQ(copy["path"], kApplet) << run.Dump();
    EXPECT_EQ(copy["attributes"], 0x24) << run.Dump();
}

}  // namespace

namespace {


TEST(ChoresScenarios, TheBundledScenariosShowWhatTheirNamesSay)
{
    struct Case { const char *file; size_t execs; const char *file_ops; };
    const Case cases[] = {
        {"chores-no-telephony.yaml", 1, ""},
        {"chores-no-location.yaml", 1, ""},
        {"chores-location.yaml", 0, ""},
        {"chores-applet-restore.yaml", 0, "attributes delete copy "},
        {"chores-applet-no-spare.yaml", 0, ""},
        {"chores-applet-win98.yaml", 0, ""},
    };
    for (const Case &c : cases) {
        std::string yaml = support::BundledScenario(c.file);
        ASSERT_FALSE(yaml.empty()) << c.file;
        auto run = support::Play(yaml);
        ASSERT_EQ(run.status, 0) << c.file << "\n" << run.Dump();
        EXPECT_EQ(run.Of("exec").size(), c.execs) << c.file << "\n" << run.Dump();
        EXPECT_EQ(FileOps(run), c.file_ops) << c.file << "\n" << run.Dump();
        EXPECT_EQ(run.Find("exit")["code"], 0) << c.file << "\n" << run.Dump();
    }
}

}  // namespace
