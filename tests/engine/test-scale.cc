// SPDX-License-Identifier: LGPL-2.1-or-later
// The image-level interface: rectangle checks and their messages, offset rounding, the simple
// forms, adding alpha and copying areas (the engine's arithmetic is test-differential.cc's).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "log-capture.h"
#include "tamba/tamba.h"

namespace {

using tamba::test::LogCapture;
using Bytes = std::vector<guchar>;

struct Unref {
    void operator() (Tamba *t) const { tamba_unref (t); }
};
using Image = std::unique_ptr<Tamba, Unref>;

Image make (int w, int h, bool alpha, int seed = 1)
{
    Image t (tamba_new (GDK_COLORSPACE_RGB, alpha, 8, w, h));
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w * t->n_channels; x++)
            t->pixels[y * t->rowstride + x] = guchar (seed * 31 + y * 17 + x * 7);
    return t;
}

Bytes pixel (const Tamba *t, int x, int y)
{
    const guchar *p = t->pixels + y * t->rowstride + x * t->n_channels;
    return Bytes (p, p + t->n_channels);
}

Bytes all_bytes (const Tamba *t)
{
    return Bytes (t->pixels, t->pixels + t->rowstride * t->height);
}

TEST (ScaleInterface, RectangleAndOpacityChecks)
{
    const Image src = make (4, 4, true), dest = make (4, 4, true, 2);
    const Bytes before = all_bytes (dest.get ());
    struct Case {
        int x, y, w, h, alpha;
        const char *message;
    };
    const Case cases[] = {
        {-1, 0, 2, 2, 255, "dest_x >= 0 && dest_x + dest_width <= dest->width"},
        {1, 0, 4, 2, 255, "dest_x >= 0 && dest_x + dest_width <= dest->width"},
        {0, -1, 2, 2, 255, "dest_y >= 0 && dest_y + dest_height <= dest->height"},
        {0, 3, 2, 2, 255, "dest_y >= 0 && dest_y + dest_height <= dest->height"},
        {0, 0, 2, 2, 256, "overall_alpha >= 0 && overall_alpha <= 255"},
        {0, 0, 2, 2, -1, "overall_alpha >= 0 && overall_alpha <= 255"},
    };
    for (const Case &c : cases) {
        LogCapture log;
        const bool opacity = c.alpha != 255;
        if (!opacity)
            tamba_scale (src.get (), dest.get (), c.x, c.y, c.w, c.h, 0, 0, 1, 1,
                         GDK_INTERP_BILINEAR);
        tamba_composite (src.get (), dest.get (), c.x, c.y, c.w, c.h, 0, 0, 1, 1,
                         GDK_INTERP_BILINEAR, c.alpha);
        tamba_composite_color (src.get (), dest.get (), c.x, c.y, c.w, c.h, 0, 0, 1, 1,
                               GDK_INTERP_BILINEAR, c.alpha, 0, 0, 8, 0, 0xffffff);
        EXPECT_EQ (log.criticals (), std::vector<std::string> (opacity ? 2 : 3, c.message));
        EXPECT_EQ (all_bytes (dest.get ()), before);
    }
    LogCapture log;
    tamba_scale (nullptr, dest.get (), 0, 0, 1, 1, 0, 0, 1, 1, GDK_INTERP_NEAREST);
    tamba_composite (src.get (), nullptr, 0, 0, 1, 1, 0, 0, 1, 1, GDK_INTERP_NEAREST, 9);
    EXPECT_EQ (log.criticals (), (std::vector<std::string>{"src != NULL", "dest != NULL"}));
    // An empty rectangle inside the image is accepted and writes nothing.
    log.clear ();
    tamba_scale (src.get (), dest.get (), 4, 4, 0, 0, 0, 0, 1, 1, GDK_INTERP_HYPER);
    EXPECT_TRUE (log.messages ().empty ());
    EXPECT_EQ (all_bytes (dest.get ()), before);
}

TEST (ScaleInterface, OffsetsRoundHalvesUp)
{
    const Image src = make (4, 4, false);
    struct Case {
        double offset;
        int shift;
    };
    const Case cases[] = {{0.4, 0}, {0.5, 1}, {-0.5, 0}, {-1.5, -1}, {1.49, 1}};
    for (const Case c : cases) {
        const Image dest = make (6, 6, false, 5);
        tamba_scale (src.get (), dest.get (), 2, 2, 1, 1, c.offset, c.offset, 1, 1,
                     GDK_INTERP_NEAREST);
        EXPECT_EQ (pixel (dest.get (), 2, 2), pixel (src.get (), 2 - c.shift, 2 - c.shift))
            << c.offset;
    }
}

