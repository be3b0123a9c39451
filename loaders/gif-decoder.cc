// SPDX-License-Identifier: LGPL-2.1-or-later
#include "gif-decoder.h"

#include <algorithm>

namespace tamba::loader {

namespace {

constexpr size_t kHeaderSize = 13;  // signature, version, logical screen descriptor
constexpr size_t kDescriptorSize = 9;
constexpr guint8 kExtensionIntroducer = 0x21;
constexpr guint8 kImageSeparator = 0x2C;
constexpr guint8 kTrailer = 0x3B;
constexpr guint8 kControlLabel = 0xF9;

constexpr int kPassStart[4] = {0, 4, 2, 1};
constexpr int kPassStep[4] = {8, 8, 4, 2};

int read_u16 (const guint8 *p) noexcept
{
    return p[0] | (p[1] << 8);
}

int table_entries (guint8 flags) noexcept
{
    return 2 << (flags & 7);
}

}  // namespace

GifDecoder::~GifDecoder ()
{
    if (image_) tamba_unref (image_);
}

bool GifDecoder::fail (const char *why) noexcept
{
    warn (formats::gif, "%s", why);
    warned_ = true;
    state_ = State::Failed;
    return false;
}

// Returns the n bytes of the current structure once they are all there, from the input when
// they arrived together, else from held_; nullptr while more input is needed.
const guint8 *GifDecoder::gather (size_t n, const guint8 *&p, const guint8 *end) noexcept
{
    const size_t avail = size_t (end - p);
    if (n_held_ == 0 && avail >= n) {
        const guint8 *start = p;
        p += n;
        return start;
    }
    const size_t take = std::min (n - n_held_, avail);
    std::copy (p, p + take, held_.begin () + long (n_held_));
    n_held_ += take;
    p += take;
    if (n_held_ < n) return nullptr;
    n_held_ = 0;
    return held_.data ();
}

bool GifDecoder::feed (const guchar *data, size_t size) noexcept
{
    if (state_ == State::Failed) return false;
    const guint8 *p = data;
    const guint8 *end = data + size;
    bool ok = true;
    while (ok && p < end && state_ != State::Trailer) ok = step (p, end);
    sink_.flush ();
    return ok && state_ != State::Failed;
}

// Advances by one structure or as far as the input goes; false when the stream is broken.
bool GifDecoder::step (const guint8 *&p, const guint8 *end) noexcept
{
    switch (state_) {
    case State::Header: {
        const guint8 *h = gather (kHeaderSize, p, end);
        return !h || parse_header (h);
    }
    case State::GlobalTable: {
        const guint8 *t = gather (size_t (global_entries_) * 3, p, end);
        if (t) {
            std::copy (t, t + global_entries_ * 3, global_table_.begin ());
            state_ = State::BlockStart;
        }
        return true;
    }
    case State::BlockStart: {
        const guint8 b = *p++;
        if (b == kExtensionIntroducer) state_ = State::ExtensionLabel;
        else if (b == kImageSeparator) state_ = State::ImageDescriptor;
        else if (b == kTrailer) {
            state_ = State::Trailer;
            sink_.animation_done (nullptr);
        } else
            return fail ("unknown block type");
        return true;
    }
    case State::ExtensionLabel:
        extension_label_ = *p++;
        first_extension_block_ = true;
        state_ = State::ExtensionBlockSize;
        return true;
    case State::ExtensionBlockSize:
        block_left_ = *p++;
        state_ = block_left_ ? State::ExtensionBlockData : State::BlockStart;
        return true;
    case State::ExtensionBlockData: {
        if (first_extension_block_ && extension_label_ == kControlLabel && block_left_ >= 4) {
            const guint8 *b = gather (block_left_, p, end);
            if (!b) return true;
            parse_control (b);
            block_left_ = 0;
        } else {
            const size_t n = std::min (block_left_, size_t (end - p));
            p += n;
            block_left_ -= n;
        }
        if (block_left_ == 0) {
            first_extension_block_ = false;
            state_ = State::ExtensionBlockSize;
        }
        return true;
    }
    case State::ImageDescriptor: {
        const guint8 *d = gather (kDescriptorSize, p, end);
        return !d || begin_image (d);
    }
    case State::LocalTable: {
        const guint8 *t = gather (size_t (local_entries_) * 3, p, end);
        if (t) {
            load_palette (t, local_entries_);
            state_ = State::MinCodeSize;
        }
        return true;
    }
    case State::MinCodeSize:
        return start_pixels (*p++);
    case State::DataBlockSize:
        block_left_ = *p++;
        if (block_left_ == 0) {
            end_image ();
            state_ = State::BlockStart;
        } else
            state_ = State::DataBlockData;
        return true;
    case State::DataBlockData: {
        const size_t n = std::min (block_left_, size_t (end - p));
        if (!pixels_broken_ && !lzw_.ended ()) {
            const bool ok = lzw_.decode (p, n, [this] (const guint8 *indices, size_t count) {
                put_indices (indices, count);
            });
            if (!ok) {
                warn (formats::gif, "invalid LZW code; the rest of the image is left blank");
                warned_ = true;
                pixels_broken_ = true;
            }
        }
        p += n;
        block_left_ -= n;
        if (block_left_ == 0) state_ = State::DataBlockSize;
        return true;
    }
    case State::Trailer:
    case State::Failed:
        break;
    }
    return false;
}

bool GifDecoder::parse_header (const guint8 *h) noexcept
{
    if (std::memcmp (h, "GIF87a", 6) != 0 && std::memcmp (h, "GIF89a", 6) != 0)
        return fail ("not a GIF87a or GIF89a file");
    screen_width_ = read_u16 (h + 6);
    screen_height_ = read_u16 (h + 8);
    // A zero side is settled by the first image (begin_image).
    if (screen_width_ && screen_height_ && !within_limits (formats::gif, screen_width_, screen_height_))
        return fail ("logical screen is too large");
    const guint8 flags = h[10];
    if (flags & 0x80) {
        global_entries_ = table_entries (flags);
        state_ = State::GlobalTable;
    } else
        state_ = State::BlockStart;
    return true;
}

void GifDecoder::parse_control (const guint8 *block) noexcept
{
    control_seen_ = true;
    const int disposal = (block[0] >> 2) & 7;
    action_ = disposal == 2   ? TAMBA_FRAME_DISPOSE
              : disposal == 3 ? TAMBA_FRAME_REVERT
                              : TAMBA_FRAME_RETAIN;
    delay_ = read_u16 (block + 1);
    transparent_ = (block[0] & 1) ? block[3] : -1;
}

bool GifDecoder::begin_image (const guint8 *d) noexcept
{
    frame_x_ = read_u16 (d);
    frame_y_ = read_u16 (d + 2);
    frame_width_ = read_u16 (d + 4);
    frame_height_ = read_u16 (d + 6);
    const guint8 flags = d[8];
    interlaced_ = (flags & 0x40) != 0;
    if (screen_width_ == 0 || screen_height_ == 0) {
        screen_width_ = std::max (screen_width_, frame_x_ + frame_width_);
        screen_height_ = std::max (screen_height_, frame_y_ + frame_height_);
        if (!within_limits (formats::gif, screen_width_, screen_height_))
            return fail ("image does not fit a supported logical screen");
    }
    // The control extension belongs to this image and to no later one.
    frame_alpha_ = control_seen_ && transparent_ >= 0;
    frame_action_ = control_seen_ ? action_ : TAMBA_FRAME_RETAIN;
    frame_delay_ = control_seen_ ? delay_ : 0;
    control_seen_ = false;
    if (flags & 0x80) {
        local_entries_ = table_entries (flags);
        state_ = State::LocalTable;
    } else {
        load_palette (global_table_.data (), global_entries_);
        state_ = State::MinCodeSize;
    }
    return true;
}

void GifDecoder::load_palette (const guint8 *table, int entries) noexcept
{
    for (int i = 0; i < 256; ++i) {
        guint8 rgba[4] = {0, 0, 0, 255};  // indices beyond the table are opaque black
        if (i < entries) std::copy (table + i * 3, table + i * 3 + 3, rgba);
        std::memcpy (&palette_[size_t (i)], rgba, 4);
    }
    if (frame_alpha_) palette_[size_t (transparent_)] = 0;
}

bool GifDecoder::start_pixels (int min_code_size) noexcept
{
    if (!lzw_.reset (min_code_size)) return fail ("LZW minimum code size is outside 2..8");
    pixels_left_ = std::uint64_t (frame_width_) * std::uint64_t (frame_height_);
    column_ = row_ = pass_ = 0;
    pixels_broken_ = false;
    state_ = State::DataBlockSize;
    // Only the part of the image on the logical screen is kept.
    const int width = std::min (frame_width_, screen_width_ - frame_x_);
    const int height = std::min (frame_height_, screen_height_ - frame_y_);
    if (width <= 0 || height <= 0) return true;
    stream_pixels_ += std::int64_t (width) * height + kGifFramePixels;
    if (stream_pixels_ > kGifStreamPixels) return fail ("the frames exceed 2^29 pixels in all");
    image_ = new_image (formats::gif, frame_alpha_, width, height);
    if (!image_) return fail ("cannot allocate the frame");
    sink_.prepared (image_);
    return true;
}

void GifDecoder::put_indices (const guint8 *indices, size_t n) noexcept
{
    while (n > 0 && pixels_left_ > 0) {
        const size_t run = size_t (std::min<std::uint64_t> (
            {std::uint64_t (n), std::uint64_t (frame_width_ - column_), pixels_left_}));
        if (image_ && row_ < image_->height && column_ < image_->width) {
            const int nc = image_->n_channels;
            const size_t keep = std::min (run, size_t (image_->width - column_));
            guint8 *out = image_->pixels + size_t (row_) * size_t (image_->rowstride)
                          + size_t (column_) * size_t (nc);
            if (nc == 4) {
                for (size_t i = 0; i < keep; ++i, out += 4)
                    std::memcpy (out, &palette_[indices[i]], 4);
            } else {
                for (size_t i = 0; i < keep; ++i, out += 3)
                    std::memcpy (out, &palette_[indices[i]], 3);
            }
        }
        indices += run;
        n -= run;
        pixels_left_ -= run;
        column_ += int (run);
        if (column_ == frame_width_) next_row ();
    }
}

void GifDecoder::next_row () noexcept
{
    if (image_ && row_ < image_->height) sink_.rows_done (image_, row_, 1);
    column_ = 0;
    if (!interlaced_) {
        ++row_;
        return;
    }
    row_ += kPassStep[pass_];
    while (row_ >= frame_height_ && pass_ < 3) {
        ++pass_;
        row_ = kPassStart[pass_];
    }
}

void GifDecoder::end_image () noexcept
{
    sink_.flush ();
    if (!image_) return;
    auto *frame = static_cast<TambaFrame *> (g_malloc0 (sizeof (TambaFrame)));
    frame->tamba = image_;
    frame->x_offset = frame_x_;
    frame->y_offset = frame_y_;
    frame->delay_time = frame_delay_;
    frame->action = frame_action_;
    // Whoever receives the frame holds its own reference (the one taken at prepare); ours
    // goes now.
    Tamba *image = image_;
    image_ = nullptr;
    if (sink_.wants_frames ()) sink_.frame_done (frame);
    else g_free (frame);
    tamba_unref (image);
}

Tamba *GifDecoder::finish () noexcept
{
    if (state_ == State::DataBlockSize || state_ == State::DataBlockData) end_image ();
    return nullptr;
}

}  // namespace tamba::loader
