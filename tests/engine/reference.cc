// SPDX-License-Identifier: LGPL-2.1-or-later
// The plain model of the engine; see reference.h.
#include "reference.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace ref {

namespace {

struct Filter {
    std::vector<int> weights;  // [p][q][i][j]
    int n_x = 0, n_y = 0;
    double x_offset = 0, y_offset = 0;
    const int *matrix (int p, int q) const { return weights.data () + (p * 16 + q) * n_x * n_y; }
};

// The length of [k, k + 1) inside [f, f + 1 / s).
double overlap (int k, double f, double s)
{
    return std::max (0.0, std::min (k + 1.0, f + 1 / s) - std::max (double (k), f));
}

// The integral of x * y / 4 over the box clipped to the unit square.
double quadrant (double bx0, double bx1, double by0, double by1)
{
    const double x0 = std::max (bx0, 0.0), x1 = std::min (bx1, 1.0), y0 = std::max (by0, 0.0), y1 = std::min (by1, 1.0);
    return x0 < x1 && y0 < y1 ? (x1 * x1 - x0 * x0) * 0.25 * (y1 * y1 - y0 * y0) : 0;
}

// One axis of the tiles and bilinear weights; bilinear enlargement interpolates two taps.
double axis (int interp, int k, double f, double s)
{
    if (interp == kBilinear && s > 1.0) return k == 0 ? (1 - f) / s : f / s;
    return overlap (k, f, s);
}

void correct_total (int *w, int n, int total, double overall_alpha)
{
    int correction = int (overall_alpha * 65536 + 0.5) - total;
    for (int k = n - 1; k >= 0; k--)
        if (w[k] + correction >= 0) {
            w[k] += correction;
            return;
        }
    for (int k = n - 1; k >= 0; k--) {
        int take = std::min (w[k], -correction);
        w[k] -= take;
        correction += take;
    }
}

Filter make_filter (int interp, double sx, double sy, double alpha)
{
    Filter f;
    const auto taps = [&] (double s) {
        return interp == kBilinear && s > 1.0 ? 2 : int (std::ceil (1 / s + (interp == kHyper ? 2 : 1)));
    };
    const auto offset = [&] (double s) {
        return interp == kHyper ? -1.0 : interp == kBilinear && s > 1.0 ? (1 / s - 1) * 0.5 : 0.0;
    };
    f.n_x = taps (sx), f.n_y = taps (sy), f.x_offset = offset (sx), f.y_offset = offset (sy);
    f.weights.assign (size_t (256 * f.n_x * f.n_y), 0);
    for (int p = 0; p < 16; p++)
        for (int q = 0; q < 16; q++) {
            const double fy = p * 0.0625, fx = q * 0.0625, X = fx + 1 / sx, Y = fy + 1 / sy;
            int *m = f.weights.data () + (p * 16 + q) * f.n_x * f.n_y;
            int total = 0;
            for (int i = 0; i < f.n_y; i++)
                for (int j = 0; j < f.n_x; j++) {
                    double v;
                    if (interp != kHyper) {
                        v = axis (interp, j, fx, sx) * 65536 * sx * axis (interp, i, fy, sy) * sy * alpha;
                    } else {
                        const double xa = j + 0.5 - X, xb = j + 0.5 - fx, xc = fx + 1.5 - j, xd = X + 1.5 - j;
                        const double ya = i + 0.5 - Y, yb = i + 0.5 - fy, yc = fy + 1.5 - i, yd = Y + 1.5 - i;
                        v = (quadrant (xa, xb, ya, yb) + quadrant (xc, xd, ya, yb) + quadrant (xa, xb, yc, yd) +
                             quadrant (xc, xd, yc, yd)) * 65536 * sx * sy * alpha;
                    }
                    total += m[i * f.n_x + j] = int (v + 0.5);
                }
            correct_total (m, f.n_x * f.n_y, total, alpha);
        }
    return f;
}

const guchar *pixel_at (const Image &s, int64_t x, int64_t y)
{
    x = std::clamp<int64_t> (x, 0, s.width - 1);
    y = std::clamp<int64_t> (y, 0, s.height - 1);
    return s.pixels + y * s.rowstride + x * s.channels;
}

guint32 check_colour (const Request &r, int64_t i, int64_t j)
{
    // Squares of the lowest set bit of the size; 16 for a negative size.
    const int s = r.check_size < 0 ? 4 : r.check_size ? __builtin_ctz (unsigned (r.check_size)) : 0;
    bool odd = (((i + r.check_y) >> s) & 1) != (((j + r.check_x) >> s) & 1);
    return odd ? r.color2 : r.color1;
}

void nearest (const Request &r, int64_t i, int64_t j, guchar *d)
{
    int64_t xs = int64_t (65536.0 / r.scale_x), ys = int64_t (65536.0 / r.scale_y);
    int64_t sx = ((r.render_x0 + j) * xs + xs / 2) >> 16;
    int64_t sy = ((r.render_y0 + i) * ys + ys / 2) >> 16;
    const guchar *p = pixel_at (r.src, sx, sy);
    if (r.op == kScale) {
        for (int c = 0; c < 3; c++) d[c] = p[c];
        if (r.dest_channels == 4) d[3] = r.src.channels == 4 ? p[3] : 255;
        return;
    }
    if (r.op == kComposite) {
        int a0 = r.src.has_alpha ? p[3] * r.overall_alpha / 255 : r.overall_alpha;
        if (a0 == 0) return;
        if (r.dest_has_alpha) {
            unsigned w0 = 255 * a0, w1 = (255 - a0) * d[3], w = w0 + w1;
            for (int c = 0; c < 3; c++) d[c] = guchar ((w0 * p[c] + w1 * d[c]) / w);
            d[3] = guchar (w / 255);
        } else {
            for (int c = 0; c < 3; c++) {
                unsigned t = a0 * p[c] + (255 - a0) * d[c] + 0x80;
                d[c] = guchar ((t + (t >> 8)) >> 8);
            }
        }
        return;
    }
    const guint32 col = check_colour (r, i, j);
    int a0 = r.src.has_alpha ? (p[3] * r.overall_alpha + 0xff) >> 8 : r.overall_alpha;
    for (int c = 0; c < 3; c++) {
        const int k = int ((col >> (16 - 8 * c)) & 0xff), t = (p[c] - k) * a0;
        d[c] = guchar (k + ((t + (t >> 8) + 0x80) >> 8));
    }
    if (r.dest_channels == 4) d[3] = 255;
}

struct Sums {
    uint32_t c[3] = {}, a = 0;
};

// Taps of one pixel, alpha-weighted (weight times alpha, or times 255) or plain.
Sums taps (const Request &r, const int *m, int nx, int ny, int64_t col, int64_t row,
           bool weighted)
{
    Sums s;
    for (int i = 0; i < ny; i++)
        for (int j = 0; j < nx; j++) {
            const guchar *q = pixel_at (r.src, col + j, row + i);
            uint32_t w = uint32_t (m[i * nx + j]);
            uint32_t ta = weighted ? (r.src.has_alpha ? w * q[3] : w * 255) : w;
            for (int c = 0; c < 3; c++) s.c[c] += ta * q[c];
            s.a += ta;
        }
    return s;
}

void filtered (const Request &r, const Filter &f, int64_t i, int64_t j, bool interior, guchar *d)
{
    int64_t xs = int64_t (65536.0 / r.scale_x), ys = int64_t (65536.0 / r.scale_y);
    int64_t x = (r.render_x0 + j) * xs + int64_t (std::floor (f.x_offset * 65536.0));
    int64_t y = (r.render_y0 + i) * ys + int64_t (std::floor (f.y_offset * 65536.0));
    const int *m = f.matrix (int ((y >> 12) & 15), int ((x >> 12) & 15));
    int64_t col = x >> 16, row = y >> 16;
    bool two = f.n_x == 2 && f.n_y == 2;
    if (r.op == kScale) {
        if (interior && two && r.src.channels == 3 && r.dest_channels == 3) {
            Sums s = taps (r, m, 2, 2, col, row, false);  // rounded, not raised
            for (int c = 0; c < 3; c++) d[c] = guchar ((s.c[c] + 0x8000) >> 16);
            return;
        }
        if (r.src.has_alpha) {
            Sums s = taps (r, m, f.n_x, f.n_y, col, row, true);
            for (int c = 0; c < 3; c++) d[c] = s.a ? guchar (s.c[c] / s.a) : 0;
            d[3] = guchar (s.a >> 16);
            return;
        }
        // Interior pixels sum plain weights; at the edges they carry the factor 255 as well.
        Sums s = taps (r, m, f.n_x, f.n_y, col, row, !interior);
        const int shift = interior ? 16 : 24;
        for (int c = 0; c < 3; c++) d[c] = guchar ((s.c[c] + (1u << shift) - 1) >> shift);
        if (r.dest_has_alpha) d[3] = 255;
        return;
    }
    Sums s = taps (r, m, f.n_x, f.n_y, col, row, true);
    if (r.op == kComposite) {
        if (interior && two && r.src.channels == 4 && r.src.has_alpha && r.dest_channels == 4 &&
            !r.dest_has_alpha) {
            for (int c = 0; c < 3; c++) d[c] = guchar (((0xff0000 - s.a) * d[c] + s.c[c]) >> 24);
            d[3] = guchar (s.a >> 16);
            return;
        }
        if (!r.dest_has_alpha) {
            for (int c = 0; c < 3; c++) d[c] = guchar ((s.c[c] + (0xff0000 - s.a) * d[c]) / 0xff0000);
            return;
        }
        const uint32_t w0 = s.a - (s.a >> 8), w1 = ((0xff0000 - s.a) >> 8) * d[3], w = w0 + w1;
        for (int c = 0; c < 3; c++) d[c] = w ? guchar ((s.c[c] - (s.c[c] >> 8) + w1 * d[c]) / w) : 0;
        d[3] = guchar (w / 0xff00);
        return;
    }
    guint32 col_ = check_colour (r, i, j);
    for (int c = 0; c < 3; c++) d[c] = guchar (((0xff0000 - s.a) * ((col_ >> (16 - 8 * c)) & 0xff) + s.c[c]) >> 24);
    if (r.dest_has_alpha)
        d[3] = 255;
    else if (r.dest_channels == 4)
        d[3] = guchar (s.a >> 16);
}

}  // namespace

