// SPDX-License-Identifier: LGPL-2.1-or-later
// XPM module: colour values, and malformed data failing with its reason in both forms (the
// strings of load_xpm_data and a file).
#include "format-test.h"

namespace tamba::test {
namespace {

using Strings = std::vector<std::string>;

Tamba *from_data (const Strings &strings)
{
    std::vector<const char *> data;
    for (const auto &s : strings) data.push_back (s.c_str ());
    data.push_back (nullptr);
    return module_for ("xpm").entries ().load_xpm_data (data.data ());
}

// The same strings as an XPM file, with comments between them.
Bytes as_file (const Strings &strings)
{
    std::string text = "/* XPM */\n// a line comment\nstatic const char *image[] = {\n";
    for (const auto &s : strings) text += "/* \"quoted\" in a comment */ \"" + s + "\",\n";
    return bytes_of (text + "};\n");
}

// Each entry colours one pixel of a one-row image; unknown names and bad hex read as black.
TEST (Xpm, ColourValues)
{
    const struct {
        const char *entry;
        std::vector<int> want;
    } colours[] = {
        {"c #f00", {0xf0, 0, 0, 255}},          {"c #fff000000", {0xff, 0, 0, 255}},
        {"c #123456789abc", {0x12, 0x56, 0x9a, 255}}, {"c Alice Blue", {240, 248, 255, 255}},
        {"m black c red", {255, 0, 0, 255}},    {"s sym m white", {255, 255, 255, 255}},
        {"g4 #000 g #010203", {1, 2, 3, 255}},  {"c NoSuchColourName", {0, 0, 0, 255}},
        {"c #12345", {0, 0, 0, 255}},           {"c NONE", {0, 0, 0, 0}},
    };
    const int n = int (std::size (colours));
    Strings xpm = {std::to_string (n) + " 1 " + std::to_string (n) + " 2"};
    std::string row;
    for (int i = 0; i < n; ++i) {
        const std::string code = std::string ("~") + char ('a' + i);
        xpm.push_back (code + "\t" + colours[i].entry);
        row += code;
    }
    xpm.push_back (row);
    const ImagePtr t (from_data (xpm));
    ASSERT_NE (t, nullptr);
    for (int i = 0; i < n; ++i) EXPECT_EQ (rgba_at (t.get (), i, 0), colours[i].want) << colours[i].entry;
    EXPECT_EQ (compare_images (decode_all_ways ("xpm", as_file (xpm)).get (), t.get ()), "");
}

struct Malformed {
    const char *name;
    Strings xpm;
    const char *reason;
};

class XpmMalformed : public ::testing::TestWithParam<Malformed> {};

TEST_P (XpmMalformed, FailsInBothForms)
{
    LogCapture log;
    EXPECT_EQ (ImagePtr (from_data (GetParam ().xpm)), nullptr);
    EXPECT_EQ (log.warnings ().size (), 1u);
    EXPECT_TRUE (log.warned (GetParam ().reason));
    log.clear ();
    EXPECT_EQ (ImagePtr (module_for ("xpm").load_bytes (as_file (GetParam ().xpm))), nullptr);
    EXPECT_TRUE (log.warned (GetParam ().reason));
}

INSTANTIATE_TEST_SUITE_P (
    Table, XpmMalformed,
    ::testing::Values (
        Malformed {"row_short", {"3 1 1 1", ". c red", ".."}, "row shorter than the image width"},
        Malformed {"row_short_two_chars", {"2 1 1 2", ".. c red", "..."}, "row shorter than the image width"},
        Malformed {"unknown_code", {"2 1 1 1", ". c red", ".x"}, "pixel code not in the colour table"},
        Malformed {"missing_rows", {"1 3 1 1", ". c red", "."}, "the data ends before the last row"},
        Malformed {"missing_colours", {"1 1 3 1", ". c red"}, "the data ends before the last row"},
        Malformed {"nine_chars", {"1 1 1 9", "......... c red", "........."}, "characters per pixel must be 1 to 8"},
        Malformed {"zero_width", {"0 1 1 1", ". c red", ""}, "image size is outside the supported range"},
        Malformed {"over_2_28_pixels", {"65535 65535 1 1", ". c red"}, "image size is outside the supported range"},
        Malformed {"too_many_colours", {"1 1 257 1", ". c red"}, "colour count out of range"},
        Malformed {"values_not_numbers", {"1 x 1 1", ". c red", "."}, "malformed values string"},
        Malformed {"values_missing", {"1 1 1"}, "malformed values string"},
        Malformed {"entry_without_key", {"1 1 1 1", ". red", "."}, "colour entry without a colour"},
        Malformed {"entry_shorter_than_code", {"1 1 1 2", ".", ".."}, "colour entry shorter than its pixel code"}),
    [] (const auto &info) { return std::string (info.param.name); });

INSTANTIATE_TEST_SUITE_P (
    Xpm, Refused,
    ::testing::Values (
        Refusal {"no_signature", "xpm", bytes_of ("static char *x[] = {\"1 1 1 1\", \". c red\", \".\"};"),
                 "the data does not start with the XPM comment"},
        Refusal {"open_string", "xpm", bytes_of ("/* XPM */ static char *x[] = {\"1 1 1 1\", \". c red\", \"."),
                 "unterminated or over-long string"}),
    refusal_name);

}  // namespace
}  // namespace tamba::test
