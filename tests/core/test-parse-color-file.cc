// SPDX-License-Identifier: LGPL-2.1-or-later
// Colour names from a database file: this binary's parser reads TEST_RGB_TXT_PATH, which the test
// writes before the first lookup builds the table.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tamba/tamba.h"

namespace {

class DatabaseFile : public ::testing::Test {
protected:
    static void SetUpTestSuite ()
    {
        std::string text = "! 1 2 3 comment\n"
                           "255 0 0\tmy red\n"
                           "1 2 3\n"
                           "300 0 0\tover\n"
                           "10 20 30 dup\n"
                           "40 50 60 Dup\n"
                           "5 5 5  trailing \r\n"
                           "12 x 3 broken\n"
                           "99999999999 0 0 huge\n"
                           "  7\t8 9 spaced  out\n";
        // A line longer than the 255 characters one read takes: its first piece has no
        // newline and is skipped, the rest is read as a line of its own.
        text += "4 4 4 " + std::string (249, 'x') + "8 8 8 tail\n";
        text += "9 9 9 no newline";
        FILE *f = std::fopen (TEST_RGB_TXT_PATH, "w");
        ASSERT_NE (f, nullptr);
        std::fputs (text.c_str (), f);
        std::fclose (f);
    }
};

struct NameCase {
    const char *spec;
    bool ok;
    int r, g, b;
};

TEST_F (DatabaseFile, FollowsTheFileRules)
{
    const NameCase cases[] = {
        {"my red", true, 65535, 0, 0},
        {"My Red", true, 65535, 0, 0},
        {"", true, 0x0101, 0x0202, 0x0303},        // a line with no name
        {"over", true, 0x2d2c, 0, 0},              // 300 is not rejected: (v | v << 8) & 0xffff
        {"dup", true, 40 * 257, 50 * 257, 60 * 257},  // the later line wins
        {"trailing \r", true, 5 * 257, 5 * 257, 5 * 257},  // only the newline is cut
        {"trailing", false, 0, 0, 0},
        {"broken", false, 0, 0, 0},
        {"huge", false, 0, 0, 0},
        {"spaced  out", true, 7 * 257, 8 * 257, 9 * 257},
        {"tail", true, 8 * 257, 8 * 257, 8 * 257},
        {"no newline", false, 0, 0, 0},
        {"comment", false, 0, 0, 0},
        {"green", false, 0, 0, 0},  // the built-in table is not consulted
        {"#00ff00", true, 0, 0xff00, 0},
    };
    for (const auto &c : cases) {
        guint16 r = 1, g = 1, b = 1;
        EXPECT_EQ (bool (tamba_parse_color (c.spec, &r, &g, &b)), c.ok) << "'" << c.spec << "'";
        if (c.ok) {
            EXPECT_EQ (r, c.r) << c.spec;
            EXPECT_EQ (g, c.g) << c.spec;
            EXPECT_EQ (b, c.b) << c.spec;
        }
    }
    // The table was built once: later changes to the file are not seen.
    FILE *f = std::fopen (TEST_RGB_TXT_PATH, "w");
    std::fputs ("0 255 0\tgreen\n", f);
    std::fclose (f);
    EXPECT_FALSE (tamba_parse_color ("green", nullptr, nullptr, nullptr));
}

}  // namespace
