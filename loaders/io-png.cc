// SPDX-License-Identifier: LGPL-2.1-or-later
// PNG loader module on libpng's push reader, and the saver on its writer. Whole-file loading
// feeds the file through the same reader as progressive loading, so both give the same pixels
// whatever the piece sizes.
#include <png.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "libcodec-support.h"

namespace {

using tamba::detail::ProgressSink;

constexpr char kFormat[] = "PNG";

// One decode. libpng reports errors by longjmp to the setjmp in feed(); nothing that needs a
// destructor lives on the stack between the two.
class PngDecode {
public:
    explicit PngDecode (const ProgressSink &sink) noexcept : sink_ (sink) {}
    ~PngDecode ()
    {
        if (png_) png_destroy_read_struct (&png_, &info_, nullptr);
        if (image_) tamba_unref (image_);
    }
    PngDecode (const PngDecode &) = delete;
    PngDecode &operator= (const PngDecode &) = delete;

    bool start () noexcept;
    // Hands bytes to libpng; false (with one warning) once the data is found bad.
    bool feed (const guchar *data, size_t size) noexcept;
    // The finished image (the caller's reference), or NULL with a warning.
    Tamba *finish () noexcept;

private:
    static void on_error (png_structp png, png_const_charp message);
    static void on_warning (png_structp png, png_const_charp message);
    static void on_info (png_structp png, png_infop info);
    static void on_row (png_structp png, png_bytep row, png_uint_32 row_num, int pass);
    static void on_end (png_structp png, png_infop info);

    void fail (const char *reason) noexcept
    {
        if (failed_) return;
        tamba::detail::warn_load_failed (kFormat, reason);
        failed_ = true;
        clear_missing_rows ();
    }

    // Rows that never arrived are made black (transparent with alpha), so an image already
    // handed out holds no uninitialised memory. Interlaced images were cleared at the start.
    void clear_missing_rows () noexcept
    {
        if (!image_ || passes_ > 1 || rows_written_ >= image_->height) return;
        std::memset (image_->pixels + size_t (rows_written_) * size_t (image_->rowstride), 0,
                     size_t (image_->height - rows_written_) * size_t (image_->rowstride));
        sink_.updated (image_, 0, guint (rows_written_), guint (image_->width),
                       guint (image_->height - rows_written_));
        rows_written_ = image_->height;
    }

