// SPDX-License-Identifier: LGPL-2.1-or-later
// Device-independent bitmaps, shared by the BMP and ICO decoders: the info header, the palette,
// bit-field masks and the conversion of one stored row to RGB or RGBA.
#ifndef TAMBA_LOADERS_DIB_H
#define TAMBA_LOADERS_DIB_H

#include <array>
#include <cstdint>
#include <vector>

#include "pixel-rows.h"
#include "common/byte-joiner.h"

namespace tamba::loader {
using detail::bgr_to_rgb;

enum class DibCompression { kRgb, kRle8, kRle4, kBitfields };

struct DibInfo {
    std::uint32_t header_size = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;  // always positive; top_down says the row order
    bool top_down = false;
    int bpp = 0;
    DibCompression compression = DibCompression::kRgb;
    std::uint32_t colors_used = 0;
    std::uint32_t masks[4] = {};      // red, green, blue, alpha
    std::uint32_t extra_mask_bytes = 0;  // masks stored after a 40-byte header
    int palette_entry_size = 4;       // 3 for the OS/2 1.x core header

    // Bytes of one stored row, padded to 32 bits.
    std::int64_t stride () const { return ((width * bpp + 31) / 32) * 4; }
};

// Parses the info header at h (starting with its size field; size bytes available). Warns and
// returns false for what the decoders do not support.
inline bool parse_dib_header (const Format &format, const guchar *h, size_t size, DibInfo &info)
{
    info.header_size = read_le32 (h);
    switch (info.header_size) {
    case 12: case 16: case 40: case 52: case 56: case 64: case 108: case 124: break;
    default:
        warn (format, "unsupported info header size %u", info.header_size);
        return false;
    }
    if (size < info.header_size) return false;
    std::int64_t height;
    if (info.header_size == 12) {
        info.width = read_le16 (h + 4);
        height = read_le16 (h + 6);
        info.bpp = read_le16 (h + 10);
        info.palette_entry_size = 3;
    } else {
        info.width = std::int32_t (read_le32 (h + 4));
        height = std::int32_t (read_le32 (h + 8));
        info.bpp = read_le16 (h + 14);
    }
    info.top_down = height < 0;
    info.height = height < 0 ? -height : height;
    if (!check_size (format, info.width, info.height)) return false;

    const std::uint32_t raw_compression = info.header_size >= 20 ? read_le32 (h + 16) : 0;
    info.colors_used = info.header_size >= 36 ? read_le32 (h + 32) : 0;
    // OS/2 2.x headers (16 and 64 bytes) number compression differently from 3 on.
    const bool os2 = info.header_size == 16 || info.header_size == 64;
    switch (raw_compression) {
    case 0: info.compression = DibCompression::kRgb; break;
    case 1: info.compression = DibCompression::kRle8; break;
    case 2: info.compression = DibCompression::kRle4; break;
    case 3:
    case 6:
        if (os2) {
            warn (format, "OS/2 Huffman compression is not supported");
            return false;
        }
        info.compression = DibCompression::kBitfields;
        if (info.header_size == 40) info.extra_mask_bytes = raw_compression == 6 ? 16 : 12;
        break;
    default:
        warn (format, "unsupported compression %u", raw_compression);
        return false;
    }

    const int bpp = info.bpp;
    const bool depth_ok =
        info.compression == DibCompression::kRle8 ? bpp == 8
        : info.compression == DibCompression::kRle4 ? bpp == 4
        : info.compression == DibCompression::kBitfields ? (bpp == 16 || bpp == 32)
        : (bpp == 1 || bpp == 2 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32);
    if (!depth_ok) {
        warn (format, "unsupported bit depth %d for compression %u", bpp,
                         raw_compression);
        return false;
    }
    if (info.compression == DibCompression::kBitfields && info.header_size >= 52)
        for (int c = 0; c < (info.header_size >= 56 ? 4 : 3); ++c)
            info.masks[c] = read_le32 (h + 40 + 4 * c);
    else if (info.compression == DibCompression::kRgb && bpp == 16) {
        info.masks[0] = 0x7c00; info.masks[1] = 0x03e0; info.masks[2] = 0x001f;
    } else if (info.compression == DibCompression::kRgb && bpp == 32) {
        info.masks[0] = 0xff0000; info.masks[1] = 0xff00; info.masks[2] = 0xff;
    }
    return true;
}

// Masks stored after a 40-byte header (extra_mask_bytes of them).
inline void read_extra_masks (const guchar *p, DibInfo &info)
{
    for (std::uint32_t c = 0; c < info.extra_mask_bytes / 4; ++c) info.masks[c] = read_le32 (p + 4 * c);
}

// Up to 256 colours; indices past the stored ones read as black.
struct DibPalette {
    std::array<std::array<guchar, 3>, 256> rgb {};

