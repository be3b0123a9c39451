// SPDX-License-Identifier: LGPL-2.1-or-later
// BMP loader: OS/2 1.x and 2.x, Windows 3 and V2 to V5 headers; 1, 2, 4, 8, 16, 24 and 32 bits
// per pixel; uncompressed, RLE8, RLE4 and bit fields; bottom-up and top-down. Progressive: rows
// are reported as they complete, in file order.
//
// Bit-field images with an alpha mask keep their alpha, unless it is 0 in every pixel: then the
// image is opaque (the rows are reported once more when that is known, at the end).
//
// RLE bitmaps load with an alpha channel: pixels the stream skips (deltas, early end of line or
// of bitmap, data that stops between codes) are transparent black.
//
// The saver writes 24-bit images, or 32-bit with an alpha mask in a V4 header for RGBA.
#include "common/module-entry.h"
#include "dib.h"

namespace tamba::loader {
namespace {

constexpr const Format &kFormat = formats::bmp;
constexpr size_t kFileHeaderSize = 14;

class BmpDecoder final : public ByteJoiner {
public:
    explicit BmpDecoder (const ProgressSink &sink) : ByteJoiner (kFormat, sink) {}

protected:
    bool at_end () override
    {
        // An RLE stream that stops between codes leaves the rest skipped, that is transparent.
        if (state_ != State::kRleCode) return false;
        skip_rows (int (info_.height - row_index_));
        return true;
    }

    size_t want () const override
    {
        switch (state_) {
        case State::kFileHeader: return kFileHeaderSize + 4;
        case State::kInfoHeader: return info_.header_size - 4;
        case State::kMasks: return info_.extra_mask_bytes;
        case State::kPalette: return palette_bytes_;
        case State::kSkip: return 1;
        case State::kRows: return size_t (stride_);
        case State::kRleCode:
        case State::kRleDelta: return 2;
        case State::kRleLiteral: return literal_bytes_;
        }
        return 1;
    }

    size_t step (const guchar *data, size_t size) override
    {
        const size_t used = run (data, size);
        position_ += used;
        return used;
    }

private:
    enum class State { kFileHeader, kInfoHeader, kMasks, kPalette, kSkip, kRows, kRleCode,
                       kRleDelta, kRleLiteral };

    size_t run (const guchar *data, size_t size)
    {
        switch (state_) {
        case State::kFileHeader:
            if (data[0] != 'B' || data[1] != 'M') return fail ("not a BMP file"), 0;
            pixel_offset_ = read_le32 (data + 10);
            info_bytes_[0] = data[14]; info_bytes_[1] = data[15];
            info_bytes_[2] = data[16]; info_bytes_[3] = data[17];
            info_.header_size = read_le32 (data + 14);
            if (info_.header_size > sizeof info_bytes_ || info_.header_size < 12) {
                fail ("unsupported info header size %u", info_.header_size);
                return 0;
            }
            state_ = State::kInfoHeader;
            return kFileHeaderSize + 4;
        case State::kInfoHeader:
            std::memcpy (info_bytes_ + 4, data, info_.header_size - 4);
            if (!parse_dib_header (kFormat, info_bytes_, info_.header_size, info_))
                return fail_quietly (), 0;
            state_ = info_.extra_mask_bytes ? State::kMasks : State::kPalette;
            if (state_ == State::kPalette) plan_palette (info_.header_size - 4);
            return info_.header_size - 4;
        case State::kMasks:
            read_extra_masks (data, info_);
            plan_palette (info_.extra_mask_bytes);
            return info_.extra_mask_bytes;
        case State::kPalette:
            palette_.read (data, palette_bytes_ / size_t (info_.palette_entry_size),
                           info_.palette_entry_size);
            state_ = State::kSkip;
            return palette_bytes_;
        case State::kSkip: return skip_or_start (size);
        case State::kRows: return decode_rows (data, size);
        case State::kRleCode: return rle_code (data[0], data[1]);
        case State::kRleDelta: return rle_delta (data[0], data[1]);
        case State::kRleLiteral: return rle_literal (data);
        }
        return 0;
    }

    // After the header and masks (the last step used `used` bytes): works out how much of the
    // space before the pixel data is palette.
    void plan_palette (size_t used)
    {
        const std::uint64_t here = position_ + used;
        state_ = State::kPalette;
        palette_bytes_ = 0;
        if (pixel_offset_ < here) {
            fail ("pixel data offset %u lies inside the header", pixel_offset_);
            return;
        }
        if (info_.bpp > 8) return;
        const std::uint64_t fits = (pixel_offset_ - here) / std::uint64_t (info_.palette_entry_size);
        const std::uint64_t declared = info_.colors_used ? info_.colors_used : 1u << info_.bpp;
        // A palette that claims more colours than the file has room for is corrupt; one that
        // is merely implied is read as far as it goes.
        if (info_.colors_used && declared > fits) {
            fail ("palette of %u colours does not fit before the pixel data", info_.colors_used);
            return;
        }
        palette_bytes_ = size_t (std::min<std::uint64_t> ({declared, fits, 256})
                                 * std::uint64_t (info_.palette_entry_size));
    }

