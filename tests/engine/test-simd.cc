// Every kernel table against the scalar one, byte for byte: the run kernels over all their inputs,
// the 2 x 2 RGB kernel on random weight blocks and rows, and whole requests with each table
// forced in turn.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
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

// A random 2 x 2 weight block: mostly bilinear-like non-negative weights summing to at most
// 65536, sometimes arbitrary ones, including magnitudes the vector kernels must hand back.
std::vector<int> random_block (std::mt19937 &rng)
{
    std::vector<int> w (16 * 4);
    const int kind = int (rng () % 4);
    for (int p = 0; p < 16; p++) {
        int rest = 65536;
        for (int k = 0; k < 4; k++) {
            int v;
            if (kind == 0) v = k == 3 ? rest : int (rng () % unsigned (rest + 1));
            else if (kind == 1) v = int (rng () % (1u << 24)) - (1 << 23);
            else if (kind == 2) v = int (rng ());
            else v = (p + k) % 4 == 0 ? 65536 : 0;
            rest -= kind == 0 ? v : 0;
            w[size_t (p * 4 + k)] = v;
        }
    }
    return w;
}

// The 2 x 2 line kernels that have vector variants: the scaling one from RGB to RGB and the
// compositing one from RGBA over RGBA.
struct LineKernel {
    const char *name;
    PixopsLineFunc PixopsKernelTable::*line;
    int channels;  // source and destination alike
    bool alpha;
};
constexpr LineKernel kLineKernels[] = {
    {"scale_line_22_33", &PixopsKernelTable::scale_line_22_33, 3, false},
    {"composite_line_22_4a4a", &PixopsKernelTable::composite_line_22_4a4a, 4, true},
};

TEST (LineKernels22, EveryTableMatchesTheScalarOneOnRandomRows)
{
    std::mt19937 rng (20261206);
    for (const LineKernel &k : kLineKernels)
        for (int round = 0; round < 4000; round++) {
            const std::vector<int> w = random_block (rng);
            const int src_width = 2 + int (rng () % 40);
            // Every other round only 0 and 255, so that transparent sums and empty destinations
            // (a zero compositing weight) occur too.
            const bool extremes = round % 2 == 1;
            const auto byte = [&] { return guchar (extremes ? (rng () & 1) * 255 : rng ()); };
            std::vector<guchar> row0 (size_t (src_width) * size_t (k.channels)),
                row1 (row0.size ());
            for (auto &b : row0) b = byte ();
            for (auto &b : row1) b = byte ();
            const guchar *src[2] = {row0.data (), row1.data ()};
            // Every pixel's two columns lie inside the row, as the driver guarantees.
            const std::int64_t x_step = 4096 + std::int64_t (rng () % (3 * 65536));
            const std::int64_t x0 = std::int64_t (rng () % 65536);
            const std::int64_t last = (std::int64_t (src_width - 1) << 16) - 1;
            const int pixels = last < x0 ? 0 : int ((last - x0) / x_step) + 1;
            const int run_bytes = pixels * k.channels;
            std::vector<guchar> expected (size_t (run_bytes) + 8);  // guard bytes past the run
            for (auto &b : expected) b = byte ();
            const auto run = [&] (PixopsLineFunc f, guchar *dest) {
                return f (w.data (), 2, 2, dest, 0, dest + run_bytes, k.channels, k.alpha, src,
                          k.channels, k.alpha, x0, x_step, src_width, 0, 0, 0) -
                       dest;
            };
            const std::vector<guchar> start = expected;
            const auto written = run (scalar ().*k.line, expected.data ());
            for (const PixopsKernelTable *t : vector_tables ()) {
                std::vector<guchar> actual = start;
                ASSERT_EQ (run (t->*k.line, actual.data ()), written) << t->name;
                ASSERT_EQ (first_difference (expected, actual), -1)
                    << k.name << " " << t->name << " round " << round;
            }
        }
}

