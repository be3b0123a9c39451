// SPDX-License-Identifier: LGPL-2.1-or-later
// Filters and weight tables: for each of the 16 x 16 sub-pixel phases, the matrix of integer
// weights that the kernels multiply the source taps by.
#include <algorithm>
#include <cmath>
#include <vector>

#include "pixops/pixops-fixed.h"
#include "pixops/pixops-private.h"

namespace tamba::detail {

namespace {

// Length of the intersection of source cell [k, k + 1] with the footprint [f, f + 1/s], decided
// with the same comparisons for every builder so that tiles and reducing bilinear agree.
double box_overlap (int k, double f, double s)
{
    const double e = f + 1 / s;
    if (k >= f) {
        if (e <= k) return 0;
        return k + 1 >= e ? e - k : double (k + 1) - k;
    }
    if (k + 1 <= f) return 0;
    return k + 1 >= e ? e - f : (k + 1) - f;
}

// Fills the table phase by phase: weight_of (fx, fy, i, j) gives the unrounded weight of tap
// (i, j), already multiplied by 65536, the scales and the opacity.
template <typename WeightOf>
void fill_table (PixopsFilter *filter, double overall_alpha, const PixopsReach *reach,
                 WeightOf &&weight_of)
{
    const int n = filter->n_x * filter->n_y;
    const std::size_t bytes = sizeof (int) * fx::kPhases * fx::kPhases * std::size_t (n);
    unsigned x_phases = 0xffff, y_phases = 0xffff;
    if (reach) {
        x_phases = phases_reached (reach->x_start + pixops_scaled_offset (filter->x_offset),
                                   reach->x_step, reach->width);
        y_phases = phases_reached (reach->y_start + pixops_scaled_offset (filter->y_offset),
                                   reach->y_step, reach->height);
    }
    filter->x_phases = x_phases;
    filter->y_phases = y_phases;
    const bool all = x_phases == 0xffff && y_phases == 0xffff;
    filter->weights = static_cast<int *> (all ? g_malloc (bytes) : g_malloc0 (bytes));
    for (int p = 0; p < fx::kPhases; p++) {
        if (!((y_phases >> p) & 1)) continue;
        const double fy = p * 0.0625;
        for (int q = 0; q < fx::kPhases; q++) {
            if (!((x_phases >> q) & 1)) continue;
            const double fx = q * 0.0625;
            int *pixel_weights = filter->weights + std::size_t (p * fx::kPhases + q) * n;
            int total = 0;
            for (int i = 0; i < filter->n_y; i++)
                for (int j = 0; j < filter->n_x; j++) {
                    const int w = int (weight_of (fx, fy, i, j) + 0.5);
                    pixel_weights[i * filter->n_x + j] = w;
                    total += w;
                }
            correct_total (pixel_weights, filter->n_x, filter->n_y, total, overall_alpha);
        }
    }
}

}  // namespace

std::int64_t pixops_scaled_offset (double offset)
{
    return std::int64_t (std::floor (offset * 65536.0));
}

unsigned phases_reached (std::int64_t pos0, std::int64_t step, std::int64_t count)
{
    // Phases repeat once k * step is a multiple of 65536.
    const int step_zeros = step == 0 ? fx::kShift : std::min (fx::kShift, __builtin_ctzll (
                                                                             std::uint64_t (step)));
    const std::int64_t period = std::int64_t (1) << (fx::kShift - step_zeros);
    unsigned phases = 0;
    std::int64_t pos = pos0;
    for (std::int64_t k = 0; k < std::min (count, period) && phases != 0xffff; k++, pos += step)
        phases |= 1u << fx::phase (pos);
    return phases;
}

bool separable_weights (const PixopsFilter &filter, PixopsSeparable *separable)
{
    if (filter.n_x != 2 || filter.n_y != 2) return false;
    unsigned have_x = 0, have_y = 0;
    for (int p = 0; p < fx::kPhases; p++) {
        if (!((filter.y_phases >> p) & 1)) continue;
        for (int q = 0; q < fx::kPhases; q++) {
            if (!((filter.x_phases >> q) & 1)) continue;
            // Rows (w[0], w[1]) and (w[2], w[3]); with both factors summing to 256, each
            // column and row sum is 256 times its factor.
            const int *w = filter.weights + (p * fx::kPhases + q) * 4;
            const int cols[2] = {w[0] + w[2], w[1] + w[3]}, rows[2] = {w[0] + w[1], w[2] + w[3]};
            if (cols[0] + cols[1] != fx::kOne) return false;
            int x[2], y[2];
            for (int k = 0; k < 2; k++) {
                if (cols[k] < 0 || rows[k] < 0 || cols[k] % 256 || rows[k] % 256) return false;
                x[k] = cols[k] / 256;
                y[k] = rows[k] / 256;
            }
            if (w[0] != x[0] * y[0] || w[1] != x[1] * y[0] || w[2] != x[0] * y[1] ||
                w[3] != x[1] * y[1])
                return false;
            if (((have_x >> q) & 1) && (separable->x[q][0] != x[0] || separable->x[q][1] != x[1]))
                return false;
            if (((have_y >> p) & 1) && (separable->y[p][0] != y[0] || separable->y[p][1] != y[1]))
                return false;
            have_x |= 1u << q;
            have_y |= 1u << p;
            separable->x[q][0] = x[0];
            separable->x[q][1] = x[1];
            separable->y[p][0] = y[0];
            separable->y[p][1] = y[1];
        }
    }
    return have_x != 0;
}

int tile_taps (double scale) { return int (std::ceil (1 / scale + 1)); }

int bilinear_fast_taps (double scale) { return scale > 1.0 ? 2 : tile_taps (scale); }

int hyper_taps (double scale) { return int (std::ceil (1 / scale + 2)); }

void correct_total (int *weights, int n_x, int n_y, int total, double overall_alpha)
{
    const int target = int (overall_alpha * 65536 + 0.5);
    int correction = target - total;
    const int n = n_x * n_y;
    for (int k = n - 1; k >= 0; k--) {
        if (weights[k] + correction >= 0) {
            weights[k] += correction;
            return;
        }
    }
    // No single weight can absorb the excess (strong reductions, where every weight is small):
    // take it from the last weights towards the first, each down to 0 at most, so the matrix
    // never sums above the target and the kernels' sums cannot wrap.
    for (int k = n - 1; k >= 0 && correction < 0; k--) {
        const int take = weights[k] < -correction ? weights[k] : -correction;
        weights[k] -= take;
        correction += take;
    }
}

void tile_make_weights (PixopsFilter *filter, double x_scale, double y_scale,
                        double overall_alpha, const PixopsReach *reach)
{
    filter->n_x = tile_taps (x_scale);
    filter->n_y = tile_taps (y_scale);
    filter->x_offset = 0.0;
    filter->y_offset = 0.0;
    fill_table (filter, overall_alpha, reach, [&] (double fx, double fy, int i, int j) {
        const double th = box_overlap (i, fy, y_scale);
        const double tw = box_overlap (j, fx, x_scale);
        return tw * 65536 * x_scale * th * y_scale * overall_alpha;
    });
}

void bilinear_make_fast_weights (PixopsFilter *filter, double x_scale, double y_scale,
                                 double overall_alpha, const PixopsReach *reach)
{
    filter->n_x = bilinear_fast_taps (x_scale);
    filter->n_y = bilinear_fast_taps (y_scale);
    filter->x_offset = x_scale > 1.0 ? (1 / x_scale - 1) * 0.5 : 0.0;
    filter->y_offset = y_scale > 1.0 ? (1 / y_scale - 1) * 0.5 : 0.0;

    // One axis's weights depend only on that axis's phase: linear interpolation between two
    // pixels when enlarging, the box overlap otherwise.
    std::vector<double> x_weights (std::size_t (filter->n_x));
    std::vector<double> y_weights (std::size_t (filter->n_y));
    const auto fill_axis = [] (std::vector<double> &w, double f, double s) {
        if (s > 1.0) {
            w[0] = (1 - f) / s;
            for (std::size_t k = 1; k < w.size (); k++) w[k] = f / s;
        } else {
            for (std::size_t k = 0; k < w.size (); k++) w[k] = box_overlap (int (k), f, s);
        }
    };
    double last_fx = -1, last_fy = -1;
    fill_table (filter, overall_alpha, reach, [&] (double fx, double fy, int i, int j) {
        if (fx != last_fx) fill_axis (x_weights, last_fx = fx, x_scale);
        if (fy != last_fy) fill_axis (y_weights, last_fy = fy, y_scale);
        return x_weights[std::size_t (j)] * 65536 * x_scale * y_weights[std::size_t (i)] *
               y_scale * overall_alpha;
    });
}

namespace {

// Clips [b0, b1] to the unit interval; false when nothing of it lies inside.
bool clip_to_unit (double b0, double b1, double *lo, double *hi)
{
    if (b0 <= 0.0) {
        if (b1 <= 0.0) return false;
        *lo = 0.0;
    } else {
        if (b0 >= 1.0) return false;
        *lo = b0;
    }
    *hi = b1 > 1.0 ? 1.0 : b1;
    return true;
}

}  // namespace

double bilinear_quadrant (double bx0, double bx1, double by0, double by1)
{
    double x0, x1, y0, y1;
    if (!clip_to_unit (bx0, bx1, &x0, &x1) || !clip_to_unit (by0, by1, &y0, &y1)) return 0.0;
    return (x1 * x1 - x0 * x0) * 0.25 * (y1 * y1 - y0 * y0);
}

void bilinear_make_weights (PixopsFilter *filter, double x_scale, double y_scale,
                            double overall_alpha, const PixopsReach *reach)
{
    filter->n_x = hyper_taps (x_scale);
    filter->n_y = hyper_taps (y_scale);
    filter->x_offset = -1.0;
    filter->y_offset = -1.0;
    fill_table (filter, overall_alpha, reach, [&] (double fx, double fy, int i, int j) {
        const double x_end = fx + 1 / x_scale;
        const double y_end = fy + 1 / y_scale;
        // Falling and rising halves of the tent around the tap's centre, in both directions.
        const double xa = j + 0.5 - x_end, xb = j + 0.5 - fx;
        const double xc = fx + 1.5 - j, xd = x_end + 1.5 - j;
        const double ya = i + 0.5 - y_end, yb = i + 0.5 - fy;
        const double yc = fy + 1.5 - i, yd = y_end + 1.5 - i;
        const double w = bilinear_quadrant (xa, xb, ya, yb) + bilinear_quadrant (xc, xd, ya, yb) +
                         bilinear_quadrant (xa, xb, yc, yd) + bilinear_quadrant (xc, xd, yc, yd);
        return w * 65536 * x_scale * y_scale * overall_alpha;
    });
}

}  // namespace tamba::detail
