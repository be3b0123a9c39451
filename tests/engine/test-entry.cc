// SPDX-License-Identifier: LGPL-2.1-or-later
// The engine's exported entry points where the random requests of test-differential.cc do not
// go: refusals and their messages, the extreme valid scales, and reductions past the filter cap.
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

// Refusals come before any filter is built or any byte is written, whichever operation.
TEST (EntryPoints, RefusalsWriteNothing)
{
    const Buf rgb = ramp (4, 4, 3, false), rgba = ramp (4, 4, 4, true), bad3a = ramp (4, 4, 3, true);
    const Buf five = ramp (4, 4, 5, false);
    Buf empty = ramp (4, 4, 3, false);
    empty.width = 0;
    const double inf = std::numeric_limits<double>::infinity ();
    const std::string x_step = "65536.0 / scale_x >= 1 && 65536.0 / scale_x <= G_MAXINT";
    const std::string interp = "interp_type >= PIXOPS_INTERP_NEAREST && interp_type <= PIXOPS_INTERP_HYPER";
    struct Case {
        const Buf *src;
        Buf dest;
        int interp;
        double sx, sy;
        std::string message;
    };
    const Case cases[] = {
        {&rgb, ramp (4, 4, 3, true), 0, 1, 1, "!(dest_channels == 3 && dest_has_alpha)"},
        {&bad3a, ramp (4, 4, 4, true), 0, 1, 1, "!(src_channels == 3 && src_has_alpha)"},
        {&empty, ramp (4, 4, 3, false), 0, 1, 1, "src_width > 0 && src_height > 0"},
        {&five, ramp (4, 4, 3, false), 0, 1, 1,
         "(src_channels == 3 || src_channels == 4) && (dest_channels == 3 || dest_channels == 4)"},
        {&rgba, ramp (4, 4, 4, true), -1, 1, 1, interp},
        {&rgba, ramp (4, 4, 4, true), 4, 1, 1, interp},
        {&rgba, ramp (4, 4, 4, true), 2, -1, 1, x_step},
        {&rgba, ramp (4, 4, 4, true), 2, std::nan (""), 1, x_step},
        {&rgba, ramp (4, 4, 4, true), 2, inf, 1, x_step},
        {&rgba, ramp (4, 4, 4, true), 2, 65537, 1, x_step},
        {&rgba, ramp (4, 4, 4, true), 2, 1e-6, 1, x_step},
        {&rgba, ramp (4, 4, 4, true), 3, 1, -inf, "65536.0 / scale_y >= 1 && 65536.0 / scale_y <= G_MAXINT"},
        {&rgba, ramp (4, 4, 4, true), 2, 0, 1, ""},  // a zero scale is a silent no-op
        {&rgba, ramp (4, 4, 4, true), 1, 1, 0, ""},
    };
    for (Op op : {Op::kScale, Op::kComposite, Op::kColor})
        for (const Case &k : cases) {
            Call c;
            c.op = op;
            c.interp = k.interp;
            c.sx = k.sx;
            c.sy = k.sy;
            c.overall_alpha = 200;
            expect_refused (c, *k.src, k.dest, k.message);
        }
    Call scale;
    expect_refused (scale, rgba, ramp (4, 4, 3, false), "!(src_has_alpha && !dest_has_alpha)");
    Call color;
    color.op = Op::kColor;
    color.check_size = 0;
    for (color.interp = 0; color.interp < 4; color.interp++)
        expect_refused (color, rgba, ramp (4, 4, 3, false), "check_size != 0");
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
    run (c, src, dest);
    EXPECT_EQ (dest.pixel (1, 1), Bytes (src.bytes.end () - 3, src.bytes.end ()));
    EXPECT_TRUE (log.messages ().empty ());
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

}  // namespace
