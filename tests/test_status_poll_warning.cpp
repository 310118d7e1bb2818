// The excessive-line-current warning: its texts in the three languages, when it is shown, and the
// status poll going on underneath it while it is open.
#include <gtest/gtest.h>

#include <iconv.h>

#include <cstring>
#include <string>

#include "app/user_language.h"
#include "calls_support.h"
#include "notify/warning_texts.h"
#include "world.h"

using calls::ExpectCalls;
using calls::Json;
using calls::Scenario;
using calls::Trace;
using support::Play;

namespace {

const char *const kJapanese =
    "\xE3\x83\xA9\xE3\x82\xA4\xE3\x83\xB3\xE3\x80\x80\xE3\x82\xAB\xE3\x83\xAC\xE3\x83\xB3\xE3\x83\x88"
    "\xE3\x80\x80\xE3\x82\xAA\xE3\x83\xBC\xE3\x83\x90\xE3\x83\xBC\xE3\x80\x80\xE9\x9B\xBB\xE8\xA9\xB1"
    "\xE5\x9B\x9E\xE7\xB7\x9A\xE3\x82\x92\xE5\x88\x87\xE6\x96\xAD\xE3\x81\x97\xE3\x81\xA6\xE3\x81\x8F"
    "\xE3\x81\xA0\xE3\x81\x95\xE3\x81\x84";
const char *const kKorean =
    "\xEC\xA3\xBC\xEC\x9D\x98\x21\x20\xEB\xAA\xA8\xEB\x8E\x80\xEC\x97\x90\x20\xEC\x82\xAC\xEC\x9A\xA9"
    "\xED\x95\xA0\x20\xEC\x88\x98\x20\xEC\x97\x86\xEB\x8A\x94\x20\xEC\xA0\x84\xED\x99\x94\xEC\x84\xA0"
    "\xEC\x9D\xB4\x20\xEC\x97\xB0\xEA\xB2\xB0\xEB\x90\x98\xEC\x96\xB4\x20\xEC\x9E\x88\xEC\x8A\xB5"
    "\xEB\x8B\x88\xEB\x8B\xA4\x2E\xEB\xAA\xA8\xEB\x8E\x80\xEC\x9D\xB4\x20\xEC\x86\x90\xEC\x83\x81"
    "\xEB\x90\xA0\x20\xEC\x88\x98\x20\xEC\x9E\x88\xEC\x9C\xBC\xEB\x8B\x88\x20\xEC\x97\xB0\xEA\xB2\xB0"
    "\xEB\x90\x9C\x20\xEC\xA0\x84\xED\x99\x94\xEC\x84\xA0\xEC\x9D\x84\x20\xEC\xA0\x9C\xEA\xB1\xB0"
    "\xED\x95\x98\xEC\x8B\xAD\xEC\x8B\x9C\xEC\x98\xA4\x2E\x20\xEB\x94\x94\xEC\xA7\x80\xED\x84\xB8"
    "\x20\xED\x82\xA4\xED\x8F\xB0\x20\xEB\x93\xB1\xEC\x97\x90\x20\xEC\x82\xAC\xEC\x9A\xA9\xED\x95\x98"
    "\xEB\x8A\x94\x20\xEC\xA0\x84\xED\x99\x94\xEC\x84\xA0\xEC\x9D\x80\x20\xEC\x82\xAC\xEC\x9A\xA9"
    "\xED\x95\xA0\x20\xEC\x88\x98\x20\xEC\x97\x86\xEC\x8A\xB5\xEB\x8B\x88\xEB\x8B\xA4\x2E";
const char *const kEnglish =
    "Excessive Line Current. If problem persists, unplug phone line to avoid damage to your modem!";

// The bytes decoded from a code page with iconv, independently of the world's own decoding.
std::string Decode(const char *bytes, const char *codepage)
{
    iconv_t cd = iconv_open("UTF-8", codepage);
    if (cd == (iconv_t)-1)
        return "(no converter for " + std::string(codepage) + ")";
    std::string in = bytes;
    std::string out(in.size() * 4, '\0');
    char *src = in.data(), *dst = out.data();
    size_t src_left = in.size(), dst_left = out.size();
    size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
    iconv_close(cd);
    if (r == (size_t)-1)
        return "(not valid " + std::string(codepage) + ")";
    out.resize(out.size() - dst_left);
    return out;
}

// The warning a locale's user sees, decoded with the system's code page.
Json WarningFor(const std::string &locale, int codepage)
{
    std::string system = "{locale: \"" + locale + "\", codepage: " + std::to_string(codepage) + "}";
    Trace run = Play(Scenario("  - {at: 0.5, status: 0x100}\n", 2, system));
    Json box = run.Find("messagebox");
    if (box.is_null())
        return Json{{"error", run.Dump()}};
    return box;
}

}  // namespace

