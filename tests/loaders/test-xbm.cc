// SPDX-License-Identifier: LGPL-2.1-or-later
// XBM module: malformed data fails with its reason.
#include "format-test.h"

namespace tamba::test {
namespace {

const std::string kHeader = "#define b_width 10\n#define b_height 2\n";

INSTANTIATE_TEST_SUITE_P (
    Xbm, Refused,
    ::testing::Values (
        Refusal {"one_value_short", "xbm", bytes_of (kHeader + "static char b_bits[] = {1, 0, 0xaa};"),
                 "fewer data values than the size needs"},
        Refusal {"one_value_too_many", "xbm", bytes_of (kHeader + "static char b_bits[] = {1, 0, 0xaa, 2, 0};"),
                 "more data than the size needs"},
        Refusal {"char_over_255", "xbm", bytes_of (kHeader + "static char b_bits[] = {1, 0, 0x100, 2};"),
                 "data value out of range"},
        Refusal {"short_over_65535", "xbm", bytes_of (kHeader + "static short b_bits[] = {1, 0x10000};"),
                 "data value out of range"},
        Refusal {"data_cut_short", "xbm", bytes_of (kHeader + "static char b_bits[] = {1, 0, 0xaa, 2"),
                 "the data ends before the end of the bitmap"},
        Refusal {"no_height", "xbm", bytes_of ("#define b_width 10\nstatic char b_bits[] = {1, 0};"),
                 "missing or unsupported bitmap size"},
        Refusal {"huge_size", "xbm", bytes_of ("#define b_width 65536\n#define b_height 1\nstatic char b_bits[] = {0};"),
                 "missing or unsupported bitmap size"},
        Refusal {"bad_value", "xbm", bytes_of (kHeader + "static char b_bits[] = {1, 0, 0xag, 2};"),
                 "malformed data value"},
        Refusal {"missing_comma", "xbm", bytes_of (kHeader + "static char b_bits[] = {1 0, 0xaa, 2};"),
                 "expected ',' or '}' in the data"},
        Refusal {"other_directive", "xbm", bytes_of ("#define b_width 10\n#include <x.h>\n"),
                 "only #define may precede the data"},
        Refusal {"shorter_than_the_signature", "xbm", bytes_of ("#def"), "the data does not start with \"#define \""},
        Refusal {"leading_comment", "xbm", bytes_of ("/* c */\n" + kHeader + "static char b_bits[] = {1, 0, 0xaa, 2};"),
                 "the data does not start with \"#define \""}),
    refusal_name);

}  // namespace
}  // namespace tamba::test
