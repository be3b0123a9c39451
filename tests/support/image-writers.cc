// SPDX-License-Identifier: LGPL-2.1-or-later
#include "image-writers.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "modules.h"

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

// Bits of the table size field for a table of n entries (n a power of two, 2..256).
std::uint8_t table_bits (size_t entries)
{
    std::uint8_t bits = 0;
    while ((size_t (2) << bits) < entries) ++bits;
    return bits;
}

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
    out.insert (out.end (), {global_table.empty () ? std::uint8_t (0)
                                                   : std::uint8_t (0x80 | table_bits (global_table.size () / 3)), 0, 0});
    out.insert (out.end (), global_table.begin (), global_table.end ());
    for (const GifImage &im : images) {
        if (im.control) {
            out.insert (out.end (), {0x21, 0xF9, 4, std::uint8_t ((im.disposal << 2) | (im.transparent >= 0))});
            put_le (out, std::uint32_t (im.delay), 2);
            out.insert (out.end (), {std::uint8_t (std::max (im.transparent, 0)), 0});
        }
        out.push_back (0x2C);
        for (int v : {im.x, im.y, im.width, im.height}) put_le (out, std::uint32_t (v), 2);
        out.push_back (std::uint8_t ((im.interlaced ? 0x40 : 0)
                                     | (im.local_table.empty () ? 0 : 0x80 | table_bits (im.local_table.size () / 3))));
        out.insert (out.end (), im.local_table.begin (), im.local_table.end ());
        out.push_back (std::uint8_t (im.min_code_size));
        Bytes order;  // rows in the four interlace passes, or as they are
        for (int pass = im.interlaced ? 0 : 4; pass < 5 && im.raw_data.empty (); ++pass)
            for (int y = "\0\4\2\1\0"[pass]; y < im.height; y += "\10\10\4\2\1"[pass])
                order.insert (order.end (), im.indices.begin () + long (y * im.width),
                              im.indices.begin () + long ((y + 1) * im.width));
        const Bytes data = im.raw_data.empty () ? lzw_encode (order, im.min_code_size, full) : im.raw_data;
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
    const bool core = s.header_size == 12;
    const size_t extra = s.header_size == 40 ? s.masks.size () * 4 : 0;
    const size_t offset = 14 + size_t (s.header_size) + extra + size_t (s.palette_colours * (core ? 3 : 4));
    Bytes b;
    if (file_header) {
        b = {'B', 'M'};
        put_le (b, std::uint32_t (offset + data.size ()), 4);
        put_le (b, 0, 4);
        put_le (b, std::uint32_t (offset), 4);
    }
    const size_t start = b.size ();
    put_le (b, std::uint32_t (s.header_size), 4);
    put_le (b, std::uint32_t (s.width), core ? 2 : 4);
    put_le (b, std::uint32_t (s.height), core ? 2 : 4);
    put_le (b, 1, 2);
    put_le (b, std::uint32_t (s.bpp), 2);
    if (!core) {
        for (std::uint32_t v : {s.compression, std::uint32_t (data.size ()), 2835u, 2835u,
                                std::uint32_t (s.palette_colours), 0u})
            put_le (b, v, 4);
        if (s.header_size > 40)
            for (std::uint32_t m : s.masks) put_le (b, m, 4);
        b.resize (start + size_t (s.header_size), 0);
        if (s.header_size == 40)
            for (std::uint32_t m : s.masks) put_le (b, m, 4);
    }
    for (int i = 0; i < s.palette_colours; ++i) {
        const Bytes c = palette_colour (i);
        b.insert (b.end (), {c[2], c[1], c[0]});
        if (!core) b.push_back (0);
    }
    b.insert (b.end (), data.begin (), data.end ());
    return b;
}

