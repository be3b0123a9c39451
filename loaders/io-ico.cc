// SPDX-License-Identifier: LGPL-2.1-or-later
// Windows icon and cursor loader. Of the directory's entries the largest is chosen, then the
// deepest (cursors keep their hotspot where icons keep the depth, so among cursors the first of
// the largest wins). BMP entries of 1 to 32 bits take their alpha from the AND mask unless they
// carry their own (32 bits, or 16 bits with an alpha bit field); PNG entries go through the PNG
// module's reader (codec/png-reader.h), so they decode as PNG files do. The result always has an
// alpha channel.
//
// The AND mask follows all the colour rows, so no row is final before the whole entry has
// arrived: the entry is decoded at once when its last byte comes in, with one update.
#include "common/module-entry.h"
#include "dib.h"
#include "codec/png-reader.h"

namespace tamba::loader {
namespace {

constexpr const Format &kFormat = formats::ico;
constexpr size_t kIconDirSize = 6;
constexpr size_t kDirEntrySize = 16;
// Entries that end past this offset are skipped (nothing before them is worth buffering): a
// 256 x 256 entry needs well under 1 MiB.
constexpr std::uint64_t kMaxEntryEnd = 64u << 20;
constexpr std::uint32_t kMinEntryBytes = 16;

class IcoDecoder final : public ByteJoiner {
public:
    explicit IcoDecoder (const ProgressSink &sink) : ByteJoiner (kFormat, sink) {}

protected:
    size_t want () const override { return 1; }

    size_t step (const guchar *data, size_t size) override
    {
        const size_t missing = size_t (std::min<std::uint64_t> (size, needed () - bytes_.size ()));
        bytes_.insert (bytes_.end (), data, data + missing);
        if (bytes_.size () == needed ()) advance ();
        return missing;
    }

private:
    enum class State { kHeader, kDirectory, kEntry };

    // Bytes that must have arrived before the next stage can run.
    std::uint64_t needed () const
    {
        switch (state_) {
        case State::kHeader: return kIconDirSize;
        case State::kDirectory: return kIconDirSize + kDirEntrySize * count_;
        case State::kEntry: return entry_offset_ + entry_size_;
        }
        return 0;
    }

    void advance ()
    {
        switch (state_) {
        case State::kHeader: {
            const unsigned type = read_le16 (&bytes_[2]);
            count_ = read_le16 (&bytes_[4]);
            if (read_le16 (&bytes_[0]) != 0 || (type != 1 && type != 2)) {
                fail ("not an icon or cursor file");
                return;
            }
            if (count_ == 0) {
                fail ("the directory has no entries");
                return;
            }
            cursor_ = type == 2;
            state_ = State::kDirectory;
            return;
        }
        case State::kDirectory:
            if (choose_entry ()) state_ = State::kEntry;
            if (state_ == State::kEntry && bytes_.size () == needed ()) advance ();
            return;
        case State::kEntry:
            decode_entry (bytes_.data () + entry_offset_, entry_size_);
            return;
        }
    }

    bool choose_entry ()
    {
        const std::uint64_t dir_end = needed ();
        std::int64_t best_area = -1;
        int best_depth = -1;
        for (unsigned i = 0; i < count_; ++i) {
            const guchar *e = &bytes_[kIconDirSize + kDirEntrySize * i];
            const std::uint32_t size = read_le32 (e + 8), offset = read_le32 (e + 12);
            if (offset < dir_end || size < kMinEntryBytes || std::uint64_t (offset) + size > kMaxEntryEnd)
                continue;
            const std::int64_t area = std::int64_t (e[0] ? e[0] : 256) * (e[1] ? e[1] : 256);
            const int depth = cursor_ ? 0 : read_le16 (e + 6);
            if (area > best_area || (area == best_area && depth > best_depth)) {
                best_area = area;
                best_depth = depth;
                entry_offset_ = offset;
                entry_size_ = size;
            }
        }
        if (best_area < 0) return fail ("no usable entry in the directory");
        return true;
    }