TEST(LineCurrentWarning, TheTextsAreStoredAsTheBytesOfTheirCodePages)
{
    EXPECT_EQ(strlen(WarningTextJapanese), 54u);
    EXPECT_EQ(strlen(WarningTextKorean), 163u);
    EXPECT_EQ(Decode(WarningTextJapanese, "CP932"), kJapanese);
    EXPECT_EQ(Decode(WarningTextKorean, "CP949"), kKorean);
    EXPECT_STREQ(WarningTextEnglish, kEnglish);
    EXPECT_STREQ(WARNING_CAPTION, "Tarvo Modem");
}

TEST(LineCurrentWarning, TheLanguageChoosesTheTextAndEveryOtherLanguageGetsEnglish)
{
    EXPECT_EQ(LineCurrentWarningText(17), WarningTextJapanese);
    EXPECT_EQ(LineCurrentWarningText(18), WarningTextKorean);
    for (DWORD language : {0u, 9u, 16u, 19u, 0x12u + 0x100u, 255u})
        EXPECT_EQ(LineCurrentWarningText(language), WarningTextEnglish) << "language " << language;
}

TEST(LineCurrentWarning, EachLocaleSeesItsTextUnderTheSameCaptionTopMostWithoutOwner)
{
    struct {
        const char *locale;
        int codepage;
        const char *text;
        const char *bytes;
    } cases[] = {{"00000411", 932, kJapanese, WarningTextJapanese},
                 {"00000412", 949, kKorean, WarningTextKorean},
                 {"00000409", 1252, kEnglish, WarningTextEnglish},
                 {"00000407", 1252, kEnglish, WarningTextEnglish},
                 // A sign negates the number in 32 bits, as the 32-bit program's conversion does.
                 {"-3EF", 932, kJapanese, WarningTextJapanese},
                 {"-3EE", 949, kKorean, WarningTextKorean},
                 {"-FFFFFBEF", 932, kJapanese, WarningTextJapanese},
                 {"-100000411", 932, kEnglish, WarningTextEnglish}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.locale);
        Json box = WarningFor(c.locale, c.codepage);
        EXPECT_EQ(box["text"], c.text) << box.dump();
        EXPECT_EQ(box["bytes"], sim::Hex(c.bytes)) << box.dump();
        EXPECT_EQ(box["caption"], "Tarvo Modem") << box.dump();
        EXPECT_EQ(box["flags"], 0x40000) << "MB_OK | MB_TOPMOST: " << box.dump();
        EXPECT_TRUE(box["owner"].is_null()) << box.dump();
        EXPECT_EQ(box["t"], 1000) << box.dump();
    }
}

TEST(LineCurrentWarning, OnlyTheLineCurrentValueWarnsWithOrWithoutTheNoSuspendBit)
{
    Trace warns = Play(Scenario("  - {at: 0.5, status: 0x300}\n", 2));
    ASSERT_EQ(warns.status, 0) << warns.Dump();
    EXPECT_EQ(warns.Of("messagebox").size(), 1u) << warns.Dump();

    // 0x140 keeps the Modem-On-Hold bit in the test; 0x101 and 0x180 are other values.
    for (const char *word : {"0x140", "0x101", "0x180", "0x500"}) {
        Trace quiet = Play(Scenario(std::string("  - {at: 0.5, status: ") + word + "}\n", 3));
        ASSERT_EQ(quiet.status, 0) << quiet.Dump();
        EXPECT_TRUE(quiet.Of("messagebox").empty()) << word << ":\n" << quiet.Dump();
    }
}

