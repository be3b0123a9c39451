// SPDX-License-Identifier: LGPL-2.1-or-later
// XPM module features: colour keys and values, transparency, the array and file forms, and
// the limits of malformed data.
#include <gtest/gtest.h>

#include "log-capture.h"
#include "module-paths.h"

namespace tamba::test {
namespace {

using Strings = std::vector<std::string>;

Tamba *from_data (const Strings &strings)
{
    std::vector<const char *> data;
    for (const auto &s : strings) data.push_back (s.c_str ());
    data.push_back (nullptr);
    return xpm_module ().entries ().load_xpm_data (data.data ());
}

// The same strings as an XPM file, with comments and odd spacing between them.
std::vector<std::uint8_t> as_file (const Strings &strings)
{
    std::string text = "/* XPM */\n// a line comment\nstatic const char *image[] = {\n";
    for (size_t i = 0; i < strings.size (); ++i)
        text += "/* \"quoted\" in a comment */ \"" + strings[i] + "\"" + (i + 1 < strings.size () ? ",\n" : "\n");
    text += "};\n";
    return std::vector<std::uint8_t> (text.begin (), text.end ());
}

// One row per colour entry: each pixel of the 1-row image uses one entry.
struct ColourCase {
    const char *entry;  // after the pixel code
    Rgba want;
};

const ColourCase kColours[] = {
    {"c #f00", {0xf0, 0, 0, 255}},
    {"c #00ff80", {0, 0xff, 0x80, 255}},
    {"c #fff000000", {0xff, 0, 0, 255}},
    {"c #123456789abc", {0x12, 0x56, 0x9a, 255}},
    {"c Alice Blue", {240, 248, 255, 255}},
    {"c YellowGreen", {154, 205, 50, 255}},
    {"m black c red", {255, 0, 0, 255}},
    {"s sym m white", {255, 255, 255, 255}},
    {"g4 #000 g #010203", {1, 2, 3, 255}},
    {"c NoSuchColourName", {0, 0, 0, 255}},
    {"c #12345", {0, 0, 0, 255}},
    {"c NONE", {0, 0, 0, 0}},
};

TEST (XpmModule, ColourKeysAndValues)
{
    const int n = int (std::size (kColours));
    for (int cpp : {1, 2, 4}) {
        Strings xpm = {"  " + std::to_string (n) + "\t1  " + std::to_string (n) + " " + std::to_string (cpp) + " 3 4 XPMEXT"};
        std::string row;
        for (int i = 0; i < n; ++i) {
            const std::string code = std::string (size_t (cpp - 1), '~') + char ('a' + i);
            xpm.push_back (code + "\t" + kColours[i].entry);
            row += code;
        }
        xpm.push_back (row + "trailing text is ignored");
        xpm.push_back ("XPMEXT ext");
        Tamba *t = from_data (xpm);
        ASSERT_NE (t, nullptr) << "cpp " << cpp;
        ASSERT_TRUE (t->has_alpha);
        for (int i = 0; i < n; ++i)
            EXPECT_EQ (rgba_at (t, i, 0), kColours[i].want) << kColours[i].entry << ", cpp " << cpp;

        // The file form, whole and in pieces, gives the same pixels.
        const auto file = as_file (xpm);
        for (size_t piece : kPieceSizes) {
            Progressive p = load_in_pieces (xpm_module (), file, piece ? piece : file.size ());
            EXPECT_TRUE (p.increments_ok);
            EXPECT_EQ (p.prepared, 1);
            EXPECT_EQ (compare_images (p.image, t), "") << "piece " << piece;
        }
        Tamba *whole = load_bytes (xpm_module (), file);
        EXPECT_EQ (compare_images (whole, t), "");
        if (whole) tamba_unref (whole);
        tamba_unref (t);
    }
}

TEST (XpmModule, AlphaOnlyWhenAnEntryIsNone)
{
    Tamba *t = from_data ({"2 2 2 1", ". c #ffffff", "# c black", ".#", "#."});
    ASSERT_NE (t, nullptr);
    EXPECT_FALSE (t->has_alpha);
    EXPECT_EQ (t->n_channels, 3);
    EXPECT_EQ (rgba_at (t, 0, 0), (Rgba {255, 255, 255, 255}));
    EXPECT_EQ (rgba_at (t, 0, 1), (Rgba {0, 0, 0, 255}));
    tamba_unref (t);
    t = from_data ({"2 1 2 1", ". c None", "# c black", ".#"});
    ASSERT_NE (t, nullptr);
    EXPECT_TRUE (t->has_alpha);
    EXPECT_EQ (rgba_at (t, 0, 0)[3], 0);
    EXPECT_EQ (rgba_at (t, 1, 0), (Rgba {0, 0, 0, 255}));
    tamba_unref (t);
}

TEST (XpmModule, MalformedDataFailsCleanly)
{
    struct Case {
        const char *name;
        Strings xpm;
        const char *warning;
    };
    const Case cases[] = {
        {"row shorter than the width", {"3 1 1 1", ". c red", ".."}, "XPM: row shorter than the image width"},
        {"row shorter for two chars per pixel", {"2 1 1 2", ".. c red", "..."}, "XPM: row shorter than the image width"},
        {"unknown pixel code", {"2 1 1 1", ". c red", ".x"}, "XPM: pixel code not in the colour table"},
        {"missing rows", {"1 3 1 1", ". c red", "."}, "XPM: the data ends before the last row"},
        {"missing colours", {"1 1 3 1", ". c red"}, "XPM: the data ends before the last row"},
        {"nine chars per pixel", {"1 1 1 9", "......... c red", "........."}, "XPM: characters per pixel must be 1 to 8"},
        {"zero width", {"0 1 1 1", ". c red", ""}, "XPM: image size is outside the supported range"},
        {"over 2^28 pixels", {"65535 65535 1 1", ". c red"}, "XPM: image size is outside the supported range"},
        {"more colours than codes", {"1 1 257 1", ". c red"}, "XPM: colour count out of range"},
        {"values not numbers", {"1 x 1 1", ". c red", "."}, "XPM: malformed values string"},
        {"values missing", {"1 1 1"}, "XPM: malformed values string"},
        {"colour entry without a key", {"1 1 1 1", ". red", "."}, "XPM: colour entry without a colour"},
        {"colour entry shorter than the code", {"1 1 1 2", ".", ".."}, "XPM: colour entry shorter than its pixel code"},
    };
    for (const Case &c : cases) {
        LogCapture log;
        EXPECT_EQ (from_data (c.xpm), nullptr) << c.name;
        EXPECT_EQ (log.warnings (), (Strings {c.warning})) << c.name;
        log.clear ();
        const auto file = as_file (c.xpm);
        EXPECT_EQ (load_bytes (xpm_module (), file), nullptr) << c.name;
        EXPECT_EQ (log.warnings (), (Strings {c.warning})) << c.name << " (file)";
        for (size_t piece : {size_t (1), size_t (13)}) {
            Progressive p = load_in_pieces (xpm_module (), file, piece);
            EXPECT_TRUE (p.updates_in_bounds);
            EXPECT_EQ (p.protocol_error, "");
        }
    }
}

TEST (XpmModule, FileFormNeedsTheSignatureAndClosedStrings)
{
    LogCapture log;
    const std::string no_magic = "static char *x[] = {\"1 1 1 1\", \". c red\", \".\"};";
    EXPECT_EQ (load_bytes (xpm_module (), std::vector<std::uint8_t> (no_magic.begin (), no_magic.end ())), nullptr);
    const std::string open_string = "/* XPM */ static char *x[] = {\"1 1 1 1\", \". c red\", \".";
    EXPECT_EQ (load_bytes (xpm_module (), std::vector<std::uint8_t> (open_string.begin (), open_string.end ())), nullptr);
    EXPECT_EQ (load_bytes (xpm_module (), {'/', '*', ' ', 'X'}), nullptr);
    EXPECT_EQ (log.warnings (), (Strings {"XPM: the data does not start with the XPM comment",
                                          "XPM: unterminated or over-long string",
                                          "XPM: the data does not start with the XPM comment"}));
}

}  // namespace
}  // namespace tamba::test