TEST (ScaleInterface, CheckerboardAlignsWithCheckOrigin)
{
    Image clear = make (2, 2, true);
    for (int k = 3; k < 16; k += 4) clear->pixels[k] = 0;
    const Image dest = make (8, 8, false);
    // The rectangle starts at (4, 0); check_x = dest_x puts the board on the image's origin.
    tamba_composite_color (clear.get (), dest.get (), 4, 0, 4, 8, 0, 0, 4, 4, GDK_INTERP_NEAREST,
                           255, 4, 0, 4, 0x0000ff, 0xff0000);
    EXPECT_EQ (pixel (dest.get (), 4, 0), (Bytes{255, 0, 0}));
    EXPECT_EQ (pixel (dest.get (), 4, 4), (Bytes{0, 0, 255}));
}

TEST (SimpleForms, Preconditions)
{
    const Image src = make (4, 4, false);
    LogCapture log;
    EXPECT_EQ (tamba_scale_simple (nullptr, 2, 2, GDK_INTERP_TILES), nullptr);
    EXPECT_EQ (tamba_scale_simple (src.get (), 0, 2, GDK_INTERP_TILES), nullptr);
    EXPECT_EQ (tamba_scale_simple (src.get (), 2, -1, GDK_INTERP_TILES), nullptr);
    EXPECT_EQ (tamba_composite_color_simple (src.get (), 2, 2, GDK_INTERP_TILES, 300, 8, 0, 0),
               nullptr);
    EXPECT_EQ (log.criticals (),
               (std::vector<std::string>{"src != NULL", "dest_width > 0", "dest_height > 0",
                                         "overall_alpha >= 0 && overall_alpha <= 255"}));
}

// Requests the engine refuses give NULL and the engine's message; an opaque source at full
// opacity is scaled, so it needs no checkerboard.
TEST (SimpleForms, RefusedRequestsAllocateNothing)
{
    const Image rgb = make (4, 4, false), rgba = make (4, 4, true);
    struct Case {
        const Tamba *src;
        int width, kind, interp, alpha, check_size;
        const char *critical;
    };
    const Case cases[] = {
        {rgb.get (), 8, 0, 7, 255, 0,
         "interp_type >= PIXOPS_INTERP_NEAREST && interp_type <= PIXOPS_INTERP_HYPER"},
        {rgb.get (), 4 * 65537, 0, 2, 255, 0,
         "65536.0 / scale_x >= 1 && 65536.0 / scale_x <= G_MAXINT"},
        {rgba.get (), 8, 1, 2, 255, 0, "check_size != 0"},
        {rgb.get (), 8, 1, 2, 128, 0, "check_size != 0"},
        {rgb.get (), 8, 1, 2, 255, 0, nullptr},
    };
    for (const Case &c : cases) {
        LogCapture log;
        const Image out (c.kind == 0 ? tamba_scale_simple (c.src, c.width, 2,
                                                           GdkInterpType (c.interp))
                                     : tamba_composite_color_simple (
                                           c.src, c.width, 2, GdkInterpType (c.interp), c.alpha,
                                           c.check_size, 0, 0xffffff));
        EXPECT_EQ (out == nullptr, c.critical != nullptr) << c.critical;
        EXPECT_EQ (log.criticals (), c.critical ? std::vector<std::string>{c.critical}
                                                : std::vector<std::string>{});
    }
}

// A negative check_size is refused once and every path, edge pixels included, draws squares
// of 16.
TEST (SimpleForms, NegativeCheckSizeDrawsOneSquareSize)
{
    Image src = make (4, 4, true);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 4; x++) src->pixels[y * src->rowstride + x * 4 + 3] = 0;
    for (int interp = 0; interp < 4; interp++) {
        LogCapture log;
        const Image out (tamba_composite_color_simple (src.get (), 40, 40, GdkInterpType (interp),
                                                       255, -8, 0x000000, 0x0000ff));
        ASSERT_NE (out, nullptr);
        EXPECT_EQ (log.criticals (), std::vector<std::string>{"check_size >= 0"}) << interp;
        EXPECT_EQ (std::vector<int> ({out->width, out->height, int (out->has_alpha)}),
                   std::vector<int> ({40, 40, 1}));
        for (int x = 0; x < 40; x++)
            EXPECT_EQ (pixel (out.get (), x, 0)[2] != 0, ((x >> 4) & 1) == 1) << interp << " " << x;
    }
}

