// SPDX-License-Identifier: LGPL-2.1-or-later
// Colour specifications: the hexadecimal rules and names from the built-in table.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "log-capture.h"
#include "tamba/tamba.h"

using tamba::test::LogCapture;

namespace {

struct ParseCase {
    const char *spec;
    bool ok;
    guint16 r, g, b;
};

void PrintTo (const ParseCase &c, std::ostream *os) { *os << '"' << c.spec << '"'; }

class ParseHex : public ::testing::TestWithParam<ParseCase> {};

TEST_P (ParseHex, FollowsTheDigitRules)
{
    const auto c = GetParam ();
    guint16 r = 1, g = 2, b = 3;
    EXPECT_EQ (bool (tamba_parse_color (c.spec, &r, &g, &b)), c.ok) << c.spec;
    if (c.ok) {
        EXPECT_EQ (r, c.r) << c.spec;
        EXPECT_EQ (g, c.g) << c.spec;
        EXPECT_EQ (b, c.b) << c.spec;
    } else {
        EXPECT_EQ (r, 1);  // nothing stored on failure
        EXPECT_EQ (g, 2);
        EXPECT_EQ (b, 3);
    }
}

INSTANTIATE_TEST_SUITE_P (
    Specs, ParseHex,
    ::testing::Values (ParseCase{"#abc", true, 0xa000, 0xb000, 0xc000},
                       ParseCase{"#f00", true, 0xf000, 0, 0},
                       ParseCase{"#AABBCC", true, 0xaa00, 0xbb00, 0xcc00},
                       ParseCase{"#aAbBcC", true, 0xaa00, 0xbb00, 0xcc00},
                       ParseCase{"#fff000000", true, 0xfff0, 0, 0},
                       ParseCase{"#ffff00000000", true, 0xffff, 0, 0},
                       ParseCase{"#123456789abc", true, 0x1234, 0x5678, 0x9abc},
                       ParseCase{"#ff0000zz", true, 0xff00, 0, 0},
                       ParseCase{"#ff0000 ", true, 0xff00, 0, 0},
                       ParseCase{"#12", false, 0, 0, 0},
                       ParseCase{"#1234", false, 0, 0, 0},
                       ParseCase{"#1234567", false, 0, 0, 0},
                       ParseCase{"#1234567890abc", false, 0, 0, 0},
                       ParseCase{"#", false, 0, 0, 0},
                       ParseCase{"#g00", false, 0, 0, 0},
                       ParseCase{"# abc", false, 0, 0, 0},
                       ParseCase{"#\xe0\xe1\xe2", false, 0, 0, 0},
                       ParseCase{"abc", false, 0, 0, 0}));

class ParseName : public ::testing::TestWithParam<ParseCase> {};

TEST_P (ParseName, LooksUpTheBuiltInTable)
{
    const auto c = GetParam ();
    guint16 r = 1, g = 2, b = 3;
    EXPECT_EQ (bool (tamba_parse_color (c.spec, &r, &g, &b)), c.ok) << c.spec;
    if (c.ok) {
        EXPECT_EQ ((std::vector<int>{r, g, b}), (std::vector<int>{c.r, c.g, c.b})) << c.spec;
    }
}

INSTANTIATE_TEST_SUITE_P (
    Names, ParseName,
    ::testing::Values (ParseCase{"red", true, 65535, 0, 0}, ParseCase{"RED", true, 65535, 0, 0},
                       ParseCase{"Red", true, 65535, 0, 0},
                       ParseCase{"green", true, 0, 65535, 0},
                       ParseCase{"Alice Blue", true, 61680, 63736, 65535},
                       ParseCase{"AliceBlue", true, 61680, 63736, 65535},
                       ParseCase{"dark slate gray", true, 12079, 20303, 20303},
                       ParseCase{"darkslategray", true, 12079, 20303, 20303},
                       ParseCase{"gray", true, 48830, 48830, 48830},
                       ParseCase{"grey100", true, 65535, 65535, 65535},
                       ParseCase{"navy", true, 0, 0, 32896},
                       ParseCase{"yellow green", true, 39578, 52685, 12850},
                       ParseCase{" alice blue", false, 0, 0, 0},
                       ParseCase{"alice blue ", false, 0, 0, 0},
                       ParseCase{"alice  blue", false, 0, 0, 0},
                       ParseCase{"crimson", false, 0, 0, 0},
                       ParseCase{"rebecca purple", false, 0, 0, 0},
                       ParseCase{"web gray", false, 0, 0, 0},
                       ParseCase{"", false, 0, 0, 0},
                       ParseCase{"no such colour", false, 0, 0, 0}));

TEST (ParseColor, NullChannelsAreNotStored)
{
    guint16 r = 1, b = 3;
    EXPECT_TRUE (tamba_parse_color ("#102030", &r, nullptr, &b));
    EXPECT_EQ (r, 0x1000);
    EXPECT_EQ (b, 0x3000);
    EXPECT_TRUE (tamba_parse_color ("navy", nullptr, nullptr, nullptr));

    LogCapture log;
    EXPECT_FALSE (tamba_parse_color (nullptr, &r, nullptr, &b));
    EXPECT_EQ (log.criticals (), std::vector<std::string>{"spec != NULL"});
}

TEST (BuiltInTable, HoldsTheRelease6Database)
{
    std::set<std::string> names;
    int with_space = 0;
    size_t n = 0;
    for (; local_rgb_txt[n].name; ++n) {
        const std::string name = local_rgb_txt[n].name;
        EXPECT_TRUE (names.insert (name).second) << "repeated: " << name;
        for (char ch : name) EXPECT_FALSE (ch >= 'A' && ch <= 'Z') << name;
        if (name.find (' ') != std::string::npos) with_space++;
        // Every channel is an 8-bit value widened by 257.
        for (guint16 v : {local_rgb_txt[n].rgb.red, local_rgb_txt[n].rgb.green, local_rgb_txt[n].rgb.blue})
            EXPECT_EQ (v % 257, 0) << name;
    }
    EXPECT_EQ (n, 752u);
    EXPECT_EQ (with_space, 95);
    EXPECT_EQ (local_rgb_txt[752].rgb.red, 0);
    for (int i = 0; i <= 100; ++i) {
        EXPECT_TRUE (names.count ("gray" + std::to_string (i)));
        EXPECT_TRUE (names.count ("grey" + std::to_string (i)));
    }
    for (const char *name : {"dark grey", "dark red", "light green", "whitesmoke", "aliceblue"})
        EXPECT_TRUE (names.count (name)) << name;
    for (const char *name : {"crimson", "indigo", "silver", "teal", "aqua", "x11 gray"})
        EXPECT_FALSE (names.count (name)) << name;
}

TEST (BuiltInTable, UsedWhenTheDatabaseFileIsMissing)
{
    // This binary's library reads the installed database path; the built-in table only answers
    // when that file is absent.
    if (FILE *f = std::fopen ("/usr/X11R6/lib/X11/rgb.txt", "r")) {
        std::fclose (f);
        GTEST_SKIP () << "a colour database file exists at the default path";
    }
    guint16 r, g, b;
    ASSERT_TRUE (tamba_parse_color ("whitesmoke", &r, &g, &b));
    EXPECT_EQ (r, 62965);
    // Every built-in name is found under its own spelling and in upper case.
    for (size_t i = 0; local_rgb_txt[i].name; ++i) {
        std::string upper = local_rgb_txt[i].name;
        for (char &ch : upper) ch = char (std::toupper (static_cast<unsigned char> (ch)));
        ASSERT_TRUE (tamba_parse_color (upper.c_str (), &r, &g, &b)) << upper;
        EXPECT_EQ (r, local_rgb_txt[i].rgb.red) << upper;
        EXPECT_EQ (g, local_rgb_txt[i].rgb.green) << upper;
        EXPECT_EQ (b, local_rgb_txt[i].rgb.blue) << upper;
    }
}

}  // namespace
