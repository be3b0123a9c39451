// SPDX-License-Identifier: LGPL-2.1-or-later
// The engine against the plain model of reference.cc on seeded random requests, with each kernel
// table the CPU can run: every byte of the destination buffer, including row padding and guard
// bytes around it, must agree. Then the entry points where random requests do not go: refusals,
// extreme valid scales, sources past the 16.16 range and reductions past the filter cap.
//   TAMBA_ENGINE_CASES=N  runs N cases instead of the default
//   TAMBA_ENGINE_CASE=K   runs only case K (as printed by a failure)
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "log-capture.h"
#include "pixops/pixops-simd.h"
#include "reference.h"

namespace {

constexpr int kDefaultCases = 3000;
constexpr int kGuard = 16;

struct Layout {
    int channels;
    bool alpha;
};
constexpr Layout kLayouts[] = {{3, false}, {4, false}, {4, true}};
constexpr Layout kRgb = kLayouts[0], kRgba = kLayouts[2];
constexpr double kScales[] = {0.3, 0.5, 0.75, 1.0, 1.5, 2.0, 3.0};
constexpr int kCheckSizes[] = {1, 2, 3, 4, 5, 6, 8, 12, 16};

struct Case {
    ref::Request req;
    std::vector<guchar> src;
    std::vector<guchar> dest;  // guard, rows, guard
    std::string describe () const
    {
        const auto &r = req;
        std::ostringstream s;
        s << "op " << r.op << " interp " << r.interp << " src " << r.src.width << "x" << r.src.height << "/" << r.src.channels
          << r.src.has_alpha << " dest " << r.dest_channels << r.dest_has_alpha << " scale " << r.scale_x << "," << r.scale_y
          << " rect " << r.render_x0 << "," << r.render_y0 << " - " << r.render_x1 << "," << r.render_y1 << " alpha "
          << r.overall_alpha << " check " << r.check_x << "," << r.check_y << "/" << r.check_size;
        return s.str ();
    }
};

// A source of random bytes and a destination of dest_w x dest_h rendered from (x0, y0).
Case fixed_case (ref::Op op, int interp, Layout sl, int src_w, int src_h, Layout dl, int dest_w, int dest_h, double scale,
                 int x0 = 0, int y0 = 0)
{
    Case c;
    c.src.resize (size_t (src_w) * size_t (src_h) * size_t (sl.channels));
    std::mt19937 rng (unsigned (src_w * 31 + src_h));
    for (auto &b : c.src) b = guchar (rng ());
    c.req = {op, nullptr, x0, y0, x0 + dest_w, y0 + dest_h, dest_w * dl.channels, dl.channels, dl.alpha,
             {c.src.data (), src_w, src_h, src_w * sl.channels, sl.channels, sl.alpha},
             scale, scale, interp, 255, 0, 0, 8, 0, 0xffffff};
    c.dest.assign (size_t (c.req.dest_rowstride) * size_t (dest_h) + 2 * kGuard, 77);
    return c;
}

Case random_case (unsigned index)
{
    std::mt19937 rng (0x7a3b1 + index * 2654435761u);
    const auto uniform = [&] (int lo, int hi) { return std::uniform_int_distribution<int> (lo, hi) (rng); };
    Case c;
    auto &r = c.req;
    r.op = ref::Op (uniform (0, 2));
    r.interp = uniform (0, 3);
    const Layout sl = kLayouts[uniform (0, 2)];
    Layout dl = kLayouts[uniform (0, 2)];
    if (r.op == ref::kScale && sl.alpha) dl = kRgba;

    r.src = {nullptr, uniform (1, 33), uniform (1, 17), 0, sl.channels, sl.alpha};  // widths of several vector steps and a tail
    r.src.rowstride = r.src.width * sl.channels + uniform (0, 3);
    c.src.resize (size_t (r.src.rowstride) * r.src.height);
    for (auto &b : c.src) b = guchar (uniform (0, 255));
    // Alpha is often all-or-nothing in real images; exercise those sums too.
    const int alpha_mode = uniform (0, 3);
    if (sl.alpha && alpha_mode != 0)
        for (int y = 0; y < r.src.height; y++)
            for (int x = 0; x < r.src.width; x++) {
                guchar &a = c.src[size_t (y * r.src.rowstride + x * 4 + 3)];
                a = alpha_mode == 1 ? 0 : alpha_mode == 2 ? 255 : guchar (uniform (0, 1) * 255);
            }
    r.src.pixels = c.src.data ();

    const auto pick_scale = [&] {  // mostly the common factors
        return uniform (0, 9) < 7 ? kScales[uniform (0, 6)] : std::uniform_real_distribution<double> (0.25, 4.0) (rng);
    };
    r.scale_x = pick_scale ();
    r.scale_y = pick_scale ();

    r.render_x0 = uniform (-6, int (r.src.width * r.scale_x + 1) + 6);
    r.render_y0 = uniform (-6, int (r.src.height * r.scale_y + 1) + 6);
    r.render_x1 = r.render_x0 + uniform (0, 40);
    r.render_y1 = r.render_y0 + uniform (0, 12);
    if (uniform (0, 19) == 0) r.render_x0 += 200, r.render_x1 += 200;  // wholly right of it

    const int alphas[] = {0, 128, 254, 255, uniform (0, 255)};
    r.overall_alpha = alphas[uniform (0, 4)];
    r.check_x = uniform (-20, 20);
    r.check_y = uniform (-20, 20);
    r.check_size = kCheckSizes[uniform (0, 8)];
    r.color1 = guint32 (rng ());
    r.color2 = guint32 (rng ());

    r.dest_channels = dl.channels;
    r.dest_has_alpha = dl.alpha;
    r.dest_rowstride = std::max (0, r.render_x1 - r.render_x0) * dl.channels + uniform (0, 5);
    c.dest.resize (size_t (r.dest_rowstride) * size_t (std::max (0, r.render_y1 - r.render_y0)) + 2 * kGuard);
    for (auto &b : c.dest) b = guchar (uniform (0, 255));
    return c;
}

void run_engine (const ref::Request &r, guchar *d)
{
    const auto interp = PixopsInterpType (r.interp);
    const ref::Image &s = r.src;
    if (r.op == ref::kScale)
        pixops_scale (d, r.render_x0, r.render_y0, r.render_x1, r.render_y1, r.dest_rowstride, r.dest_channels,
                      r.dest_has_alpha, s.pixels, s.width, s.height, s.rowstride, s.channels, s.has_alpha, r.scale_x,
                      r.scale_y, interp);
    else if (r.op == ref::kComposite)
        pixops_composite (d, r.render_x0, r.render_y0, r.render_x1, r.render_y1, r.dest_rowstride, r.dest_channels,
                          r.dest_has_alpha, s.pixels, s.width, s.height, s.rowstride, s.channels, s.has_alpha,
                          r.scale_x, r.scale_y, interp, r.overall_alpha);
    else
        pixops_composite_color (d, r.render_x0, r.render_y0, r.render_x1, r.render_y1, r.dest_rowstride,
                                r.dest_channels, r.dest_has_alpha, s.pixels, s.width, s.height, s.rowstride,
                                s.channels, s.has_alpha, r.scale_x, r.scale_y, interp, r.overall_alpha, r.check_x,
                                r.check_y, r.check_size, r.color1, r.color2);
}

// Runs both on the same starting bytes; the first differing byte, or -1.
long first_difference (Case &c)
{
    std::vector<guchar> expected = c.dest;
    c.req.dest = expected.data () + kGuard;
    ref::run (c.req);
    run_engine (c.req, c.dest.data () + kGuard);
    for (size_t k = 0; k < expected.size (); k++)
        if (expected[k] != c.dest[k]) return long (k);
    return -1;
}

unsigned env_number (const char *name, unsigned fallback)
{
    const char *v = std::getenv (name);
    return v && *v ? unsigned (std::strtoul (v, nullptr, 10)) : fallback;
}

TEST (EngineDifferential, RandomRequestsMatchTheModelByteForByte)
{
    tamba::test::LogCapture log;
    const unsigned first = env_number ("TAMBA_ENGINE_CASE", 0);
    const unsigned count = std::getenv ("TAMBA_ENGINE_CASE") ? 1 : env_number ("TAMBA_ENGINE_CASES", kDefaultCases);
    using namespace tamba::detail;
    for (int table = 0; table < kernel_table_count (); table++) {
        if (!kernel_table_at (table)) continue;
        force_kernel_table (kernel_table_at (table));
        int failures = 0;
        for (unsigned k = first; k < first + count && failures < 5; k++) {
            Case c = random_case (k);
            const long at = first_difference (c);
            if (at < 0) continue;
            failures++;
            ADD_FAILURE () << kernel_table_at (table)->name << " case " << k << ": " << c.describe ()
                           << "; first difference at byte " << at - kGuard << " of the rectangle";
        }
    }
    force_kernel_table (nullptr);
    EXPECT_TRUE (log.messages ().empty ());
}

// Positions beyond the 16.16 range (sources wider or taller than 32767 pixels, rendered near
// their far edges, where 32-bit positions would wrap), and the extreme valid steps: 1 and just
// below 2^31.
TEST (EngineDifferential, LargeSourcesAndExtremeScalesMatchTheModel)
{
    tamba::test::LogCapture log;
    for (const auto &[op, layout] : {std::pair{ref::kComposite, kRgba}, std::pair{ref::kScale, kRgb}})
        for (const auto &[width, height] : {std::pair{70000, 3}, std::pair{3, 70000}})
            for (int interp = 0; interp < 4; interp++)
                for (double scale : {1.0, 2.0, 0.5, 1.5}) {
                    // Three columns and rows beyond the scaled source.
                    Case c = fixed_case (op, interp, layout, width, height, layout, 8, 8, scale, int (width * scale) - 5,
                                         int (height * scale) - 5);
                    c.req.overall_alpha = 200;
                    EXPECT_EQ (first_difference (c), -1) << c.describe ();
                }
    for (const auto &[interp, scale] : {std::pair{0, 65536.0}, {2, 65536.0}, {3, 65536.0}, {0, 3.1e-5}}) {
        Case c = fixed_case (ref::kScale, interp, kRgb, 3, 3, kRgb, 2, 2, scale);
        EXPECT_EQ (first_difference (c), -1) << c.describe ();
    }
    EXPECT_TRUE (log.messages ().empty ());
}

// Bilinear enlarging at full opacity, whose filters factor into row and column weights, over
// long rows with both edges: the layouts that then filter each source row once.
TEST (EngineDifferential, FactoredFiltersMatchTheModel)
{
    tamba::test::LogCapture log;
    for (const auto &[op, layout] : {std::pair{ref::kScale, kRgb}, {ref::kScale, kRgba}, {ref::kComposite, kRgba}})
        for (double scale : {1.0, 1.37, 2.0, 4.0})
            for (int x0 : {0, 5}) {
                Case c = fixed_case (op, PIXOPS_INTERP_BILINEAR, layout, 61, 7, layout, int (61 * scale) + 3 - x0,
                                     int (7 * scale) + 2, scale, x0, 1);
                std::mt19937 rng (x0);
                for (auto &b : c.dest) b = guchar (rng ());
                EXPECT_EQ (first_difference (c), -1) << c.describe ();
            }
    EXPECT_TRUE (log.messages ().empty ());
}

// Refusals come before any filter is built or any byte is written, whichever operation.
TEST (EngineEntry, RefusalsWriteNothing)
{
    const double inf = std::numeric_limits<double>::infinity ();
    const std::string x_step = "65536.0 / scale_x >= 1 && 65536.0 / scale_x <= G_MAXINT";
    const std::string interp = "interp_type >= PIXOPS_INTERP_NEAREST && interp_type <= PIXOPS_INTERP_HYPER";
    const std::string check = "check_size != 0";
    struct Refusal {
        int ops;  // bit per operation
        Layout src, dest;
        int src_width, interp, check_size;
        double sx, sy;
        std::string message;
    };
    const Refusal cases[] = {
        {7, kRgb, {3, true}, 4, 0, 8, 1, 1, "!(dest_channels == 3 && dest_has_alpha)"},
        {7, {3, true}, kRgba, 4, 0, 8, 1, 1, "!(src_channels == 3 && src_has_alpha)"},
        {7, kRgb, kRgb, 0, 0, 8, 1, 1, "src_width > 0 && src_height > 0"},
        {7, {5, false}, kRgb, 4, 0, 8, 1, 1,
         "(src_channels == 3 || src_channels == 4) && (dest_channels == 3 || dest_channels == 4)"},
        {7, kRgba, kRgba, 4, -1, 8, 1, 1, interp},
        {7, kRgba, kRgba, 4, 4, 8, 1, 1, interp},
        {7, kRgba, kRgba, 4, 2, 8, -1, 1, x_step},
        {7, kRgba, kRgba, 4, 2, 8, std::nan (""), 1, x_step},
        {7, kRgba, kRgba, 4, 2, 8, 65537, 1, x_step},
        {7, kRgba, kRgba, 4, 2, 8, 1e-6, 1, x_step},
        {7, kRgba, kRgba, 4, 3, 8, 1, -inf, "65536.0 / scale_y >= 1 && 65536.0 / scale_y <= G_MAXINT"},
        {7, kRgba, kRgba, 4, 2, 8, 0, 1, ""},  // a zero scale is a silent no-op
        {7, kRgba, kRgba, 4, 1, 8, 1, 0, ""},
        {1, kRgba, kRgb, 4, 0, 8, 1, 1, "!(src_has_alpha && !dest_has_alpha)"},
        {4, kRgba, kRgb, 4, 0, 0, 1, 1, check},  // the nearest and the filtered paths
        {4, kRgba, kRgb, 4, 3, 0, 1, 1, check},
    };
    for (const Refusal &k : cases)
        for (int op = 0; op < 3; op++) {
            if (!(k.ops & 1 << op)) continue;
            Case c = fixed_case (ref::Op (op), k.interp, k.src, 4, 4, k.dest, 4, 4, 1);
            c.req.src.width = k.src_width;
            c.req.scale_x = k.sx;
            c.req.scale_y = k.sy;
            c.req.check_size = k.check_size;
            c.req.overall_alpha = 200;
            const std::vector<guchar> before = c.dest;
            tamba::test::LogCapture log;
            run_engine (c.req, c.dest.data () + kGuard);
            EXPECT_EQ (c.dest, before) << k.message;
            const auto expected = k.message.empty () ? std::vector<std::string>{} : std::vector<std::string>{k.message};
            EXPECT_EQ (log.criticals (), expected);
            EXPECT_EQ (log.messages ().size (), expected.size ());
        }
}

// Strong reductions stay exact on flat areas: weights never sum past 1.0 (white stays white),
// and a table past the cap is replaced by box pre-reduction instead of aborting.
TEST (EngineEntry, StrongReductions)
{
    tamba::test::LogCapture log;
    const std::tuple<int, double, int> cases[] = {{200, 0.01, PIXOPS_INTERP_TILES},
                                                  {200, 0.01, PIXOPS_INTERP_BILINEAR},
                                                  {1000, 0.002, PIXOPS_INTERP_TILES},  // 250 MB of table in one pass
                                                  {1000, 0.002, PIXOPS_INTERP_HYPER}};
    for (const auto &[size, scale, interp] : cases) {
        Case c = fixed_case (ref::kScale, interp, kRgb, size, size, kRgb, 2, 2, scale);
        for (size_t k = 0; k < c.src.size (); k++)  // white, the left half yellow
            c.src[k] = k % 3 == 2 || int (k / 3 % size_t (size)) >= size / 2 ? 255 : 0;
        guchar *d = c.dest.data () + kGuard;
        run_engine (c.req, d);
        // Hyper's tent reaches across the middle, and the pre-averaged blocks of the capped
        // reductions straddle it; the single-pass box filters stop exactly there.
        const int slack = interp == PIXOPS_INTERP_HYPER || size == 1000 ? 4 : 0;
        EXPECT_LE (d[0], slack) << size << " " << interp;
        EXPECT_GE (d[9], 255 - slack) << size << " " << interp;
        for (int k : {2, 5, 8, 11}) EXPECT_EQ (d[k], 255) << size << " " << interp;
    }
    EXPECT_TRUE (log.messages ().empty ());
}

}  // namespace
