// SPDX-License-Identifier: LGPL-2.1-or-later
// Line and pixel kernels on hand-made weight blocks, and the driver's split of each row into
// left edge, interior run and right edge.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "log-capture.h"
#include "pixops/pixops-private.h"

namespace {

using namespace tamba::detail;
using tamba::test::LogCapture;

// A weight block whose 16 phases all hold the same matrix.
std::vector<int> block (std::vector<int> matrix)
{
    std::vector<int> w;
    for (int p = 0; p < 16; p++) w.insert (w.end (), matrix.begin (), matrix.end ());
    return w;
}

// Runs a line kernel over one destination pixel at source position 0 (phase 0).
guchar *run_one (PixopsLineFunc line, const std::vector<int> &w, int n_x, int n_y, guchar *dest,
                 int dest_channels, bool dest_alpha, const guchar *const *src, int src_channels,
                 bool src_alpha, int check_size = 0, guint32 c1 = 0, guint32 c2 = 0,
                 int pixels = 1, std::int64_t dest_x = 0)
{
    return line (w.data (), n_x, n_y, dest, dest_x, dest + pixels * dest_channels, dest_channels,
                 dest_alpha, src, src_channels, src_alpha, 0, 65536, 2, check_size, c1, c2);
}

TEST (CheckShift, TrailingZerosOrFallback)
{
    LogCapture log;
    const std::array<std::array<int, 2>, 6> cases{
        {{8, 3}, {12, 2}, {1, 0}, {5, 0}, {6, 1}, {0, 0}}};
    for (const auto &c : cases) EXPECT_EQ (get_check_shift (c[0]), c[1]) << c[0];
    EXPECT_TRUE (log.messages ().empty ());
    EXPECT_EQ (get_check_shift (-8), 4);
    EXPECT_EQ (log.criticals (), std::vector<std::string>{"check_size >= 0"});
}

// Taps holding 1 weigh 16384 and taps holding 0 weigh 49152: the general kernel rounds up, the
// 2 x 2 kernel to nearest.
TEST (ScaleKernels, GeneralRoundsUpTwoByTwoRoundsToNearest)
{
    const guchar row[6] = {1, 1, 1, 0, 0, 0};
    const guchar *src[2] = {row, row};
    const auto w = block ({16384, 49152, 0, 0});
    guchar general[3] = {9, 9, 9}, unrolled[3] = {9, 9, 9};
    run_one (scale_line_for (3, false, 3, false), w, 2, 2, general, 3, false, src, 3, false);
    run_one (scale_line_22_33, w, 2, 2, unrolled, 3, false, src, 3, false);
    EXPECT_EQ (general[0], 1);
    EXPECT_EQ (unrolled[0], 0);
}

TEST (ScaleKernels, PixelKernelReturnsAConstantExactly)
{
    for (guint v = 0; v < 256; v++) {
        guchar d[4] = {0, 0, 0, 7};
        const guint sum = 65536u * 255u * v;
        scale_pixel (d, 0, 4, false, false, 0, 0, 0, sum, sum, sum, 65536u * 255u);
        ASSERT_EQ (d[0], v);
        ASSERT_EQ (d[3], 7);  // a fourth byte that is not alpha is left alone
    }
}

TEST (ScaleKernels, AlphaSourceWeighsColoursByAlpha)
{
    const guchar row[8] = {200, 100, 50, 0, 10, 20, 30, 0};
    const guchar *src[1] = {row};
    const auto w = block ({32768, 32768});
    guchar d[4] = {1, 2, 3, 4};
    run_one (scale_line_for (4, true, 4, true), w, 2, 1, d, 4, true, src, 4, true);
    EXPECT_EQ (std::vector<guchar> (d, d + 4), (std::vector<guchar>{0, 0, 0, 0}));
    const guchar opaque[8] = {200, 100, 50, 255, 10, 20, 30, 0};
    src[0] = opaque;
    run_one (scale_line_for (4, true, 4, true), w, 2, 1, d, 4, true, src, 4, true);
    EXPECT_EQ (std::vector<guchar> (d, d + 4), (std::vector<guchar>{200, 100, 50, 127}));
}

// An opaque colour 200 at half opacity over 100, onto the three kinds of destination.
TEST (CompositeKernels, HalfOpacityOverTheDestination)
{
    const guchar px[3] = {200, 200, 200};
    const guchar *src[1] = {px};
    const auto w = block ({32768});
    struct Case {
        int channels;
        bool alpha;
        guchar dest_alpha;
        std::vector<guchar> expected;
    };
    const Case cases[] = {{3, false, 0, {150, 150, 150}},
                          {4, true, 255, {150, 150, 150, 255}},
                          {4, true, 0, {200, 200, 200, 127}}};
    for (const Case &c : cases) {
        guchar d[4] = {100, 100, 100, c.dest_alpha};
        run_one (composite_line_for (c.channels, c.alpha, 3, false), w, 1, 1, d, c.channels,
                 c.alpha, src, 3, false);
        EXPECT_EQ (std::vector<guchar> (d, d + c.channels), c.expected);
        guchar e[4] = {100, 100, 100, c.dest_alpha};
        const guint a = 32768u * 255u;
        composite_pixel (e, 0, c.channels, c.alpha, false, 0, 0, 0, a * 200, a * 200, a * 200, a);
        EXPECT_EQ (std::vector<guchar> (e, e + c.channels), c.expected);
    }
}

TEST (CompositeKernels, TransparentSourceLeavesOrClears)
{
    const guchar px[4] = {9, 9, 9, 0};
    const guchar *src[1] = {px};
    const auto w = block ({65536});
    guchar opaque[4] = {10, 20, 30, 255}, clear[4] = {10, 20, 30, 0}, rgb[3] = {10, 20, 30};
    const auto line = composite_line_for (4, true, 4, true);
    run_one (line, w, 1, 1, opaque, 4, true, src, 4, true);
    run_one (line, w, 1, 1, clear, 4, true, src, 4, true);
    run_one (composite_line_for (3, false, 4, true), w, 1, 1, rgb, 3, false, src, 4, true);
    EXPECT_EQ (std::vector<guchar> (opaque, opaque + 4), (std::vector<guchar>{10, 20, 30, 255}));
    EXPECT_EQ (std::vector<guchar> (clear, clear + 4), (std::vector<guchar>{0, 0, 0, 0}));
    EXPECT_EQ (std::vector<guchar> (rgb, rgb + 3), (std::vector<guchar>{10, 20, 30}));
}

TEST (CompositeKernels, TwoByTwoChecksItsSource)
{
    LogCapture log;
    const guchar px[8] = {};
    const guchar *src[2] = {px, px};
    const auto w = block ({65536, 0, 0, 0});
    guchar d[4] = {1, 2, 3, 4};
    EXPECT_EQ (run_one (composite_line_22_4a4, w, 2, 2, d, 4, false, src, 3, false), d);
    EXPECT_EQ (run_one (composite_line_22_4a4, w, 2, 2, d, 4, false, src, 4, false), d);
    EXPECT_EQ (log.criticals (), (std::vector<std::string>{"src_channels != 3", "src_has_alpha"}));
    EXPECT_EQ (std::vector<guchar> (d, d + 4), (std::vector<guchar>{1, 2, 3, 4}));
}

TEST (CheckerboardKernels, ColoursAndFourthByte)
{
    LogCapture log;
    const guchar clear[4] = {0, 0, 0, 0};
    const guchar *src[1] = {clear};
    const auto w = block ({65536});
    // A transparent source shows each non-zero check component one less.
    guchar d[4] = {};
    run_one (composite_line_color_for (4, false, 4, true), w, 1, 1, d, 4, false, src, 4, true, 8,
             0xff0080, 0);
    EXPECT_EQ (std::vector<guchar> (d, d + 4), (std::vector<guchar>{254, 0, 127, 0}));
    guchar e[4] = {};
    run_one (composite_line_color_for (4, true, 4, true), w, 1, 1, e, 4, true, src, 4, true, 8,
             0xff0080, 0);
    EXPECT_EQ (e[3], 255);

    // Square width is the largest power of two dividing the size: 8 -> 8, 12 -> 4.
    const std::vector<guchar> clear_row (4 * 24, 0);
    const guchar *wide[1] = {clear_row.data ()};
    for (const auto &[size, width] : {std::pair{8, 8}, std::pair{12, 4}}) {
        std::vector<guchar> row (3 * 24, 1);
        run_one (composite_line_color_for (3, false, 4, true), w, 1, 1, row.data (), 3, false,
                 wide, 4, true, size, 0x000000, 0xffffff, 24);
        for (int x = 0; x < 24; x++)
            EXPECT_EQ (row[size_t (3 * x)], (x / width) % 2 ? 254 : 0) << size << " col " << x;
    }
    EXPECT_TRUE (log.messages ().empty ());

    guchar f[3] = {5, 5, 5};
    EXPECT_EQ (run_one (composite_line_color_for (3, false, 4, true), w, 1, 1, f, 3, false, src, 4,
                        true, 0),
               f);
    EXPECT_EQ (log.criticals (), std::vector<std::string>{"check_size != 0"});
    EXPECT_EQ (f[0], 5);
}

TEST (LineKernels, EmptyRunWritesNothing)
{
    const guchar px[8] = {};
    const guchar *src[2] = {px, px};
    const auto w = block ({65536, 0, 0, 0});
    guchar d[4] = {1, 2, 3, 4};
    const PixopsLineFunc lines[] = {scale_line_22_33, scale_line_for (3, false, 3, false),
                                    composite_line_for (4, false, 4, true),
                                    composite_line_color_for (4, false, 4, true)};
    for (PixopsLineFunc line : lines)
        EXPECT_EQ (line (w.data (), 2, 2, d, 0, d, 4, false, src, 4, true, 0, 65536, 2, 8, 0, 0),
                   d);
    EXPECT_EQ (std::vector<guchar> (d, d + 4), (std::vector<guchar>{1, 2, 3, 4}));
}

// Which rectangle columns each row hands to the line kernel and which to the pixel kernel.
struct Split {
    std::vector<int> edge;
    std::vector<std::pair<int, int>> runs;  // [first, end) of each line-kernel call
};
Split g_split;
const guchar *g_row;

guchar *spy_line (const int *, int, int, guchar *dest, std::int64_t, guchar *dest_end, int, int,
                  const guchar *const *, int, gboolean, std::int64_t, std::int64_t, int, int,
                  guint32, guint32) noexcept
{
    const int first = int (dest - g_row), end = std::max (first, int (dest_end - g_row));
    g_split.runs.push_back ({first, end});
    return dest < dest_end ? dest_end : dest;
}

void spy_pixel (guchar *dest, std::int64_t, int, int, int, int, guint32, guint32, guint, guint,
                guint, guint)
{
    g_split.edge.push_back (int (dest - g_row));
}

struct SplitCase {
    const char *name;
    void (*builder) (PixopsFilter *, double, double, double);
    int src_width;
    double scale;
    int x0, x1;
    std::vector<int> edge;
    std::pair<int, int> run;
};

TEST (Driver, SplitsRowsIntoEdgesAndOneRun)
{
    const SplitCase cases[] = {
        {"bilinear 2x of 4 columns", bilinear_make_fast_weights, 4, 2.0, 0, 8, {0, 7}, {1, 7}},
        {"tiles 0.5 of 8 columns", tile_make_weights, 8, 0.5, 0, 4, {3}, {0, 3}},
        {"tiles 1.0 whole row", tile_make_weights, 5, 1.0, 0, 5, {4}, {0, 4}},
        {"hyper starts on the left edge", bilinear_make_weights, 6, 1.0, 0, 3, {0}, {1, 3}},
        {"far right of the source", tile_make_weights, 4, 1.0, 100, 103, {0, 1, 2}, {0, 0}},
        {"zero width", tile_make_weights, 4, 1.0, 2, 2, {}, {0, 0}},
    };
    for (const SplitCase &c : cases) {
        PixopsFilter f{};
        c.builder (&f, c.scale, c.scale, 1.0);
        std::vector<guchar> src (size_t (c.src_width) * 3, 0), dest (64 * 3, 0);
        g_row = dest.data ();
        g_split = {};
        const PixopsPass pass{dest.data (), c.x0, 0,     c.x1,         1,     0,     1,
                              false,        src.data (), c.src_width, 1, c.src_width * 3, 3,
                              false,        c.scale, c.scale, 0, 0, 0, 0, 0};
        pixops_process (pass, &f, spy_line, spy_pixel);
        g_free (f.weights);
        std::vector<int> edge_columns;
        for (int byte : g_split.edge) edge_columns.push_back (byte);
        EXPECT_EQ (edge_columns, c.edge) << c.name;
        ASSERT_EQ (g_split.runs.size (), 1u) << c.name;
        EXPECT_EQ (g_split.runs[0], c.run) << c.name;
    }
}

}  // namespace
