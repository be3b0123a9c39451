// SPDX-License-Identifier: LGPL-2.1-or-later
// Engine internals that whole requests reach too rarely: the weight-total correction, box
// pre-reduction, and every vector kernel table against the scalar one over
// all inputs of the run kernels and the AVX2 division.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "pixops/pixops-reduce.h"
#include "pixops/pixops-simd.h"

namespace {

using namespace tamba::detail;

TEST (Filter, CorrectTotal)
{
    struct Correction {
        std::vector<int> weights;
        int total;
        double alpha;
        std::vector<int> expected;
    };
    const Correction corrections[] = {
        {{10, 20, 30}, 60, 100 / 65536.0, {10, 20, 70}},  // a raise goes to the last weight
        {{65536, 10, 0}, 65546, 1.0, {65536, 0, 0}},      // skipping weights it would make < 0
        {{5, 5, 5}, 15, 4 / 65536.0, {4, 0, 0}},          // no single weight can absorb it
        {{3, 3, 3}, 9, 0.0, {0, 0, 0}},
    };
    for (const auto &c : corrections) {
        std::vector<int> w = c.weights;
        correct_total (w.data (), int (w.size ()), 1, c.total, c.alpha);
        EXPECT_EQ (w, c.expected);
    }
}

// Box factors only where the table would pass the cap; each block average rounds to nearest,
// weighted by alpha when there is alpha.
TEST (BoxReduction, FactorsAndRoundedAverages)
{
    for (const auto &[sx, sy, fx, fy] :
         {std::tuple{0.004, 0.004, 1, 1}, {0.002, 0.002, 31, 31}, {0.001, 1.0, 1, 1}, {0.0001, 0.1, 625, 1}, {0.0001, 0.5, 1, 1}}) {
        const BoxFactors f = box_factors_for (tile_taps, sx, sy);
        EXPECT_EQ (std::pair (f.x, f.y), std::pair (fx, fy)) << sx << " " << sy;
    }
    // Blocks of 2 x 1: RGB (0, 1) and RGBA (10 at alpha 255, 11 at 255) have .5 averages;
    // RGBA (200 at alpha 0, 7 at 3) counts only the visible pixel. The last block is partial.
    const guchar rgb[] = {0, 1, 2, 1, 2, 4, 9, 9, 9};
    const guchar rgba[] = {10, 0, 200, 255, 11, 1, 100, 255, 200, 5, 0, 0, 7, 5, 0, 3};
    struct Reduce {
        const guchar *src;
        int width, channels;
        std::vector<guchar> expected;
    };
    for (const Reduce &r : {Reduce{rgb, 3, 3, {1, 2, 3, 9, 9, 9}}, Reduce{rgba, 4, 4, {11, 1, 150, 255, 7, 5, 0, 2}}}) {
        const PixopsPass pass{nullptr, 0, 0, 0, 0, 0, 0, false, r.src, r.width, 1, r.width * r.channels, r.channels,
                              r.channels == 4, 0, 0, 0, 0, 0, 0, 0};
        int w = 0, h = 0, stride = 0;
        guchar *out = box_reduce (pass, {2, 1}, &w, &h, &stride);
        ASSERT_NE (out, nullptr);
        EXPECT_EQ (std::vector<guchar> (out, out + stride * h), r.expected);
        std::free (out);
    }
}

// Each run kernel of every vector table this CPU can run against the scalar one over all 2^24
// (alpha, colour, destination) triples, each in every channel and lane position.
TEST (KernelTables, RunKernelsMatchTheScalarOnesOnAllInputs)
{
    const std::pair<PixopsRunFunc PixopsKernelTable::*, int> kernels[] = {
        {&PixopsKernelTable::over_rgb_rounded, 3}, {&PixopsKernelTable::over_rgb_truncated, 3},
        {&PixopsKernelTable::over_rgbx_rounded, 4}, {&PixopsKernelTable::over_rgbx_shifted, 4}};
    constexpr int kPixels = 65536 + 3;  // a tail the vector loops leave to the scalar code
    std::vector<guchar> src (kPixels * 4);
    for (int i = 0; i < kPixels; i++) {
        const int a = (i >> 8) & 255, p = i & 255;
        const guchar px[4] = {guchar (p), guchar (255 - p), guchar (p ^ 0x5a), guchar (a)};
        std::copy (px, px + 4, &src[size_t (i) * 4]);
    }
    const PixopsKernelTable &scalar = *kernel_table_at (0);
    for (int i = 1; i < kernel_table_count (); i++) {
        const PixopsKernelTable *t = kernel_table_at (i);
        for (int k = 0; t && k < 4; k++)
            for (int d = 0; d < 256; d++) {
                const auto [run, dest_channels] = kernels[k];
                std::vector<guchar> expected (size_t (kPixels) * size_t (dest_channels), guchar (d));
                std::vector<guchar> actual = expected;
                (scalar.*run) (expected.data (), src.data (), kPixels);
                (t->*run) (actual.data (), src.data (), kPixels);
                ASSERT_TRUE (expected == actual) << t->name << " kernel " << k << " destination " << d;
            }
    }
}

#if defined(__x86_64__)
// The vector division against the integer one: near every multiple of divisors of every
// magnitude, with small quotients (the single-precision path) and large ones (the double path).
TEST (KernelTables, AvxQuotientsAreTheIntegerQuotients)
{
    if (!__builtin_cpu_supports ("avx2")) GTEST_SKIP () << "no AVX2";
    std::mt19937 rng (99);
    std::vector<std::pair<guint32, guint32>> cases;
    for (int bits = 0; bits < 32; bits++)
        for (int k = 0; k < 20000; k++) {
            const std::uint64_t top = std::uint64_t (1) << bits;
            const guint32 d = guint32 (top | (rng () & (top - 1)));
            const std::uint64_t most = 0xffffffffull / d + 1;
            const std::uint64_t factor = rng () % (k % 2 ? most : std::min<std::uint64_t> (most, 1 << 20));
            for (int delta = -1; delta <= 1; delta++) {
                const std::uint64_t n = std::uint64_t (d) * factor + std::uint64_t (delta);
                if (n <= 0xffffffffu) cases.emplace_back (guint32 (n), d);
            }
            cases.emplace_back (guint32 (rng ()), std::max<guint32> (1, guint32 (rng ()) >> (rng () % 32)));
        }
    for (const guint32 n : {0xffffffffu, 0xfffffffeu, 0x80000000u, 0x7fffffffu, 1u})
        for (const guint32 d : {1u, 2u, 3u, 255u, 0xff00u, 0x7fffffffu, 0xffffffffu}) cases.emplace_back (n, d);
    // Eight lanes divide together and one large quotient sends all eight to the double path:
    // group the small ones so that the single-precision path sees them.
    std::stable_partition (cases.begin (), cases.end (), [] (const auto &c) {
        return c.second < (1u << 30) && c.first / c.second < (1u << 18);
    });
    std::vector<guint32> num, den, q (cases.size ());
    for (const auto &[n, d] : cases) num.push_back (n), den.push_back (d);
    kernels::quotients_avx2 (num.data (), den.data (), q.data (), num.size ());
    for (size_t k = 0; k < num.size (); k++) ASSERT_EQ (q[k], num[k] / den[k]) << num[k] << " / " << den[k];
}

// The division without a divide instruction, over its whole domain's edges: every divisor below
// 2^16 and random ones of every larger magnitude below 2^25, each at every quotient 0..256 with
// the smallest and the largest remainder.
TEST (KernelTables, AvxBoundedQuotientsAreTheIntegerQuotients)
{
    if (!__builtin_cpu_supports ("avx2")) GTEST_SKIP () << "no AVX2";
    std::mt19937 rng (7);
    std::vector<guint32> num, den;
    const auto add = [&] (guint32 d, int step) {
        for (guint32 q = 0; q <= 256; q += step)
            for (const guint32 r : {0u, d - 1}) num.push_back (d * q + r), den.push_back (d);
    };
    for (guint32 d = 1; d < (1u << 16); d++) add (d, 51);
    for (int bits = 16; bits < 25; bits++)
        for (int k = 0; k < 300; k++) add ((1u << bits) | (rng () & ((1u << bits) - 1)), 1);
    for (const guint32 d : {0xff00u, 0xff0000u, (1u << 25) - 1}) add (d, 1);
    std::vector<guint32> q (num.size ());
    kernels::bounded_quotients_avx2 (num.data (), den.data (), q.data (), num.size ());
    for (size_t k = 0; k < num.size (); k++) ASSERT_EQ (q[k], num[k] / den[k]) << num[k] << " / " << den[k];
}
#endif

}  // namespace