#if defined(__x86_64__)
// The vector division against the integer one: near every multiple of the divisor (where a
// rounded quotient could cross an integer) for divisors of every magnitude, and at random.
TEST (VectorDivision, TruncatedDoubleQuotientIsTheIntegerQuotient)
{
    if (!__builtin_cpu_supports ("avx2")) GTEST_SKIP () << "no AVX2";
    std::mt19937 rng (99);
    std::vector<guint32> num, den;
    for (int bits = 0; bits < 32; bits++)
        for (int k = 0; k < 20000; k++) {
            const std::uint64_t top = std::uint64_t (1) << bits;
            const guint32 d = guint32 (top | (rng () & (top - 1)));
            const std::uint64_t multiple = std::uint64_t (d) * (rng () % (0xffffffffull / d + 1));
            for (int delta = -1; delta <= 1; delta++) {
                const std::uint64_t n = multiple + std::uint64_t (delta);
                if (n <= 0xffffffffu) num.push_back (guint32 (n)), den.push_back (d);
            }
            num.push_back (guint32 (rng ()));
            den.push_back (std::max<guint32> (1, guint32 (rng ()) >> (rng () % 32)));
        }
    for (const guint32 extreme : {0xffffffffu, 0xfffffffeu, 0x80000000u, 0x7fffffffu, 1u})
        for (const guint32 d : {1u, 2u, 3u, 255u, 0xff00u, 0x7fffffffu, 0xffffffffu})
            num.push_back (extreme), den.push_back (d);
    std::vector<guint32> q (num.size ());
    kernels::quotients_avx2 (num.data (), den.data (), q.data (), num.size ());
    for (size_t k = 0; k < num.size (); k++)
        ASSERT_EQ (q[k], num[k] / den[k]) << num[k] << " / " << den[k];
}
#endif

// Whole requests through the engine with each table forced, against the scalar table: enlarging
// RGB (the 2 x 2 kernel) and RGBA over each destination layout at unit and other steps (the
// compositing kernels and the run kernels).
TEST (KernelTables, ForcedTablesGiveTheScalarBytes)
{
    std::mt19937 rng (7);
    const auto uniform = [&] (int lo, int hi) {
        return lo + int (rng () % unsigned (hi - lo + 1));
    };
    const double scales[] = {1.0, 2.0, 1.5, 3.0, 0.5};
    for (int round = 0; round < 900; round++) {
        const bool composite = round % 2 == 1;
        const int src_ch = composite ? 4 : 3, src_w = uniform (1, 70), src_h = uniform (1, 6);
        const int src_stride = src_w * src_ch + uniform (0, 3);
        std::vector<guchar> src (size_t (src_stride) * src_h);
        for (auto &b : src) b = guchar (rng ());
        // Compositing often at scale 1, where the run kernels take over.
        const auto scale = [&] {
            return composite && uniform (0, 1) ? 1.0 : scales[uniform (0, 4)];
        };
        const double sx = scale (), sy = scale ();
        const int x0 = uniform (-4, 8), x1 = x0 + uniform (0, int (src_w * sx) + 8);
        const int y0 = uniform (-2, 2), y1 = y0 + uniform (0, 8);
        const int interp = uniform (0, 3), alpha = uniform (0, 1) ? 255 : uniform (0, 255);
        // Compositing rounds go over RGB, RGB with a fourth byte, and RGBA in turn.
        const int dest_ch = composite && round % 3 != 0 ? 4 : 3;
        const bool dest_alpha = composite && round % 3 == 2;
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
                pixops_scale (dest.data (), x0, y0, x1, y1, stride, 3, false, src.data (), src_w,
                              src_h, src_stride, 3, false, sx, sy, PixopsInterpType (interp));
            return dest;
        };
        const std::vector<guchar> expected = run (&scalar ());
        for (const PixopsKernelTable *t : vector_tables ())
            ASSERT_EQ (first_difference (run (t), expected), -1) << t->name << " round " << round;
    }
}

}  // namespace
