// The three call dialog templates as the program's compiled resources hold them, checked control by
// control against the tables they were made from; and the template reader on damaged templates.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "dialogs.h"
#include "resources.h"

namespace {

constexpr DWORD kDialogStyle = 0x90C000C0;  // WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME | DS_SETFONT
constexpr DWORD kDefPush = 0x50010001, kPush = 0x50010000, kCheck = 0x50010003, kStatic = 0x50020000;
constexpr int kNoId = 0xFFFF;

struct Control {
    int id;
    DWORD style;
    int x, y, cx, cy;
    std::string text;
};

struct Expected {
    int id;
    std::string title;
    int cx, cy;
    std::vector<Control> controls;
};

const std::vector<Expected> &Tables()
{
    static const std::vector<Expected> tables = {
        {101, "Incoming Call", 293, 162,
         {{1, kDefPush, 65, 129, 50, 14, "Accept Call"},
          {2, kPush, 177, 129, 50, 14, "Ignore Call"},
          {kNoId, kStatic, 25, 17, 248, 17,
           "You have an incoming call, but your Internet Service Provider (ISP) does not support "
           "Modem-On-Hold."},
          {kNoId, kStatic, 24, 67, 214, 18,
           "Click \"Accept Call\" to talk to the caller and disconnect the modem."},
          {kNoId, kStatic, 23, 89, 209, 12, "Click \"Ignore Call\" to continue with your on-line session."},
          {1000, kCheck, 24, 112, 237, 10,
           "Disable future \"Incoming Call\" message during this on-line session."},
          {kNoId, kStatic, 25, 46, 34, 8, "From:"},
          {1001, kStatic, 59, 46, 197, 19, "Caller ID information is not available"}}},
        {102, "Modem-On-Hold", 307, 122,
         {{1, kDefPush, 128, 92, 50, 14, "Back On-Line"},
          {kNoId, kStatic, 21, 13, 231, 25,
           "You can pick up the phone now!\nTo go back On-Line, first hang up the phone, then click "
           "\"Back On-Line\"."},
          {kNoId, kStatic, 21, 50, 34, 8, "From:"},
          {1001, kStatic, 62, 50, 171, 18, "Caller ID information is not available"},
          {kNoId, kStatic, 21, 70, 242, 9,
           "Length of time your Internet Service Provider allows before auto disconnect:"},
          {1002, kStatic, 268, 71, 26, 8, "00:00"}}},
        {103, "Incoming Call", 277, 157,
         {{1, kDefPush, 57, 126, 50, 14, "Accept Call"},
          {2, kPush, 169, 126, 50, 14, "Ignore Call"},
          {kNoId, kStatic, 21, 18, 189, 11, "You have an incoming call. "},
          {kNoId, kStatic, 22, 59, 214, 18,
           "Click \"Accept Call\" to talk to the caller and put Modem-On-Hold.\n(Please wait for next "
           "prompt before picking up the phone)"},
          {kNoId, kStatic, 21, 86, 209, 12, "Click \"Ignore Call\" to continue with your on-line session."},
          {1000, kCheck, 21, 109, 231, 10,
           "Disable future \"Incoming Call\" message during this on-line session"},
          {kNoId, kStatic, 21, 39, 34, 8, "From:"},
          {1001, kStatic, 57, 39, 183, 17, "Caller ID information is not available"}}},
    };
    return tables;
}

const sim::Resource &DialogResource(int id)
{
    const sim::Resource *r = sim::FindResourceById(sim::kRtDialog, (uint32_t)id);
    if (!r)
        throw std::runtime_error("no dialog resource " + std::to_string(id));
    return *r;
}

}  // namespace

TEST(DialogTemplates, EachDialogHasTheFrameTitleSizeAndFontOfItsTable)
{
    for (const Expected &want : Tables()) {
        SCOPED_TRACE("dialog " + std::to_string(want.id));
        const sim::Resource &r = DialogResource(want.id);
        EXPECT_EQ(r.language, 0x0409) << "English (United States)";
        sim::DialogTemplate t = sim::ParseDialogTemplate(r.data.data(), r.data.size());
        EXPECT_EQ(t.style, kDialogStyle);
        EXPECT_EQ(t.exstyle, 0u);
        EXPECT_EQ(t.x, 0);
        EXPECT_EQ(t.y, 0);
        EXPECT_EQ(t.cx, want.cx);
        EXPECT_EQ(t.cy, want.cy);
        EXPECT_EQ(t.menu, "") << "no menu";
        EXPECT_EQ(t.class_name, "") << "the system dialog class";
        EXPECT_EQ(t.title, want.title);
        EXPECT_EQ(t.font_size, 8);
        EXPECT_EQ(t.font_name, "MS Sans Serif");
        EXPECT_EQ(t.style & WS_SYSMENU, 0u) << "no system menu, hence no close box";
    }
}

TEST(DialogTemplates, EveryControlHasTheIdClassStylePlaceAndTextOfItsTableInTemplateOrder)
{
    for (const Expected &want : Tables()) {
        const sim::Resource &r = DialogResource(want.id);
        sim::DialogTemplate t = sim::ParseDialogTemplate(r.data.data(), r.data.size());
        ASSERT_EQ(t.items.size(), want.controls.size()) << "dialog " << want.id;
        for (size_t i = 0; i < t.items.size(); ++i) {
            SCOPED_TRACE("dialog " + std::to_string(want.id) + ", control " + std::to_string(i));
            const sim::DialogItem &got = t.items[i];
            const Control &c = want.controls[i];
            EXPECT_EQ(got.id, c.id);
            EXPECT_EQ(got.style, c.style);
            EXPECT_EQ(got.exstyle, 0u);
            EXPECT_EQ(got.class_name, c.style == kStatic ? "Static" : "Button");
            EXPECT_EQ(got.class_atom, c.style == kStatic ? 0x82 : 0x80);
            EXPECT_EQ(got.x, c.x);
            EXPECT_EQ(got.y, c.y);
            EXPECT_EQ(got.cx, c.cx);
            EXPECT_EQ(got.cy, c.cy);
            EXPECT_EQ(got.title, c.text);
            EXPECT_TRUE(got.data.empty());
        }
    }
}

TEST(DialogTemplates, TwoLineTextsAreJoinedByOneLineFeed)
{
    const sim::Resource &r = DialogResource(102);
    sim::DialogTemplate t = sim::ParseDialogTemplate(r.data.data(), r.data.size());
    const std::string &text = t.items.at(1).title;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_EQ(text.find('\r'), std::string::npos) << "no carriage return";
}

TEST(DialogTemplates, ATruncatedTemplateIsRefusedWithoutReadingPastItsEnd)
{
    // Every cut of a real template throws, and never reads beyond what it was given (the sanitizer
    // build catches a stray read on the heap copy): the last control ends the resource exactly.
    const sim::Resource &r = DialogResource(101);
    size_t refused = 0;
    for (size_t n = 0; n < r.data.size(); ++n) {
        std::vector<uint8_t> cut(r.data.begin(), r.data.begin() + (long)n);
        try {
            sim::ParseDialogTemplate(cut.data(), cut.size());
        } catch (const std::runtime_error &) {
            ++refused;
        }
    }
    EXPECT_EQ(refused, r.data.size()) << "cuts refused";
    EXPECT_NO_THROW(sim::ParseDialogTemplate(r.data.data(), r.data.size()));
}

TEST(DialogTemplates, TheExtendedFormIsRefused)
{
    const uint8_t ex[] = {1, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_THROW(sim::ParseDialogTemplate(ex, sizeof(ex)), std::runtime_error);
}
