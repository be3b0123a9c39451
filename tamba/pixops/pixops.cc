// SPDX-License-Identifier: LGPL-2.1-or-later
// The engine's entry points and its driver: argument checks, the choice between the nearest
// paths and a filter, and the row walk that splits each row into edges and an interior run.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>

#include "pixops/pixops-fixed.h"
#include "pixops/pixops-private.h"
#include "pixops/pixops-reduce.h"
#include "pixops/pixops-simd.h"
#include "tamba-private.h"

namespace tamba::detail {

namespace {

// Sums the taps of one edge pixel with its columns clamped into the source, then writes it.
void process_pixel (const int *weights, int n_x, int n_y, guchar *dest, std::int64_t dest_x,
                    int dest_channels, int dest_has_alpha, const guchar *const *src,
                    int src_channels, int src_has_alpha, std::int64_t x_start, int src_width,
                    int check_size, guint32 color1, guint32 color2, PixopsPixelFunc pixel_func)
{
    guint r = 0, g = 0, b = 0, a = 0;
    for (int i = 0; i < n_y; i++) {
        for (int j = 0; j < n_x; j++) {
            const std::int64_t column = std::clamp<std::int64_t> (x_start + j, 0, src_width - 1);
            const guchar *q = src[i] + column * src_channels;
            const guint w = guint (weights[i * n_x + j]);
            const guint ta = src_has_alpha ? w * q[3] : w * 255;
            r += ta * q[0];
            g += ta * q[1];
            b += ta * q[2];
            a += ta;
        }
    }
    pixel_func (dest, dest_x, dest_channels, dest_has_alpha, src_has_alpha, check_size, color1,
                color2, r, g, b, a);
}

// The source rows a separable pass reads, filtered across over its run of columns, two rows at
// a time: neighbouring destination rows mostly read the same source rows.
class FilteredRows {
public:
    // Holds nothing (and is not ok) without separable weights or an interior to filter.
    FilteredRows (const PixopsPass &pass, const PixopsSeparable *separable, std::int64_t x,
                  std::int64_t x_step, std::int64_t count)
        : pass_ (pass), separable_ (separable), count_ (count)
    {
        if (!separable || count <= 0) return;
        // One block (small passes are many): the two rows, each seven columns longer and zeroed
        // (the RGB filter writes one past the row, the RGBA rows are planes that combiners read
        // eight columns at a time), then the columns and the filter's scratch, 16-byte aligned.
        const auto rounded = [] (std::size_t n) { return (n + 15) & ~std::size_t (15); };
        const std::size_t row_bytes = rounded ((std::size_t (count) + 7) * separable->sum_bytes);
        const std::size_t column_bytes = rounded (sizeof (PixopsColumn) * std::size_t (count));
        block_ = static_cast<guchar *> (
            g_try_malloc0 (2 * row_bytes + column_bytes +
                           (std::size_t (pass.src_width) + 1) * separable->scratch_bytes));
        if (!block_) return;
        rows_[0].sums = block_;
        rows_[1].sums = block_ + row_bytes;
        columns_ = reinterpret_cast<PixopsColumn *> (block_ + 2 * row_bytes);
        scratch_ = block_ + 2 * row_bytes + column_bytes;
        for (std::int64_t k = 0; k < count; k++, x += x_step)
            columns_[k] = {std::int32_t (std::clamp<std::int64_t> (fx::pixel (x), -1,
                                                                   pass.src_width - 1)),
                           fx::phase (x)};
    }
    ~FilteredRows () { g_free (block_); }
    FilteredRows (const FilteredRows &) = delete;
    FilteredRows &operator= (const FilteredRows &) = delete;

    bool ok () const { return block_ != nullptr; }

