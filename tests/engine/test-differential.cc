// SPDX-License-Identifier: LGPL-2.1-or-later
// The engine against the plain model of reference.cc on seeded random requests, with each kernel
// table the CPU can run: every byte of the destination buffer, including row padding and guard
// bytes around it, must agree.
//   TAMBA_ENGINE_CASES=N  runs N cases instead of the default
//   TAMBA_ENGINE_CASE=K   runs only case K (as printed by a failure)
#include <gtest/gtest.h>

#include <cstdlib>
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
        s << "op " << r.op << " interp " << r.interp << " src " << r.src.width << "x"
          << r.src.height << "/" << r.src.channels << (r.src.has_alpha ? "a" : "")
          << " dest ch " << r.dest_channels << (r.dest_has_alpha ? "a" : "") << " scale "
          << r.scale_x << "," << r.scale_y << " rect " << r.render_x0 << "," << r.render_y0
          << " - " << r.render_x1 << "," << r.render_y1 << " alpha " << r.overall_alpha
          << " check " << r.check_x << "," << r.check_y << "/" << r.check_size;
        return s.str ();
    }
};

Case make_case (unsigned index)
{
    std::mt19937 rng (0x7a3b1 + index * 2654435761u);
    const auto uniform = [&] (int lo, int hi) {
        return std::uniform_int_distribution<int> (lo, hi) (rng);
    };
    Case c;
    auto &r = c.req;
    r.op = ref::Op (uniform (0, 2));
    r.interp = uniform (0, 3);
    const Layout sl = kLayouts[uniform (0, 2)];
    Layout dl = kLayouts[uniform (0, 2)];
    if (r.op == ref::kScale && sl.alpha) dl = kLayouts[2];

    r.src.width = uniform (1, 33);  // several vector steps and a tail
    r.src.height = uniform (1, 17);
    r.src.channels = sl.channels;
    r.src.has_alpha = sl.alpha;
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

    const auto pick_scale = [&] {
        if (uniform (0, 9) < 7) return kScales[uniform (0, 6)];
        return std::uniform_real_distribution<double> (0.25, 4.0) (rng);
    };
    r.scale_x = pick_scale ();
    r.scale_y = pick_scale ();

    const int scaled_w = int (r.src.width * r.scale_x + 1);
    const int scaled_h = int (r.src.height * r.scale_y + 1);
    r.render_x0 = uniform (-6, scaled_w + 6);
    r.render_y0 = uniform (-6, scaled_h + 6);
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
    const int width = std::max (0, r.render_x1 - r.render_x0);
    const int rows = std::max (0, r.render_y1 - r.render_y0);
    r.dest_rowstride = width * dl.channels + uniform (0, 5);
    c.dest.resize (size_t (r.dest_rowstride) * rows + 2 * kGuard);
    for (auto &b : c.dest) b = guchar (uniform (0, 255));
    return c;
}

void run_engine (const ref::Request &r, guchar *dest)
{
    const auto interp = PixopsInterpType (r.interp);
    switch (r.op) {
    case ref::kScale:
        pixops_scale (dest, r.render_x0, r.render_y0, r.render_x1, r.render_y1, r.dest_rowstride,
                      r.dest_channels, r.dest_has_alpha, r.src.pixels, r.src.width, r.src.height,
                      r.src.rowstride, r.src.channels, r.src.has_alpha, r.scale_x, r.scale_y,
                      interp);
        break;
    case ref::kComposite:
        pixops_composite (dest, r.render_x0, r.render_y0, r.render_x1, r.render_y1,
                          r.dest_rowstride, r.dest_channels, r.dest_has_alpha, r.src.pixels,
                          r.src.width, r.src.height, r.src.rowstride, r.src.channels,
                          r.src.has_alpha, r.scale_x, r.scale_y, interp, r.overall_alpha);
        break;
    case ref::kCompositeColor:
        pixops_composite_color (dest, r.render_x0, r.render_y0, r.render_x1, r.render_y1,
                                r.dest_rowstride, r.dest_channels, r.dest_has_alpha,
                                r.src.pixels, r.src.width, r.src.height, r.src.rowstride,
                                r.src.channels, r.src.has_alpha, r.scale_x, r.scale_y, interp,
                                r.overall_alpha, r.check_x, r.check_y, r.check_size, r.color1,
                                r.color2);
        break;
    }
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
    unsigned first = 0, count = env_number ("TAMBA_ENGINE_CASES", kDefaultCases);
    if (std::getenv ("TAMBA_ENGINE_CASE")) {
        first = env_number ("TAMBA_ENGINE_CASE", 0);
        count = 1;
    }
    using namespace tamba::detail;
    for (int table = 0; table < kernel_table_count (); table++) {
        if (!kernel_table_at (table)) continue;
        force_kernel_table (kernel_table_at (table));
        int failures = 0;
        for (unsigned k = first; k < first + count && failures < 5; k++) {
            Case c = make_case (k);
            const long at = first_difference (c);
            if (at >= 0) {
                failures++;
                ADD_FAILURE () << kernel_table_at (table)->name << " case " << k << ": "
                               << c.describe () << "; first difference at byte " << at - kGuard
                               << " of the rectangle";
            }
        }
    }
    force_kernel_table (nullptr);
    EXPECT_TRUE (log.messages ().empty ());
}

// Positions beyond the 16.16 range: sources wider and taller than 32767 pixels, rendered near
// their far edges, where 32-bit positions would wrap and read outside the source.
TEST (EngineDifferential, LargeSourcesUseWidePositions)
{
    tamba::test::LogCapture log;
    struct Shape {
        int width, height;
    };
    const Shape shapes[] = {{70000, 3}, {3, 70000}};
    const double scales[] = {1.0, 2.0, 0.5, 1.5};
    std::mt19937 rng (99);
    for (const Shape s : shapes)
        for (int interp = 0; interp < 4; interp++)
            for (double scale : scales) {
                Case c;
                auto &r = c.req;
                r.src = {nullptr, s.width, s.height, s.width * 4, 4, true};
                c.src.resize (size_t (s.width) * 4 * s.height);
                for (auto &b : c.src) b = guchar (rng ());
                r.src.pixels = c.src.data ();
                r.op = ref::kComposite;
                r.interp = interp;
                r.scale_x = r.scale_y = scale;
                r.overall_alpha = 200;
                const int far_x = int (s.width * scale) - 5, far_y = int (s.height * scale) - 5;
                r.render_x0 = far_x;
                r.render_y0 = far_y;
                r.render_x1 = far_x + 8;  // three columns and rows beyond the scaled source
                r.render_y1 = far_y + 8;
                r.dest_channels = 4;
                r.dest_has_alpha = true;
                r.dest_rowstride = 8 * 4;
                r.check_size = 8;
                c.dest.assign (size_t (r.dest_rowstride) * 8 + 2 * kGuard, 77);
                EXPECT_EQ (first_difference (c), -1) << c.describe ();
            }
    EXPECT_TRUE (log.messages ().empty ());
}

}  // namespace
