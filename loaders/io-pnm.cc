// SPDX-License-Identifier: LGPL-2.1-or-later
// PNM loader: P1 to P6, plain and raw. Comments ("#" to the end of the line) may stand wherever
// white space may, in the header and between plain samples. Samples of any maxval from 1 to
// 65535 are scaled to 8 bits as round(v * 255 / maxval); samples above maxval read as 255. In P1
// and P4 a 1 is black. Only the first image of a file is read. Progressive: rows are reported
// as they complete. The saver writes P6, or P7 with alpha.
#include "common/byte-joiner.h"
#include "common/module-entry.h"

namespace tamba::loader {
namespace {

constexpr const Format &kFormat = formats::pnm;
constexpr std::uint32_t kMaxMaxval = 65535;
// Plain numbers saturate here: any larger sample is simply above every maxval.
constexpr std::uint32_t kNumberCap = 1u << 20;

// Splits plain text into numbers, skipping white space and comments. In P1 every digit is a
// sample of its own, so that "0110" is four pixels.
class NumberScanner {
public:
    enum class Result { kNone, kNumber, kBad };

    void set_single_digits (bool on) { single_digits_ = on; }
    std::uint32_t value () const { return value_; }
    // True when the byte that ended the last number was the one white-space character
    // that separates a raw header from its data.
    bool ended_by_space () const { return ended_by_space_; }

    Result feed (guchar c)
    {
        if (in_comment_) {
            if (c == '\n' || c == '\r') in_comment_ = false;
            return Result::kNone;
        }
        const bool digit = c >= '0' && c <= '9';
        if (digit) {
            const std::uint32_t d = std::uint32_t (c - '0');
            if (single_digits_) {
                value_ = d;
                return Result::kNumber;
            }
            accumulating_ = true;
            current_ = std::min (current_ * 10 + d, kNumberCap);
            return Result::kNone;
        }
        const bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
        if (!space && c != '#') return Result::kBad;
        if (c == '#') in_comment_ = true;
        if (!accumulating_) return Result::kNone;
        accumulating_ = false;
        ended_by_space_ = space;
        value_ = current_;
        current_ = 0;
        return Result::kNumber;
    }
    bool in_comment () const { return in_comment_; }

private:
    bool single_digits_ = false;
    bool in_comment_ = false;
    bool accumulating_ = false;
    bool ended_by_space_ = false;
    std::uint32_t current_ = 0;
    std::uint32_t value_ = 0;
};

class PnmDecoder final : public ByteJoiner {
public:
    explicit PnmDecoder (const ProgressSink &sink) : ByteJoiner (kFormat, sink) {}

protected:
    size_t want () const override
    {
        switch (state_) {
        case State::kMagic: return 2;
        case State::kRaw: return size_t (stride_);
        default: return 1;
        }
    }

    size_t step (const guchar *data, size_t size) override
    {
        switch (state_) {
        case State::kMagic:
            if (data[0] != 'P' || data[1] < '1' || data[1] > '6') return fail ("not a PNM file"), 0;
            kind_ = data[1] - '0';
            plain_ = kind_ <= 3;
            bitmap_ = kind_ == 1 || kind_ == 4;
            channels_ = kind_ == 3 || kind_ == 6 ? 3 : 1;
            state_ = State::kHeader;
            return 2;
        case State::kHeader: return read_header (data, size);
        case State::kEndComment: return end_header_comment (data, size);
        case State::kPlain: return read_plain (data, size);
        case State::kRaw: return read_raw (data, size);
        }
        return 0;
    }

    // A plain file may end right after its last digit.
    bool at_end () override
    {
        if (state_ == State::kPlain && scanner_.feed (' ') == NumberScanner::Result::kNumber)
            put_sample (scaled (scanner_.value ()));
        return row_index_ == height_;
    }

private:
    enum class State { kMagic, kHeader, kEndComment, kPlain, kRaw };

    guchar scaled (std::uint32_t v) const { return v < scale_.size () ? scale_[v] : 255; }

    size_t read_header (const guchar *data, size_t size)
    {
        const int needed = bitmap_ ? 2 : 3;
        for (size_t i = 0; i < size; ++i) {
            const auto r = scanner_.feed (data[i]);
            if (r == NumberScanner::Result::kBad) return fail ("bad character in the header"), 0;
            if (r == NumberScanner::Result::kNone) continue;
            header_[n_header_++] = scanner_.value ();
            if (n_header_ < needed) continue;
            if (!start ()) return 0;
            // A raw header ends with one white-space character; a comment right after the last
            // number runs to the end of its line instead.
            if (!plain_ && !scanner_.ended_by_space ()) state_ = State::kEndComment;
            return i + 1;
        }
        return size;
    }

