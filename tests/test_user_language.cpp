// The user's language, from whatever bytes the registry holds for "Locale".
#include <gtest/gtest.h>

#include <unistd.h>

#include <optional>
#include <string>

#include "app/user_language.h"
#include "registry.h"
#include "support.h"
#include "world.h"

namespace {

// Fills the stack below the caller with a hexadecimal digit: bytes the program leaves unwritten in
// its own buffers then read as digits, so a read past what the registry wrote changes the answer.
__attribute__((noinline)) void PaintStack(char digit)
{
    volatile char area[4096];
    for (size_t k = 0; k < sizeof(area); k++)
        area[k] = digit;
}

// Reads the language in a fresh world whose registry holds `value` (nullopt: no value) under the key
// (or no key at all).
DWORD LanguageFor(bool key, std::optional<std::string> value)
{
    DWORD result = 0xDEAD;
    int fd[2];
    EXPECT_EQ(pipe(fd), 0);
    bool ok = support::InChild([&] {
        if (key)
            sim::RegistryCreateKey("Control Panel\\International");
        if (value)
            sim::RegistrySetValue("Control Panel\\International", "Locale", REG_SZ, *value);
        sim::RunMain([] {
            PaintStack('7');
            ReadUserLanguage();
            return 0;
        });
        EXPECT_EQ(write(fd[1], &UserLanguage, sizeof(UserLanguage)), (ssize_t)sizeof(UserLanguage));
    });
    EXPECT_TRUE(ok);
    close(fd[1]);
    EXPECT_EQ(read(fd[0], &result, sizeof(result)), (ssize_t)sizeof(result));
    close(fd[0]);
    return result;
}

std::string Sz(const std::string &text) { return text + std::string(1, '\0'); }

}  // namespace

TEST(UserLanguage, LastTwoHexDigitsOfTheLocaleDecide)
{
    EXPECT_EQ(LanguageFor(true, Sz("00000409")), 9u);
    EXPECT_EQ(LanguageFor(true, Sz("00000411")), 17u);
    EXPECT_EQ(LanguageFor(true, Sz("00000412")), 18u);
    EXPECT_EQ(LanguageFor(true, Sz("0000040C")), 12u);
    EXPECT_EQ(LanguageFor(true, Sz("0000040c")), 12u);
    EXPECT_EQ(LanguageFor(true, Sz("411")), 17u);
    EXPECT_EQ(LanguageFor(true, Sz("00000804")), 4u);
    EXPECT_EQ(LanguageFor(true, Sz("00000812")), 18u);
    EXPECT_EQ(LanguageFor(true, Sz("  0x411")), 17u);
    // Every blank of the C locale is skipped, the tab and the carriage return at its two ends too.
    EXPECT_EQ(LanguageFor(true, Sz("\t\n\v\f\r 412")), 18u);
    // The prefix in either case, and followed by any digit, 0 included.
    EXPECT_EQ(LanguageFor(true, Sz("0X412")), 18u);
    EXPECT_EQ(LanguageFor(true, Sz("0x00000411")), 17u);
    EXPECT_EQ(LanguageFor(true, Sz("0x9")), 9u);
    EXPECT_EQ(LanguageFor(true, Sz("0x1F")), 0x1Fu);
    // Every letter digit counts, in either case, and the characters beside them end the number.
    EXPECT_EQ(LanguageFor(true, Sz("af")), 0xAFu);
    EXPECT_EQ(LanguageFor(true, Sz("A0")), 0xA0u);
    EXPECT_EQ(LanguageFor(true, Sz("9g")), 9u);
    EXPECT_EQ(LanguageFor(true, Sz("9G")), 9u);
    EXPECT_EQ(LanguageFor(true, Sz("9`")), 9u);
    EXPECT_EQ(LanguageFor(true, Sz("9@")), 9u);
}

TEST(UserLanguage, UnreadableLocaleMeansEnglish)
{
    EXPECT_EQ(LanguageFor(false, std::nullopt), 9u);
    EXPECT_EQ(LanguageFor(true, std::nullopt), 9u);
    // 21 bytes do not fit the 20-byte buffer: the read fails.
    EXPECT_EQ(LanguageFor(true, Sz("00000000000000000411")), 9u);
}

TEST(UserLanguage, UnparsableLocaleMeansZero)
{
    EXPECT_EQ(LanguageFor(true, Sz("")), 0u);
    EXPECT_EQ(LanguageFor(true, std::string()), 0u);
    EXPECT_EQ(LanguageFor(true, Sz("Korean")), 0u);
    // Parsing stops at the first character that is not a hexadecimal digit: "E" is one.
    EXPECT_EQ(LanguageFor(true, Sz("English")), 14u);
    EXPECT_EQ(LanguageFor(true, Sz("-")), 0u);
    // "0x" without a digit after it is the number 0 followed by an "x".
    EXPECT_EQ(LanguageFor(true, Sz("0x")), 0u);
    EXPECT_EQ(LanguageFor(true, Sz("0Xg411")), 0u);
}

TEST(UserLanguage, ValueWithoutTerminatorIsReadWithinItsTwentyBytes)
{
    // Exactly 20 bytes and no NUL: parsed from those bytes alone.
    EXPECT_EQ(LanguageFor(true, std::string("00000000000000000411")), 17u);
    // 19 digits and no NUL, followed in the buffer by nothing the program may read.
    EXPECT_EQ(LanguageFor(true, std::string("0000000000000000412")), 18u);
    // Too large for 32 bits: the conversion saturates, as on the 32-bit program, whatever the sign.
    EXPECT_EQ(LanguageFor(true, Sz("123456789ABC")), 0xFFu);
    EXPECT_EQ(LanguageFor(true, Sz("-100000411")), 0xFFu);
    // Exactly at the edge: eight digits fit, a ninth after 0x10000000 does not.
    EXPECT_EQ(LanguageFor(true, Sz("FFFFFFF0")), 0xF0u);
    EXPECT_EQ(LanguageFor(true, Sz("100000004")), 0xFFu);
}

TEST(UserLanguage, ASignNegatesTheNumberIn32Bits)
{
    // The warning each of these brings is checked with the line-current warning's locales.
    EXPECT_EQ(LanguageFor(true, Sz("-3EF")), 17u);  // 0xFFFFFC11
    EXPECT_EQ(LanguageFor(true, Sz(" +0x412")), 18u);
    EXPECT_EQ(LanguageFor(true, Sz("-0x3EF")), 17u);
    // Nothing after the sign but another sign or a blank: no digit, so 0.
    EXPECT_EQ(LanguageFor(true, Sz("--411")), 0u);
    EXPECT_EQ(LanguageFor(true, Sz("- 411")), 0u);
}
