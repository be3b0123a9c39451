// SPDX-License-Identifier: LGPL-2.1-or-later
#include "image-writers.h"

#include <algorithm>

namespace tamba::test {

void put_le (Bytes &b, std::uint32_t v, int n)
{
    for (int i = 0; i < n; ++i) b.push_back (std::uint8_t (v >> (8 * i)));
}

void put_be (Bytes &b, std::uint32_t v, int n)
{
    for (int i = n - 1; i >= 0; --i) b.push_back (std::uint8_t (v >> (8 * i)));
}

void CodeWriter::put (int code, int width)
{
    acc_ |= std::uint32_t (code) << n_;
    for (n_ += width; n_ >= 8; n_ -= 8, acc_ >>= 8) bytes_.push_back (std::uint8_t (acc_));
}

Bytes CodeWriter::blocks ()
{
    if (n_ > 0) bytes_.push_back (std::uint8_t (acc_));
    Bytes out;
    for (size_t i = 0; i < bytes_.size (); i += 255) {
        const size_t n = std::min<size_t> (255, bytes_.size () - i);
        out.push_back (std::uint8_t (n));
        out.insert (out.end (), bytes_.begin () + long (i), bytes_.begin () + long (i + n));
    }
    out.push_back (0);
    return out;
}

namespace {

Bytes lzw_encode (const Bytes &indices, int min_code_size, FullTable full)
{
    const int clear = 1 << min_code_size;
    CodeWriter w;
    // The code of (prefix code, next index), 0 for none: a flat array keeps large benchmark
    // images quick, and a clear resets only what was used.
    std::vector<std::uint16_t> table (size_t (4096) * 256, 0);
    std::vector<size_t> used;
    int next = clear + 2, width = min_code_size + 1, prefix = -1;
    w.put (clear, width);
    for (std::uint8_t c : indices) {
        const size_t key = size_t (prefix) * 256 + c;
        if (prefix < 0 || table[key]) {
            prefix = prefix < 0 ? c : table[key];
            continue;
        }
        w.put (prefix, width);
        if (next < 4096) {
            table[key] = std::uint16_t (next++);
            used.push_back (key);
            if (next > (1 << width) && width < 12) ++width;
        }
        if (next == 4096 && full == FullTable::Clear) {
            w.put (clear, width);
            for (size_t k : used) table[k] = 0;
            used.clear ();
            next = clear + 2;
            width = min_code_size + 1;
        }
        prefix = c;
    }
    if (prefix >= 0) w.put (prefix, width);
    w.put (clear + 1, width);
    return w.blocks ();
}

}  // namespace

Bytes make_gif (int screen_width, int screen_height, const Bytes &global_table,
                const std::vector<GifImage> &images, bool trailer, FullTable full)
{
    Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
    put_le (out, std::uint32_t (screen_width), 2);
    put_le (out, std::uint32_t (screen_height), 2);
    std::uint8_t bits = 0;  // the table holds 2 << bits entries
    while ((size_t (2) << bits) < global_table.size () / 3) ++bits;
    out.insert (out.end (), {global_table.empty () ? std::uint8_t (0) : std::uint8_t (0x80 | bits), 0, 0});
    out.insert (out.end (), global_table.begin (), global_table.end ());
    for (const GifImage &im : images) {
        out.insert (out.end (), {0x21, 0xF9, 4, std::uint8_t ((im.disposal << 2) | (im.transparent >= 0))});
        put_le (out, std::uint32_t (im.delay), 2);
        out.insert (out.end (), {std::uint8_t (std::max (im.transparent, 0)), 0, 0x2C});
        for (int v : {im.x, im.y, im.width, im.height}) put_le (out, std::uint32_t (v), 2);
        out.insert (out.end (), {0, std::uint8_t (im.min_code_size)});
        const Bytes data = im.raw_data.empty () ? lzw_encode (im.indices, im.min_code_size, full) : im.raw_data;
        out.insert (out.end (), data.begin (), data.end ());
    }
    if (trailer) out.push_back (0x3B);
    return out;
}

Bytes palette_colour (int i)
{
    return {std::uint8_t (i * 40 + 5), std::uint8_t (250 - i * 30), std::uint8_t (i * 7 + 1)};
}

Bytes write_bmp (const BmpLayout &s, const Bytes &data, bool file_header)
{
    const size_t offset = 14 + 40 + 4 * (s.masks.size () + size_t (s.palette_colours));
    Bytes b;
    if (file_header) {
        b = {'B', 'M'};
        for (size_t v : {offset + data.size (), size_t (0), offset}) put_le (b, std::uint32_t (v), 4);
    }
    for (std::uint32_t v : {40u, std::uint32_t (s.width), std::uint32_t (s.height)}) put_le (b, v, 4);
    put_le (b, 1, 2);
    put_le (b, std::uint32_t (s.bpp), 2);
    for (std::uint32_t v : {s.compression, std::uint32_t (data.size ()), 2835u, 2835u,
                            std::uint32_t (s.palette_colours), 0u})
        put_le (b, v, 4);
    for (std::uint32_t m : s.masks) put_le (b, m, 4);
    for (int i = 0; i < s.palette_colours; ++i) {
        const Bytes c = palette_colour (i);
        b.insert (b.end (), {c[2], c[1], c[0], 0});
    }
    b.insert (b.end (), data.begin (), data.end ());
    return b;
}

Bytes write_ico (const std::vector<IcoEntry> &entries, int type)
{
    Bytes b, data;
    for (size_t v : {size_t (0), size_t (type), entries.size ()}) put_le (b, std::uint32_t (v), 2);
    for (const auto &e : entries) {
        b.insert (b.end (), {std::uint8_t (e.width), std::uint8_t (e.height), 0, 0, 1, 0});
        put_le (b, std::uint32_t (e.bpp), 2);
        put_le (b, std::uint32_t (e.data.size ()), 4);
        put_le (b, std::uint32_t (6 + 16 * entries.size () + data.size ()), 4);
        data.insert (data.end (), e.data.begin (), e.data.end ());
    }
    b.insert (b.end (), data.begin (), data.end ());
    return b;
}

Bytes bytes_of (const std::string &s) { return Bytes (s.begin (), s.end ()); }

Bytes with_frame_size (Bytes bytes, unsigned width, unsigned height)
{
    for (size_t i = 2; i + 9 < bytes.size (); ++i)
        if (bytes[i] == 0xFF && (bytes[i + 1] == 0xC0 || bytes[i + 1] == 0xC2)) {
            bytes[i + 5] = std::uint8_t (height >> 8), bytes[i + 6] = std::uint8_t (height);
            bytes[i + 7] = std::uint8_t (width >> 8), bytes[i + 8] = std::uint8_t (width);
            break;
        }
    return bytes;
}


Bytes ras_header (std::initializer_list<std::uint32_t> fields)
{
    Bytes b;
    put_be (b, 0x59a66a95u, 4);
    for (std::uint32_t v : fields) put_be (b, v, 4);
    return b.resize (b.size () + 64, 0), b;
}

Bytes tiff_of (std::uint32_t width, std::uint32_t height, bool unknown_tag)
{
    const std::uint32_t entries = unknown_tag ? 9 : 8, data = 8 + 2 + 12 * entries + 4;
    const std::uint32_t tags[][3] = {{256, 4, width}, {257, 4, height}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1},
                                     {273, 4, data}, {278, 4, height}, {279, 4, width * height}, {65000, 3, 7}};
    Bytes b = {'I', 'I', 42, 0, 8, 0, 0, 0};
    put_le (b, entries, 2);
    for (std::uint32_t i = 0; i < entries; ++i) {
        put_le (b, tags[i][0], 2), put_le (b, tags[i][1], 2);  // tag and type
        put_le (b, 1, 4), put_le (b, tags[i][2], 4);           // one value, held in the entry
    }
    put_le (b, 0, 4);
    b.resize (b.size () + std::min<size_t> (size_t (width) * height, 4096), 0);
    return b;
}

}  // namespace tamba::test
