// SPDX-License-Identifier: LGPL-2.1-or-later
// XBM module features: bit order and colours for X11 and X10 data, and exact data counts.
#include <gtest/gtest.h>

#include "log-capture.h"
#include "module-paths.h"

namespace tamba::test {
namespace {

std::vector<std::uint8_t> bytes_of (const std::string &s)
{
    return std::vector<std::uint8_t> (s.begin (), s.end ());
}

// Row by row, '#' for black and '.' for white.
std::string picture (const Tamba *t)
{
    std::string out;
    for (int y = 0; y < t->height; ++y) {
        for (int x = 0; x < t->width; ++x) {
            const guchar *p = t->pixels + y * t->rowstride + x * 3;
            out += p[0] == 0 && p[1] == 0 && p[2] == 0         ? '#'
                   : p[0] == 255 && p[1] == 255 && p[2] == 255 ? '.'
                                                               : '?';
        }
        out += '\n';
    }
    return out;
}

TEST (XbmModule, BitsAreLeastSignificantFirstAndSetMeansBlack)
{
    struct Case {
        const char *name;
        std::string file;
    };
    const std::string want = "#.........\n.#.#.#.#.#\n";
    const Case cases[] = {
        {"X11 char", "#define b_width 10\n#define b_height 2\n#define b_x_hot 1\n#define b_y_hot -1\n"
                     "static unsigned char b_bits[] = {\n 0x01, 0x00, 0xaa, 0x02 };\n"},
        {"X10 short", "#define b_width 10\n#define b_height 2\nstatic short b_bits[] = {\n 0x0001, 0x02aa};\n"},
        {"decimal, octal, comments, no spaces, trailing comma",
         "#define b_width 10\r\n#define b_height 2 /* two rows */\r\nstatic char b_bits[]={1,0,0252,2,};"},
    };
    for (const Case &c : cases) {
        const auto file = bytes_of (c.file);
        Tamba *t = load_bytes (xbm_module (), file);
        ASSERT_NE (t, nullptr) << c.name;
        EXPECT_FALSE (t->has_alpha);
        EXPECT_EQ (picture (t), want) << c.name;
        for (size_t piece : kPieceSizes) {
            Progressive p = load_in_pieces (xbm_module (), file, piece ? piece : file.size ());
            EXPECT_TRUE (p.increments_ok) << c.name;
            EXPECT_EQ (p.prepared, 1);
            EXPECT_GE (p.updates, 1);
            EXPECT_TRUE (p.updates_in_bounds);
            EXPECT_EQ (compare_images (p.image, t), "") << c.name << ", piece " << piece;
        }
        tamba_unref (t);
    }
}

TEST (XbmModule, MalformedDataFailsCleanly)
{
    struct Case {
        const char *name;
        std::string file;
        const char *warning;
    };
    const std::string header = "#define b_width 10\n#define b_height 2\n";
    const Case cases[] = {
        {"one value short", header + "static char b_bits[] = {1, 0, 0xaa};", "XBM: fewer data values than the size needs"},
        {"one value too many", header + "static char b_bits[] = {1, 0, 0xaa, 2, 0};", "XBM: more data than the size needs"},
        {"char value over 255", header + "static char b_bits[] = {1, 0, 0x100, 2};", "XBM: data value out of range"},
        {"short value over 65535", header + "static short b_bits[] = {1, 0x10000};", "XBM: data value out of range"},
        {"data cut short", header + "static char b_bits[] = {1, 0, 0xaa, 2", "XBM: the data ends before the end of the bitmap"},
        {"no height", "#define b_width 10\nstatic char b_bits[] = {1, 0};", "XBM: missing or unsupported bitmap size"},
        {"huge size", "#define b_width 65536\n#define b_height 1\nstatic char b_bits[] = {0};", "XBM: missing or unsupported bitmap size"},
        {"bad value", header + "static char b_bits[] = {1, 0, 0xag, 2};", "XBM: malformed data value"},
        {"missing comma", header + "static char b_bits[] = {1 0, 0xaa, 2};", "XBM: expected ',' or '}' in the data"},
        {"other directive", "#define b_width 10\n#include <x.h>\n", "XBM: only #define may precede the data"},
        {"shorter than the signature", "#def", "XBM: the data does not start with \"#define \""},
        {"leading comment", "/* c */\n" + header + "static char b_bits[] = {1, 0, 0xaa, 2};", "XBM: the data does not start with \"#define \""},
    };
    for (const Case &c : cases) {
        LogCapture log;
        EXPECT_EQ (load_bytes (xbm_module (), bytes_of (c.file)), nullptr) << c.name;
        EXPECT_EQ (log.warnings (), (std::vector<std::string> {c.warning})) << c.name;
        Progressive p = load_in_pieces (xbm_module (), bytes_of (c.file), 1);
        EXPECT_EQ (p.protocol_error, "");
    }
}

}  // namespace
}  // namespace tamba::test