    // Source row y filtered, computed unless held; never replaces the row held as keep.
    const void *row (std::int64_t y, std::int64_t keep)
    {
        for (const Row &r : rows_)
            if (r.y == y) return r.sums;
        Row &r = rows_[0].y == keep ? rows_[1] : rows_[0];
        separable_->filter (r.sums, scratch_,
                            pass_.src_buf + y * std::ptrdiff_t (pass_.src_rowstride), columns_,
                            count_, pass_.src_width, *separable_);
        r.y = y;
        return r.sums;
    }

private:
    struct Row {
        guchar *sums = nullptr;
        std::int64_t y = -1;
    };
    const PixopsPass &pass_;
    const PixopsSeparable *const separable_;
    const std::int64_t count_;
    Row rows_[2];
    guchar *block_ = nullptr;
    void *scratch_ = nullptr;
    PixopsColumn *columns_ = nullptr;
};

// Source rows premultiplied once for a line kernel that reads them so: row y in slot y % n_y,
// which the n_y consecutive rows one destination row reads never share.
class PremultipliedRows {
public:
    PremultipliedRows (const PixopsPass &pass, const PixopsShortcuts &shortcuts, int n_y)
        : pass_ (pass), premultiply_ (shortcuts.premultiply_row), n_y_ (n_y)
    {
        // A strong reduction of a wide source would need too much; it keeps the plain kernel.
        constexpr std::size_t kMaxBytes = std::size_t (64) << 20;
        row_bytes_ = std::size_t (pass.src_width) * 4 * sizeof (guint16);
        if (!shortcuts.premultiplied_line || !premultiply_ ||
            row_bytes_ * std::size_t (n_y) > kMaxBytes)
            return;
        bytes_ = static_cast<guchar *> (g_try_malloc (row_bytes_ * std::size_t (n_y)));
        tags_ = static_cast<std::int64_t *> (g_try_malloc (sizeof (std::int64_t) * n_y));
        if (!bytes_ || !tags_) return;
        for (int k = 0; k < n_y; k++) tags_[k] = -1;
        ok_ = true;
    }
    ~PremultipliedRows ()
    {
        g_free (bytes_);
        g_free (tags_);
    }
    PremultipliedRows (const PremultipliedRows &) = delete;
    PremultipliedRows &operator= (const PremultipliedRows &) = delete;

    bool ok () const { return ok_; }

