// Every kernel table against the scalar one, byte for byte: the run kernels over all their inputs,
// the 2 x 2 RGB kernel on random weight blocks and rows, and whole requests with each table
// forced in turn.
#include <gtest/gtest.h>

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

// The truncated blend is what the compositing arithmetic gives for one tap of weight 65536.
TEST (RunKernels, TruncatedBlendIsTheSingleTapComposite)
{
    for (guint a = 0; a < 256; a++)
        for (guint p = 0; p < 256; p++)
            for (guint d = 0; d < 256; d++) {
                guchar composite[3] = {guchar (d), 0, 0};
                kernels::write_composite (composite, false,
                                          {65536 * a * p, 0, 0, 65536 * a});
                ASSERT_EQ (composite[0], kernels::blend_truncated (a, p, d)) << a << " " << p;
            }
}

// All 2^24 (alpha, colour, destination) triples, each in every channel and lane position.
TEST (RunKernels, EveryTableMatchesTheScalarOneOnAllInputs)
{
    constexpr int kPixels = 65536 + 3;  // a tail the vector loops leave to the scalar code
    std::vector<guchar> src (kPixels * 4);
    for (int i = 0; i < kPixels; i++) {
        const int a = (i >> 8) & 255, p = i & 255;
        const guchar px[4] = {guchar (p), guchar (255 - p), guchar (p ^ 0x5a), guchar (a)};
        std::copy (px, px + 4, &src[size_t (i) * 4]);
    }
    for (const PixopsKernelTable *t : vector_tables ()) {
        const PixopsRunFunc pairs[2][2] = {{scalar ().over_rgb_rounded, t->over_rgb_rounded},
                                           {scalar ().over_rgb_truncated, t->over_rgb_truncated}};
        for (const auto &pair : pairs)
            for (int d = 0; d < 256; d++) {
                std::vector<guchar> expected (kPixels * 3, guchar (d)), actual = expected;
                pair[0] (expected.data (), src.data (), kPixels);
                pair[1] (actual.data (), src.data (), kPixels);
                ASSERT_EQ (first_difference (expected, actual), -1)
                    << t->name << " destination " << d;
            }
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

TEST (ScaleKernel22, EveryTableMatchesTheScalarOneOnRandomRows)
{
    std::mt19937 rng (20261206);
    for (int round = 0; round < 4000; round++) {
        const std::vector<int> w = random_block (rng);
        const int src_width = 2 + int (rng () % 40);
        std::vector<guchar> row0 (size_t (src_width) * 3), row1 (row0.size ());
        for (auto &b : row0) b = guchar (rng ());
        for (auto &b : row1) b = guchar (rng ());
        const guchar *src[2] = {row0.data (), row1.data ()};
        // Every pixel's two columns lie inside the row, as the driver guarantees.
        const std::int64_t x_step = 4096 + std::int64_t (rng () % (3 * 65536));
        const std::int64_t x0 = std::int64_t (rng () % 65536);
        const std::int64_t last = (std::int64_t (src_width - 1) << 16) - 1;
        const int pixels = last < x0 ? 0 : int ((last - x0) / x_step) + 1;
        const int dest_bytes = pixels * 3 + 8;  // guard bytes past the run
        std::vector<guchar> expected (static_cast<size_t> (dest_bytes));
        for (auto &b : expected) b = guchar (rng ());
        const auto run = [&] (PixopsLineFunc f, guchar *dest) {
            return f (w.data (), 2, 2, dest, 0, dest + pixels * 3, 3, false, src, 3, false, x0,
                      x_step, src_width, 0, 0, 0) -
                   dest;
        };
        std::vector<guchar> start = expected;
        const auto written = run (scalar ().scale_line_22_33, expected.data ());
        for (const PixopsKernelTable *t : vector_tables ()) {
            std::vector<guchar> actual = start;
            ASSERT_EQ (run (t->scale_line_22_33, actual.data ()), written) << t->name;
            ASSERT_EQ (first_difference (expected, actual), -1) << t->name << " round " << round;
        }
    }
}

// Whole requests through the engine with each table forced, against the scalar table: enlarging
// RGB (the 2 x 2 kernel) and RGBA over RGB at unit and other steps (the run kernels).
TEST (KernelTables, ForcedTablesGiveTheScalarBytes)
{
    std::mt19937 rng (7);
    const auto uniform = [&] (int lo, int hi) {
        return lo + int (rng () % unsigned (hi - lo + 1));
    };
    const double scales[] = {1.0, 2.0, 1.5, 3.0, 0.5};
    for (int round = 0; round < 600; round++) {
        const bool composite = round % 2 == 1;
        const int src_ch = composite ? 4 : 3, src_w = uniform (1, 70), src_h = uniform (1, 6);
        const int src_stride = src_w * src_ch + uniform (0, 3);
        std::vector<guchar> src (size_t (src_stride) * src_h);
        for (auto &b : src) b = guchar (rng ());
        const double sx = scales[uniform (0, 4)], sy = scales[uniform (0, 4)];
        const int x0 = uniform (-4, 8), x1 = x0 + uniform (0, int (src_w * sx) + 8);
        const int y0 = uniform (-2, 2), y1 = y0 + uniform (0, 8);
        const int interp = uniform (0, 3), alpha = uniform (0, 1) ? 255 : uniform (0, 255);
        const int stride = (x1 - x0) * 3 + uniform (0, 3);
        std::vector<guchar> start (size_t (stride) * size_t (y1 - y0) + 1);
        for (auto &b : start) b = guchar (rng ());
        const auto run = [&] (const PixopsKernelTable *t) {
            Forced forced (t);
            std::vector<guchar> dest = start;
            if (composite)
                pixops_composite (dest.data (), x0, y0, x1, y1, stride, 3, false, src.data (),
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
