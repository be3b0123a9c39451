// SPDX-License-Identifier: LGPL-2.1-or-later
// The image-level interface: rectangle checks and their messages, offset rounding, the simple
// forms, adding alpha and copying areas (the engine's arithmetic is test-differential.cc's).
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "log-capture.h"
#include "pixel-reference.h"
#include "tamba/tamba.h"

namespace {

using namespace tamba::test;
using Bytes = std::vector<guchar>;
using Strings = std::vector<std::string>;

Bytes pixel (const Tamba *t, int x, int y) { return Bytes (at (t, x, y), at (t, x, y) + t->n_channels); }

Bytes all_bytes (const Tamba *t) { return Bytes (t->pixels, t->pixels + t->rowstride * t->height); }

// Each refused call logs exactly its messages, returns NULL where it returns anything, and
// leaves the destination alone; an empty rectangle inside the image is accepted silently.
TEST (ScaleInterface, PreconditionsWriteNothing)
{
    const Image src = random_image (4, 4, true, 1), dest = random_image (4, 4, true, 2), rgb = random_image (4, 4, false, 1);
    Tamba *s = src.get (), *d = dest.get ();
    const Bytes before = all_bytes (d);
    const auto scale = [&] (int x, int y, int w, int h, int alpha) {
        if (alpha == 255) tamba_scale (s, d, x, y, w, h, 0, 0, 1, 1, GDK_INTERP_BILINEAR);
        tamba_composite (s, d, x, y, w, h, 0, 0, 1, 1, GDK_INTERP_BILINEAR, alpha);
        tamba_composite_color (s, d, x, y, w, h, 0, 0, 1, 1, GDK_INTERP_BILINEAR, alpha, 0, 0, 8, 0, 0xffffff);
    };
    const std::string dest_x = "dest_x >= 0 && dest_x + dest_width <= dest->width";
    const std::string dest_y = "dest_y >= 0 && dest_y + dest_height <= dest->height";
    const std::string opacity = "overall_alpha >= 0 && overall_alpha <= 255";
    const Tamba *null = nullptr;
    Image odd = random_image (2, 2, false, 1);
    struct Case {
        std::function<const void *()> call;
        Strings criticals;
    };
    const Case cases[] = {
        {[&] { return scale (-1, 0, 2, 2, 255), null; }, Strings (3, dest_x)},
        {[&] { return scale (1, 0, 4, 2, 255), null; }, Strings (3, dest_x)},
        {[&] { return scale (0, -1, 2, 2, 255), null; }, Strings (3, dest_y)},
        {[&] { return scale (0, 3, 2, 2, 255), null; }, Strings (3, dest_y)},
        {[&] { return scale (0, 0, 2, 2, 256), null; }, Strings (2, opacity)},
        {[&] { return scale (0, 0, 2, 2, -1), null; }, Strings (2, opacity)},
        {[&] { return scale (4, 4, 0, 0, 255), null; }, {}},
        {[&] { return tamba_scale_simple (s, 0, 2, GDK_INTERP_TILES); }, {"dest_width > 0"}},
        {[&] { return tamba_scale_simple (s, 2, -1, GDK_INTERP_TILES); }, {"dest_height > 0"}},
        {[&] { return tamba_composite_color_simple (s, 2, 2, GDK_INTERP_TILES, 300, 8, 0, 0); }, {opacity}},
        // Requests the engine refuses allocate nothing and give the engine's message.
        {[&] { return tamba_scale_simple (rgb.get (), 8, 2, GdkInterpType (7)); },
         {"interp_type >= PIXOPS_INTERP_NEAREST && interp_type <= PIXOPS_INTERP_HYPER"}},
        {[&] { return tamba_scale_simple (rgb.get (), 4 * 65537, 2, GDK_INTERP_BILINEAR); },
         {"65536.0 / scale_x >= 1 && 65536.0 / scale_x <= G_MAXINT"}},
        {[&] { return tamba_composite_color_simple (s, 8, 2, GDK_INTERP_BILINEAR, 255, 0, 0, 0xffffff); },
         {"check_size != 0"}},
        {[&] { return tamba_composite_color_simple (rgb.get (), 8, 2, GDK_INTERP_BILINEAR, 128, 0, 0, 1); },
         {"check_size != 0"}},
        {[&] { return tamba_copy_area (rgb.get (), 2, 0, 3, 1, d, 0, 0), null; }, {"src_x >= 0 && src_x + width <= src_tamba->width"}},
        {[&] { return tamba_copy_area (rgb.get (), 0, -1, 1, 1, d, 0, 0), null; }, {"src_y >= 0 && src_y + height <= src_tamba->height"}},
        {[&] { return tamba_copy_area (rgb.get (), 0, 0, 1, 1, d, 4, 0), null; }, {"dest_x >= 0 && dest_x + width <= dest_tamba->width"}},
        {[&] { return tamba_copy_area (rgb.get (), 0, 0, 1, 1, d, 0, -1), null; }, {"dest_y >= 0 && dest_y + height <= dest_tamba->height"}},
        {[&] { return tamba_copy_area (nullptr, 0, 0, 1, 1, d, 0, 0), null; }, {"src_tamba != NULL"}},
        {[&] { return odd->n_channels = 5, tamba_add_alpha (odd.get (), FALSE, 0, 0, 0); },
         {"tamba->n_channels == 3 || tamba->n_channels == 4"}},
        {[&] { return odd->n_channels = 3, odd->bits_per_sample = 16, tamba_add_alpha (odd.get (), FALSE, 0, 0, 0); },
         {"tamba->bits_per_sample == 8"}},
    };
    for (const Case &c : cases) {
        LogCapture log;
        EXPECT_EQ (c.call (), nullptr) << &c - cases;
        EXPECT_EQ (log.criticals (), c.criticals) << &c - cases;
        EXPECT_EQ (all_bytes (d), before) << &c - cases;
    }
    odd->bits_per_sample = 8;
    // An opaque source at full opacity is scaled, so it needs no checkerboard.
    LogCapture log;
    const Image out (tamba_composite_color_simple (rgb.get (), 8, 2, GDK_INTERP_BILINEAR, 255, 0, 0, 1));
    EXPECT_NE (out, nullptr);
    EXPECT_TRUE (log.messages ().empty ());
}

TEST (ScaleInterface, OffsetsRoundHalvesUp)
{
    const Image src = random_image (4, 4, false, 1);
    for (const auto &[offset, shift] : {std::pair{0.4, 0}, {0.5, 1}, {-0.5, 0}, {-1.5, -1}, {1.49, 1}}) {
        const Image dest = random_image (6, 6, false, 5);
        tamba_scale (src.get (), dest.get (), 2, 2, 1, 1, offset, offset, 1, 1, GDK_INTERP_NEAREST);
        EXPECT_EQ (pixel (dest.get (), 2, 2), pixel (src.get (), 2 - shift, 2 - shift)) << offset;
    }
}

// The board follows check_x and check_y, and a negative check_size is refused once while every
// path, edge pixels included, draws squares of 16.
TEST (ScaleInterface, CheckerboardOriginAndNegativeSize)
{
    Image clear = random_image (4, 4, true, 1);
    for (int k = 3; k < 4 * clear->rowstride; k += 4) clear->pixels[k] = 0;
    const Image dest = random_image (8, 8, false, 1);
    // The rectangle starts at (4, 0); check_x = dest_x puts the board on the image's origin.
    tamba_composite_color (clear.get (), dest.get (), 4, 0, 4, 8, 0, 0, 4, 4, GDK_INTERP_NEAREST,
                           255, 4, 0, 4, 0x0000ff, 0xff0000);
    EXPECT_EQ (pixel (dest.get (), 4, 0), (Bytes{255, 0, 0}));
    EXPECT_EQ (pixel (dest.get (), 4, 4), (Bytes{0, 0, 255}));
    for (int interp = 0; interp < 4; interp++) {
        LogCapture log;
        const Image out (tamba_composite_color_simple (clear.get (), 40, 40, GdkInterpType (interp),
                                                       255, -8, 0x000000, 0x0000ff));
        ASSERT_NE (out, nullptr);
        EXPECT_EQ (log.criticals (), Strings{"check_size >= 0"}) << interp;
        EXPECT_EQ (std::vector<int> ({out->width, out->height, int (out->has_alpha)}),
                   std::vector<int> ({40, 40, 1}));
        for (int x = 0; x < 40; x++)
            EXPECT_EQ (pixel (out.get (), x, 0)[2] != 0, ((x >> 4) & 1) == 1) << interp << " " << x;
    }
}

TEST (AddAlpha, SubstitutesOneColourExactly)
{
    // A padded source rowstride: the result's own rowstride is that of a new RGBA image. Two
    // pixels miss the colour in one channel only (blue, green).
    static guchar data[2 * 8] = {255, 0, 255, 255, 0, 254, 0, 0, 255, 1, 255, 255, 0, 255, 0, 0};
    const Image src (tamba_new_from_data (data, GDK_COLORSPACE_RGB, FALSE, 8, 2, 2, 8, nullptr,
                                          nullptr));
    const Image keep (tamba_add_alpha (src.get (), FALSE, 255, 0, 255));
    const Image cut (tamba_add_alpha (src.get (), TRUE, 255, 0, 255));
    ASSERT_NE (keep, nullptr);
    ASSERT_NE (cut, nullptr);
    EXPECT_EQ (cut->rowstride, 8);
    EXPECT_TRUE (cut->has_alpha);
    EXPECT_EQ (pixel (keep.get (), 0, 0), (Bytes{255, 0, 255, 255}));
    EXPECT_EQ (all_bytes (cut.get ()), (Bytes{255, 0, 255, 0, 255, 0, 254, 255, 255, 1, 255, 255, 255, 0, 255, 0}));
    // An image with alpha is copied as it is.
    const Image rgba = random_image (3, 2, true, 1);
    const Image copy (tamba_add_alpha (rgba.get (), TRUE, 0, 0, 0));
    EXPECT_EQ (all_bytes (copy.get ()), all_bytes (rgba.get ()));
}

TEST (CopyArea, CopiesIntoTheDestinationsLayout)
{
    const Image src = random_image (5, 4, false, 1), dest = random_image (6, 6, true, 9);
    tamba_copy_area (src.get (), 2, 1, 3, 3, dest.get (), 0, 2);
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 3; x++) {
            Bytes expected = pixel (src.get (), 2 + x, 1 + y);
            expected.push_back (255);
            EXPECT_EQ (pixel (dest.get (), x, 2 + y), expected);
        }
}

