// SPDX-License-Identifier: LGPL-2.1-or-later
// A deliberately plain scalar model of the engine, written from the arithmetic alone and sharing
// no code with it: one destination pixel at a time, no specialisation, 64-bit positions.
#ifndef TAMBA_TESTS_ENGINE_REFERENCE_H
#define TAMBA_TESTS_ENGINE_REFERENCE_H

#include <glib.h>

#include <cstdint>

namespace ref {

enum Interp { kNearest = 0, kTiles = 1, kBilinear = 2, kHyper = 3 };
enum Op { kScale, kComposite, kCompositeColor };

struct Image {
    const guchar *pixels;
    int width, height, rowstride, channels;
    bool has_alpha;
};

struct Request {
    Op op;
    guchar *dest;  // pixel receiving (render_x0, render_y0)
    int render_x0, render_y0, render_x1, render_y1;
    int dest_rowstride, dest_channels;
    bool dest_has_alpha;
    Image src;
    double scale_x, scale_y;
    int interp;
    int overall_alpha;
    int check_x, check_y, check_size;
    guint32 color1, color2;
};

// Runs one request as the engine must, for accepted layouts, valid scales and check sizes.
void run (const Request &r);

}  // namespace ref

#endif
