// SPDX-License-Identifier: LGPL-2.1-or-later
// Weight tables: the documented matrices, the totals, the correction of the totals, and the
// phases a pass reaches.
#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <vector>

#include "pixops/pixops-private.h"
#include "pixops/pixops-reduce.h"

namespace {

using namespace tamba::detail;
using Builder = void (*) (PixopsFilter *, double, double, double);

struct Built {
    PixopsFilter f{};
    Built (Builder b, double sx, double sy, double alpha) { b (&f, sx, sy, alpha); }
    ~Built () { g_free (f.weights); }
    std::vector<int> matrix (int p, int q) const
    {
        const int n = f.n_x * f.n_y;
        const int *m = f.weights + (p * 16 + q) * n;
        return {m, m + n};
    }
};

struct MatrixCase {
    const char *name;
    Builder builder;
    double sx, sy;
    int n_x, n_y;
    double x_offset, y_offset;
    int p, q;
    std::vector<int> expected;
};

class FilterMatrix : public ::testing::TestWithParam<MatrixCase> {};

TEST_P (FilterMatrix, MatchesTheWorkedExample)
{
    const MatrixCase &c = GetParam ();
    Built b (c.builder, c.sx, c.sy, 1.0);
    EXPECT_EQ (b.f.n_x, c.n_x);
    EXPECT_EQ (b.f.n_y, c.n_y);
    EXPECT_DOUBLE_EQ (b.f.x_offset, c.x_offset);
    EXPECT_DOUBLE_EQ (b.f.y_offset, c.y_offset);
    EXPECT_EQ (b.matrix (c.p, c.q), c.expected);
}

const double kBilinear3Offset = (1 / 3.0 - 1) * 0.5;

INSTANTIATE_TEST_SUITE_P (
    Examples, FilterMatrix,
    ::testing::Values (
        MatrixCase{"tiles_1_p0", tile_make_weights, 1, 1, 2, 2, 0, 0, 0, 0, {65536, 0, 0, 0}},
        MatrixCase{"tiles_1_q8", tile_make_weights, 1, 1, 2, 2, 0, 0, 0, 8, {32768, 32768, 0, 0}},
        MatrixCase{"tiles_1_p8q8", tile_make_weights, 1, 1, 2, 2, 0, 0, 8, 8,
                   {16384, 16384, 16384, 16384}},
        MatrixCase{"tiles_half_p0", tile_make_weights, 0.5, 0.5, 3, 3, 0, 0, 0, 0,
                   {16384, 16384, 0, 16384, 16384, 0, 0, 0, 0}},
        MatrixCase{"tiles_half_q8", tile_make_weights, 0.5, 0.5, 3, 3, 0, 0, 0, 8,
                   {8192, 16384, 8192, 8192, 16384, 8192, 0, 0, 0}},
        MatrixCase{"tiles_3_p12q12", tile_make_weights, 3, 3, 2, 2, 0, 0, 12, 12,
                   {36864, 12288, 12288, 4096}},
        MatrixCase{"bilinear_2_p4q4", bilinear_make_fast_weights, 2, 2, 2, 2, -0.25, -0.25, 4, 4,
                   {36864, 12288, 12288, 4096}},
        MatrixCase{"bilinear_3_q5", bilinear_make_fast_weights, 3, 3, 2, 2, kBilinear3Offset,
                   kBilinear3Offset, 0, 5, {45056, 20480, 0, 0}},
        MatrixCase{"bilinear_mixed", bilinear_make_fast_weights, 2, 0.5, 2, 3, -0.25, 0, 0, 0,
                   {32768, 0, 32768, 0, 0, 0}},
        MatrixCase{"bilinear_1_q4", bilinear_make_fast_weights, 1, 1, 2, 2, 0, 0, 0, 4,
                   {49152, 16384, 0, 0}},
        MatrixCase{"hyper_1_p0", bilinear_make_weights, 1, 1, 3, 3, -1, -1, 0, 0,
                   {1024, 6144, 1024, 6144, 36864, 6144, 1024, 6144, 1024}},
        MatrixCase{"hyper_1_p8q8", bilinear_make_weights, 1, 1, 3, 3, -1, -1, 8, 8,
                   {0, 0, 0, 0, 16384, 16384, 0, 16384, 16384}},
        MatrixCase{"hyper_2_p0", bilinear_make_weights, 2, 2, 3, 3, -1, -1, 0, 0,
                   {4096, 12288, 0, 12288, 36864, 0, 0, 0, 0}}),
    [] (const auto &info) { return std::string (info.param.name); });

// Every matrix sums exactly to the opacity's target, and no weight is negative, from mild
// scales down to reductions where the single-weight correction cannot work.
TEST (FilterTotals, EveryMatrixSumsToTheTarget)
{
    const Builder builders[] = {tile_make_weights, bilinear_make_fast_weights,
                                bilinear_make_weights};
    const double scales[] = {0.3, 0.5, 0.75, 1.0, 1.5, 2.0, 3.0, 0.01};
    const double alphas[] = {1.0, 128 / 255.0, 0.0};
    for (Builder builder : builders)
        for (double sx : scales)
            for (double sy : {0.3, 2.0, sx})
                for (double alpha : alphas) {
                    if (sx < 0.1 && sy != sx) continue;  // keep the big tables few
                    Built b (builder, sx, sy, alpha);
                    const int target = int (alpha * 65536 + 0.5);
                    for (int p = 0; p < 16; p++)
                        for (int q = 0; q < 16; q++) {
                            const auto m = b.matrix (p, q);
                            ASSERT_EQ (std::accumulate (m.begin (), m.end (), 0), target)
                                << sx << "x" << sy << " alpha " << alpha << " phase " << p << ","
                                << q;
                            for (int w : m) ASSERT_GE (w, 0);
                        }
                }
}

TEST (FilterTotals, PartialOpacityRaisesTheLastWeight)
{
    Built b (tile_make_weights, 1, 1, 128 / 255.0);
    EXPECT_EQ (b.matrix (8, 8), (std::vector<int>{8224, 8224, 8224, 8225}));
}

struct CorrectionCase {
    std::vector<int> weights;
    int total;
    double alpha;
    std::vector<int> expected;
};

TEST (FilterTotals, CorrectTotal)
{
    const CorrectionCase cases[] = {
        // A positive correction goes to the last weight.
        {{10, 20, 30}, 60, 100 / 65536.0, {10, 20, 70}},
        // A negative one skips trailing weights that would become negative.
        {{65536, 10, 0}, 65546, 1.0, {65536, 0, 0}},
        // No single weight can absorb it: the excess comes off the last weights first.
        {{5, 5, 5}, 15, 4 / 65536.0, {4, 0, 0}},
        {{3, 3, 3}, 9, 0.0, {0, 0, 0}},
    };
    for (const auto &c : cases) {
        std::vector<int> w = c.weights;
        correct_total (w.data (), int (w.size ()), 1, c.total, c.alpha);
        EXPECT_EQ (w, c.expected);
    }
}

TEST (FilterReach, PhasesOfAPassesPositions)
{
    struct Case {
        std::int64_t pos0, step, count;
        unsigned expected;
    };
    const Case cases[] = {
        {-24576, 16384, 64, 0x4444},   // bilinear 4x: phases 2, 6, 10, 14
        {-65536, 196608, 16, 0x0001},  // hyper to a third: phase 0 only
        {-1, 65536, 1000, 0x8000},     // one position left of pixel 0, unit step
        {0, 4096, 3, 0x0007},          // fewer positions than phases
        {0, 4096, 0, 0x0000},          // an empty pass reaches nothing
        {12345, 1, 70000, 0xffff},
        {4096 * 5, 4096 * 3, 1 << 20, 0xffff},
    };
    for (const Case &c : cases)
        EXPECT_EQ (phases_reached (c.pos0, c.step, c.count), c.expected)
            << c.pos0 << " + k * " << c.step;
}

// A table built for a reach holds the full table's matrices where the pass samples, zeros
// elsewhere.
TEST (FilterReach, ReachedMatricesMatchTheFullTable)
{
    using ReachBuilder = void (*) (PixopsFilter *, double, double, double, const PixopsReach *);
    struct Case {
        ReachBuilder builder;
        double sx, sy;
        PixopsReach reach;
    };
    const Case cases[] = {
        {bilinear_make_weights, 1 / 3.0, 1 / 3.0, {0, 196608, 16, 0, 196608, 16}},
        {bilinear_make_fast_weights, 4, 4, {0, 16384, 64, 16384 * 3, 16384, 5}},
        {bilinear_make_fast_weights, 1.5, 0.75, {-43690, 43690, 7, 0, 87381, 9}},
        {tile_make_weights, 0.6, 2, {65536 * 5, 109226, 40, 0, 32768, 1}},
    };
    for (const Case &c : cases) {
        PixopsFilter full{}, part{};
        c.builder (&full, c.sx, c.sy, 0.8, nullptr);
        c.builder (&part, c.sx, c.sy, 0.8, &c.reach);
        const unsigned xs = phases_reached (c.reach.x_start + pixops_scaled_offset (full.x_offset),
                                            c.reach.x_step, c.reach.width);
        const unsigned ys = phases_reached (c.reach.y_start + pixops_scaled_offset (full.y_offset),
                                            c.reach.y_step, c.reach.height);
        ASSERT_NE (xs & ys, 0xffffu);
        const int n = full.n_x * full.n_y;
        for (int p = 0; p < 16; p++)
            for (int q = 0; q < 16; q++) {
                const bool reached = (ys >> p & 1) && (xs >> q & 1);
                for (int k = 0; k < n; k++)
                    ASSERT_EQ (part.weights[(p * 16 + q) * n + k],
                               reached ? full.weights[(p * 16 + q) * n + k] : 0)
                        << "scale " << c.sx << " phase " << p << "," << q;
            }
        g_free (full.weights);
        g_free (part.weights);
    }
}

TEST (FilterQuadrant, ClipsToTheUnitSquare)
{
    EXPECT_DOUBLE_EQ (bilinear_quadrant (0, 1, 0, 1), 0.25);
    EXPECT_DOUBLE_EQ (bilinear_quadrant (-1, 2, -3, 4), 0.25);
    EXPECT_DOUBLE_EQ (bilinear_quadrant (-1, 0, 0, 1), 0.0);
    EXPECT_DOUBLE_EQ (bilinear_quadrant (1, 2, 0, 1), 0.0);
    EXPECT_DOUBLE_EQ (bilinear_quadrant (0.5, 1, 0, 1), (1 - 0.25) * 0.25);
}

// The table cap only takes effect where the table would pass 64 MiB.
TEST (FilterCap, BoxFactorsOnlyForHugeTables)
{
    struct Case {
        double sx, sy;
        int fx, fy;
    };
    const Case cases[] = {
        {0.01, 0.01, 1, 1},      // 101 x 101 taps, about 10 MB
        {0.004, 0.004, 1, 1},    // 251 x 251 taps, 63 MB: still one pass
        {0.002, 0.002, 31, 31},  // 501 x 501 taps: 250 MB; 0.062 remains
        {0.001, 1.0, 1, 1},      // 1001 x 2 taps is small
        {0.0001, 0.1, 625, 1},   // 10001 x 11 taps: only the strongly reduced axis is averaged
        {0.0001, 0.5, 1, 1},     // 10001 x 3 taps, 30 MB: one pass
    };
    for (const Case &c : cases) {
        const BoxFactors f = box_factors_for (tile_taps, c.sx, c.sy);
        EXPECT_EQ (f.x, c.fx) << c.sx;
        EXPECT_EQ (f.y, c.fy) << c.sy;
        const std::size_t bytes = std::size_t (tile_taps (c.sx * f.x)) *
                                  std::size_t (tile_taps (c.sy * f.y)) * 1024;
        EXPECT_LE (bytes, kPixopsMaxFilterBytes);
    }
}

}  // namespace
