// SPDX-License-Identifier: LGPL-2.1-or-later
// Sun raster loader: 1, 8, 24 and 32 bits per pixel; old, standard, byte-encoded (RLE) and RGB
// types; RGB colour maps of up to 256 entries (raw maps are skipped); rows padded to 16 bits.
// Without a colour map 1-bit pixels are white for 0 and black for 1, and 8-bit pixels are grey.
// 32-bit pixels carry a pad byte first, which is ignored. Progressive: rows are reported as
// they complete.
#include <array>

#include "pixel-rows.h"
#include "common/byte-joiner.h"
#include "common/module-entry.h"

namespace tamba::loader {
using detail::bgr_to_rgb;
namespace {

constexpr const Format &kFormat = formats::ras;
constexpr std::uint32_t kMagic = 0x59a66a95;
constexpr size_t kHeaderSize = 32;
enum RasType : std::uint32_t { kOld = 0, kStandard = 1, kByteEncoded = 2, kFormatRgb = 3 };
enum RasMap : std::uint32_t { kNoMap = 0, kRgbMap = 1, kRawMap = 2 };
constexpr guchar kRleEscape = 0x80;

class RasDecoder final : public ByteJoiner {
public:
    explicit RasDecoder (const ProgressSink &sink) : ByteJoiner (kFormat, sink) {}

protected:
    size_t want () const override
    {
        switch (state_) {
        case State::kHeader: return kHeaderSize;
        case State::kMap: return map_bytes_;
        case State::kRows: return size_t (stride_);
        case State::kSkipMap:
        case State::kRle: return 1;
        }
        return 1;
    }

    size_t step (const guchar *data, size_t size) override
    {
        switch (state_) {
        case State::kHeader: return parse_header (data) ? kHeaderSize : 0;
        case State::kMap: {
            const size_t n = map_bytes_ / 3;
            for (size_t i = 0; i < n; ++i) palette_[i] = {data[i], data[n + i], data[2 * n + i]};
            return start () ? map_bytes_ : 0;
        }
        case State::kSkipMap: {
            const size_t n = size_t (std::min<std::uint64_t> (size, skip_bytes_));
            skip_bytes_ -= n;
            if (skip_bytes_ == 0) start ();
            return n;
        }
        case State::kRows: {
            size_t used = 0;
            while (size - used >= size_t (stride_) && !done ()) {
                emit_row (data + used);
                used += size_t (stride_);
            }
            return used;
        }
        case State::kRle:
            return decode_rle (data, size);
        }
        return 0;
    }

private:
    enum class State { kHeader, kMap, kSkipMap, kRows, kRle };
    enum class Rle { kLiteral, kEscape, kRunValue };

    bool parse_header (const guchar *h)
    {
        if (read_be32 (h) != kMagic) return fail ("not a Sun raster file");
        const std::uint32_t width = read_be32 (h + 4), height = read_be32 (h + 8);
        depth_ = read_be32 (h + 12);
        type_ = read_be32 (h + 20);
        const std::uint32_t map_type = read_be32 (h + 24), map_length = read_be32 (h + 28);
        if (type_ > kFormatRgb) return fail ("unsupported raster type %u", type_);
        if (depth_ != 1 && depth_ != 8 && depth_ != 24 && depth_ != 32)
            return fail ("unsupported depth %u", depth_);
        if (map_type > kRawMap) return fail ("unsupported colour map type %u", map_type);
        if (!check_size (kFormat, width, height)) return fail_quietly ();
        width_ = width;
        height_ = height;
        stride_ = (std::int64_t (width) * depth_ + 15) / 16 * 2;

        // Colours for maps that are absent or shorter than the indices used: black, except the
        // monochrome and grey defaults when there is no map at all.
        if (depth_ == 1) palette_[0] = {255, 255, 255};
        if (depth_ == 8)
            for (int i = 0; i < 256; ++i) palette_[size_t (i)] = {guchar (i), guchar (i), guchar (i)};

        if (map_type == kRgbMap && depth_ <= 8 && map_length > 0) {
            if (map_length % 3 != 0 || map_length / 3 > 256)
                return fail ("colour map of %u bytes is not 1 to 256 RGB entries", map_length);
            for (auto &c : palette_) c = {0, 0, 0};
            map_bytes_ = map_length;
        } else {
            skip_bytes_ = map_length;
        }
        state_ = map_bytes_ ? State::kMap : State::kSkipMap;
        if (!map_bytes_ && !skip_bytes_) return start ();
        return true;
    }

