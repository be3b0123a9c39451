// SPDX-License-Identifier: LGPL-2.1-or-later
// Colour specifications: the hexadecimal rules, names from the built-in table, and names from a
// database file (pointed at through the build tree's test hook).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log-capture.h"
#include "tamba-hooks.h"
#include "tamba/tamba.h"

namespace {

struct Case {
    const char *spec;
    bool ok;
    int r, g, b;
};

// Each case parses as given; a failure stores nothing.
void expect_cases (const std::vector<Case> &cases)
{
    for (const Case &c : cases) {
        guint16 r = 1, g = 2, b = 3;
        EXPECT_EQ (bool (tamba_parse_color (c.spec, &r, &g, &b)), c.ok) << "'" << c.spec << "'";
        const std::vector<int> want = c.ok ? std::vector<int>{c.r, c.g, c.b} : std::vector<int>{1, 2, 3};
        EXPECT_EQ ((std::vector<int>{r, g, b}), want) << "'" << c.spec << "'";
    }
}

// The built-in table answers when the database file is missing.
struct BuiltIn : ::testing::Test {
    void SetUp () override { tamba::hooks::set_rgb_txt_path ("/nonexistent/rgb.txt"); }
    void TearDown () override { tamba::hooks::set_rgb_txt_path (nullptr); }
};

TEST_F (BuiltIn, HexDigitsAndNames)
{
    expect_cases ({
        {"#abc", true, 0xa000, 0xb000, 0xc000},
        {"#aAbBcC", true, 0xaa00, 0xbb00, 0xcc00},
        {"#fff000000", true, 0xfff0, 0, 0},
        {"#123456789abc", true, 0x1234, 0x5678, 0x9abc},
        {"#ff0000zz", true, 0xff00, 0, 0},  // digits end at the first non-digit
        {"#12", false}, {"#1234", false}, {"#1234567890abc", false}, {"#", false}, {"# abc", false}, {"#\xe0\xe1\xe2", false},
        {"Alice Blue", true, 61680, 63736, 65535},
        {"darkslategray", true, 12079, 20303, 20303},
        {"navy", true, 0, 0, 32896},
        {" alice blue", false}, {"alice  blue", false}, {"", false},
        {"crimson", false},  // not in the Release 6 database
    });
    guint16 r = 1, b = 3;
    EXPECT_TRUE (tamba_parse_color ("#102030", &r, nullptr, &b));
    EXPECT_EQ (r + b, 0x4000);
    tamba::test::LogCapture log;
    EXPECT_FALSE (tamba_parse_color (nullptr, &r, nullptr, &b));
    EXPECT_EQ (log.criticals (), std::vector<std::string>{"spec != NULL"});
}

// A name listed twice with different colours fails here too: only one of them can be found.
TEST_F (BuiltIn, EveryEntryIsFoundInUpperCase)
{
    size_t n = 0;
    for (; local_rgb_txt[n].name; ++n) {
        std::string upper = local_rgb_txt[n].name;
        for (char &ch : upper) ch = char (std::toupper (static_cast<unsigned char> (ch)));
        const auto &rgb = local_rgb_txt[n].rgb;
        expect_cases ({{upper.c_str (), true, rgb.red, rgb.green, rgb.blue}});
    }
    EXPECT_EQ (n, 752u);
}

TEST (DatabaseFile, FollowsTheFileRules)
{
    std::string text = "! 1 2 3 comment\n255 0 0\tmy red\n1 2 3\n300 0 0\tover\n10 20 30 dup\n"
                       "40 50 60 Dup\n5 5 5  trailing \r\n12 x 3 broken\n99999999999 0 0 huge\n"
                       "  7\t8 9 spaced  out\n";
    // A line longer than one 255-character read: its first piece has no newline and is skipped,
    // the rest is read as a line of its own.
    text += "4 4 4 " + std::string (249, 'x') + "8 8 8 tail\n9 9 9 no newline";
    ASSERT_TRUE (g_file_set_contents (TEST_RGB_TXT_PATH, text.c_str (), -1, nullptr));
    tamba::hooks::set_rgb_txt_path (TEST_RGB_TXT_PATH);
    expect_cases ({
        {"My Red", true, 65535, 0, 0},
        {"", true, 0x0101, 0x0202, 0x0303},  // a line with no name
        {"over", true, 0x2d2c, 0, 0},         // 300 is kept: (v | v << 8) & 0xffff
        {"dup", true, 40 * 257, 50 * 257, 60 * 257},  // the later line wins
        {"trailing \r", true, 5 * 257, 5 * 257, 5 * 257},  // only the newline is cut
        {"trailing", false}, {"broken", false}, {"huge", false},
        {"spaced  out", true, 7 * 257, 8 * 257, 9 * 257},
        {"tail", true, 8 * 257, 8 * 257, 8 * 257},
        {"no newline", false}, {"comment", false},
        {"green", false},  // the built-in table is not consulted
    });
    // The table is built once: later changes to the file are not seen.
    ASSERT_TRUE (g_file_set_contents (TEST_RGB_TXT_PATH, "0 255 0\tgreen\n", -1, nullptr));
    EXPECT_FALSE (tamba_parse_color ("green", nullptr, nullptr, nullptr));
    tamba::hooks::set_rgb_txt_path (nullptr);
}

}  // namespace