TEST (AddAlpha, Preconditions)
{
    LogCapture log;
    EXPECT_EQ (tamba_add_alpha (nullptr, FALSE, 0, 0, 0), nullptr);
    Image odd = make (2, 2, false);
    odd->n_channels = 5;
    EXPECT_EQ (tamba_add_alpha (odd.get (), FALSE, 0, 0, 0), nullptr);
    odd->n_channels = 3;
    odd->bits_per_sample = 16;
    EXPECT_EQ (tamba_add_alpha (odd.get (), FALSE, 0, 0, 0), nullptr);
    odd->bits_per_sample = 8;
    EXPECT_EQ (log.criticals (),
               (std::vector<std::string>{"tamba != NULL",
                                         "tamba->n_channels == 3 || tamba->n_channels == 4",
                                         "tamba->bits_per_sample == 8"}));
}

TEST (AddAlpha, SubstitutesOneColourExactly)
{
    // A padded source rowstride: the result's own rowstride is that of a new RGBA image.
    static guchar data[2 * 8] = {255, 0, 255, 255, 0, 254, 0, 0, 1, 2, 3, 255, 0, 255, 0, 0};
    const Image src (tamba_new_from_data (data, GDK_COLORSPACE_RGB, FALSE, 8, 2, 2, 8, nullptr,
                                          nullptr));
    const Image keep (tamba_add_alpha (src.get (), FALSE, 255, 0, 255));
    const Image cut (tamba_add_alpha (src.get (), TRUE, 255, 0, 255));
    ASSERT_NE (keep, nullptr);
    ASSERT_NE (cut, nullptr);
    EXPECT_EQ (cut->rowstride, 8);
    EXPECT_TRUE (cut->has_alpha);
    EXPECT_EQ (pixel (keep.get (), 0, 0), (Bytes{255, 0, 255, 255}));
    EXPECT_EQ (pixel (cut.get (), 0, 0), (Bytes{255, 0, 255, 0}));
    EXPECT_EQ (pixel (cut.get (), 1, 0), (Bytes{255, 0, 254, 255}));
    EXPECT_EQ (pixel (cut.get (), 0, 1), (Bytes{1, 2, 3, 255}));
    EXPECT_EQ (pixel (cut.get (), 1, 1), (Bytes{255, 0, 255, 0}));

    // An image with alpha is copied as it is.
    const Image rgba = make (3, 2, true);
    const Image copy (tamba_add_alpha (rgba.get (), TRUE, 0, 0, 0));
    EXPECT_EQ (all_bytes (copy.get ()), all_bytes (rgba.get ()));
}

TEST (CopyArea, CopiesAndChecksBothRectangles)
{
    const Image src = make (5, 4, false), dest = make (6, 6, true, 9);
    tamba_copy_area (src.get (), 2, 1, 3, 3, dest.get (), 0, 2);
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 3; x++) {
            Bytes expected = pixel (src.get (), 2 + x, 1 + y);
            expected.push_back (255);
            EXPECT_EQ (pixel (dest.get (), x, 2 + y), expected);
        }
    const Bytes before = all_bytes (dest.get ());
    struct Case {
        int sx, sy, w, h, dx, dy;
        const char *message;
    };
    const Case cases[] = {
        {3, 0, 3, 1, 0, 0, "src_x >= 0 && src_x + width <= src_tamba->width"},
        {0, -1, 1, 1, 0, 0, "src_y >= 0 && src_y + height <= src_tamba->height"},
        {0, 0, 1, 1, 6, 0, "dest_x >= 0 && dest_x + width <= dest_tamba->width"},
        {0, 0, 1, 1, 0, -1, "dest_y >= 0 && dest_y + height <= dest_tamba->height"},
    };
    LogCapture log;
    for (const Case &c : cases) {
        tamba_copy_area (src.get (), c.sx, c.sy, c.w, c.h, dest.get (), c.dx, c.dy);
        EXPECT_EQ (log.criticals ().back (), c.message);
    }
    tamba_copy_area (nullptr, 0, 0, 1, 1, dest.get (), 0, 0);
    EXPECT_EQ (log.criticals ().back (), "src_tamba != NULL");
    EXPECT_EQ (all_bytes (dest.get ()), before);
}

}  // namespace
