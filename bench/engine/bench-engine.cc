// SPDX-License-Identifier: LGPL-2.1-or-later
// Engine workloads W1..W8 and W10, each run by tamba and, in the same process (Pillow in a
// child script), by the peers that have a comparable operation. Reports destination megapixels
// per second and, at the end, a table with the ratio of tamba's rate to the fastest peer's.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "pixops/pixops.h"

#ifdef TAMBA_BENCH_PIXMAN
#include <pixman.h>
#endif
#ifdef TAMBA_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

// A packed buffer with 4-byte aligned rows, filled with noise (alpha too, where there is one).
struct Buffer {
    int width, height, channels, stride;
    std::vector<guchar> bytes;
    Buffer (int w, int h, int ch) : width (w), height (h), channels (ch), stride ((w * ch + 3) & ~3)
    {
        bytes.resize (size_t (stride) * h);
        std::mt19937 rng (w * 131 + h);
        for (auto &b : bytes) b = guchar (rng ());
    }
    guchar *data () { return bytes.data (); }
};

void set_rate (benchmark::State &state, const Buffer &dest)
{
    state.counters["MP/s"] = benchmark::Counter (double (dest.width) * dest.height / 1e6 *
                                                     double (state.iterations ()),
                                                 benchmark::Counter::kIsRate);
}

struct Work {
    int src_w, src_h, src_ch, dest_w, dest_h, dest_ch;
    PixopsInterpType interp;
    bool composite;
    bool opaque_dest = false;  // a 4-byte destination without alpha
};

bool dest_alpha (const Work &w) { return w.dest_ch == 4 && !w.opaque_dest; }

void tamba_run (benchmark::State &state, Work w)
{
    Buffer src (w.src_w, w.src_h, w.src_ch), dest (w.dest_w, w.dest_h, w.dest_ch);
    const double sx = double (w.dest_w) / w.src_w, sy = double (w.dest_h) / w.src_h;
    for (auto _ : state) {
        if (w.composite)
            pixops_composite (dest.data (), 0, 0, w.dest_w, w.dest_h, dest.stride, w.dest_ch,
                              dest_alpha (w), src.data (), w.src_w, w.src_h, src.stride,
                              w.src_ch, w.src_ch == 4, sx, sy, w.interp, 255);
        else
            pixops_scale (dest.data (), 0, 0, w.dest_w, w.dest_h, dest.stride, w.dest_ch,
                          dest_alpha (w), src.data (), w.src_w, w.src_h, src.stride, w.src_ch,
                          w.src_ch == 4, sx, sy, w.interp);
        benchmark::ClobberMemory ();
    }
    set_rate (state, dest);
}

void memcpy_run (benchmark::State &state, int w, int h)
{
    Buffer src (w, h, 4), dest (w, h, 4);
    for (auto _ : state) {
        std::memcpy (dest.data (), src.data (), src.bytes.size ());
        benchmark::ClobberMemory ();
    }
    set_rate (state, dest);
}

#ifdef TAMBA_BENCH_PIXMAN
enum class PixmanFilter { kNearest, kBilinear, kBox, kCubic };