    const guchar *row (std::int64_t y)
    {
        const int slot = int (y % n_y_);
        guchar *const out = bytes_ + std::size_t (slot) * row_bytes_;
        if (tags_[slot] != y) {
            premultiply_ (reinterpret_cast<guint16 *> (out),
                          pass_.src_buf + y * std::ptrdiff_t (pass_.src_rowstride),
                          pass_.src_width);
            tags_[slot] = y;
        }
        return out;
    }

private:
    const PixopsPass &pass_;
    PixopsPremultiplyKernel *const premultiply_;
    const int n_y_;
    std::size_t row_bytes_ = 0;
    guchar *bytes_ = nullptr;
    std::int64_t *tags_ = nullptr;
    bool ok_ = false;
};

}  // namespace

void pixops_process (const PixopsPass &pass, const PixopsFilter *filter, PixopsLineFunc line_func,
                     PixopsPixelFunc pixel_func, const PixopsShortcuts &shortcuts)
{
    const PixopsSeparable *const separable = shortcuts.separable;
    const int n_x = filter->n_x, n_y = filter->n_y;
    const int matrix = n_x * n_y;
    std::unique_ptr<const guchar *[], decltype (&g_free)> line_bufs (
        g_new (const guchar *, n_y), &g_free);

    const std::int64_t x_step = pixops_step (pass.scale_x);
    const std::int64_t y_step = pixops_step (pass.scale_y);
    const int check_shift = pass.check_size != 0 ? get_check_shift (pass.check_size) : 0;

    // Positions are 64-bit: the same bits as the 16.16 arithmetic wherever that does not
    // overflow, and correct for sources wider or taller than 32767 pixels.
    const std::int64_t scaled_x_offset = pixops_scaled_offset (filter->x_offset);
    const std::int64_t scaled_y_offset = pixops_scaled_offset (filter->y_offset);
    // A scaled column X with X * x_step < run_end_x has all its taps inside the source row.
    const std::int64_t run_end_x =
        ((std::int64_t (pass.src_width) - n_x + 1) << fx::kShift) - scaled_x_offset;
    const std::int64_t width =
        std::max<std::int64_t> (0, std::int64_t (pass.render_x1) - pass.render_x0);
    const std::int64_t height =
        std::max<std::int64_t> (0, std::int64_t (pass.render_y1) - pass.render_y0);
    // The interior run ends before this column of the rectangle; a negative end is an empty run.
    const std::int64_t run_end_index = std::clamp<std::int64_t> (
        fx::ceil_div (run_end_x, x_step) - pass.render_x0, 0, width);

    // The interior starts where the left edge (columns left of the source) ends, in every row.
    const std::int64_t x_first = pass.render_x0 * x_step + scaled_x_offset;
    const std::int64_t run_start_index =
        x_first >= 0 ? 0 : std::min (width, fx::ceil_div (-x_first, x_step));
    // With a separable filter that takes edges, the run is the whole row.
    const bool whole_rows = separable && separable->takes_edges;
    const std::int64_t run_start = whole_rows ? 0 : run_start_index;
    const std::int64_t run_end = whole_rows ? width : run_end_index;
    FilteredRows filtered (pass, separable, x_first + run_start * x_step, x_step,
                           run_end - run_start);
    const bool edges_filtered = whole_rows && filtered.ok ();
    PremultipliedRows premultiplied (pass, shortcuts, n_y);
    const PixopsLineFunc interior_func =
        premultiplied.ok () ? shortcuts.premultiplied_line : line_func;
    std::unique_ptr<const guchar *[], decltype (&g_free)> premultiplied_bufs (
        premultiplied.ok () ? g_new (const guchar *, n_y) : nullptr, &g_free);

    std::int64_t y = pass.render_y0 * y_step + scaled_y_offset;
    for (std::int64_t i = 0; i < height; i++, y += y_step) {
        const int *run_weights = filter->weights + fx::phase (y) * fx::kPhases * matrix;
        const bool odd_row = ((i + pass.check_y) >> check_shift) & 1;
        const guint32 tcolor1 = odd_row ? pass.color2 : pass.color1;
        const guint32 tcolor2 = odd_row ? pass.color1 : pass.color2;

        // Rows above and below the source repeat its first and last row.
        const std::int64_t y_start = fx::pixel (y);
        for (int j = 0; j < n_y; j++) {
            const std::int64_t source_row =
                std::clamp<std::int64_t> (y_start + j, 0, pass.src_height - 1);
            line_bufs[j] = pass.src_buf + source_row * std::ptrdiff_t (pass.src_rowstride);
            if (premultiplied.ok ()) premultiplied_bufs[j] = premultiplied.row (source_row);
        }

        guchar *const row = pass.dest_buf + i * std::ptrdiff_t (pass.dest_rowstride);
        guchar *outbuf = row;
        guchar *const outbuf_end = row + width * pass.dest_channels;
        std::int64_t dest_x = pass.check_x;
        std::int64_t x = pass.render_x0 * x_step + scaled_x_offset;

        const auto edge_pixel = [&] {
            process_pixel (run_weights + fx::phase (x) * matrix, n_x, n_y, outbuf, dest_x,
                           pass.dest_channels, pass.dest_has_alpha, line_bufs.get (),
                           pass.src_channels, pass.src_has_alpha, fx::pixel (x), pass.src_width,
                           pass.check_size, tcolor1, tcolor2, pixel_func);
            x += x_step;
            dest_x++;
            outbuf += pass.dest_channels;
        };

        // Edge columns go through the pixel kernel: the line kernel never clamps, so it only
        // gets the pixels whose taps all lie inside the source row.
        while (!edges_filtered && fx::pixel (x) < 0 && outbuf < outbuf_end) edge_pixel ();

        guchar *new_outbuf;
        if (filtered.ok ()) {
            const std::int64_t upper = std::clamp<std::int64_t> (y_start, 0, pass.src_height - 1);
            const std::int64_t lower =
                std::clamp<std::int64_t> (y_start + 1, 0, pass.src_height - 1);
            const int *weights = separable->y[fx::phase (y)];
            const void *upper_sums = filtered.row (upper, lower);
            separable->combine (row + run_start * pass.dest_channels, upper_sums,
                                filtered.row (lower, upper), weights[0], weights[1],
                                run_end - run_start);
            new_outbuf = row + run_end * pass.dest_channels;
        } else {
            new_outbuf = interior_func (
                run_weights, n_x, n_y, outbuf, dest_x, row + run_end_index * pass.dest_channels,
                pass.dest_channels, pass.dest_has_alpha,
                premultiplied.ok () ? premultiplied_bufs.get () : line_bufs.get (),
                pass.src_channels, pass.src_has_alpha, x, x_step, pass.src_width,
                pass.check_size, tcolor1, tcolor2);
        }
        dest_x += (new_outbuf - outbuf) / pass.dest_channels;
        outbuf = new_outbuf;
        x = (dest_x - pass.check_x + pass.render_x0) * x_step + scaled_x_offset;

        while (outbuf < outbuf_end) edge_pixel ();
    }
}

namespace {

// Expression texts of the engine's own refusals.
constexpr char kDestLayout[] = "!(dest_channels == 3 && dest_has_alpha)";
constexpr char kSrcLayout[] = "!(src_channels == 3 && src_has_alpha)";
constexpr char kScaleAlpha[] = "!(src_has_alpha && !dest_has_alpha)";
constexpr char kChannels[] =
    "(src_channels == 3 || src_channels == 4) && (dest_channels == 3 || dest_channels == 4)";
constexpr char kSrcSize[] = "src_width > 0 && src_height > 0";
constexpr char kInterp[] =
    "interp_type >= PIXOPS_INTERP_NEAREST && interp_type <= PIXOPS_INTERP_HYPER";
constexpr char kXStep[] = "65536.0 / scale_x >= 1 && 65536.0 / scale_x <= G_MAXINT";
constexpr char kYStep[] = "65536.0 / scale_y >= 1 && 65536.0 / scale_y <= G_MAXINT";
constexpr char kCheckSize[] = "check_size != 0";

// The step 65536 / scale must be a usable 32-bit step: this refuses negative, NaN, infinite,
// too large (step 0) and too small (step beyond 32 bits) factors alike.
bool step_ok (double scale)
{
    const double step = 65536.0 / scale;
    return step >= 1.0 && step <= double (G_MAXINT);
}

// The checks every entry point shares after the layouts and the zero scales, in order; the
// first failed expression text, or nullptr.
const char *check_request (const PixopsPass &pass, int interp_type)
{
    if (!((pass.src_channels == 3 || pass.src_channels == 4) &&
          (pass.dest_channels == 3 || pass.dest_channels == 4)))
        return kChannels;
    // Edge clamping needs at least one source row and column to fall back on.
    if (pass.src_width <= 0 || pass.src_height <= 0) return kSrcSize;
    if (interp_type < PIXOPS_INTERP_NEAREST || interp_type > PIXOPS_INTERP_HYPER) return kInterp;
    if (!step_ok (pass.scale_x)) return kXStep;
    if (!step_ok (pass.scale_y)) return kYStep;
    return nullptr;
}

// The first precondition the request fails, in the order the entry points check them, or
// nullptr. A zero scale factor passes: it is a silent no-op, decided by the caller.
const char *refusal (PixopsOp op, const PixopsPass &pass, int interp_type, int overall_alpha)
{
    if (pass.dest_channels == 3 && pass.dest_has_alpha) return kDestLayout;
    if (pass.src_channels == 3 && pass.src_has_alpha) return kSrcLayout;
    if (op == PixopsOp::kScale && pass.src_has_alpha && !pass.dest_has_alpha) return kScaleAlpha;
    if (pass.scale_x == 0.0 || pass.scale_y == 0.0) return nullptr;
    if (const char *failed = check_request (pass, interp_type)) return failed;
    // An opaque source at full opacity is handed to scaling, which draws no checkerboard.
    const bool scales = op != PixopsOp::kScale && !pass.src_has_alpha && overall_alpha == 255;
    if (op == PixopsOp::kCompositeColor && !scales && pass.check_size == 0) return kCheckSize;
    return nullptr;
}

using Builder = void (*) (PixopsFilter *, double, double, double, const PixopsReach *);

struct FilterKind {
    Builder build;
    int (*taps) (double);
};

FilterKind filter_kind (int interp_type)
{
    switch (interp_type) {
    case PIXOPS_INTERP_TILES: return {tile_make_weights, tile_taps};
    case PIXOPS_INTERP_BILINEAR: return {bilinear_make_fast_weights, bilinear_fast_taps};
    default: return {bilinear_make_weights, hyper_taps};
    }
}

// Builds the filter and runs the driver. A reduction whose table would pass the cap first
// averages the source over integer blocks and filters that at the remaining scale.
void run_filtered (PixopsPass pass, PixopsOp op, int interp_type, double opacity)
{
    const FilterKind kind = filter_kind (interp_type);
    const BoxFactors f = box_factors_for (kind.taps, pass.scale_x, pass.scale_y);
    std::unique_ptr<guchar, decltype (&std::free)> reduced (nullptr, &std::free);
    if (f.x != 1 || f.y != 1) {
        reduced.reset (box_reduce (pass, f, &pass.src_width, &pass.src_height,
                                   &pass.src_rowstride));
        if (!reduced) {
            g_warning ("Not enough memory to reduce a %dx%d source", pass.src_width,
                       pass.src_height);
            pixops_out_of_memory = true;
            return;
        }
        pass.src_buf = reduced.get ();
        pass.scale_x *= f.x;
        pass.scale_y *= f.y;
    }

    // Only the phases this pass samples: small destinations need few of the 256 matrices.
    const std::int64_t x_step = pixops_step (pass.scale_x), y_step = pixops_step (pass.scale_y);
    const PixopsReach reach{
        pass.render_x0 * x_step, x_step,
        std::max<std::int64_t> (0, std::int64_t (pass.render_x1) - pass.render_x0),
        pass.render_y0 * y_step, y_step,
        std::max<std::int64_t> (0, std::int64_t (pass.render_y1) - pass.render_y0)};
    PixopsFilter filter{};
    try {
        kind.build (&filter, pass.scale_x, pass.scale_y, opacity, &reach);
    } catch (const std::bad_alloc &) {
        g_warning ("Not enough memory for a %dx%d filter", filter.n_x, filter.n_y);
        g_free (filter.weights);
        pixops_out_of_memory = true;
        return;
    }
    const PixopsKernels k = select_kernels (op, filter.n_x, filter.n_y, pass.dest_channels,
                                            pass.dest_has_alpha, pass.src_channels,
                                            pass.src_has_alpha);
    // 2 x 2 filters that factor (bilinear enlarging) go across once per source row and then
    // down, for the layouts that have such kernels.
    PixopsSeparable separable{};
    const PixopsKernelTable &table = kernel_table ();
    if (op == PixopsOp::kScale && pass.src_channels == 3 && !pass.src_has_alpha &&
        pass.dest_channels == 3)
        separable = {.x = {},
                     .y = {},
                     .filter = table.filter_row_22_3,
                     .combine = table.scale_rows_22_33,
                     .sum_bytes = 3 * sizeof (guint16),
                     .scratch_bytes = 0,
                     .takes_edges = false};
    else if (op != PixopsOp::kCompositeColor && pass.src_channels == 4 && pass.src_has_alpha &&
             pass.dest_channels == 4 && pass.dest_has_alpha)
        separable = {.x = {},
                     .y = {},
                     .filter = table.filter_row_22_4a,
                     .combine = op == PixopsOp::kScale ? table.scale_rows_22_4a4a
                                                       : table.composite_rows_22_4a4a,
                     .sum_bytes = 4 * sizeof (guint32),
                     .scratch_bytes = 16,
                     .takes_edges = true};
    const bool separate =
        separable.filter && separable.combine && separable_weights (filter, &separable);
    pixops_process (pass, &filter, k.line, k.pixel,
                    {separate ? &separable : nullptr, k.premultiplied_line,
                     table.premultiply_row});
    g_free (filter.weights);
}

// The two compositing operations share everything but the kernels and the nearest path.
void composite_entry (const char *function, PixopsOp op, PixopsPass pass, int interp_type,
                      int overall_alpha)
{
    if (!pixops_request_ok (function, op, pass, interp_type, overall_alpha)) return;
    if (pass.scale_x == 0.0 || pass.scale_y == 0.0) return;

    // An opaque source at full opacity simply replaces the destination.
    if (!pass.src_has_alpha && overall_alpha == 255) {
        pixops_scale (pass.dest_buf, pass.render_x0, pass.render_y0, pass.render_x1,
                      pass.render_y1, pass.dest_rowstride, pass.dest_channels,
                      pass.dest_has_alpha, pass.src_buf, pass.src_width, pass.src_height,
                      pass.src_rowstride, pass.src_channels, pass.src_has_alpha, pass.scale_x,
                      pass.scale_y, PixopsInterpType (interp_type));
        return;
    }
    // A negative size is refused once here and drawn in squares of 16 by every path below.
    if (op == PixopsOp::kCompositeColor && pass.check_size < 0)
        pass.check_size = 1 << get_check_shift (pass.check_size);

    if (interp_type == PIXOPS_INTERP_NEAREST) {
        if (op == PixopsOp::kCompositeColor)
            pixops_composite_color_nearest (pass, overall_alpha);
        else
            pixops_composite_nearest (pass, overall_alpha);
        return;
    }
    run_filtered (pass, op, interp_type, overall_alpha / 255.0);
}

}  // namespace

thread_local bool pixops_out_of_memory = false;

bool pixops_request_ok (const char *function, PixopsOp op, const PixopsPass &pass,
                        int interp_type, int overall_alpha)
{
    const char *failed = refusal (op, pass, interp_type, overall_alpha);
    if (!failed) return true;
    g_log (NULL, G_LOG_LEVEL_CRITICAL, "file %s: line %d (%s): assertion `%s' failed.", __FILE__,
           __LINE__, function, failed);
    return false;
}

}  // namespace tamba::detail