// The engine keeps no state: four threads scaling and compositing from shared sources into
// their own destinations give the bytes of the same calls made one after another.
TEST (Concurrency, ThreadsGiveTheSerialBytes)
{
    const Image sources[] = {random_image (37, 29, true, 3), random_image (64, 48, false, 4)};
    constexpr int kCalls = 96, kThreads = 4;
    const auto run = [&] (int call, Tamba *dest) {
        std::mt19937 rng {unsigned (call)};
        const Tamba *src = sources[call % 2].get ();
        const double sx = 0.2 + (rng () % 40) / 10.0, sy = 0.2 + (rng () % 40) / 10.0;
        const auto interp = GdkInterpType (rng () % 4);
        const int w = dest->width, h = dest->height;
        switch (call % 3) {
        case 0: tamba_scale (src, dest, 0, 0, w, h, -1.5, 0.25, sx, sy, interp); break;
        case 1: tamba_composite (src, dest, 0, 0, w, h, 0, -2, sx, sy, interp, int (rng () % 256)); break;
        default:
            tamba_composite_color (src, dest, 0, 0, w, h, 1, 1, sx, sy, interp, 200, 3, 5, 8, 0x336699, 0xffcc00);
        }
    };
    const auto dests = [&] {
        std::vector<Image> d;
        for (int i = 0; i < kCalls; ++i) d.push_back (random_image (23 + i % 17, 19 + i % 13, i % 4 != 0, i));
        return d;
    };
    std::vector<Image> serial = dests (), parallel = dests ();
    for (int i = 0; i < kCalls; ++i) run (i, serial[size_t (i)].get ());
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back ([&, t] {
            for (int i = t; i < kCalls; i += kThreads) run (i, parallel[size_t (i)].get ());
        });
    for (auto &t : threads) t.join ();
    for (int i = 0; i < kCalls; ++i) EXPECT_EQ (all_bytes (serial[size_t (i)].get ()), all_bytes (parallel[size_t (i)].get ())) << i;
}

}  // namespace