    void decode_entry (const guchar *p, size_t size)
    {
        const bool ok = size >= sizeof kPngSignature
                                && std::memcmp (p, kPngSignature, sizeof kPngSignature) == 0
                            ? decode_png_entry (p, size)
                            : decode_dib_entry (p, size);
        if (!ok) return;
        rows_done (0, image_->height);
        finished ();
    }

    bool decode_png_entry (const guchar *p, size_t size)
    {
        Tamba *png = decode_png (kFormat, "PNG entry: ", p, size);
        if (!png) return fail_quietly ();
        const bool ok = start_image (true, png->width, png->height, false);
        for (int y = 0; ok && y < png->height; ++y) {
            const guchar *in = png->pixels + size_t (y) * size_t (png->rowstride);
            guchar *out = row (y);
            if (png->has_alpha) {
                std::memcpy (out, in, size_t (png->width) * 4);
                continue;
            }
            for (int x = 0; x < png->width; ++x, in += 3, out += 4) {
                out[0] = in[0];
                out[1] = in[1];
                out[2] = in[2];
                out[3] = 255;
            }
        }
        tamba_unref (png);
        return ok;
    }

    bool decode_dib_entry (const guchar *p, size_t size)
    {
        DibInfo info;
        const std::uint32_t header_size = read_le32 (p);
        if (header_size < 40 || header_size > size) return fail ("bad bitmap header in the entry");
        if (!parse_dib_header (kFormat, p, size, info)) return fail_quietly ();
        if (info.top_down || info.height < 2)
            return fail ("bitmap height %" G_GINT64_FORMAT " is not a positive colour+mask height",
                         info.top_down ? -info.height : info.height);
        if (info.compression != DibCompression::kRgb && info.compression != DibCompression::kBitfields)
            return fail ("compressed bitmap entries are not supported");
        const std::int64_t width = info.width, height = info.height / 2;

        std::uint64_t pos = header_size;
        if (pos + info.extra_mask_bytes > size) return fail ("entry ends inside its header");
        read_extra_masks (p + pos, info);
        pos += info.extra_mask_bytes;

        DibPalette palette;
        if (info.bpp <= 8) {
            const std::uint64_t colors = info.colors_used ? info.colors_used : 1u << info.bpp;
            if (colors > 256 || pos + colors * 4 > size)
                return fail ("palette of %" G_GUINT64_FORMAT " colours does not fit", colors);
            palette.read (p + pos, size_t (colors), 4);
            pos += colors * 4;
        }
        // 32-bit icons keep alpha in the fourth byte even without bit fields.
        if (info.bpp == 32 && info.compression == DibCompression::kRgb) info.masks[3] = 0xff000000u;
        DibRowConverter converter;
        if (!converter.init (kFormat, info, palette)) return fail_quietly ();

        const std::uint64_t colour_stride = std::uint64_t (info.stride ());
        const std::uint64_t mask_stride = std::uint64_t ((width + 31) / 32 * 4);
        const std::uint64_t colour_bytes = colour_stride * std::uint64_t (height);
        const bool own_alpha = converter.has_alpha ();
        const std::uint64_t mask_bytes = own_alpha ? 0 : mask_stride * std::uint64_t (height);
        if (pos + colour_bytes + mask_bytes > size) return fail ("bitmap data runs past the entry");

        if (!start_image (true, width, height, false)) return false;
        const guchar *colour = p + pos, *mask = colour + colour_bytes;
        for (std::int64_t r = 0; r < height; ++r) {
            guchar *out = row (int (height - 1 - r));
            converter.convert (colour + r * colour_stride, out, int (width), 4);
            if (own_alpha) continue;
            const guchar *bits = mask + r * mask_stride;
            for (std::int64_t x = 0; x < width; ++x)
                if ((bits[x >> 3] >> (7 - (x & 7))) & 1) out[4 * x + 3] = 0;
        }
        return true;
    }

    State state_ = State::kHeader;
    std::vector<guchar> bytes_;
    unsigned count_ = 0;
    bool cursor_ = false;
    std::uint64_t entry_offset_ = 0, entry_size_ = 0;
};

}  // namespace
}  // namespace tamba::loader

TAMBA_LOADER_MODULE (ico, tamba::loader::IcoDecoder)
