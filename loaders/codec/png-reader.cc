// SPDX-License-Identifier: LGPL-2.1-or-later
// libpng reports errors by longjmp to the setjmp in start() or feed(); nothing that needs a
// destructor lives on the stack between the two.
#include "png-reader.h"

#include <png.h>

#include <algorithm>
#include <cstring>

#include "common/image-alloc.h"
#include "common/messages.h"

namespace tamba::loader {

struct PngReader::Callbacks {
    static PngReader *of (png_structp png) { return static_cast<PngReader *> (png_get_error_ptr (png)); }

    static void on_error (png_structp png, png_const_charp message)
    {
        PngReader *self = of (png);
        if (!self->image_ && self->header_warning_[0])
            g_snprintf (self->error_, sizeof self->error_, "%s (%s)", message,
                        self->header_warning_);
        else
            keep_message (self->error_, message);
        png_longjmp (png, 1);
    }

    // libpng explains a refused header in a warning just before its generic "Invalid IHDR
    // data" error; that explanation is kept for the failure message.
    static void on_warning (png_structp png, png_const_charp message)
    {
        PngReader *self = of (png);
        if (!self->image_ && !self->header_warning_[0]) keep_message (self->header_warning_, message);
    }

    static void on_info (png_structp png, png_infop info)
    {
        PngReader *self = of (png);
        const png_uint_32 width = png_get_image_width (png, info);
        const png_uint_32 height = png_get_image_height (png, info);
        if (!check_size (self->format_, width, height)) {
            self->quiet_ = true;
            png_longjmp (png, 1);
        }
        png_set_expand (png);
        png_set_scale_16 (png);
        png_set_gray_to_rgb (png);
        self->passes_ = png_set_interlace_handling (png);
        png_read_update_info (png, info);

        const int channels = png_get_channels (png, info);
        if ((channels != 3 && channels != 4) || png_get_bit_depth (png, info) != 8)
            png_error (png, "unsupported pixel layout");
        // Interlaced rows are combined into what the earlier passes left, so they start from
        // defined pixels.
        Tamba *image = new_image (self->format_, channels == 4, width, height,
                                  self->passes_ > 1 ? 0 : kNoFill);
        if (!image) {
            self->quiet_ = true;
            png_longjmp (png, 1);
        }
        self->image_ = image;
        self->sink_.prepared (image);
    }

    static void on_row (png_structp png, png_bytep row, png_uint_32 row_num, int pass)
    {
        PngReader *self = of (png);
        Tamba *image = self->image_;
        // libpng calls back for every row of every pass (Adam7's last pass is 6), so the image
        // is whole once the last row of the last pass has come; IEND alone does not prove that.
        if (image && row_num + 1 == png_uint_32 (image->height)
            && pass == (self->passes_ > 1 ? 6 : 0))
            self->rows_complete_ = true;
        // Rows a pass leaves unchanged come as NULL.
        if (!row || !image || row_num >= png_uint_32 (image->height)) return;
        guchar *dest = image->pixels + size_t (row_num) * size_t (image->rowstride);
        if (self->passes_ > 1)
            png_progressive_combine_row (png, dest, row);
        else
            std::memcpy (dest, row, size_t (image->width) * size_t (image->n_channels));
        self->rows_written_ = std::max (self->rows_written_, int (row_num) + 1);
        self->sink_.rows_done (image, int (row_num), 1);
    }

    static void on_end (png_structp png, png_infop) { of (png)->ended_ = true; }
};

PngReader::~PngReader ()
{
    auto *png = static_cast<png_structp> (png_);
    auto *info = static_cast<png_infop> (info_);
    if (png) png_destroy_read_struct (&png, info ? &info : nullptr, nullptr);
    if (image_) tamba_unref (image_);
}

void PngReader::fail (const char *reason) noexcept
{
    if (failed_) return;
    if (!quiet_) warn (format_, "%s%s", context_, reason);
    failed_ = true;
    clear_missing_rows ();
}

// Rows that never arrived are made black (transparent with alpha), so an image already handed
// out holds no uninitialised memory. Interlaced images were cleared at the start.
void PngReader::clear_missing_rows () noexcept
{
    if (!image_ || passes_ > 1 || rows_written_ >= image_->height) return;
    std::memset (image_->pixels + size_t (rows_written_) * size_t (image_->rowstride), 0,
                 size_t (image_->height - rows_written_) * size_t (image_->rowstride));
    sink_.rows_done (image_, rows_written_, image_->height - rows_written_);
    rows_written_ = image_->height;
}

bool PngReader::start () noexcept
{
    auto *png = png_create_read_struct (PNG_LIBPNG_VER_STRING, this, Callbacks::on_error,
                                        Callbacks::on_warning);
    png_ = png;
    if (png) info_ = png_create_info_struct (png);
    if (!info_) {
        fail ("not enough memory for the image");
        return false;
    }
    if (setjmp (png_jmpbuf (png))) {
        fail (error_);
        return false;
    }
    // libpng's own default refuses sides above a million; the limits table is the rule here.
    png_set_user_limits (png, png_uint_32 (kLongSide), png_uint_32 (kLongSide));
    png_set_progressive_read_fn (png, this, Callbacks::on_info, Callbacks::on_row,
                                 Callbacks::on_end);
    return true;
}

bool PngReader::feed (const guchar *data, size_t size) noexcept
{
    if (failed_) return false;
    if (ended_ || size == 0) return true;
    auto *png = static_cast<png_structp> (png_);
    if (setjmp (png_jmpbuf (png))) {
        fail (error_);
        return false;
    }
    png_process_data (png, static_cast<png_infop> (info_), const_cast<guchar *> (data), size);
    return true;
}

Tamba *PngReader::finish () noexcept
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

Tamba *decode_png (const Format &format, const char *context, const guchar *data, size_t size)
{
    ProgressSink none;
    PngReader reader (format, context, none);
    if (!reader.start () || !reader.feed (data, size)) return nullptr;
    // All of it is here, so it must reach its end.
    if (!reader.ended ()) {
        warn (format, "%sPNG data ends early", context);
        return nullptr;
    }
    return reader.finish ();
}

}  // namespace tamba::loader