void run (const Request &req)
{
    if (req.scale_x == 0.0 || req.scale_y == 0.0) return;
    Request r = req;
    if (r.op != kScale && !r.src.has_alpha && r.overall_alpha == 255) r.op = kScale;
    int64_t width = int64_t (r.render_x1) - r.render_x0;
    int64_t height = int64_t (r.render_y1) - r.render_y0;
    if (r.interp == kNearest) {
        for (int64_t i = 0; i < height; i++)
            for (int64_t j = 0; j < width; j++)
                nearest (r, i, j, r.dest + i * r.dest_rowstride + j * r.dest_channels);
        return;
    }
    Filter f = make_filter (r.interp, r.scale_x, r.scale_y,
                            r.op == kScale ? 1.0 : r.overall_alpha / 255.0);
    int64_t xs = int64_t (65536.0 / r.scale_x);
    int64_t xoff = int64_t (std::floor (f.x_offset * 65536.0));
    // A pixel is interior when its first tap is at or right of column 0 and its last tap at or
    // left of the last column, counted as the ceiling of the run end over the step.
    int64_t run_end_x = ((int64_t (r.src.width) - f.n_x + 1) << 16) - xoff;
    int64_t num = run_end_x + xs - 1;
    int64_t run_end = (num >= 0 ? num / xs : -((-num + xs - 1) / xs)) - r.render_x0;
    for (int64_t i = 0; i < height; i++)
        for (int64_t j = 0; j < width; j++) {
            int64_t x = (r.render_x0 + j) * xs + xoff;
            bool interior = (x >> 16) >= 0 && j < run_end;
            filtered (r, f, i, j, interior, r.dest + i * r.dest_rowstride + j * r.dest_channels);
        }
}

}  // namespace ref
