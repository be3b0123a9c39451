// SPDX-License-Identifier: LGPL-2.1-or-later
// PNG loader module on the shared libpng push reader (codec/png-reader.h), and the saver on
// libpng's writer. Whole-file loading feeds the file through the same reader as progressive
// loading, so both give the same pixels whatever the piece sizes.
#include <png.h>

#include "codec/png-reader.h"
#include "common/module-entry.h"

namespace tamba::loader {
namespace {

class PngDecoder final : public Decoder {
public:
    explicit PngDecoder (const ProgressSink &sink) noexcept : Decoder (sink) {}

    bool start () noexcept { return reader_.start (); }
    bool feed (const guchar *data, size_t size) noexcept override { return reader_.feed (data, size); }
    Tamba *finish () noexcept override { return reader_.finish (); }

private:
    PngReader reader_ {formats::png, "", sink_};
};

// Saving. Errors longjmp to the setjmp in write_rows(); the saver reports failure by its
// return value alone, the library names the file and the reason.
void on_save_error (png_structp png, png_const_charp)
{
    png_longjmp (png, 1);
}

void on_save_warning (png_structp, png_const_charp) {}

bool write_rows (png_structp png, png_infop info, FILE *f, const Tamba *image) noexcept
{
    if (setjmp (png_jmpbuf (png))) return false;
    png_init_io (png, f);
    // The default limits guard readers; a writer takes every size the format allows.
    png_set_user_limits (png, 0x7fffffff, 0x7fffffff);
    png_set_IHDR (png, info, png_uint_32 (image->width), png_uint_32 (image->height), 8,
                  image->has_alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                  PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info (png, info);
    for (int y = 0; y < image->height; ++y)
        png_write_row (png, image->pixels + size_t (y) * size_t (image->rowstride));
    png_write_end (png, info);
    return true;
}

}  // namespace
}  // namespace tamba::loader

TAMBA_LOADER_MODULE (png, tamba::loader::PngDecoder)

TAMBA_LOADER_ENTRY gboolean tamba__png_image_save (FILE *f, const Tamba *image, int)
{
    using namespace tamba::loader;
    png_structp png = png_create_write_struct (PNG_LIBPNG_VER_STRING, nullptr, on_save_error,
                                               on_save_warning);
    if (!png) return FALSE;
    png_infop info = png_create_info_struct (png);
    const bool ok = info && write_rows (png, info, f, image);
    png_destroy_write_struct (&png, &info);
    return ok;
}