// RGB buffers are given to pixman as x8r8g8b8, its native opaque format (it has no fast 24-bit
// paths); the alpha ones as premultiplied a8r8g8b8.
void pixman_run (benchmark::State &state, Work w, PixmanFilter filter)
{
    Buffer src (w.src_w, w.src_h, 4), dest (w.dest_w, w.dest_h, 4);
    const auto format = [] (bool alpha) { return alpha ? PIXMAN_a8r8g8b8 : PIXMAN_x8r8g8b8; };
    pixman_image_t *s = pixman_image_create_bits (format (w.src_ch == 4), w.src_w, w.src_h,
                                                  reinterpret_cast<uint32_t *> (src.data ()),
                                                  src.stride);
    pixman_image_t *d = pixman_image_create_bits (format (dest_alpha (w)), w.dest_w, w.dest_h,
                                                  reinterpret_cast<uint32_t *> (dest.data ()),
                                                  dest.stride);
    const double rx = double (w.src_w) / w.dest_w, ry = double (w.src_h) / w.dest_h;
    pixman_transform_t t;
    pixman_transform_init_scale (&t, pixman_double_to_fixed (rx), pixman_double_to_fixed (ry));
    pixman_image_set_transform (s, &t);
    pixman_image_set_repeat (s, PIXMAN_REPEAT_PAD);
    if (filter == PixmanFilter::kBox || filter == PixmanFilter::kCubic) {
        int n = 0;
        const bool box = filter == PixmanFilter::kBox;
        pixman_fixed_t *params = pixman_filter_create_separable_convolution (
            &n, pixman_double_to_fixed (box ? rx : 1.0), pixman_double_to_fixed (box ? ry : 1.0),
            box ? PIXMAN_KERNEL_BOX : PIXMAN_KERNEL_CUBIC,
            box ? PIXMAN_KERNEL_BOX : PIXMAN_KERNEL_CUBIC, PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX,
            4, 4);
        pixman_image_set_filter (s, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params, n);
        free (params);
    } else {
        pixman_image_set_filter (s, filter == PixmanFilter::kNearest ? PIXMAN_FILTER_NEAREST
                                                                     : PIXMAN_FILTER_BILINEAR,
                                 nullptr, 0);
    }
    const pixman_op_t op = w.composite ? PIXMAN_OP_OVER : PIXMAN_OP_SRC;
    for (auto _ : state) {
        pixman_image_composite32 (op, s, nullptr, d, 0, 0, 0, 0, 0, 0, w.dest_w, w.dest_h);
        benchmark::ClobberMemory ();
    }
    pixman_image_unref (s);
    pixman_image_unref (d);
    set_rate (state, dest);
}
#endif

#ifdef TAMBA_BENCH_OPENCV
void opencv_run (benchmark::State &state, Work w, int interpolation)
{
    cv::setNumThreads (1);
    Buffer src (w.src_w, w.src_h, w.src_ch), dest (w.dest_w, w.dest_h, w.dest_ch);
    const cv::Mat s (w.src_h, w.src_w, CV_8UC (w.src_ch), src.data (), size_t (src.stride));
    cv::Mat d (w.dest_h, w.dest_w, CV_8UC (w.dest_ch), dest.data (), size_t (dest.stride));
    for (auto _ : state) {
        cv::resize (s, d, d.size (), 0, 0, interpolation);
        benchmark::ClobberMemory ();
    }
    set_rate (state, dest);
}
#endif

#ifdef TAMBA_BENCH_PILLOW
// Pillow's Image.reduce through bench-pillow.py, which times its own runs and prints the median
// rate; one call per repetition.
void pillow_run (benchmark::State &state, Work w)
{
    const std::string command = std::string (TAMBA_BENCH_PYTHON " " TAMBA_BENCH_PILLOW_SCRIPT) +
                                (w.src_ch == 4 ? " RGBA " : " RGB ") +
                                std::to_string (w.src_w) + " " + std::to_string (w.src_h) + " " +
                                std::to_string (w.src_w / w.dest_w);
    double rate = 0;
    for (auto _ : state) {
        FILE *out = popen (command.c_str (), "r");
        if (!out || std::fscanf (out, "%lf", &rate) != 1) rate = 0;
        if (out) pclose (out);
    }
    if (rate <= 0) state.SkipWithError ("bench-pillow.py gave no rate");
    state.counters["MP/s"] = rate;
}
#endif

