// SPDX-License-Identifier: LGPL-2.1-or-later
// The pixel engine: sizes (1..64), layouts, scales, offsets, interpolation, overall_alpha and
// checkerboard options come from the input's last kOptionBytes bytes, source and destination
// pixels from the rest. The destination image sits inside a larger buffer; after the operation
// every byte outside the rectangle (other pixels, row padding, the guard bands around the image)
// must be unchanged. Half the inputs go through pixops_* directly, half through tamba_*.
#include <cmath>
#include <cstring>

#include "fuzz-input.h"
#include "pixops/pixops.h"
#include "tamba/tamba.h"

namespace {

constexpr size_t kOptionBytes = 24;
constexpr size_t kGuardBytes = 64;
constexpr std::uint8_t kGuardFill = 0xA5;

// One channel layout: 3 without alpha, 4 with alpha, 4 with a fourth byte that is not alpha.
struct Layout {
    int channels;
    bool has_alpha;
};
constexpr Layout kLayouts[] = {{3, false}, {4, true}, {4, false}};

enum class Op { kScale, kComposite, kCompositeColor };

struct Options {
    Op op;
    bool image_level;
    int src_w, src_h, dest_w, dest_h;
    Layout src, dest;
    int src_stride_pad, dest_stride_pad;
    double scale_x, scale_y;
    int interp;
    int overall_alpha;
    int rect_x, rect_y, rect_w, rect_h;
    int offset_x, offset_y;  // quarter pixels for the image level, whole for pixops
    int check_x, check_y, check_size;
    guint32 color1, color2;
};

int size_from (std::uint8_t b) { return b % 64 + 1; }
// Scale factors from 1/256 to 256, in 1/16 steps of the exponent.
double scale_from (std::uint8_t b) { return std::exp2 ((int (b) - 128) / 16.0); }
guint32 color_from (std::uint8_t b) { return guint32 (b) * 0x010305u & 0xFFFFFFu; }

Options parse (const tamba::fuzz::FuzzInput &in)
{
    auto o = [&] (size_t i) { return in.option (i); };
    Options opt {};
    opt.op = Op (o (0) % 3);
    opt.image_level = (o (0) >> 2) & 1;
    opt.src_w = size_from (o (1));
    opt.src_h = size_from (o (2));
    opt.dest_w = size_from (o (3));
    opt.dest_h = size_from (o (4));
    // The image record only knows 3 channels without alpha and 4 with it.
    const int layouts = opt.image_level ? 2 : 3;
    opt.src = kLayouts[o (5) % layouts];
    opt.dest = kLayouts[o (6) % layouts];
    if (opt.src.has_alpha && !opt.dest.has_alpha) opt.dest = kLayouts[1];
    opt.scale_x = scale_from (o (7));
    opt.scale_y = scale_from (o (8));
    opt.interp = o (9) % 4;
    opt.overall_alpha = o (10);
    opt.rect_x = o (11) % opt.dest_w;
    opt.rect_y = o (12) % opt.dest_h;
    opt.rect_w = o (13) % (opt.dest_w - opt.rect_x + 1);
    opt.rect_h = o (14) % (opt.dest_h - opt.rect_y + 1);
    opt.offset_x = std::int8_t (o (15));
    opt.offset_y = std::int8_t (o (16));
    opt.check_x = std::int8_t (o (17));
    opt.check_y = std::int8_t (o (18));
    opt.check_size = o (19);
    opt.src_stride_pad = o (20) % 4;
    opt.dest_stride_pad = (o (20) >> 2) % 4;
    opt.color1 = color_from (o (21));
    opt.color2 = color_from (o (22));
    return opt;
}

// Fills bytes cyclically from the payload (zeros when it is empty), starting at *cursor.
void fill (guchar *out, size_t n, const std::vector<std::uint8_t> &payload, size_t *cursor)
{
    for (size_t i = 0; i < n; ++i)
        out[i] = payload.empty () ? 0 : payload[(*cursor)++ % payload.size ()];
}

void run_pixops (const Options &o, guchar *dest_rect, int dest_stride, const guchar *src,
                 int src_stride)
{
    const int x0 = o.offset_x, y0 = o.offset_y;
    const int x1 = x0 + o.rect_w, y1 = y0 + o.rect_h;
    const auto interp = PixopsInterpType (o.interp);
    switch (o.op) {
    case Op::kScale:
        pixops_scale (dest_rect, x0, y0, x1, y1, dest_stride, o.dest.channels, o.dest.has_alpha,
                      src, o.src_w, o.src_h, src_stride, o.src.channels, o.src.has_alpha,
                      o.scale_x, o.scale_y, interp);
        break;
    case Op::kComposite:
        pixops_composite (dest_rect, x0, y0, x1, y1, dest_stride, o.dest.channels,
                          o.dest.has_alpha, src, o.src_w, o.src_h, src_stride, o.src.channels,
                          o.src.has_alpha, o.scale_x, o.scale_y, interp, o.overall_alpha);
        break;
    case Op::kCompositeColor:
        pixops_composite_color (dest_rect, x0, y0, x1, y1, dest_stride, o.dest.channels,
                                o.dest.has_alpha, src, o.src_w, o.src_h, src_stride,
                                o.src.channels, o.src.has_alpha, o.scale_x, o.scale_y, interp,
                                o.overall_alpha, o.check_x, o.check_y, o.check_size, o.color1,
                                o.color2);
        break;
    }
}

void run_image_level (const Options &o, guchar *dest_pixels, int dest_stride, const guchar *src,
                      int src_stride)
{
    Tamba *s = tamba_new_from_data (src, GDK_COLORSPACE_RGB, o.src.has_alpha, 8, o.src_w,
                                    o.src_h, src_stride, nullptr, nullptr);
    Tamba *d = tamba_new_from_data (dest_pixels, GDK_COLORSPACE_RGB, o.dest.has_alpha, 8,
                                    o.dest_w, o.dest_h, dest_stride, nullptr, nullptr);
    if (!s || !d) tamba::fuzz::fail ("tamba_new_from_data refused a valid image");
    const double ox = o.offset_x / 4.0, oy = o.offset_y / 4.0;
    const auto interp = GdkInterpType (o.interp);
    switch (o.op) {
    case Op::kScale:
        tamba_scale (s, d, o.rect_x, o.rect_y, o.rect_w, o.rect_h, ox, oy, o.scale_x, o.scale_y,
                     interp);
        break;
    case Op::kComposite:
        tamba_composite (s, d, o.rect_x, o.rect_y, o.rect_w, o.rect_h, ox, oy, o.scale_x,
                         o.scale_y, interp, o.overall_alpha);
        break;
    case Op::kCompositeColor:
        tamba_composite_color (s, d, o.rect_x, o.rect_y, o.rect_w, o.rect_h, ox, oy, o.scale_x,
                               o.scale_y, interp, o.overall_alpha, o.check_x, o.check_y,
                               o.check_size ? o.check_size : 1, o.color1, o.color2);
        break;
    }
    tamba_unref (s);
    tamba_unref (d);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t *data, size_t size)
{
    const tamba::fuzz::FuzzInput input (data, size, kOptionBytes);
    const Options o = parse (input);
    size_t cursor = 0;

    // The source is exactly as large as its last row needs, so over-reads are caught.
    const int src_stride = o.src_w * o.src.channels + o.src_stride_pad;
    std::vector<guchar> src (size_t (src_stride) * size_t (o.src_h - 1)
                             + size_t (o.src_w * o.src.channels));
    fill (src.data (), src.size (), input.payload (), &cursor);

    const int dest_stride = o.dest_w * o.dest.channels + o.dest_stride_pad;
    const size_t image_bytes = size_t (dest_stride) * size_t (o.dest_h);
    std::vector<guchar> dest (kGuardBytes + image_bytes + kGuardBytes, kGuardFill);
    guchar *pixels = dest.data () + kGuardBytes;
    fill (pixels, image_bytes, input.payload (), &cursor);
    const std::vector<guchar> before (dest);

    if (o.image_level) {
        run_image_level (o, pixels, dest_stride, src.data (), src_stride);
    } else {
        guchar *rect = pixels + size_t (o.rect_y) * size_t (dest_stride)
                       + size_t (o.rect_x) * size_t (o.dest.channels);
        run_pixops (o, rect, dest_stride, src.data (), src_stride);
    }

    // Every byte outside the rectangle keeps its value.
    const size_t rect_begin = size_t (o.rect_x) * size_t (o.dest.channels);
    const size_t rect_end = rect_begin + size_t (o.rect_w) * size_t (o.dest.channels);
    for (size_t i = 0; i < dest.size (); ++i) {
        const bool inside_image = i >= kGuardBytes && i < kGuardBytes + image_bytes;
        if (inside_image) {
            const size_t row = (i - kGuardBytes) / size_t (dest_stride);
            const size_t col = (i - kGuardBytes) % size_t (dest_stride);
            if (row >= size_t (o.rect_y) && row < size_t (o.rect_y + o.rect_h)
                && col >= rect_begin && col < rect_end)
                continue;
        }
        if (dest[i] != before[i]) {
            std::fprintf (stderr, "byte %zu of the destination buffer changed outside the "
                          "rectangle\n", i);
            tamba::fuzz::fail ("write outside the destination rectangle");
        }
    }
    return 0;
}