    size_t end_header_comment (const guchar *data, size_t size)
    {
        for (size_t i = 0; i < size; ++i)
            if (data[i] == '\n' || data[i] == '\r') {
                state_ = State::kRaw;
                return i + 1;
            }
        return size;
    }

    bool start ()
    {
        const std::uint32_t maxval = bitmap_ ? 1 : header_[2];
        if (maxval < 1 || maxval > kMaxMaxval) return fail ("maxval %u is not 1 to 65535", maxval);
        if (!check_size (kFormat, header_[0], header_[1])) return fail_quietly ();
        if (!start_image (false, header_[0], header_[1], false)) return false;
        width_ = header_[0];
        height_ = header_[1];
        wide_ = maxval > 255;
        identity_ = maxval == 255;
        // Samples above maxval (only possible when it is below the sample range) read as 255.
        scale_.assign (wide_ ? 65536 : 256, 255);
        for (std::uint32_t v = 0; v <= maxval; ++v)
            scale_[v] = guchar ((v * 255 + maxval / 2) / maxval);
        if (bitmap_) scale_[0] = 255, scale_[1] = 0;  // a set bit is black
        stride_ = bitmap_ ? (width_ + 7) / 8 : width_ * channels_ * (wide_ ? 2 : 1);
        scanner_.set_single_digits (kind_ == 1);
        state_ = plain_ ? State::kPlain : State::kRaw;
        return true;
    }

    // Places one sample (already scaled) and finishes rows as they fill.
    void put_sample (guchar v)
    {
        guchar *p = row (int (row_index_)) + column_;
        if (channels_ == 1) {
            p[0] = p[1] = p[2] = v;
            column_ += 3;
        } else {
            *p = v;
            ++column_;
        }
        if (column_ == width_ * 3) end_row ();
    }
    void end_row ()
    {
        rows_done (int (row_index_), 1);
        column_ = 0;
        if (++row_index_ == height_) finished ();
    }

    size_t read_plain (const guchar *data, size_t size)
    {
        size_t i = 0;
        while (i < size && row_index_ < height_) {
            const auto r = scanner_.feed (data[i++]);
            if (r == NumberScanner::Result::kBad) return fail ("bad character in the samples"), 0;
            if (r == NumberScanner::Result::kNumber) {
                put_sample (scaled (scanner_.value ()));
            }
        }
        return i;
    }

    size_t read_raw (const guchar *data, size_t size)
    {
        size_t used = 0;
        while (size - used >= size_t (stride_) && row_index_ < height_) {
            convert_raw_row (data + used, row (int (row_index_)));
            used += size_t (stride_);
            end_row ();
        }
        return used;
    }

    void convert_raw_row (const guchar *src, guchar *dst) const
    {
        const int w = int (width_);
        if (bitmap_) {
            for (int x = 0; x < w; ++x, dst += 3)
                dst[0] = dst[1] = dst[2] = scale_[(src[x >> 3] >> (7 - (x & 7))) & 1];
            return;
        }
        const size_t samples = size_t (w) * size_t (channels_);
        if (channels_ == 3 && identity_) {
            std::memcpy (dst, src, samples);
            return;
        }
        for (size_t i = 0; i < samples; ++i) {
            const guchar v = wide_ ? scale_[(src[2 * i] << 8) | src[2 * i + 1]] : scale_[src[i]];
            if (channels_ == 1) {
                dst[3 * i] = dst[3 * i + 1] = dst[3 * i + 2] = v;
            } else {
                dst[i] = v;
            }
        }
    }

    State state_ = State::kMagic;
    int kind_ = 0, channels_ = 1;
    bool plain_ = false, bitmap_ = false, wide_ = false, identity_ = false;
    NumberScanner scanner_;
    std::uint32_t header_[3] = {};
    int n_header_ = 0;
    std::int64_t width_ = 0, height_ = 0, stride_ = 0;
    std::vector<guchar> scale_;
    std::int64_t row_index_ = 0, column_ = 0;
};

}  // namespace
}  // namespace tamba::loader

TAMBA_LOADER_MODULE (pnm, tamba::loader::PnmDecoder)

// Saving: P6 (maxval 255) for RGB; RGBA becomes a P7 PAM, which keeps the alpha.
TAMBA_LOADER_ENTRY gboolean tamba__pnm_image_save (FILE *f, const Tamba *image, int)
{
    const int written =
        image->has_alpha
            ? std::fprintf (f, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\n"
                               "TUPLTYPE RGB_ALPHA\nENDHDR\n", image->width, image->height)
            : std::fprintf (f, "P6\n%d %d\n255\n", image->width, image->height);
    if (written < 0) return FALSE;
    const size_t row_bytes = size_t (image->width) * size_t (image->n_channels);
    for (int y = 0; y < image->height; ++y)
        if (std::fwrite (image->pixels + size_t (y) * size_t (image->rowstride), 1, row_bytes, f)
            != row_bytes)
            return FALSE;
    return TRUE;
}
