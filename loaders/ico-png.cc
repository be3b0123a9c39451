// SPDX-License-Identifier: LGPL-2.1-or-later
// PNG icon entries through libpng's own reader, from memory. libpng reports errors by longjmp,
// so the functions that call into it hold nothing with a destructor.
#include "ico-png.h"

#include <png.h>

#include <cstring>

#include "stream-decoder.h"

namespace tamba::detail {
namespace {

struct MemoryReader {
    const guchar *data;
    size_t size;
    size_t offset;
};

void read_from_memory (png_structp png, png_bytep out, png_size_t length)
{
    auto *r = static_cast<MemoryReader *> (png_get_io_ptr (png));
    if (length > r->size - r->offset) png_error (png, "PNG data ends early");
    std::memcpy (out, r->data + r->offset, length);
    r->offset += length;
}

void on_png_error (png_structp png, png_const_charp message)
{
    decoder_warning ("ico", "PNG entry: %s", message);
    png_longjmp (png, 1);
}

void on_png_warning (png_structp, png_const_charp) {}

// Reads the header and sets up conversion to 8-bit RGBA.
bool read_info (png_structp png, png_infop info, png_uint_32 &width, png_uint_32 &height) noexcept
{
    if (setjmp (png_jmpbuf (png))) return false;
    png_read_info (png, info);
    width = png_get_image_width (png, info);
    height = png_get_image_height (png, info);
    png_set_expand (png);
    png_set_strip_16 (png);
    png_set_gray_to_rgb (png);
    png_set_add_alpha (png, 0xff, PNG_FILLER_AFTER);
    png_set_interlace_handling (png);
    png_read_update_info (png, info);
    return png_get_rowbytes (png, info) == size_t (width) * 4;
}

bool read_rows (png_structp png, png_infop info, png_bytepp rows) noexcept
{
    if (setjmp (png_jmpbuf (png))) return false;
    png_read_image (png, rows);
    png_read_end (png, info);
    return true;
}

}  // namespace

bool decode_png_rgba (const guchar *data, size_t size, int &width, int &height,
                      std::vector<guchar> &rgba)
{
    if (size < sizeof kPngSignature || std::memcmp (data, kPngSignature, sizeof kPngSignature) != 0)
        return false;
    png_structp png = png_create_read_struct (PNG_LIBPNG_VER_STRING, nullptr, on_png_error,
                                              on_png_warning);
    if (!png) return false;
    png_infop info = png_create_info_struct (png);
    MemoryReader reader {data, size, 0};
    bool ok = info != nullptr;
    png_uint_32 w = 0, h = 0;
    if (ok) {
        png_set_read_fn (png, &reader, read_from_memory);
        ok = read_info (png, info, w, h) && dimensions_ok ("ico", w, h);
    }
    std::vector<png_bytep> rows;
    if (ok) {
        // The PNG structures must be freed whatever happens, so allocation failure is caught.
        try {
            rgba.assign (size_t (w) * size_t (h) * 4, 0);
            rows.resize (h);
        } catch (const std::bad_alloc &) {
            decoder_warning ("ico", "not enough memory for a %ux%u PNG entry", w, h);
            ok = false;
        }
    }
    if (ok) {
        for (png_uint_32 y = 0; y < h; ++y) rows[y] = rgba.data () + size_t (y) * size_t (w) * 4;
        ok = read_rows (png, info, rows.data ());
    }
    png_destroy_read_struct (&png, info ? &info : nullptr, nullptr);
    width = int (w);
    height = int (h);
    return ok;
}

}  // namespace tamba::detail