    ProgressSink sink_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    Tamba *image_ = nullptr;
    int passes_ = 1;
    int rows_written_ = 0;  // of a non-interlaced image, which comes top to bottom
    bool rows_complete_ = false;  // the last row of the last pass has been delivered
    bool ended_ = false;
    bool failed_ = false;
    char error_[200] = "";
    char header_warning_[200] = "";
};

void PngDecode::on_error (png_structp png, png_const_charp message)
{
    auto *self = static_cast<PngDecode *> (png_get_error_ptr (png));
    if (!self->image_ && self->header_warning_[0])
        g_snprintf (self->error_, sizeof self->error_, "%s (%s)", message, self->header_warning_);
    else
        tamba::detail::keep_message (self->error_, message);
    png_longjmp (png, 1);
}

// libpng explains a refused header in a warning just before its generic "Invalid IHDR data"
// error; that explanation is kept for the failure message.
void PngDecode::on_warning (png_structp png, png_const_charp message)
{
    auto *self = static_cast<PngDecode *> (png_get_error_ptr (png));
    if (!self->image_ && !self->header_warning_[0])
        tamba::detail::keep_message (self->header_warning_, message);
}

void PngDecode::on_info (png_structp png, png_infop info)
{
    auto *self = static_cast<PngDecode *> (png_get_progressive_ptr (png));
    const png_uint_32 width = png_get_image_width (png, info);
    const png_uint_32 height = png_get_image_height (png, info);
    if (!tamba::detail::image_size_allowed (width, height))
        png_error (png, tamba::detail::kTooLargeMessage);

    // Everything becomes 8-bit RGB or RGBA: palettes and low bit depths expand, tRNS becomes
    // alpha, 16-bit samples are scaled with rounding (not truncated). No gamma is applied.
    png_set_expand (png);
    png_set_scale_16 (png);
    png_set_gray_to_rgb (png);
    self->passes_ = png_set_interlace_handling (png);
    png_read_update_info (png, info);

    const int channels = png_get_channels (png, info);
    if ((channels != 3 && channels != 4) || png_get_bit_depth (png, info) != 8)
        png_error (png, "unsupported pixel layout");
    Tamba *image = tamba_new (GDK_COLORSPACE_RGB, channels == 4, 8, int (width), int (height));
    if (!image) png_error (png, tamba::detail::kNoMemoryMessage);
    // Interlaced rows are combined into what the earlier passes left, so start from defined
    // pixels.
    if (self->passes_ > 1)
        std::memset (image->pixels, 0, size_t (image->rowstride) * size_t (image->height));
    self->image_ = image;
    self->sink_.prepared (image);
}

void PngDecode::on_row (png_structp png, png_bytep row, png_uint_32 row_num, int pass)
{
    auto *self = static_cast<PngDecode *> (png_get_progressive_ptr (png));
    Tamba *image = self->image_;
    // libpng calls back for every row of every pass (Adam7's last pass is 6), so the image is
    // whole once the last row of the last pass has come; IEND alone does not prove that.
    if (image && row_num + 1 == png_uint_32 (image->height) && pass == (self->passes_ > 1 ? 6 : 0))
        self->rows_complete_ = true;
    // Rows a pass leaves unchanged come as NULL.
    if (!row || !image || row_num >= png_uint_32 (image->height)) return;
    guchar *dest = image->pixels + size_t (row_num) * size_t (image->rowstride);
    if (self->passes_ > 1)
        png_progressive_combine_row (png, dest, row);
    else
        std::memcpy (dest, row, size_t (image->width) * size_t (image->n_channels));
    self->rows_written_ = std::max (self->rows_written_, int (row_num) + 1);
    self->sink_.updated (image, 0, row_num, guint (image->width), 1);
}

void PngDecode::on_end (png_structp png, png_infop)
{
    static_cast<PngDecode *> (png_get_progressive_ptr (png))->ended_ = true;
}

bool PngDecode::start () noexcept
{
    png_ = png_create_read_struct (PNG_LIBPNG_VER_STRING, this, on_error, on_warning);
    if (png_) info_ = png_create_info_struct (png_);
    if (!info_) {
        fail (tamba::detail::kNoMemoryMessage);
        return false;
    }
    if (setjmp (png_jmpbuf (png_))) {
        fail (error_);
        return false;
    }
    // libpng's own default refuses sides above a million; the module's limit is the rule here.
    png_set_user_limits (png_, png_uint_32 (tamba::detail::kMaxImageSide),
                         png_uint_32 (tamba::detail::kMaxImageSide));
    png_set_progressive_read_fn (png_, this, on_info, on_row, on_end);
    return true;
}

bool PngDecode::feed (const guchar *data, size_t size) noexcept
{
    if (failed_) return false;
    // Bytes after the end of the image are ignored.
    if (ended_ || size == 0) return true;
    if (setjmp (png_jmpbuf (png_))) {
        fail (error_);
        return false;
    }
    png_process_data (png_, info_, const_cast<guchar *> (data), size);
    return true;
}

Tamba *PngDecode::finish () noexcept
{
    if (failed_) return nullptr;
    if (!rows_complete_) {
        fail (image_ ? "the image data is incomplete" : "the file ends before the image header");
        return nullptr;
    }
    Tamba *image = image_;
    image_ = nullptr;
    return image;
}

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

TAMBA_DEFINE_CODEC_MODULE (png, PngDecode)

extern "C" G_MODULE_EXPORT gboolean tamba__png_image_save (FILE *f, const Tamba *image, int)
{
    png_structp png = png_create_write_struct (PNG_LIBPNG_VER_STRING, nullptr, on_save_error,
                                               on_save_warning);
    if (!png) return FALSE;
    png_infop info = png_create_info_struct (png);
    const bool ok = info && write_rows (png, info, f, image);
    png_destroy_write_struct (&png, &info);
    return ok;
}
