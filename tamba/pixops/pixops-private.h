// SPDX-License-Identifier: LGPL-2.1-or-later
// Internals of the engine shared between its files (and its tests): the filter record, the
// kernel types, the filter builders, the kernels, the nearest paths and the driver.
#ifndef TAMBA_PIXOPS_PIXOPS_PRIVATE_H
#define TAMBA_PIXOPS_PIXOPS_PRIVATE_H

#include <cstddef>
#include <cstdint>

#include "pixops/pixops.h"

namespace tamba::detail {

// Largest weight table a filter may have; stronger reductions are box-averaged first.
inline constexpr std::size_t kPixopsMaxFilterBytes = std::size_t (64) << 20;

// 16 x 16 phase matrices of n_x x n_y weights; matrix (p, q) starts at (p * 16 + q) * n_x * n_y.
struct PixopsFilter {
    int *weights;
    int n_x;
    int n_y;
    double x_offset;
    double y_offset;
    // Bit p set for the x (y) phases whose matrices were computed; the others are zero.
    unsigned x_phases;
    unsigned y_phases;
};

// Tap counts a builder would use, so a caller can check the table size before building it.
int tile_taps (double scale);
int bilinear_fast_taps (double scale);
int hyper_taps (double scale);

// Where a pass samples the source: destination column k (0 <= k < width) at the 16.16
// position x_start + k * x_step plus the filter's offset, and rows likewise.
struct PixopsReach {
    std::int64_t x_start, x_step, width;
    std::int64_t y_start, y_step, height;
};

// The filter's offset as the 16.16 amount the driver adds to every position.
std::int64_t pixops_scaled_offset (double offset);

// Bit p set when some pos0 + k * step (0 <= k < count) has phase p.
unsigned phases_reached (std::int64_t pos0, std::int64_t step, std::int64_t count);

// The builders fill every field of filter; the table comes from g_malloc, freed with g_free.
// Given a reach, only the phase matrices that pass samples are computed and the others are 0;
// without one, all of them.
void tile_make_weights (PixopsFilter *filter, double x_scale, double y_scale,
                        double overall_alpha, const PixopsReach *reach);
void bilinear_make_fast_weights (PixopsFilter *filter, double x_scale, double y_scale,
                                 double overall_alpha, const PixopsReach *reach);
void bilinear_make_weights (PixopsFilter *filter, double x_scale, double y_scale,
                            double overall_alpha, const PixopsReach *reach);
inline void tile_make_weights (PixopsFilter *filter, double x_scale, double y_scale,
                               double overall_alpha)
{
    tile_make_weights (filter, x_scale, y_scale, overall_alpha, nullptr);
}
inline void bilinear_make_fast_weights (PixopsFilter *filter, double x_scale, double y_scale,
                                        double overall_alpha)
{
    bilinear_make_fast_weights (filter, x_scale, y_scale, overall_alpha, nullptr);
}
inline void bilinear_make_weights (PixopsFilter *filter, double x_scale, double y_scale,
                                   double overall_alpha)
{
    bilinear_make_weights (filter, x_scale, y_scale, overall_alpha, nullptr);
}
double bilinear_quadrant (double bx0, double bx1, double by0, double by1);
// Brings one matrix's sum to (int)(overall_alpha * 65536 + 0.5).
void correct_total (int *weights, int n_x, int n_y, int total, double overall_alpha);

// Line kernel: writes pixels from dest while dest < dest_end; pixel k samples the source at
// x_init + k * x_step, all of whose taps lie inside the rows. Returns the end of what it wrote.
// Positions and the checkerboard column are 64-bit so that large images do not overflow.
// Kernels are declared by name with the function type, and chosen through the pointer type.
using PixopsLineKernel = guchar *(const int *weights, int n_x, int n_y, guchar *dest,
                                  std::int64_t dest_x, guchar *dest_end, int dest_channels,
                                  int dest_has_alpha, const guchar *const *src, int src_channels,
                                  gboolean src_has_alpha, std::int64_t x_init, std::int64_t x_step,
                                  int src_width, int check_size, guint32 color1,
                                  guint32 color2) noexcept;
using PixopsLineFunc = PixopsLineKernel *;
// Pixel kernel: writes one pixel from the tap sums gathered by the driver.
using PixopsPixelFunc = void (*) (guchar *dest, std::int64_t dest_x, int dest_channels,
                                  int dest_has_alpha, int src_has_alpha, int check_size,
                                  guint32 color1, guint32 color2, guint r, guint g, guint b,
                                  guint a);

enum class PixopsOp { kScale, kComposite, kCompositeColor };

struct PixopsKernels {
    PixopsLineFunc line;
    PixopsPixelFunc pixel;
    // The line kernel's variant reading rows premultiplied (PixopsShortcuts), or nullptr.
    PixopsLineFunc premultiplied_line = nullptr;
};

// The kernels for an operation, a filter size and the two layouts (nullptr line for an
// unsupported layout).
PixopsKernels select_kernels (PixopsOp op, int n_x, int n_y, int dest_channels,
                              bool dest_has_alpha, int src_channels, bool src_has_alpha);

struct PixopsSeparable;

// A destination column of a separable pass: its first tap, clamped to -1 .. src_width - 1
// (the filters of edges clamp further), and its phase; the same for every source row.
struct PixopsColumn {
    std::int32_t first, phase;
};

// Across: filters count destination columns of one source row into sums, whose two taps lie
// inside the row of src_width pixels (or, for a filter that takes edges, are clamped into it):
// RGB: 3 guint16 per column, x0 * p + x1 * p' per channel (p, p' the two taps);
// RGBA: 4 guint32 per column, x0 * q + x1 * q' per channel, q = (a * r, a * g, a * b, a), laid
// out as the kernels choose within (count + 7) * 16 bytes.
// May write one column past the count. scratch holds (src_width + 1) * scratch_bytes.
using PixopsRowFilterKernel = void (void *sums, void *scratch, const guchar *row,
                                    const PixopsColumn *columns, std::int64_t count,
                                    int src_width, const PixopsSeparable &separable) noexcept;
// Down: writes count destination pixels from the sums of the upper and lower source rows, each
// sum y0 * upper + y1 * lower (y0 + y1 = 256), as the line kernel of the operation writes its
// tap sums.
using PixopsRowCombineKernel = void (guchar *dest, const void *upper, const void *lower, int y0,
                                     int y1, std::int64_t count) noexcept;

// A 2 x 2 filter whose every sampled matrix is the outer product of column weights x (by x
// phase) and row weights y (by y phase), each pair non-negative and summing to 256 (bilinear
// enlarging gives such). Each source row is then filtered across once and each destination row
// combines two filtered rows: the kernels' integer sums, regrouped.
struct PixopsSeparable {
    int x[16][2];
    int y[16][2];
    PixopsRowFilterKernel *filter;
    PixopsRowCombineKernel *combine;
    std::size_t sum_bytes;      // of one column's sums
    std::size_t scratch_bytes;  // the filter's scratch per source pixel
    // The combiner writes what the pixel kernel would at the edges, and the filter clamps, so
    // whole rows go through them.
    bool takes_edges;
};

// Whether the filter's computed matrices factor so; fills the weights of separable when they do.
bool separable_weights (const PixopsFilter &filter, PixopsSeparable *separable);

// Trailing zero bits of check_size; logs "check_size >= 0" and yields 4 for a negative size,
// and yields 0 for 0 (which the entry points refuse before any checkerboard is drawn).
int get_check_shift (int check_size);

// Exposed for tests under their documented names.
extern const PixopsLineFunc scale_line_22_33;
extern const PixopsLineFunc composite_line_22_4a4;
PixopsLineFunc scale_line_for (int dest_channels, bool dest_has_alpha, int src_channels,
                               bool src_has_alpha);
PixopsLineFunc composite_line_for (int dest_channels, bool dest_has_alpha, int src_channels,
                                   bool src_has_alpha);
PixopsLineFunc composite_line_color_for (int dest_channels, bool dest_has_alpha,
                                         int src_channels, bool src_has_alpha);
void scale_pixel (guchar *dest, std::int64_t dest_x, int dest_channels, int dest_has_alpha,
                  int src_has_alpha, int check_size, guint32 color1, guint32 color2, guint r,
                  guint g, guint b, guint a);
void composite_pixel (guchar *dest, std::int64_t dest_x, int dest_channels, int dest_has_alpha,
                      int src_has_alpha, int check_size, guint32 color1, guint32 color2, guint r,
                      guint g, guint b, guint a);
void composite_pixel_color (guchar *dest, std::int64_t dest_x, int dest_channels,
                            int dest_has_alpha, int src_has_alpha, int check_size,
                            guint32 color1, guint32 color2, guint r, guint g, guint b, guint a);

// Everything a pass needs to know about its buffers and its render rectangle.
struct PixopsPass {
    guchar *dest_buf;
    int render_x0, render_y0, render_x1, render_y1;
    int dest_rowstride, dest_channels;
    bool dest_has_alpha;
    const guchar *src_buf;
    int src_width, src_height, src_rowstride, src_channels;
    bool src_has_alpha;
    double scale_x, scale_y;
    int check_x, check_y, check_size;
    guint32 color1, color2;
};

// Whether the entry point named function would carry out the request (a zero scale factor
// counts as carried out: it is a no-op); otherwise logs its precondition message and returns
// false. Callers that allocate a destination first ask before they allocate.
bool pixops_request_ok (const char *function, PixopsOp op, const PixopsPass &pass,
                        int interp_type, int overall_alpha);

// Set by an entry point of this thread that ran out of memory and left the destination as it
// was (after a warning); callers that hand out the destination clear it before and check after.
extern thread_local bool pixops_out_of_memory;

// Writes width RGBA pixels of row as 16-bit (a * r, a * g, a * b, a).
using PixopsPremultiplyKernel = void (guint16 *out, const guchar *row, int width) noexcept;

// Faster ways to the bytes of the line kernel that the driver takes when their buffers can be
// had.
struct PixopsShortcuts {
    // Each row's interior (or whole row) from its row filter and combiner.
    const PixopsSeparable *separable = nullptr;
    // A line kernel that reads the source rows as premultiply_row writes them.
    PixopsLineFunc premultiplied_line = nullptr;
    PixopsPremultiplyKernel *premultiply_row = nullptr;
};

// The driver: walks the rectangle row by row with the filter and kernels.
void pixops_process (const PixopsPass &pass, const PixopsFilter *filter, PixopsLineFunc line_func,
                     PixopsPixelFunc pixel_func, const PixopsShortcuts &shortcuts = {});

// The nearest-neighbour paths; sampling positions are clamped to the source's edges.
void pixops_scale_nearest (const PixopsPass &pass);
void pixops_composite_nearest (const PixopsPass &pass, int overall_alpha);
void pixops_composite_color_nearest (const PixopsPass &pass, int overall_alpha);

// 16.16 step between neighbouring destination pixels, truncated toward zero.
inline std::int64_t pixops_step (double scale) { return std::int64_t (65536.0 / scale); }

}  // namespace tamba::detail

#endif  // TAMBA_PIXOPS_PIXOPS_PRIVATE_H