using namespace tamba::detail;

extern "C" void pixops_scale (guchar *dest_buf, int render_x0, int render_y0, int render_x1,
                              int render_y1, int dest_rowstride, int dest_channels,
                              gboolean dest_has_alpha, const guchar *src_buf, int src_width,
                              int src_height, int src_rowstride, int src_channels,
                              gboolean src_has_alpha, double scale_x, double scale_y,
                              PixopsInterpType interp_type)
{
    const PixopsPass pass{dest_buf, render_x0, render_y0, render_x1, render_y1, dest_rowstride,
                          dest_channels, dest_has_alpha != 0, src_buf, src_width, src_height,
                          src_rowstride, src_channels, src_has_alpha != 0, scale_x, scale_y,
                          0, 0, 0, 0, 0};
    if (!pixops_request_ok (__func__, PixopsOp::kScale, pass, interp_type, 255)) return;
    if (scale_x == 0.0 || scale_y == 0.0) return;

    if (interp_type == PIXOPS_INTERP_NEAREST) {
        pixops_scale_nearest (pass);
        return;
    }
    run_filtered (pass, PixopsOp::kScale, interp_type, 1.0);
}

extern "C" void pixops_composite (guchar *dest_buf, int render_x0, int render_y0, int render_x1,
                                  int render_y1, int dest_rowstride, int dest_channels,
                                  gboolean dest_has_alpha, const guchar *src_buf, int src_width,
                                  int src_height, int src_rowstride, int src_channels,
                                  gboolean src_has_alpha, double scale_x, double scale_y,
                                  PixopsInterpType interp_type, int overall_alpha)
{
    const PixopsPass pass{dest_buf, render_x0, render_y0, render_x1, render_y1, dest_rowstride,
                          dest_channels, dest_has_alpha != 0, src_buf, src_width, src_height,
                          src_rowstride, src_channels, src_has_alpha != 0, scale_x, scale_y,
                          0, 0, 0, 0, 0};
    composite_entry (__func__, PixopsOp::kComposite, pass, interp_type, overall_alpha);
}

extern "C" void pixops_composite_color (guchar *dest_buf, int render_x0, int render_y0,
                                        int render_x1, int render_y1, int dest_rowstride,
                                        int dest_channels, gboolean dest_has_alpha,
                                        const guchar *src_buf, int src_width, int src_height,
                                        int src_rowstride, int src_channels,
                                        gboolean src_has_alpha, double scale_x, double scale_y,
                                        PixopsInterpType interp_type, int overall_alpha,
                                        int check_x, int check_y, int check_size, guint32 color1,
                                        guint32 color2)
{
    const PixopsPass pass{dest_buf, render_x0, render_y0, render_x1, render_y1, dest_rowstride,
                          dest_channels, dest_has_alpha != 0, src_buf, src_width, src_height,
                          src_rowstride, src_channels, src_has_alpha != 0, scale_x, scale_y,
                          check_x, check_y, check_size, color1, color2};
    composite_entry (__func__, PixopsOp::kCompositeColor, pass, interp_type, overall_alpha);
}