Bytes write_ico (const std::vector<IcoEntry> &entries, int type)
{
    Bytes b;
    put_le (b, 0, 2);
    put_le (b, std::uint32_t (type), 2);
    put_le (b, std::uint32_t (entries.size ()), 2);
    std::uint32_t offset = std::uint32_t (6 + 16 * entries.size ());
    for (const auto &e : entries) {
        b.insert (b.end (), {std::uint8_t (e.width), std::uint8_t (e.height), 0, 0});
        put_le (b, 1, 2);
        put_le (b, std::uint32_t (e.bpp), 2);
        put_le (b, std::uint32_t (e.data.size ()), 4);
        put_le (b, offset, 4);
        offset += std::uint32_t (e.data.size ());
    }
    for (const auto &e : entries) b.insert (b.end (), e.data.begin (), e.data.end ());
    return b;
}

Bytes write_png (int width, int height, bool alpha, const Bytes &samples)
{
    png_image img {};
    img.version = PNG_IMAGE_VERSION;
    img.width = png_uint_32 (width);
    img.height = png_uint_32 (height);
    img.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    png_alloc_size_t size = 0;
    png_image_write_to_memory (&img, nullptr, &size, 0, samples.data (), 0, nullptr);
    Bytes out (size);
    if (!png_image_write_to_memory (&img, out.data (), &size, 0, samples.data (), 0, nullptr)) return {};
    out.resize (size);
    return out;
}

Bytes jpeg_source (int width, int height, int x, int y)
{
    return {std::uint8_t (x * 255 / std::max (width - 1, 1)), std::uint8_t (y * 255 / std::max (height - 1, 1)),
            std::uint8_t (255 - (x + y) * 255 / std::max (width + height - 2, 1))};
}

Bytes write_jpeg (int width, int height, bool progressive, bool grey)
{
    jpeg_compress_struct cinfo {};
    jpeg_error_mgr err {};
    cinfo.err = jpeg_std_error (&err);
    jpeg_create_compress (&cinfo);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest (&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION (width);
    cinfo.image_height = JDIMENSION (height);
    cinfo.input_components = grey ? 1 : 3;
    cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults (&cinfo);
    jpeg_set_quality (&cinfo, 95, TRUE);
    for (int c = 0; c < cinfo.num_components; ++c)
        cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    if (progressive) jpeg_simple_progression (&cinfo);
    jpeg_start_compress (&cinfo, TRUE);
    Bytes row;
    while (cinfo.next_scanline < cinfo.image_height) {
        row.clear ();
        for (int x = 0; x < width; ++x) {
            const Bytes rgb = jpeg_source (width, height, x, int (cinfo.next_scanline));
            row.insert (row.end (), rgb.begin (), rgb.begin () + (grey ? 1 : 3));
        }
        JSAMPROW rows[] = {row.data ()};
        jpeg_write_scanlines (&cinfo, rows, 1);
    }
    jpeg_finish_compress (&cinfo);
    jpeg_destroy_compress (&cinfo);
    Bytes out (buffer, buffer + size);
    std::free (buffer);
    return out;
}

Bytes write_tiff (int width, int height, int rows_written, bool private_tag)
{
    gchar *path = nullptr;
    const int fd = g_file_open_tmp ("tamba-XXXXXX.tif", &path, nullptr);
    if (fd < 0) return {};
    close (fd);
    TIFF *tif = TIFFOpen (path, "w");
    TIFFSetField (tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField (tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField (tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField (tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField (tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField (tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField (tif, TIFFTAG_ROWSPERSTRIP, rows_written < 0 ? 8 : height);
    if (private_tag) {
        static const TIFFFieldInfo kTag[] = {
            {65000, -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0, const_cast<char *> ("TambaTestTag")}};
        TIFFMergeFieldInfo (tif, kTag, 1);
        TIFFSetField (tif, 65000, "not known to readers");
    }
    Bytes row (size_t (width) * 3);
    for (int y = 0; y < (rows_written < 0 ? height : rows_written); ++y) {
        for (size_t i = 0; i < row.size (); ++i) row[i] = std::uint8_t (i * 7 + size_t (y) * 13);
        TIFFWriteScanline (tif, row.data (), std::uint32_t (y), 0);
    }
    TIFFClose (tif);
    Bytes out = read_file (path);
    g_unlink (path);
    g_free (path);
    return out;
}

}  // namespace tamba::test