const Work kW1{1920, 1080, 3, 3840, 2160, 3, PIXOPS_INTERP_BILINEAR, false};
const Work kW2{3840, 2160, 4, 960, 540, 4, PIXOPS_INTERP_TILES, false};
const Work kW3t{4000, 3000, 3, 400, 300, 3, PIXOPS_INTERP_TILES, false};
const Work kW3b{4000, 3000, 3, 400, 300, 3, PIXOPS_INTERP_BILINEAR, false};
const Work kW4{1920, 1080, 4, 3840, 2160, 4, PIXOPS_INTERP_NEAREST, false};
const Work kW5n{1920, 1080, 4, 1920, 1080, 3, PIXOPS_INTERP_NEAREST, true};
const Work kW5b{1920, 1080, 4, 1920, 1080, 3, PIXOPS_INTERP_BILINEAR, true};
const Work kW5n4{1920, 1080, 4, 1920, 1080, 4, PIXOPS_INTERP_NEAREST, true, true};
const Work kW5b4{1920, 1080, 4, 1920, 1080, 4, PIXOPS_INTERP_BILINEAR, true, true};
const Work kW6{960, 540, 4, 1920, 1080, 4, PIXOPS_INTERP_BILINEAR, true};
const Work kW7{1280, 720, 3, 1920, 1080, 3, PIXOPS_INTERP_HYPER, false};
const Work kW8{3840, 2160, 4, 3840, 2160, 4, PIXOPS_INTERP_NEAREST, false};
// Icon-sized RGBA scalings, one call per iteration, where building the filter weighs most.
const Work kW10h{48, 48, 4, 16, 16, 4, PIXOPS_INTERP_HYPER, false};
const Work kW10b{16, 16, 4, 64, 64, 4, PIXOPS_INTERP_BILINEAR, false};

void register_all ()
{
    const auto add = [] (const std::string &name, auto fn) {
        benchmark::RegisterBenchmark (name.c_str (), fn)->Unit (benchmark::kMillisecond);
    };
    struct Entry {
        const char *name;
        Work work;
    };
    const Entry tamba_entries[] = {{"W1_enlarge2x_rgb_bilinear", kW1},
                                   {"W2_reduce4x_rgba_tiles", kW2},
                                   {"W3_reduce10x_rgb_tiles", kW3t},
                                   {"W3_reduce10x_rgb_bilinear", kW3b},
                                   {"W4_enlarge2x_rgba_nearest", kW4},
                                   {"W5_over_rgb_1x_nearest", kW5n},
                                   {"W5_over_rgb_1x_bilinear", kW5b},
                                   {"W5_over_rgbx_1x_nearest", kW5n4},
                                   {"W5_over_rgbx_1x_bilinear", kW5b4},
                                   {"W6_over_rgba_2x_bilinear", kW6},
                                   {"W7_enlarge1.5x_rgb_hyper", kW7},
                                   {"W8_rgba_1x_nearest", kW8},
                                   {"W10_icon_48to16_rgba_hyper", kW10h},
                                   {"W10_icon_16to64_rgba_bilinear", kW10b}};
    for (const Entry &e : tamba_entries) {
        const Work w = e.work;
        add (std::string (e.name) + "/tamba", [w] (benchmark::State &s) { tamba_run (s, w); });
    }
    add ("W8_rgba_1x_nearest/memcpy", [] (benchmark::State &s) { memcpy_run (s, 3840, 2160); });
#ifdef TAMBA_BENCH_PIXMAN
    struct PixmanEntry {
        const char *name;
        Work work;
        PixmanFilter filter;
    };
    const PixmanEntry pixman_entries[] = {
        {"W1_enlarge2x_rgb_bilinear", kW1, PixmanFilter::kBilinear},
        {"W2_reduce4x_rgba_tiles", kW2, PixmanFilter::kBox},
        {"W3_reduce10x_rgb_tiles", kW3t, PixmanFilter::kBox},
        {"W3_reduce10x_rgb_bilinear", kW3b, PixmanFilter::kBox},
        {"W4_enlarge2x_rgba_nearest", kW4, PixmanFilter::kNearest},
        {"W5_over_rgb_1x_nearest", kW5n, PixmanFilter::kNearest},
        {"W5_over_rgb_1x_bilinear", kW5b, PixmanFilter::kBilinear},
        {"W5_over_rgbx_1x_nearest", kW5n4, PixmanFilter::kNearest},
        {"W5_over_rgbx_1x_bilinear", kW5b4, PixmanFilter::kBilinear},
        {"W6_over_rgba_2x_bilinear", kW6, PixmanFilter::kBilinear},
        {"W7_enlarge1.5x_rgb_hyper", kW7, PixmanFilter::kCubic},
        {"W8_rgba_1x_nearest", kW8, PixmanFilter::kNearest}};
    for (const PixmanEntry &e : pixman_entries) {
        const Work w = e.work;
        const PixmanFilter f = e.filter;
        add (std::string (e.name) + "/pixman",
             [w, f] (benchmark::State &s) { pixman_run (s, w, f); });
    }
#endif
#ifdef TAMBA_BENCH_PILLOW
    for (const Entry &e : {Entry{"W2_reduce4x_rgba_tiles", kW2},
                           Entry{"W3_reduce10x_rgb_tiles", kW3t},
                           Entry{"W3_reduce10x_rgb_bilinear", kW3b}}) {
        const Work w = e.work;
        benchmark::RegisterBenchmark ((std::string (e.name) + "/pillow").c_str (),
                                      [w] (benchmark::State &s) { pillow_run (s, w); })
            ->Iterations (1)
            ->Unit (benchmark::kMillisecond);
    }
#endif
#ifdef TAMBA_BENCH_OPENCV
    struct OpencvEntry {
        const char *name;
        Work work;
        int interpolation;
    };
    const OpencvEntry opencv_entries[] = {
        {"W1_enlarge2x_rgb_bilinear", kW1, cv::INTER_LINEAR},
        {"W2_reduce4x_rgba_tiles", kW2, cv::INTER_AREA},
        {"W3_reduce10x_rgb_tiles", kW3t, cv::INTER_AREA},
        {"W3_reduce10x_rgb_bilinear", kW3b, cv::INTER_AREA},
        {"W4_enlarge2x_rgba_nearest", kW4, cv::INTER_NEAREST},
        {"W7_enlarge1.5x_rgb_hyper", kW7, cv::INTER_CUBIC},
        {"W8_rgba_1x_nearest", kW8, cv::INTER_NEAREST},
        {"W10_icon_48to16_rgba_hyper", kW10h, cv::INTER_CUBIC},
        {"W10_icon_16to64_rgba_bilinear", kW10b, cv::INTER_LINEAR}};
    for (const OpencvEntry &e : opencv_entries) {
        const Work w = e.work;
        const int interpolation = e.interpolation;
        add (std::string (e.name) + "/opencv",
             [w, interpolation] (benchmark::State &s) { opencv_run (s, w, interpolation); });
    }
#endif
}