    // Skips to the pixel data, then sets up the image.
    size_t skip_or_start (size_t size)
    {
        if (position_ < pixel_offset_)
            return size_t (std::min<std::uint64_t> (size, pixel_offset_ - position_));
        start ();
        return 0;
    }

    bool start ()
    {
        const bool rle = info_.compression == DibCompression::kRle8
                         || info_.compression == DibCompression::kRle4;
        if (!rle && !converter_.init (kFormat, info_, palette_)) return fail_quietly ();
        const bool alpha = rle || converter_.has_alpha ();
        if (!start_image (alpha, info_.width, info_.height, rle)) return false;
        stride_ = info_.stride ();
        state_ = rle ? State::kRleCode : State::kRows;
        return true;
    }

    int image_row (std::int64_t index) const
    {
        return int (info_.top_down ? index : info_.height - 1 - index);
    }

    size_t decode_rows (const guchar *data, size_t size)
    {
        size_t used = 0;
        const int nc = image_->n_channels;
        while (size - used >= size_t (stride_) && row_index_ < info_.height) {
            const int y = image_row (row_index_);
            guchar *out = row (y);
            converter_.convert (data + used, out, image_->width, nc);
            if (nc == 4 && !seen_alpha_)
                for (int x = 0; x < image_->width && !seen_alpha_; ++x) seen_alpha_ = out[4 * x + 3] != 0;
            rows_done (y, 1);
            used += size_t (stride_);
            ++row_index_;
        }
        if (row_index_ == info_.height) {
            if (nc == 4 && !seen_alpha_) make_opaque ();
            finished ();
        }
        return used;
    }

    // Many writers fill an alpha field with zeros they never meant as transparency; an image
    // whose alpha is 0 throughout is taken as opaque, and reported again in full.
    void make_opaque ()
    {
        for (int y = 0; y < image_->height; ++y)
            for (int x = 0; x < image_->width; ++x) row (y)[4 * x + 3] = 255;
        rows_done (0, image_->height);
    }

    // RLE: the current row is complete; moves to the next, finishing after the last.
    void next_row ()
    {
        if (row_index_ < info_.height) rows_done (image_row (row_index_), 1);
        ++row_index_;
        x_ = 0;
        if (row_index_ >= info_.height) finished ();
    }
    void skip_rows (int n)
    {
        for (int i = 0; i < n && row_index_ < info_.height; ++i) next_row ();
    }

    void put (unsigned index)
    {
        if (x_ < info_.width && row_index_ < info_.height) {
            guchar *p = row (image_row (row_index_)) + 4 * x_;
            const auto &c = palette_.rgb[index & 0xff];
            p[0] = c[0]; p[1] = c[1]; p[2] = c[2]; p[3] = 255;
        }
        if (x_ < info_.width) ++x_;
    }

    size_t rle_code (guchar count, guchar value)
    {
        const bool rle4 = info_.compression == DibCompression::kRle4;
        if (count > 0) {
            for (int i = 0; i < count; ++i)
                put (rle4 ? (i & 1 ? value & 15 : value >> 4) : value);
            return 2;
        }
        switch (value) {
        case 0: next_row (); break;
        case 1: skip_rows (int (info_.height - row_index_)); break;
        case 2: state_ = State::kRleDelta; break;
        default:
            literal_count_ = value;
            literal_bytes_ = rle4 ? (size_t (value) + 1) / 2 : value;
            literal_bytes_ = (literal_bytes_ + 1) & ~size_t (1);
            state_ = State::kRleLiteral;
            break;
        }
        return 2;
    }

    size_t rle_delta (guchar dx, guchar dy)
    {
        state_ = State::kRleCode;
        if (dy > 0) {
            const std::int64_t x = x_;
            skip_rows (dy);
            x_ = x;
        }
        x_ = std::min<std::int64_t> (x_ + dx, info_.width);
        return 2;
    }

    size_t rle_literal (const guchar *data)
    {
        const bool rle4 = info_.compression == DibCompression::kRle4;
        for (int i = 0; i < literal_count_; ++i)
            put (rle4 ? (i & 1 ? data[i / 2] & 15 : data[i / 2] >> 4) : data[i]);
        state_ = State::kRleCode;
        return literal_bytes_;
    }