    void read (const guchar *p, size_t count, int entry_size)
    {
        for (size_t i = 0; i < count && i < rgb.size (); ++i, p += entry_size)
            rgb[i] = {p[2], p[1], p[0]};
    }
};

// One bit-field channel scaled to 8 bits as v * 255 / max, truncated.
class MaskChannel {
public:
    // False when the mask's bits are not contiguous.
    bool set (std::uint32_t mask)
    {
        mask_ = mask;
        shift_ = 0;
        bits_ = 0;
        lut_.clear ();
        if (!mask) return true;
        while (!((mask >> shift_) & 1)) ++shift_;
        const std::uint64_t m = std::uint64_t (mask) >> shift_;
        if (m & (m + 1)) return false;
        while ((m >> bits_) & 1) ++bits_;
        max_ = (std::uint64_t (1) << bits_) - 1;
        if (bits_ <= 16) {
            lut_.resize (size_t (max_) + 1);
            for (std::uint64_t v = 0; v <= max_; ++v) lut_[size_t (v)] = guchar (v * 255 / max_);
        }
        return true;
    }
    bool present () const { return mask_ != 0; }
    guchar operator() (std::uint32_t pixel) const
    {
        if (!mask_) return 0;
        const std::uint32_t v = (pixel & mask_) >> shift_;
        return bits_ <= 16 ? lut_[v] : guchar (std::uint64_t (v) * 255 / max_);
    }

private:
    std::uint32_t mask_ = 0;
    int shift_ = 0, bits_ = 0;
    std::uint64_t max_ = 0;
    std::vector<guchar> lut_;
};

// Converts stored rows of an uncompressed DIB to RGB (3 channels) or RGBA (4).
class DibRowConverter {
public:
    // False (with a warning) for non-contiguous masks.
    bool init (const Format &format, const DibInfo &info, const DibPalette &palette)
    {
        bpp_ = info.bpp;
        palette_ = &palette;
        for (int c = 0; c < 4; ++c)
            if (!channels_[c].set (info.masks[c])) {
                warn (format, "bit-field mask 0x%08x is not contiguous",
                                 info.masks[c]);
                return false;
            }
        standard32_ = bpp_ == 32 && info.masks[0] == 0xff0000 && info.masks[1] == 0xff00
                      && info.masks[2] == 0xff && (info.masks[3] == 0 || info.masks[3] == 0xff000000u);
        return true;
    }
    bool has_alpha () const { return (bpp_ == 16 || bpp_ == 32) && channels_[3].present (); }

    void convert (const guchar *src, guchar *dst, int width, int n_channels) const
    {
        switch (bpp_) {
        case 1: case 2: case 4: case 8: convert_indexed (src, dst, width, n_channels); break;
        case 24:
            if (n_channels == 3) {
                bgr_to_rgb (src, dst, size_t (width));
                break;
            }
            for (int x = 0; x < width; ++x, src += 3, dst += n_channels) {
                dst[0] = src[2]; dst[1] = src[1]; dst[2] = src[0];
                if (n_channels == 4) dst[3] = 255;
            }
            break;
        case 32:
            if (standard32_) {
                const bool alpha = channels_[3].present ();
                for (int x = 0; x < width; ++x, src += 4, dst += n_channels) {
                    dst[0] = src[2]; dst[1] = src[1]; dst[2] = src[0];
                    if (n_channels == 4) dst[3] = alpha ? src[3] : 255;
                }
                break;
            }
            [[fallthrough]];
        default: convert_masked (src, dst, width, n_channels); break;
        }
    }

private:
    void convert_indexed (const guchar *src, guchar *dst, int width, int n_channels) const
    {
        const int per_byte = 8 / bpp_;
        const unsigned mask = (1u << bpp_) - 1;
        for (int x = 0; x < width; ++x, dst += n_channels) {
            const int shift = 8 - bpp_ * (x % per_byte + 1);
            const auto &c = palette_->rgb[(src[x / per_byte] >> shift) & mask];
            dst[0] = c[0]; dst[1] = c[1]; dst[2] = c[2];
            if (n_channels == 4) dst[3] = 255;
        }
    }
    void convert_masked (const guchar *src, guchar *dst, int width, int n_channels) const
    {
        const int bytes = bpp_ / 8;
        const bool alpha = channels_[3].present ();
        for (int x = 0; x < width; ++x, src += bytes, dst += n_channels) {
            const std::uint32_t p = bytes == 2 ? read_le16 (src) : read_le32 (src);
            dst[0] = channels_[0] (p); dst[1] = channels_[1] (p); dst[2] = channels_[2] (p);
            if (n_channels == 4) dst[3] = alpha ? channels_[3] (p) : 255;
        }
    }

    int bpp_ = 0;
    const DibPalette *palette_ = nullptr;
    MaskChannel channels_[4];
    bool standard32_ = false;
};

}  // namespace tamba::loader

#endif  // TAMBA_LOADERS_DIB_H