    bool start ()
    {
        if (!start_image (false, width_, height_, false)) return false;
        if (type_ == kByteEncoded) row_buffer_.resize (size_t (stride_));
        state_ = type_ == kByteEncoded ? State::kRle : State::kRows;
        return true;
    }

    bool done () const { return row_index_ >= height_; }

    void emit_row (const guchar *src)
    {
        guchar *dst = row (int (row_index_));
        const int w = int (width_);
        switch (depth_) {
        case 1:
            for (int x = 0; x < w; ++x, dst += 3) put (dst, (src[x >> 3] >> (7 - (x & 7))) & 1);
            break;
        case 8:
            for (int x = 0; x < w; ++x, dst += 3) put (dst, src[x]);
            break;
        default: {
            // Blue first except in the RGB type; 32-bit pixels lead with a pad byte.
            const int bytes = int (depth_ / 8);
            const int pad = bytes - 3;
            const int r = type_ == kFormatRgb ? pad : pad + 2, b = type_ == kFormatRgb ? pad + 2 : pad;
            if (bytes == 3) {
                if (type_ == kFormatRgb) std::memcpy (dst, src, size_t (w) * 3);
                else bgr_to_rgb (src, dst, size_t (w));
                break;
            }
            for (int x = 0; x < w; ++x, src += bytes, dst += 3) {
                dst[0] = src[r]; dst[1] = src[pad + 1]; dst[2] = src[b];
            }
            break;
        }
        }
        rows_done (int (row_index_), 1);
        if (++row_index_ == height_) finished ();
    }

    void put (guchar *dst, unsigned index) const
    {
        const auto &c = palette_[index];
        dst[0] = c[0]; dst[1] = c[1]; dst[2] = c[2];
    }

    // Runs may cross row ends; whatever runs past the last row is dropped.
    void emit_bytes (guchar value, size_t count)
    {
        while (count > 0 && !done ()) {
            const size_t n = std::min (count, row_buffer_.size () - row_fill_);
            std::memset (row_buffer_.data () + row_fill_, value, n);
            row_fill_ += n;
            count -= n;
            if (row_fill_ == row_buffer_.size ()) {
                emit_row (row_buffer_.data ());
                row_fill_ = 0;
            }
        }
    }

    size_t decode_rle (const guchar *data, size_t size)
    {
        size_t i = 0;
        for (; i < size && !done (); ++i) {
            const guchar b = data[i];
            switch (rle_) {
            case Rle::kLiteral:
                if (b == kRleEscape) rle_ = Rle::kEscape;
                else emit_bytes (b, 1);
                break;
            case Rle::kEscape:
                // 0x80 0x00 is a literal 0x80; 0x80 n v repeats v n + 1 times.
                if (b == 0) {
                    emit_bytes (kRleEscape, 1);
                    rle_ = Rle::kLiteral;
                } else {
                    run_count_ = size_t (b) + 1;
                    rle_ = Rle::kRunValue;
                }
                break;
            case Rle::kRunValue:
                emit_bytes (b, run_count_);
                rle_ = Rle::kLiteral;
                break;
            }
        }
        return i;
    }

    State state_ = State::kHeader;
    std::uint32_t depth_ = 0, type_ = 0;
    std::int64_t width_ = 0, height_ = 0, stride_ = 0;
    std::array<std::array<guchar, 3>, 256> palette_ {};
    size_t map_bytes_ = 0;
    std::uint64_t skip_bytes_ = 0;
    std::int64_t row_index_ = 0;
    std::vector<guchar> row_buffer_;
    size_t row_fill_ = 0;
    Rle rle_ = Rle::kLiteral;
    size_t run_count_ = 0;
};

}  // namespace
}  // namespace tamba::loader

TAMBA_LOADER_MODULE (ras, tamba::loader::RasDecoder)