TEST(LineCurrentWarning, AtMostOneWarningIsOpenAndANewOneMayFollowTheDismissal)
{
    Trace run = Play(Scenario("  - {at: 0.5, status: 0x100}\n"
                              "  - {at: 5.5, dismiss: true}\n"
                              "  - {at: 6.5, status: 0}\n"
                              "  - {at: 7.5, dismiss: true}\n"
                              "  - {at: 8.5, dismiss: true}\n",
                              9));
    ASSERT_EQ(run.status, 0) << run.Dump();
    // Ticks 2 to 5 run inside the first warning and open none; tick 6 opens the next one, since the
    // status still qualifies; after the idle word nothing more.
    ExpectCalls(run, {"1000 messagebox 1", "5500 messagebox-closed 1", "6000 messagebox 1",
                      "7500 messagebox-closed 1", "8500 user dismiss refused"});
}

TEST(LineCurrentWarning, StatusChangesOpenAndCloseDialogsWhileTheWarningIsOpen)
{
    Trace run = Play(Scenario("  - {at: 0.5, status: 0x100}\n"
                              "  - {at: 2.5, status: 16}\n"
                              "  - {at: 3.5, click: 1}\n"
                              "  - {at: 4.5, status: 0x80, hold: 3}\n"
                              "  - {at: 9.5, status: 0x60, caller: \"0100\"}\n"
                              "  - {at: 10.5, status: 0}\n"
                              "  - {at: 11.5, dismiss: true}\n",
                              12.5));
    ASSERT_EQ(run.status, 0) << run.Dump();
    ExpectCalls(run, {"1000 messagebox 1", "3000 dialog 101", "3500 user click 1 ok", "3500 response 2",
                      "3500 closed 101", "5000 dialog 102", "6000 text 1002 00:02", "7000 text 1002 00:01",
                      "8000 text 1002 00:00", "8000 closed 102", "10000 dialog 103", "11000 closed 103",
                      "11500 messagebox-closed 1"});
}

TEST(LineCurrentWarning, ATickThatWarnsLeavesTheOnHoldDialogOpenAndCounting)
{
    Trace run = Play(Scenario("  - {at: 0.5, status: 128, hold: 10}\n"
                              "  - {at: 1.5, status: 0x100}\n"
                              "  - {at: 3.5, dismiss: true}\n",
                              4.5));
    ASSERT_EQ(run.status, 0) << run.Dump();
    // The status still qualifies after the dismissal: the next tick warns again.
    ExpectCalls(run, {"1000 dialog 102", "2000 text 1002 00:09", "2000 messagebox 1", "3000 text 1002 00:08",
                      "3500 messagebox-closed 1", "4000 text 1002 00:07", "4000 messagebox 1", "4500 closed 102",
                      "4500 messagebox-closed 1"});
}

TEST(LineCurrentWarning, ClosingTheProgramUnderAnOpenWarningEndsItCleanly)
{
    // The close arrives inside the warning's modal loop: the shut-down frees the record, the quit
    // message ends the box, and the interrupted tick touches nothing afterwards.
    Trace run = Play(Scenario("  - {at: 0.5, status: 0x60, caller: \"0100\"}\n"
                              "  - {at: 1.5, status: 0x100}\n",
                              3.5));
    ASSERT_EQ(run.status, 0) << run.Dump();
    ExpectCalls(run, {"1000 dialog 103", "2000 messagebox 1", "3500 closed 103", "3500 messagebox-closed 1"});
    EXPECT_TRUE(run.Of("response").empty()) << run.Dump();
    EXPECT_EQ(run.Find("exit")["code"], 0) << run.Dump();
}
