// SPDX-License-Identifier: LGPL-2.1-or-later
// Every kernel table against the scalar one, byte for byte: the run kernels over all their inputs,
// the 2 x 2 RGB kernel on random weight blocks and rows, and whole requests with each table
// forced in turn.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "pixops/pixops-kernels.h"
#include "pixops/pixops-simd.h"

namespace {

using namespace tamba::detail;

const PixopsKernelTable &scalar () { return *kernel_table_at (0); }

// The vector tables this CPU can run (none on other architectures).
std::vector<const PixopsKernelTable *> vector_tables ()
{
    std::vector<const PixopsKernelTable *> tables;
    for (int i = 1; i < kernel_table_count (); i++)
        if (const PixopsKernelTable *t = kernel_table_at (i)) tables.push_back (t);
    return tables;
}

// The first index where two buffers differ, or -1 (a full dump of megabytes helps no one).
long first_difference (const std::vector<guchar> &a, const std::vector<guchar> &b)
{
    if (a.size () != b.size ()) return 0;
    for (size_t k = 0; k < a.size (); k++)
        if (a[k] != b[k]) return long (k);
    return -1;
}

// Forces a table for one scope.
struct Forced {
    explicit Forced (const PixopsKernelTable *t) { force_kernel_table (t); }
    ~Forced () { force_kernel_table (nullptr); }
};

// The truncated and shifted blends are what the compositing kernels give for one tap of weight
// 65536 over a 3- and a 4-byte destination.
TEST (RunKernels, BlendsAreTheSingleTapComposites)
{
    std::vector<int> weights (16 * 4, 0);
    for (int p = 0; p < 16; p++) weights[size_t (p) * 4] = 65536;
    for (guint a = 0; a < 256; a++)
        for (guint p = 0; p < 256; p++) {
            const guchar px[8] = {guchar (p), 0, 0, guchar (a), 0, 0, 0, 0};
            const guchar *rows[2] = {px, px};
            for (guint d = 0; d < 256; d++) {
                guchar composite[3] = {guchar (d), 0, 0};
                kernels::write_composite (composite, false,
                                          {65536 * a * p, 0, 0, 65536 * a});
                ASSERT_EQ (composite[0], kernels::blend_truncated (a, p, d)) << a << " " << p;
                guchar over4[4] = {guchar (d), 0, 0, guchar (d)};
                composite_line_22_4a4 (weights.data (), 2, 2, over4, 0, over4 + 4, 4, false, rows,
                                       4, true, 0, 65536, 2, 0, 0, 0);
                ASSERT_EQ (over4[0], kernels::blend_shifted (a, p, d)) << a << " " << p;
                ASSERT_EQ (over4[3], a);
            }
        }
}

// Each run kernel of every table against the scalar one over all 2^24 (alpha, colour,
// destination) triples, each in every channel and lane position.
struct RunKernel {
    const char *name;
    PixopsRunFunc PixopsKernelTable::*run;
    int dest_channels;
};
constexpr RunKernel kRunKernels[] = {
    {"over_rgb_rounded", &PixopsKernelTable::over_rgb_rounded, 3},
    {"over_rgb_truncated", &PixopsKernelTable::over_rgb_truncated, 3},
    {"over_rgbx_rounded", &PixopsKernelTable::over_rgbx_rounded, 4},
    {"over_rgbx_shifted", &PixopsKernelTable::over_rgbx_shifted, 4},
};

TEST (RunKernels, EveryTableMatchesTheScalarOneOnAllInputs)
{
    constexpr int kPixels = 65536 + 3;  // a tail the vector loops leave to the scalar code
    std::vector<guchar> src (kPixels * 4);
    for (int i = 0; i < kPixels; i++) {
        const int a = (i >> 8) & 255, p = i & 255;
        const guchar px[4] = {guchar (p), guchar (255 - p), guchar (p ^ 0x5a), guchar (a)};
        std::copy (px, px + 4, &src[size_t (i) * 4]);
    }
    for (const PixopsKernelTable *t : vector_tables ())
        for (const RunKernel &k : kRunKernels)
            for (int d = 0; d < 256; d++) {
                std::vector<guchar> expected (size_t (kPixels) * size_t (k.dest_channels),
                                              guchar (d)),
                    actual = expected;
                (scalar ().*k.run) (expected.data (), src.data (), kPixels);
                (t->*k.run) (actual.data (), src.data (), kPixels);
                ASSERT_EQ (first_difference (expected, actual), -1)
                    << t->name << " " << k.name << " destination " << d;
            }
}

// A random weight block of 16 phases of n weights: mostly bilinear-like non-negative weights
// summing to at most 65536, sometimes arbitrary ones, including magnitudes the vector kernels
// must hand back.
std::vector<int> random_block (std::mt19937 &rng, int n)
{
    std::vector<int> w (size_t (16 * n));
    const int kind = int (rng () % 4);
    for (int p = 0; p < 16; p++) {
        int rest = 65536;
        for (int k = 0; k < n; k++) {
            int v;
            if (kind == 0) v = k == n - 1 ? rest : int (rng () % unsigned (rest + 1));
            else if (kind == 1) v = int (rng () % (1u << 24)) - (1 << 23);
            else if (kind == 2) v = int (rng ());
            else v = (p + k) % n == 0 ? 65536 : 0;
            rest -= kind == 0 ? v : 0;
            w[size_t (p * n + k)] = v;
        }
    }
    return w;
}

// The line kernels that have vector variants, and what they get: the 2 x 2 scaling one from RGB
// to RGB, the 2 x 2 compositing one from RGBA over RGBA, and scaling an opaque source with a
// filter of any size (taps 0: random n_x and n_y) onto each destination layout, and RGBA.
struct LineKernel {
    const char *name;
    PixopsLineFunc (*of) (const PixopsKernelTable &);
    int src_channels, dest_channels;
    bool src_alpha, dest_alpha;
    int taps;
};

template <int Src, int Dest, bool DestAlpha>
PixopsLineFunc opaque_of (const PixopsKernelTable &t)
{
    return t.scale_line_opaque ? t.scale_line_opaque[Src - 3][Dest == 3 ? 0 : DestAlpha ? 2 : 1]
                               : scale_line_for (Dest, DestAlpha, Src, false);
}

PixopsLineFunc alpha_scale_of (const PixopsKernelTable &t)
{
    return t.scale_line_4a4a ? t.scale_line_4a4a : scale_line_for (4, true, 4, true);
}

constexpr LineKernel kLineKernels[] = {
    {"scale_line_22_33", [] (const PixopsKernelTable &t) { return t.scale_line_22_33; }, 3, 3,
     false, false, 2},
    {"composite_line_22_4a4a",
     [] (const PixopsKernelTable &t) { return t.composite_line_22_4a4a; }, 4, 4, true, true, 2},
    {"scale 3 -> 3", opaque_of<3, 3, false>, 3, 3, false, false, 0},
    {"scale 3 -> 4", opaque_of<3, 4, false>, 3, 4, false, false, 0},
    {"scale 3 -> 4a", opaque_of<3, 4, true>, 3, 4, false, true, 0},
    {"scale 4 -> 3", opaque_of<4, 3, false>, 4, 3, false, false, 0},
    {"scale 4 -> 4", opaque_of<4, 4, false>, 4, 4, false, false, 0},
    {"scale 4 -> 4a", opaque_of<4, 4, true>, 4, 4, false, true, 0},
    {"scale 4a -> 4a", alpha_scale_of, 4, 4, true, true, 0},
};

TEST (LineKernels, EveryTableMatchesTheScalarOneOnRandomRows)
{
    std::mt19937 rng (20261206);
    for (const LineKernel &k : kLineKernels)
        for (int round = 0; round < 3000; round++) {
            const int n_x = k.taps ? k.taps : 1 + int (rng () % 12);
            const int n_y = k.taps ? k.taps : 1 + int (rng () % 5);
            const std::vector<int> w = random_block (rng, n_x * n_y);
            const int src_width = n_x + 1 + int (rng () % 60);
            // Every other round only 0 and 255, so that transparent sums and empty destinations
            // (a zero compositing weight) occur too.
            const bool extremes = round % 2 == 1;
            const auto byte = [&] { return guchar (extremes ? (rng () & 1) * 255 : rng ()); };
            // Rows of exactly their width, so that the sanitizer sees any read past one.
            std::vector<std::vector<guchar>> rows (static_cast<size_t> (n_y));
            std::vector<const guchar *> src;
            for (auto &row : rows) {
                row.resize (size_t (src_width) * size_t (k.src_channels));
                for (auto &b : row) b = byte ();
                src.push_back (row.data ());
            }
            // Every pixel's n_x columns lie inside the row, as the driver guarantees.
            const std::int64_t x_step = 4096 + std::int64_t (rng () % (3 * 65536));
            const std::int64_t x0 = std::int64_t (rng () % 65536);
            const std::int64_t last = (std::int64_t (src_width - n_x + 1) << 16) - 1;
            const int pixels = last < x0 ? 0 : int ((last - x0) / x_step) + 1;
            const int run_bytes = pixels * k.dest_channels;
            std::vector<guchar> expected (size_t (run_bytes) + 8);  // guard bytes past the run
            for (auto &b : expected) b = byte ();
            const auto run = [&] (PixopsLineFunc f, guchar *dest) {
                return f (w.data (), n_x, n_y, dest, 0, dest + run_bytes, k.dest_channels,
                          k.dest_alpha, src.data (), k.src_channels, k.src_alpha, x0, x_step,
                          src_width, 0, 0, 0) -
                       dest;
            };
            const std::vector<guchar> start = expected;
            const auto written = run (k.of (scalar ()), expected.data ());
            for (const PixopsKernelTable *t : vector_tables ()) {
                std::vector<guchar> actual = start;
                ASSERT_EQ (run (k.of (*t), actual.data ()), written) << t->name;
                ASSERT_EQ (first_difference (expected, actual), -1)
                    << k.name << " " << t->name << " round " << round << " taps " << n_x << "x"
                    << n_y;
            }
        }
}

#if defined(__x86_64__)
// The vector division against the integer one: near every multiple of the divisor (where a
// rounded quotient could cross an integer) for divisors of every magnitude, with quotients of
// every size (small ones take the single-precision path, large ones the double one), and at
// random.
TEST (VectorDivision, TruncatedQuotientsAreTheIntegerQuotients)
{
    if (!__builtin_cpu_supports ("avx2")) GTEST_SKIP () << "no AVX2";
    std::mt19937 rng (99);
    std::vector<guint32> num, den;
    for (int bits = 0; bits < 32; bits++)
        for (int k = 0; k < 20000; k++) {
            const std::uint64_t top = std::uint64_t (1) << bits;
            const guint32 d = guint32 (top | (rng () & (top - 1)));
            const std::uint64_t most = 0xffffffffull / d + 1;
            const std::uint64_t factor =
                rng () % (k % 2 ? most : std::min<std::uint64_t> (most, 1 << 20));
            for (int delta = -1; delta <= 1; delta++) {
                const std::uint64_t n = std::uint64_t (d) * factor + std::uint64_t (delta);
                if (n <= 0xffffffffu) num.push_back (guint32 (n)), den.push_back (d);
            }
            num.push_back (guint32 (rng ()));
            den.push_back (std::max<guint32> (1, guint32 (rng ()) >> (rng () % 32)));
        }
    for (const guint32 extreme : {0xffffffffu, 0xfffffffeu, 0x80000000u, 0x7fffffffu, 1u})
        for (const guint32 d : {1u, 2u, 3u, 255u, 0xff00u, 0x7fffffffu, 0xffffffffu})
            num.push_back (extreme), den.push_back (d);
    // Eight lanes divide together and one large quotient sends all eight to the double path:
    // group the small ones so that the single-precision path sees them.
    std::vector<std::pair<guint32, guint32>> cases;
    for (size_t k = 0; k < num.size (); k++) cases.emplace_back (num[k], den[k]);
    std::stable_partition (cases.begin (), cases.end (), [] (const auto &c) {
        return c.second < (1u << 30) && c.first / c.second < (1u << 18);
    });
    for (size_t k = 0; k < cases.size (); k++) std::tie (num[k], den[k]) = cases[k];
    std::vector<guint32> q (num.size ());
    kernels::quotients_avx2 (num.data (), den.data (), q.data (), num.size ());
    for (size_t k = 0; k < num.size (); k++)
        ASSERT_EQ (q[k], num[k] / den[k]) << num[k] << " / " << den[k];
}
#endif

// Whole requests through the engine with each table forced, against the scalar table: scaling
// opaque sources and RGBA, compositing RGBA onto each destination layout, at several steps.
TEST (KernelTables, ForcedTablesGiveTheScalarBytes)
{
    std::mt19937 rng (7);
    const auto uniform = [&] (int lo, int hi) {
        return lo + int (rng () % unsigned (hi - lo + 1));
    };
    const double scales[] = {1.0, 2.0, 1.5, 3.0, 0.5, 0.2};
    for (int round = 0; round < 900; round++) {
        const bool composite = round % 2 == 1;
        // Scaling rounds take a source of 3 or 4 bytes a pixel, and some RGBA.
        const bool src_alpha = composite || round % 4 == 0;
        const int src_ch = src_alpha || round % 4 == 2 ? 4 : 3;
        const int src_w = uniform (1, 70), src_h = uniform (1, 6);
        const int src_stride = src_w * src_ch + uniform (0, 3);
        std::vector<guchar> src (size_t (src_stride) * src_h);
        for (auto &b : src) b = guchar (rng ());
        // Compositing often at scale 1, where the run kernels take over.
        const auto scale = [&] {
            return composite && uniform (0, 1) ? 1.0 : scales[uniform (0, 5)];
        };
        const double sx = scale (), sy = scale ();
        const int x0 = uniform (-4, 8), x1 = x0 + uniform (0, int (src_w * sx) + 8);
        const int y0 = uniform (-2, 2), y1 = y0 + uniform (0, 8);
        const int interp = uniform (0, 3), alpha = uniform (0, 1) ? 255 : uniform (0, 255);
        // Each operation writes RGB, RGB with a fourth byte, and RGBA in turn.
        const bool dest_alpha = round % 3 == 2 || (!composite && src_alpha);
        const int dest_ch = round % 3 != 0 || dest_alpha ? 4 : 3;
        const int stride = (x1 - x0) * dest_ch + uniform (0, 3);
        std::vector<guchar> start (size_t (stride) * size_t (y1 - y0) + 1);
        for (auto &b : start) b = guchar (rng ());
        const auto run = [&] (const PixopsKernelTable *t) {
            Forced forced (t);
            std::vector<guchar> dest = start;
            if (composite)
                pixops_composite (dest.data (), x0, y0, x1, y1, stride, dest_ch, dest_alpha,
                                  src.data (),
                                  src_w, src_h, src_stride, 4, true, sx, sy,
                                  PixopsInterpType (interp), alpha);
            else
                pixops_scale (dest.data (), x0, y0, x1, y1, stride, dest_ch, dest_alpha,
                              src.data (), src_w, src_h, src_stride, src_ch, src_alpha, sx, sy,
                              PixopsInterpType (interp));
            return dest;
        };
        const std::vector<guchar> expected = run (&scalar ());
        for (const PixopsKernelTable *t : vector_tables ())
            ASSERT_EQ (first_difference (run (t), expected), -1) << t->name << " round " << round;
    }
}

}  // namespace