// Keeps each run's rate and prints the comparison table after the usual output.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns (const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns (runs);
        for (const Run &r : runs) {
            // With --benchmark_repetitions the table shows the medians.
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if (r.run_type != Run::RT_Iteration && !median) continue;
            const std::string name = r.run_name.str ();
            const auto slash = name.find ('/');
            const auto it = r.counters.find ("MP/s");
            if (slash == std::string::npos || it == r.counters.end ()) continue;
            const auto end = name.find ('/', slash + 1);
            (median ? medians_ : rates_)[name.substr (0, slash)]
                                        [name.substr (slash + 1, end - slash - 1)] =
                                            it->second.value;
        }
    }
    void print_table () const
    {
        const auto &rates = medians_.empty () ? rates_ : medians_;
        std::printf ("\n| workload | tamba MP/s | pixman MP/s | opencv MP/s | pillow MP/s | "
                     "memcpy MP/s | tamba / fastest peer |\n|---|---|---|---|---|---|---|\n");
        for (const auto &[work, by_lib] : rates) {
            const auto get = [&] (const char *lib) {
                const auto it = by_lib.find (lib);
                return it == by_lib.end () ? 0.0 : it->second;
            };
            double best = 0;
            for (const char *peer : {"pixman", "opencv", "pillow", "memcpy"})
                best = std::max (best, get (peer));
            const auto cell = [] (double v) {
                char buf[32];
                std::snprintf (buf, sizeof buf, v > 0 ? "%.0f" : "-", v);
                return std::string (buf);
            };
            std::printf ("| %s | %s | %s | %s | %s | %s | %.2f |\n", work.c_str (),
                         cell (get ("tamba")).c_str (), cell (get ("pixman")).c_str (),
                         cell (get ("opencv")).c_str (), cell (get ("pillow")).c_str (),
                         cell (get ("memcpy")).c_str (), best > 0 ? get ("tamba") / best : 0.0);
        }
    }

private:
    std::map<std::string, std::map<std::string, double>> rates_, medians_;
};

}  // namespace

int main (int argc, char **argv)
{
    register_all ();
    benchmark::Initialize (&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks (&reporter);
    reporter.print_table ();
    benchmark::Shutdown ();
    return 0;
}
