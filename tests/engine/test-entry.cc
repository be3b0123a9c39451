// SPDX-License-Identifier: LGPL-2.1-or-later
// The engine's exported entry points: refusals, hand-overs between operations, the nearest
// paths' sampling and arithmetic, and the limits this engine adds (bad interpolation types and
// scales, check size 0, huge filter tables, sampling outside the source).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "log-capture.h"
#include "pixops/pixops.h"

namespace {

using tamba::test::LogCapture;
using Bytes = std::vector<guchar>;

// A packed image buffer of one layout.
struct Buf {
    int width, height, channels;
    bool alpha;
    Bytes bytes;
    Buf (int w, int h, int ch, bool a, guchar fill = 0)
        : width (w), height (h), channels (ch), alpha (a), bytes (size_t (w * h * ch), fill)
    {
    }
    int stride () const { return width * channels; }
    guchar *at (int x, int y) { return bytes.data () + y * stride () + x * channels; }
    Bytes pixel (int x, int y) { return Bytes (at (x, y), at (x, y) + channels); }
};

enum class Op { kScale, kComposite, kColor };

struct Call {
    Op op = Op::kScale;
    int x0 = 0, y0 = 0, x1 = -1, y1 = -1;  // -1: the destination's size
    double sx = 1, sy = 1;
    int interp = PIXOPS_INTERP_NEAREST;
    int overall_alpha = 255;
    int check_x = 0, check_y = 0, check_size = 8;
    guint32 color1 = 0x000000, color2 = 0xffffff;
};

void run (const Call &c, const Buf &src, Buf &dest)
{
    const int x1 = c.x1 < 0 ? c.x0 + dest.width : c.x1, y1 = c.y1 < 0 ? c.y0 + dest.height : c.y1;
    const auto interp = PixopsInterpType (c.interp);
    switch (c.op) {
    case Op::kScale:
        pixops_scale (dest.bytes.data (), c.x0, c.y0, x1, y1, dest.stride (), dest.channels,
                      dest.alpha, src.bytes.data (), src.width, src.height, src.stride (),
                      src.channels, src.alpha, c.sx, c.sy, interp);
        break;
    case Op::kComposite:
        pixops_composite (dest.bytes.data (), c.x0, c.y0, x1, y1, dest.stride (), dest.channels,
                          dest.alpha, src.bytes.data (), src.width, src.height, src.stride (),
                          src.channels, src.alpha, c.sx, c.sy, interp, c.overall_alpha);
        break;
    case Op::kColor:
        pixops_composite_color (dest.bytes.data (), c.x0, c.y0, x1, y1, dest.stride (),
                                dest.channels, dest.alpha, src.bytes.data (), src.width,
                                src.height, src.stride (), src.channels, src.alpha, c.sx, c.sy,
                                interp, c.overall_alpha, c.check_x, c.check_y, c.check_size,
                                c.color1, c.color2);
        break;
    }
}

Buf ramp (int w, int h, int ch, bool alpha)
{
    Buf b (w, h, ch, alpha);
    for (size_t k = 0; k < b.bytes.size (); k++) b.bytes[k] = guchar (k * 37 + 11);
    return b;
}

// Expects the call to log exactly `message` (or nothing) and to leave the destination alone.
void expect_refused (const Call &c, const Buf &src, Buf dest, const std::string &message)
{
    LogCapture log;
    const Bytes before = dest.bytes;
    run (c, src, dest);
    EXPECT_EQ (dest.bytes, before) << message;
    if (message.empty ())
        EXPECT_TRUE (log.messages ().empty ());
    else
        EXPECT_EQ (log.criticals (), std::vector<std::string>{message});
}

TEST (EntryPoints, LayoutRefusals)
{
    const Buf rgb = ramp (4, 4, 3, false), rgba = ramp (4, 4, 4, true);
    const Buf bad3a = ramp (4, 4, 3, true);
    for (Op op : {Op::kScale, Op::kComposite, Op::kColor}) {
        Call c;
        c.op = op;
        c.overall_alpha = 200;
        expect_refused (c, rgb, ramp (4, 4, 3, true), "!(dest_channels == 3 && dest_has_alpha)");
        expect_refused (c, bad3a, ramp (4, 4, 4, true), "!(src_channels == 3 && src_has_alpha)");
    }
    Call scale;
    expect_refused (scale, rgba, ramp (4, 4, 3, false), "!(src_has_alpha && !dest_has_alpha)");
    // Compositing accepts the same buffers.
    Call comp;
    comp.op = Op::kComposite;
    Buf dest = ramp (4, 4, 3, false);
    LogCapture log;
    run (comp, rgba, dest);
    EXPECT_TRUE (log.messages ().empty ());
}

TEST (EntryPoints, ZeroScaleIsASilentNoOp)
{
    const Buf src = ramp (4, 4, 4, true);
    for (Op op : {Op::kScale, Op::kComposite, Op::kColor})
        for (int interp = 0; interp < 4; interp++) {
            Call c;
            c.op = op;
            c.interp = interp;
            c.sx = 0.0;
            expect_refused (c, src, ramp (4, 4, 4, true), "");
            c.sx = 1.0;
            c.sy = 0.0;
            expect_refused (c, src, ramp (4, 4, 4, true), "");
        }
}

// Refusals this engine adds: they come before any filter is built or any byte is written.
TEST (EntryPoints, RefusesBadInterpolationTypesAndScales)
{
    const Buf src = ramp (4, 4, 4, true);
    const double inf = std::numeric_limits<double>::infinity ();
    const char *x_step = "65536.0 / scale_x >= 1 && 65536.0 / scale_x <= G_MAXINT";
    const char *y_step = "65536.0 / scale_y >= 1 && 65536.0 / scale_y <= G_MAXINT";
    for (Op op : {Op::kScale, Op::kComposite, Op::kColor}) {
        Call c;
        c.op = op;
        c.overall_alpha = 100;
        for (int interp : {-1, 4, 1000}) {
            c.interp = interp;
            expect_refused (c, src, ramp (4, 4, 4, true),
                            "interp_type >= PIXOPS_INTERP_NEAREST && "
                            "interp_type <= PIXOPS_INTERP_HYPER");
        }
        c.interp = PIXOPS_INTERP_BILINEAR;
        for (double bad : {-1.0, std::nan (""), inf, -inf, 65537.0, 1e-6}) {
            c.sx = bad;
            c.sy = 1;
            expect_refused (c, src, ramp (4, 4, 4, true), x_step);
            c.sx = 1;
            c.sy = bad;
            expect_refused (c, src, ramp (4, 4, 4, true), y_step);
        }
    }
}

TEST (EntryPoints, RefusesOddChannelCountsAndEmptySources)
{
    Buf empty = ramp (4, 4, 3, false);
    empty.width = 0;
    const Buf five = ramp (4, 4, 5, false);
    for (Op op : {Op::kScale, Op::kComposite, Op::kColor}) {
        Call c;
        c.op = op;
        c.overall_alpha = 100;
        expect_refused (c, empty, ramp (4, 4, 3, false), "src_width > 0 && src_height > 0");
        expect_refused (c, five, ramp (4, 4, 3, false),
                        "(src_channels == 3 || src_channels == 4) && "
                        "(dest_channels == 3 || dest_channels == 4)");
    }
}

TEST (EntryPoints, ExtremeButValidScalesWork)
{
    LogCapture log;
    const Buf src = ramp (3, 3, 3, false);
    Buf dest (2, 2, 3, false, 9);
    Call c;
    c.sx = c.sy = 65536.0;  // step 1
    run (c, src, dest);
    EXPECT_EQ (dest.pixel (1, 1), Bytes (src.bytes.begin (), src.bytes.begin () + 3));
    c.sx = c.sy = 3.1e-5;  // a step just below 2^31
    c.x0 = c.y0 = 0;
    run (c, src, dest);
    EXPECT_EQ (dest.pixel (1, 1), Bytes (src.bytes.end () - 3, src.bytes.end ()));
    EXPECT_TRUE (log.messages ().empty ());
}

TEST (EntryPoints, OpaqueSourceAtFullOpacityIsScaled)
{
    const Buf src = ramp (5, 4, 3, false);
    for (int interp = 0; interp < 4; interp++) {
        Buf scaled = ramp (7, 6, 4, true), composited = scaled, checked = scaled;
        Call c;
        c.interp = interp;
        c.sx = c.sy = 1.5;
        run (c, src, scaled);
        c.op = Op::kComposite;
        run (c, src, composited);
        c.op = Op::kColor;
        c.check_size = 0;  // no checkerboard is drawn, so its size does not matter
        LogCapture log;
        run (c, src, checked);
        EXPECT_TRUE (log.messages ().empty ());
        EXPECT_EQ (composited.bytes, scaled.bytes);
        EXPECT_EQ (checked.bytes, scaled.bytes);
        c.op = Op::kComposite;
        c.overall_alpha = 254;
        Buf partial = ramp (7, 6, 4, true);
        run (c, src, partial);
        EXPECT_NE (partial.bytes, scaled.bytes);
    }
}

TEST (EntryPoints, CheckSizeZeroIsRefusedOnEveryCheckerboardPath)
{
    const Buf src = ramp (4, 4, 4, true);
    for (int interp = 0; interp < 4; interp++) {
        Call c;
        c.op = Op::kColor;
        c.interp = interp;
        c.check_size = 0;
        expect_refused (c, src, ramp (4, 4, 3, false), "check_size != 0");
    }
}

TEST (EntryPoints, TilesAtScaleOneCopiesAnOpaqueSource)
{
    const Buf src = ramp (6, 5, 3, false);
    Buf dest (6, 5, 3, false);
    Call c;
    c.interp = PIXOPS_INTERP_TILES;
    run (c, src, dest);
    EXPECT_EQ (dest.bytes, src.bytes);
}

// Strong reductions stay exact on flat areas: weights never sum past 1.0 (white stays white),
// and a table past the cap is replaced by box pre-reduction instead of aborting.
TEST (EntryPoints, StrongReductions)
{
    LogCapture log;
    struct Case {
        int size;
        double scale;
        int interp;
    };
    const Case cases[] = {{200, 0.01, PIXOPS_INTERP_TILES},
                          {200, 0.01, PIXOPS_INTERP_BILINEAR},
                          {1000, 0.002, PIXOPS_INTERP_TILES},  // 250 MB of table in one pass
                          {1000, 0.002, PIXOPS_INTERP_HYPER}};
    for (const Case &k : cases) {
        Buf src (k.size, k.size, 3, false, 255);
        for (int y = 0; y < k.size; y++)  // left half black
            for (int x = 0; x < k.size / 2; x++) src.at (x, y)[0] = src.at (x, y)[1] = 0;
        Buf dest (2, 2, 3, false, 7);
        Call c;
        c.interp = k.interp;
        c.sx = c.sy = k.scale;
        run (c, src, dest);
        // Hyper's tent reaches across the middle, and the pre-averaged blocks of the capped
        // reductions straddle it; the single-pass box filters stop exactly there.
        const int slack = k.interp == PIXOPS_INTERP_HYPER || k.size == 1000 ? 4 : 0;
        EXPECT_LE (dest.at (0, 0)[0], slack) << k.size << " " << k.interp;
        EXPECT_EQ (dest.at (0, 1)[2], 255) << k.size << " " << k.interp;
        EXPECT_GE (dest.at (1, 1)[0], 255 - slack) << k.size << " " << k.interp;
        EXPECT_EQ (dest.at (1, 0)[2], 255) << k.size << " " << k.interp;
    }
    EXPECT_TRUE (log.messages ().empty ());
}

// Sampling columns of the nearest path at the worked scales, and clamping outside the source.
TEST (Nearest, SamplesUnderThePixelCentre)
{
    Buf src (8, 1, 3, false);
    for (int x = 0; x < 8; x++) src.at (x, 0)[0] = guchar (x);
    struct Case {
        double scale;
        int x0;
        Bytes columns;
    };
    const Case cases[] = {{1.0, 0, {0, 1, 2, 3}},
                          {2.0, 0, {0, 0, 1, 1}},
                          {0.5, 0, {1, 3, 5, 7}},
                          {3.0, 0, {0, 0, 0, 1}},
                          {1.0, -2, {0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 7, 7}},
                          {2.0, 20, {7, 7}}};
    for (const Case &k : cases) {
        Buf dest (int (k.columns.size ()), 1, 3, false);
        Call c;
        c.sx = k.scale;
        c.x0 = k.x0;
        run (c, src, dest);
        Bytes got;
        for (int x = 0; x < dest.width; x++) got.push_back (dest.at (x, 0)[0]);
        EXPECT_EQ (got, k.columns) << k.scale << " from " << k.x0;
    }
}

// At scale 1 each destination row is its source row, the rows past the source repeating its
// last one, whether the rows are copied one by one or as one block.
TEST (Nearest, UnitScaleCopiesRows)
{
    struct Case {
        int channels, y0, height;
    };
    const Case cases[] = {{4, 0, 6}, {3, 0, 6}, {4, 2, 3}, {4, 4, 5}, {3, -2, 4}};
    for (const Case &k : cases) {
        const Buf src = ramp (5, 6, k.channels, k.channels == 4);
        Buf dest (5, k.height, k.channels, k.channels == 4);
        Call c;
        c.y0 = k.y0;
        run (c, src, dest);
        for (int y = 0; y < k.height; y++) {
            const int row = std::clamp (k.y0 + y, 0, src.height - 1);
            const Bytes expected (src.bytes.begin () + row * src.stride (),
                                  src.bytes.begin () + (row + 1) * src.stride ());
            EXPECT_EQ (Bytes (dest.at (0, y), dest.at (0, y) + dest.stride ()), expected)
                << k.channels << " channels from row " << k.y0 << ", row " << y;
        }
    }
}

TEST (Nearest, ChannelConversions)
{
    Buf rgb (1, 1, 3, false), rgba (1, 1, 4, true), rgbx (1, 1, 4, false);
    rgb.bytes = {1, 2, 3};
    rgba.bytes = {4, 5, 6, 7};
    rgbx.bytes = {8, 9, 10, 11};
    struct Case {
        const Buf *src;
        int channels;
        bool alpha;
        Bytes expected;
    };
    const Case cases[] = {{&rgb, 4, true, {1, 2, 3, 255}},
                          {&rgb, 4, false, {1, 2, 3, 255}},
                          {&rgbx, 3, false, {8, 9, 10}},
                          {&rgba, 4, true, {4, 5, 6, 7}},
                          {&rgbx, 4, true, {8, 9, 10, 11}}};
    for (const Case &k : cases) {
        Buf dest (1, 1, k.channels, k.alpha, 99);
        run (Call{}, *k.src, dest);
        EXPECT_EQ (dest.bytes, k.expected);
    }
}

TEST (Nearest, CompositeArithmetic)
{
    struct Case {
        Bytes src;      // RGBA
        int overall;
        Bytes dest;     // RGB or RGBA
        Bytes expected;
    };
    const Case cases[] = {
        {{255, 255, 255, 255}, 0, {1, 2, 3, 4}, {1, 2, 3, 4}},
        {{10, 20, 30, 255}, 255, {1, 2, 3, 4}, {10, 20, 30, 255}},
        {{255, 255, 255, 255}, 128, {0, 0, 0}, {128, 128, 128}},
        {{50, 60, 70, 255}, 100, {1, 2, 3, 0}, {50, 60, 70, 100}},
        {{255, 255, 255, 200}, 200, {0, 0, 0}, {156, 156, 156}},
    };
    for (const Case &k : cases) {
        Buf src (1, 1, 4, true), dest (1, 1, int (k.dest.size ()), k.dest.size () == 4);
        src.bytes = k.src;
        dest.bytes = k.dest;
        Call c;
        c.op = Op::kComposite;
        c.overall_alpha = k.overall;
        run (c, src, dest);
        EXPECT_EQ (dest.bytes, k.expected) << int (k.overall);
    }
}

TEST (Nearest, CheckerboardColours)
{
    Buf clear (1, 1, 4, true, 0);
    Buf dest (8, 8, 4, false, 1);
    Call c;
    c.op = Op::kColor;
    c.check_size = 4;
    c.color1 = 0x123456;
    c.color2 = 0xffffff;
    run (c, clear, dest);
    EXPECT_EQ (dest.pixel (0, 0), (Bytes{0x12, 0x34, 0x56, 255}));
    EXPECT_EQ (dest.pixel (3, 0), (Bytes{0x12, 0x34, 0x56, 255}));
    EXPECT_EQ (dest.pixel (4, 0), (Bytes{255, 255, 255, 255}));  // exact, unlike the filters
    EXPECT_EQ (dest.pixel (0, 4), (Bytes{255, 255, 255, 255}));
    EXPECT_EQ (dest.pixel (4, 4), (Bytes{0x12, 0x34, 0x56, 255}));

    // The checkerboard's own alpha rounding: 200 at 200 gives 157 where compositing gives 156.
    Buf white (1, 1, 4, true);
    white.bytes = {255, 255, 255, 200};
    Buf one (1, 1, 3, false);
    c.overall_alpha = 200;
    c.color1 = 0;
    run (c, white, one);
    EXPECT_EQ (one.bytes, (Bytes{157, 157, 157}));
}

// The filtered checkerboard: squares of 8 from (check_x, check_y); transparent pixels show each
// non-zero check component one less.
TEST (Filtered, CheckerboardRowsFollowCheckY)
{
    Buf clear (2, 2, 4, true, 0);
    for (int check_y : {0, 4}) {
        Buf dest (16, 16, 3, false);
        Call c;
        c.op = Op::kColor;
        c.interp = PIXOPS_INTERP_BILINEAR;
        c.check_y = check_y;
        c.sx = c.sy = 8.0;
        run (c, clear, dest);
        for (int y = 0; y < 16; y++) {
            const int expected = ((y + check_y) / 8) % 2 ? 254 : 0;
            EXPECT_EQ (dest.at (0, y)[0], expected) << "row " << y << " check_y " << check_y;
            EXPECT_EQ (dest.at (8, y)[0], 254 - expected) << "row " << y;
        }
    }
}

}  // namespace