    State state_ = State::kFileHeader;
    std::uint64_t position_ = 0;   // bytes of the file consumed so far
    std::uint32_t pixel_offset_ = 0;
    guchar info_bytes_[124] = {};
    DibInfo info_;
    DibPalette palette_;
    size_t palette_bytes_ = 0;
    DibRowConverter converter_;
    bool seen_alpha_ = false;      // some decoded pixel has alpha above 0
    std::int64_t stride_ = 0;
    std::int64_t row_index_ = 0;   // rows decoded, in file order
    std::int64_t x_ = 0;           // RLE: next column
    int literal_count_ = 0;
    size_t literal_bytes_ = 0;
};

}  // namespace
}  // namespace tamba::loader

TAMBA_LOADER_MODULE (bmp, tamba::loader::BmpDecoder)

namespace tamba::loader {
namespace {

constexpr std::uint32_t kInfoHeaderSize = 40;     // BITMAPINFOHEADER
constexpr std::uint32_t kV4HeaderSize = 108;      // BITMAPV4HEADER, which carries an alpha mask
constexpr std::uint32_t kBiRgb = 0, kBiBitfields = 3;
constexpr std::uint32_t kSrgb = 0x73524742;       // 'sRGB'

void put_le (guchar *p, std::uint32_t v, int n)
{
    for (int i = 0; i < n; ++i) p[i] = guchar (v >> (8 * i));
}

// The file and info headers of a bottom-up image; false when the file would exceed the
// format's 32-bit sizes.
bool bmp_headers (const Tamba *image, std::uint64_t stride, guchar *h, size_t *size)
{
    const bool alpha = image->has_alpha;
    const std::uint32_t info_size = alpha ? kV4HeaderSize : kInfoHeaderSize;
    const std::uint64_t offset = kFileHeaderSize + info_size;
    const std::uint64_t data = stride * std::uint64_t (image->height);
    if (offset + data > 0xffffffffu) return false;
    std::memset (h, 0, offset);
    h[0] = 'B';
    h[1] = 'M';
    put_le (h + 2, std::uint32_t (offset + data), 4);
    put_le (h + 10, std::uint32_t (offset), 4);
    guchar *info = h + kFileHeaderSize;
    put_le (info, info_size, 4);
    put_le (info + 4, std::uint32_t (image->width), 4);
    put_le (info + 8, std::uint32_t (image->height), 4);  // positive: bottom-up
    put_le (info + 12, 1, 2);                              // planes
    put_le (info + 14, alpha ? 32 : 24, 2);
    put_le (info + 16, alpha ? kBiBitfields : kBiRgb, 4);
    put_le (info + 20, std::uint32_t (data), 4);
    put_le (info + 24, 2835, 4);                           // 72 dpi
    put_le (info + 28, 2835, 4);
    if (alpha) {
        put_le (info + 40, 0x00ff0000, 4);
        put_le (info + 44, 0x0000ff00, 4);
        put_le (info + 48, 0x000000ff, 4);
        put_le (info + 52, 0xff000000, 4);
        put_le (info + 56, kSrgb, 4);
    }
    *size = size_t (offset);
    return true;
}

}  // namespace
}  // namespace tamba::loader

// Saving: 24-bit BGR without alpha, 32-bit BGRA with bit-field masks with alpha; rows bottom-up,
// padded to 4 bytes.
TAMBA_LOADER_ENTRY gboolean tamba__bmp_image_save (FILE *f, const Tamba *image, int)
{
    using namespace tamba::loader;
    const int nc = image->n_channels;
    const std::uint64_t stride = (std::uint64_t (image->width) * std::uint64_t (nc) + 3) & ~3ull;
    guchar header[kFileHeaderSize + kV4HeaderSize];
    size_t header_size = 0;
    if (!bmp_headers (image, stride, header, &header_size)) return FALSE;
    if (std::fwrite (header, 1, header_size, f) != header_size) return FALSE;

    std::unique_ptr<guchar[]> row (new (std::nothrow) guchar[size_t (stride)]);
    if (!row) return FALSE;
    std::memset (row.get (), 0, size_t (stride));  // the padding stays zero
    for (int y = image->height - 1; y >= 0; --y) {
        const guchar *src = image->pixels + size_t (y) * size_t (image->rowstride);
        guchar *dst = row.get ();
        for (int x = 0; x < image->width; ++x, src += nc, dst += nc) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
            if (nc == 4) dst[3] = src[3];
        }
        if (std::fwrite (row.get (), 1, size_t (stride), f) != size_t (stride)) return FALSE;
    }
    return TRUE;
}
