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
