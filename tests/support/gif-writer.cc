// SPDX-License-Identifier: LGPL-2.1-or-later
#include "gif-writer.h"

#include <algorithm>

namespace tamba::test {

namespace {

void put16 (Bytes &out, int v)
{
    out.push_back (std::uint8_t (v & 255));
    out.push_back (std::uint8_t (v >> 8));
}

// Bits of the table size field for a table of n entries (n a power of two, 2..256).
int table_bits (size_t entries)
{
    int bits = 0;
    while ((size_t (2) << bits) < entries) ++bits;
    return bits;
}

// The string table of the encoder: the code of (prefix code, next index), 0 for none. A flat
// array keeps encoding of large benchmark images quick; a clear resets only what was used.
class StringTable {
public:
    StringTable () : codes_ (size_t (4096) * 256, 0) {}
    int find (int prefix, int c) const { return codes_[key (prefix, c)]; }
    void add (int prefix, int c, int code)
    {
        codes_[key (prefix, c)] = std::uint16_t (code);
        used_.push_back (key (prefix, c));
    }
    void clear ()
    {
        for (size_t k : used_) codes_[k] = 0;
        used_.clear ();
    }

private:
    static size_t key (int prefix, int c) { return size_t (prefix) * 256 + size_t (c); }
    std::vector<std::uint16_t> codes_;
    std::vector<size_t> used_;
};

}  // namespace

void CodeWriter::put (int code, int width)
{
    acc_ |= std::uint32_t (code) << n_;
    n_ += width;
    while (n_ >= 8) {
        bytes_.push_back (std::uint8_t (acc_ & 255));
        acc_ >>= 8;
        n_ -= 8;
    }
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

Bytes lzw_encode (const Bytes &indices, int min_code_size, FullTable full)
{
    const int clear = 1 << min_code_size;
    CodeWriter w;
    StringTable table;
    int next = clear + 2, width = min_code_size + 1;
    w.put (clear, width);
    int prefix = -1;
    for (std::uint8_t c : indices) {
        if (prefix < 0) {
            prefix = c;
            continue;
        }
        if (const int code = table.find (prefix, c)) {
            prefix = code;
            continue;
        }
        w.put (prefix, width);
        if (next < 4096) {
            table.add (prefix, c, next++);
            if (next > (1 << width) && width < 12) ++width;
        }
        if (next == 4096 && full == FullTable::Clear) {
            w.put (clear, width);
            table.clear ();
            next = clear + 2;
            width = min_code_size + 1;
        }
        prefix = c;
    }
    if (prefix >= 0) w.put (prefix, width);
    w.put (clear + 1, width);
    return w.blocks ();
}

Bytes interlace_order (const GifImage &im)
{
    Bytes out;
    const int starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int y = starts[pass]; y < im.height; y += steps[pass])
            out.insert (out.end (), im.indices.begin () + long (y * im.width),
                        im.indices.begin () + long ((y + 1) * im.width));
    return out;
}

Bytes make_gif (int screen_width, int screen_height, const Bytes &global_table,
                const std::vector<GifImage> &images, bool trailer, FullTable full)
{
    Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
    put16 (out, screen_width);
    put16 (out, screen_height);
    out.push_back (global_table.empty () ? 0 : std::uint8_t (0x80 | table_bits (global_table.size () / 3)));
    out.push_back (0);
    out.push_back (0);
    out.insert (out.end (), global_table.begin (), global_table.end ());
    for (const GifImage &im : images) {
        if (im.control) {
            out.insert (out.end (), {0x21, 0xF9, 4});
            out.push_back (std::uint8_t ((im.disposal << 2) | (im.transparent >= 0 ? 1 : 0)));
            put16 (out, im.delay);
            out.push_back (std::uint8_t (im.transparent >= 0 ? im.transparent : 0));
            out.push_back (0);
        }
        out.push_back (0x2C);
        put16 (out, im.x);
        put16 (out, im.y);
        put16 (out, im.width);
        put16 (out, im.height);
        std::uint8_t flags = im.interlaced ? 0x40 : 0;
        if (!im.local_table.empty ()) flags |= std::uint8_t (0x80 | table_bits (im.local_table.size () / 3));
        out.push_back (flags);
        out.insert (out.end (), im.local_table.begin (), im.local_table.end ());
        out.push_back (std::uint8_t (im.min_code_size));
        const Bytes data = !im.raw_data.empty () ? im.raw_data
                           : lzw_encode (im.interlaced ? interlace_order (im) : im.indices,
                                         im.min_code_size, full);
        out.insert (out.end (), data.begin (), data.end ());
    }
    if (trailer) out.push_back (0x3B);
    return out;
}

}  // namespace tamba::test
