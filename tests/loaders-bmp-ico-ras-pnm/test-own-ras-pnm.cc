// SPDX-License-Identifier: LGPL-2.1-or-later
// Sun raster and PNM modules on files built here: every depth, type and variant against the
// pixels it must give, and the headers that must be refused.
#include <gtest/gtest.h>

#include <functional>

#include "own-loaders-test.h"

namespace tamba::test {
namespace {

// ---------------------------------------------------------------------------------------------
// Sun raster

// Sun's byte encoding: runs of 3 or more, and every 0x80, as 0x80 n-1 v; the rest literal.
Bytes ras_rle (const Bytes &raw)
{
    Bytes out;
    for (size_t i = 0; i < raw.size ();) {
        size_t n = 1;
        while (i + n < raw.size () && raw[i + n] == raw[i] && n < 256) ++n;
        if (n >= 3 || raw[i] == 0x80) {
            out.push_back (0x80);
            out.push_back (std::uint8_t (n - 1));
            if (n > 1) out.push_back (raw[i]);
        } else {
            out.insert (out.end (), n, raw[i]);
        }
        i += n;
    }
    return out;
}

struct RasCase {
    const char *name;
    int depth;
    std::uint32_t type;
    std::vector<std::array<std::uint8_t, 3>> map;
    // Stored bytes of pixel x, and the colour it decodes to.
    std::function<Bytes (int x, int y)> stored;
    std::function<std::array<std::uint8_t, 3> (int x, int y)> colour;
};

constexpr int kRasWidth = 13, kRasHeight = 3;

Bytes write_ras (const RasCase &c)
{
    const size_t stride = size_t ((kRasWidth * c.depth + 15) / 16 * 2);
    Bytes pixels;
    for (int y = 0; y < kRasHeight; ++y) {
        Bytes row (stride, 0);
        for (int x = 0; x < kRasWidth; ++x) {
            const Bytes v = c.stored (x, y);
            if (c.depth == 1) row[size_t (x / 8)] |= std::uint8_t (v[0] << (7 - x % 8));
            else std::copy (v.begin (), v.end (), row.begin () + long (x * c.depth / 8));
        }
        pixels.insert (pixels.end (), row.begin (), row.end ());
    }
    if (c.type == 2) pixels = ras_rle (pixels);
    Bytes b;
    for (std::uint32_t v : {0x59a66a95u, std::uint32_t (kRasWidth), std::uint32_t (kRasHeight),
                            std::uint32_t (c.depth), std::uint32_t (pixels.size ()), c.type,
                            c.map.empty () ? 0u : 1u, std::uint32_t (c.map.size () * 3)})
        put_be (b, v, 4);
    for (int channel = 0; channel < 3; ++channel)
        for (const auto &e : c.map) b.push_back (e[size_t (channel)]);
    b.insert (b.end (), pixels.begin (), pixels.end ());
    return b;
}

std::array<std::uint8_t, 3> rgb_at (int x, int y)
{
    return {std::uint8_t (x * 19 + 3), std::uint8_t (y * 80 + 0x80), std::uint8_t (x * y * 11)};
}

std::vector<RasCase> ras_cases ()
{
    auto bit = [] (int x, int y) { return Bytes {std::uint8_t ((x + y) % 3 == 0)}; };
    auto mono = [] (int x, int y) {
        const std::uint8_t v = (x + y) % 3 == 0 ? 0 : 255;  // a set bit is black
        return std::array<std::uint8_t, 3> {v, v, v};
    };
    auto index = [] (int x, int y) { return Bytes {std::uint8_t ((x * 7 + y) % 5)}; };
    const std::vector<std::array<std::uint8_t, 3>> map3 = {{10, 20, 30}, {200, 0, 100}, {0, 255, 1}};
    auto mapped = [map3] (int x, int y) {
        const size_t i = size_t ((x * 7 + y) % 5);
        return i < map3.size () ? map3[i] : std::array<std::uint8_t, 3> {0, 0, 0};
    };
    auto grey = [] (int x, int y) { return Bytes {std::uint8_t (x * 17 + y * 60)}; };
    auto grey_rgb = [] (int x, int y) {
        const auto v = std::uint8_t (x * 17 + y * 60);
        return std::array<std::uint8_t, 3> {v, v, v};
    };
    auto bgr = [] (int x, int y) { const auto c = rgb_at (x, y); return Bytes {c[2], c[1], c[0]}; };
    auto rgb = [] (int x, int y) { const auto c = rgb_at (x, y); return Bytes {c[0], c[1], c[2]}; };
    auto xbgr = [] (int x, int y) { const auto c = rgb_at (x, y); return Bytes {0x80, c[2], c[1], c[0]}; };
    auto xrgb = [] (int x, int y) { const auto c = rgb_at (x, y); return Bytes {0x7f, c[0], c[1], c[2]}; };
    auto flat = [] (int, int) { return Bytes {0x80, 0x80, 0x80}; };
    auto flat_rgb = [] (int, int) { return std::array<std::uint8_t, 3> {0x80, 0x80, 0x80}; };
    return {
        {"depth1_standard", 1, 1, {}, bit, mono},
        {"depth1_rle", 1, 2, {}, bit, mono},
        {"depth1_red_blue_map", 1, 1, {{255, 0, 0}, {0, 0, 255}}, bit,
         [] (int x, int y) { return (x + y) % 3 == 0 ? std::array<std::uint8_t, 3> {0, 0, 255}
                                                     : std::array<std::uint8_t, 3> {255, 0, 0}; }},
        {"depth8_grey_without_map", 8, 1, {}, grey, grey_rgb},
        {"depth8_short_map_rle", 8, 2, map3, index, mapped},
        {"depth8_short_map_old_type", 8, 0, map3, index, mapped},
        {"depth24_bgr_standard", 24, 1, {}, bgr, rgb_at},
        {"depth24_bgr_rle", 24, 2, {}, bgr, rgb_at},
        {"depth24_rgb_type", 24, 3, {}, rgb, rgb_at},
        {"depth32_xbgr_standard", 32, 1, {}, xbgr, rgb_at},
        {"depth32_xbgr_rle", 32, 2, {}, xbgr, rgb_at},
        {"depth32_xrgb_type", 32, 3, {}, xrgb, rgb_at},
        // One long run of escape bytes that crosses every row end.
        {"depth24_run_across_rows", 24, 2, {}, flat, flat_rgb},
    };
}

class RasFormats : public ::testing::TestWithParam<RasCase> {};

TEST_P (RasFormats, DecodesEveryPixel)
{
    const auto &c = GetParam ();
    const auto image = decode_all_ways ("ras", write_ras (c));
    Pixels want (kRasWidth, kRasHeight);
    for (int y = 0; y < kRasHeight; ++y)
        for (int x = 0; x < kRasWidth; ++x) {
            const auto p = c.colour (x, y);
            want.set (x, y, p[0], p[1], p[2]);
        }
    EXPECT_EQ (diff_pixels (image.get (), want), "");
}

INSTANTIATE_TEST_SUITE_P (Variants, RasFormats, ::testing::ValuesIn (ras_cases ()),
                          [] (const auto &info) { return std::string (info.param.name); });

TEST_P (Refused, FailsWithItsWarning)
{
    const auto &c = GetParam ();
    LogCapture log;
    EXPECT_EQ (decode_all_ways (c.format, c.bytes), nullptr);
    EXPECT_TRUE (has_warning (log, c.warning)) << warnings_text (log);
    // Progressively the data is refused, or at least never reported as a complete image.
    const auto p = load_in_pieces (own_module (c.format), c.bytes, 7);
    EXPECT_FALSE (p.increments_ok && p.image && p.updates >= p.image->height);
}

Bytes ras_header (std::uint32_t w, std::uint32_t h, std::uint32_t depth, std::uint32_t type,
                  std::uint32_t map_type, std::uint32_t map_length)
{
    Bytes b;
    for (std::uint32_t v : {0x59a66a95u, w, h, depth, 0u, type, map_type, map_length}) put_be (b, v, 4);
    b.resize (b.size () + 64, 0);
    return b;
}

Bytes text (const std::string &s) { return Bytes (s.begin (), s.end ()); }

INSTANTIATE_TEST_SUITE_P (
    Headers, Refused,
    ::testing::Values (
        RefusedFile {"ras_depth16", "ras", ras_header (4, 4, 16, 1, 0, 0), "RAS: unsupported depth 16"},
        RefusedFile {"ras_type5", "ras", ras_header (4, 4, 8, 5, 0, 0), "RAS: unsupported raster type 5"},
        RefusedFile {"ras_map_not_rgb_triples", "ras", ras_header (4, 4, 8, 1, 1, 10),
                     "RAS: colour map of 10 bytes is not 1 to 256 RGB entries"},
        RefusedFile {"ras_map_over_256", "ras", ras_header (4, 4, 8, 1, 1, 771),
                     "RAS: colour map of 771 bytes is not 1 to 256 RGB entries"},
        RefusedFile {"ras_huge", "ras", ras_header (100000, 100000, 24, 1, 0, 0),
                     "RAS: image size 100000x100000 is outside the supported range (1 to 65535 per "
                     "side, at most 268435456 pixels)"},
        RefusedFile {"ras_truncated", "ras", ras_header (40, 40, 24, 1, 0, 0), "RAS: premature end of data"},
        RefusedFile {"pnm_p7", "pnm", text ("P7\n2 2\n255\n............"), "PNM: not a PNM file"},
        RefusedFile {"pnm_letter_in_header", "pnm", text ("P6\n2 x2\n255\n............"),
                     "PNM: bad character in the header"},
        RefusedFile {"pnm_maxval_zero", "pnm", text ("P5 2 2 0\n...."), "PNM: maxval 0 is not 1 to 65535"},
        RefusedFile {"pnm_maxval_too_big", "pnm", text ("P2 1 1 65536\n1\n"),
                     "PNM: maxval 65536 is not 1 to 65535"},
        RefusedFile {"pnm_letter_in_samples", "pnm", text ("P3 1 1 255\n1 2 z\n"),
                     "PNM: bad character in the samples"},
        RefusedFile {"pnm_huge", "pnm", text ("P6 70000 1 255\n"),
                     "PNM: image size 70000x1 is outside the supported range (1 to 65535 per side, "
                     "at most 268435456 pixels)"},
        RefusedFile {"pnm_truncated", "pnm", text ("P6 2 2 255\n.........."), "PNM: premature end of data"}),
    refused_name);

// ---------------------------------------------------------------------------------------------
// PNM

// The same 3 x 2 picture in all six kinds, with comments wherever white space may stand.
struct PnmCase {
    const char *name;
    std::string data;
    std::vector<std::array<std::uint8_t, 3>> pixels;  // row by row
};

const std::vector<std::array<std::uint8_t, 3>> kBitmap = {
    {0, 0, 0}, {255, 255, 255}, {0, 0, 0}, {255, 255, 255}, {255, 255, 255}, {0, 0, 0}};
const std::vector<std::array<std::uint8_t, 3>> kGrey = {
    {0, 0, 0}, {85, 85, 85}, {170, 170, 170}, {255, 255, 255}, {170, 170, 170}, {85, 85, 85}};

std::vector<PnmCase> pnm_cases ()
{
    return {
        {"p1_comments_everywhere", "P1#c\n3#c\n2\n1 0#c\n1\n0 0 1\n", kBitmap},
        {"p1_without_separators", "P1 3 2\n101001", kBitmap},
        {"p4_padded_rows", std::string ("P4\n# c\n3 2\n") + char (0xa0) + char (0x3f), kBitmap},
        {"p2_maxval3", "P2 3 2 3\n0 1 2\n3 #c\n 2 1", kGrey},
        {"p5_maxval3", std::string ("P5 3 2 3\n") + '\0' + '\1' + '\2' + '\3' + '\2' + '\1', kGrey},
        // round(v * 255 / 1000): 333 -> 84.9, 500 -> 127.5, 667 -> 170.1; 1001 is above maxval.
        {"p5_16bit_maxval1000",
         std::string ("P5 3 2 1000 ") + '\0' + '\0' + char (1) + char (77) + char (1) + char (244)
             + char (2) + char (155) + char (3) + char (232) + char (3) + char (233),
         {{0, 0, 0}, {85, 85, 85}, {128, 128, 128}, {170, 170, 170}, {255, 255, 255}, {255, 255, 255}}},
        {"p3_maxval7", "P3\n3 2\n7\n0 1 2  3 4 5  6 7 0\n7 7 7  0 0 0  1 1 1\n",
         {{0, 36, 73}, {109, 146, 182}, {219, 255, 0}, {255, 255, 255}, {0, 0, 0}, {36, 36, 36}}},
        {"p6_two_images_first_wins",
         std::string ("P6 1 1 255\n") + "abc" + "P6 2 2 255\n" + std::string (12, 'x'), {{'a', 'b', 'c'}}},
        {"p6_comment_after_maxval", std::string ("P6 1 2 255# c\n") + "abcdef",
         {{'a', 'b', 'c'}, {'d', 'e', 'f'}}},
        {"p6_16bit", std::string ("P6 1 1 65535\n") + char (0x80) + char (0x80) + char (0xff) + char (0xff)
                         + char (0) + char (0x80),
         {{128, 255, 0}}},
    };
}

class PnmFormats : public ::testing::TestWithParam<PnmCase> {};

TEST_P (PnmFormats, DecodesEveryPixel)
{
    const auto &c = GetParam ();
    const auto image = decode_all_ways ("pnm", text (c.data));
    const int w = c.pixels.size () == 6 ? 3 : 1;
    const int h = int (c.pixels.size ()) / w;
    Pixels want (w, h);
    for (size_t i = 0; i < c.pixels.size (); ++i)
        want.set (int (i) % w, int (i) / w, c.pixels[i][0], c.pixels[i][1], c.pixels[i][2]);
    EXPECT_EQ (diff_pixels (image.get (), want), "");
}

INSTANTIATE_TEST_SUITE_P (Kinds, PnmFormats, ::testing::ValuesIn (pnm_cases ()),
                          [] (const auto &info) { return std::string (info.param.name); });

// Every maxval's scale is round(v * 255 / maxval), checked at each value of a few maxvals.
TEST (PnmScaling, RoundsEveryValue)
{
    for (int maxval : {1, 2, 5, 100, 254, 256, 4095}) {
        SCOPED_TRACE ("maxval " + std::to_string (maxval));
        std::string data = "P2 " + std::to_string (maxval + 1) + " 1 " + std::to_string (maxval) + "\n";
        for (int v = 0; v <= maxval; ++v) data += std::to_string (v) + " ";
        const auto image = decode_all_ways ("pnm", text (data));
        ASSERT_NE (image, nullptr);
        for (int v = 0; v <= maxval; ++v)
            ASSERT_EQ (image->pixels[3 * v], (v * 255 + maxval / 2) / maxval) << "value " << v;
    }
}

}  // namespace
}  // namespace tamba::test
