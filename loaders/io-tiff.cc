// SPDX-License-Identifier: LGPL-2.1-or-later
// TIFF loader module on libtiff: the first directory, read through libtiff's RGBA interface
// from memory. Progressive loading collects the bytes and decodes them when the load stops,
// since a TIFF's directory may sit anywhere in the file.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "common/module-entry.h"

namespace tamba::loader {
namespace {

constexpr const Format &kFormat = formats::tiff;
constexpr char kNoMemory[] = "not enough memory for the image";

// The file's bytes as libtiff's client I/O sees them: read-only, mappable.
struct MemoryFile {
    const guchar *data;
    toff_t size;
    toff_t pos = 0;
};

tmsize_t memory_read (thandle_t handle, void *buf, tmsize_t count)
{
    auto *file = static_cast<MemoryFile *> (handle);
    if (count <= 0 || file->pos >= file->size) return 0;
    const toff_t n = std::min<toff_t> (toff_t (count), file->size - file->pos);
    std::memcpy (buf, file->data + file->pos, size_t (n));
    file->pos += n;
    return tmsize_t (n);
}

tmsize_t memory_write (thandle_t, void *, tmsize_t)
{
    return 0;
}

toff_t memory_seek (thandle_t handle, toff_t offset, int whence)
{
    auto *file = static_cast<MemoryFile *> (handle);
    if (whence == SEEK_SET) return file->pos = offset;
    // Relative moves come as two's-complement offsets; none may end before the start.
    const std::int64_t base = std::int64_t (whence == SEEK_CUR ? file->pos : file->size);
    const std::int64_t move = std::int64_t (offset);
    if (move < 0 ? base < -move : move > INT64_MAX - base) return toff_t (-1);
    return file->pos = toff_t (base + move);
}

int memory_close (thandle_t)
{
    return 0;
}

toff_t memory_size (thandle_t handle)
{
    return static_cast<MemoryFile *> (handle)->size;
}

int memory_map (thandle_t handle, void **base, toff_t *size)
{
    auto *file = static_cast<MemoryFile *> (handle);
    *base = const_cast<guchar *> (file->data);
    *size = file->size;
    return 1;
}

void memory_unmap (thandle_t, void *, toff_t) {}

// libtiff's first error becomes the load's one warning; its warnings (unknown tags and the
// like) are dropped.
struct Messages {
    char first_error[256] = "";
};

int on_tiff_error (TIFF *, void *user_data, const char *, const char *fmt, va_list args)
{
    auto *messages = static_cast<Messages *> (user_data);
    if (!messages->first_error[0])
        g_vsnprintf (messages->first_error, sizeof messages->first_error, fmt, args);
    return 1;
}

int on_tiff_warning (TIFF *, void *, const char *, const char *, va_list)
{
    return 1;
}

// Per-file message handlers, so nothing reaches libtiff's process-wide ones (stderr).
struct TiffOptions {
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc ();
    explicit TiffOptions (Messages &messages)
    {
        if (!options) return;
        TIFFOpenOptionsSetErrorHandlerExtR (options, on_tiff_error, &messages);
        TIFFOpenOptionsSetWarningHandlerExtR (options, on_tiff_warning, &messages);
    }
    ~TiffOptions () { TIFFOpenOptionsFree (options); }
    TiffOptions (const TiffOptions &) = delete;
    TiffOptions &operator= (const TiffOptions &) = delete;
};

// name is what libtiff calls the data in its messages.
TIFF *open_memory_tiff (const char *name, MemoryFile &file, Messages &messages)
{
    TiffOptions options (messages);
    if (!options.options) return nullptr;
    return TIFFClientOpenExt (name, "r", &file, memory_read, memory_write, memory_seek,
                              memory_close, memory_size, memory_map, memory_unmap,
                              options.options);
}

guint32 straight_pixel (guint32 r, guint32 g, guint32 b, guint32 a)
{
    return r | (g << 8) | (b << 16) | (a << 24);
}

guint32 scale_16_to_8 (guint32 v)
{
    return (v * 255 + 32767) / 65535;
}

// libtiff multiplies unassociated alpha into the colour as it packs pixels, which loses
// precision that no later division gets back. These replacements pack the colour as stored.
void put_straight_contig8 (TIFFRGBAImage *img, uint32_t *cp, uint32_t, uint32_t, uint32_t w,
                           uint32_t h, int32_t fromskew, int32_t toskew, unsigned char *pp)
{
    const int spp = img->samplesperpixel;
    for (; h > 0; --h, cp += toskew, pp += fromskew * spp)
        for (uint32_t x = 0; x < w; ++x, pp += spp) *cp++ = straight_pixel (pp[0], pp[1], pp[2], pp[3]);
}

void put_straight_contig16 (TIFFRGBAImage *img, uint32_t *cp, uint32_t, uint32_t, uint32_t w,
                            uint32_t h, int32_t fromskew, int32_t toskew, unsigned char *pp)
{
    const int spp = img->samplesperpixel;
    const auto *wp = reinterpret_cast<const uint16_t *> (pp);
    for (; h > 0; --h, cp += toskew, wp += fromskew * spp)
        for (uint32_t x = 0; x < w; ++x, wp += spp)
            *cp++ = straight_pixel (scale_16_to_8 (wp[0]), scale_16_to_8 (wp[1]),
                                    scale_16_to_8 (wp[2]), scale_16_to_8 (wp[3]));
}

void put_straight_separate8 (TIFFRGBAImage *, uint32_t *cp, uint32_t, uint32_t, uint32_t w,
                             uint32_t h, int32_t fromskew, int32_t toskew, unsigned char *r,
                             unsigned char *g, unsigned char *b, unsigned char *a)
{
    for (; h > 0; --h, cp += toskew, r += fromskew, g += fromskew, b += fromskew, a += fromskew)
        for (uint32_t x = 0; x < w; ++x) *cp++ = straight_pixel (*r++, *g++, *b++, *a++);
}

void put_straight_separate16 (TIFFRGBAImage *, uint32_t *cp, uint32_t, uint32_t, uint32_t w,
                              uint32_t h, int32_t fromskew, int32_t toskew, unsigned char *r8,
                              unsigned char *g8, unsigned char *b8, unsigned char *a8)
{
    auto *r = reinterpret_cast<const uint16_t *> (r8);
    auto *g = reinterpret_cast<const uint16_t *> (g8);
    auto *b = reinterpret_cast<const uint16_t *> (b8);
    auto *a = reinterpret_cast<const uint16_t *> (a8);
    for (; h > 0; --h, cp += toskew, r += fromskew, g += fromskew, b += fromskew, a += fromskew)
        for (uint32_t x = 0; x < w; ++x)
            *cp++ = straight_pixel (scale_16_to_8 (*r++), scale_16_to_8 (*g++),
                                    scale_16_to_8 (*b++), scale_16_to_8 (*a++));
}

// libtiff keeps only the high byte of 16-bit grey; this packer rounds, as the RGB ones do.
void put_grey16 (TIFFRGBAImage *img, uint32_t *cp, uint32_t, uint32_t, uint32_t w, uint32_t h,
                 int32_t fromskew, int32_t toskew, unsigned char *pp)
{
    const int spp = img->samplesperpixel;
    const bool white_is_zero = img->photometric == PHOTOMETRIC_MINISWHITE;
    const auto *wp = reinterpret_cast<const uint16_t *> (pp);
    for (; h > 0; --h, cp += toskew, wp += fromskew * spp)
        for (uint32_t x = 0; x < w; ++x, wp += spp) {
            const guint32 g = scale_16_to_8 (white_is_zero ? 65535u - wp[0] : wp[0]);
            *cp++ = straight_pixel (g, g, g, 255);
        }
}

// Replaces the packers whose results would lose precision.
void install_exact_packers (TIFFRGBAImage &img)
{
    const bool grey = img.photometric == PHOTOMETRIC_MINISBLACK
                      || img.photometric == PHOTOMETRIC_MINISWHITE;
    if (grey && img.isContig && img.alpha == 0 && img.bitspersample == 16) {
        img.put.contig = put_grey16;
        return;
    }
    if (img.alpha != EXTRASAMPLE_UNASSALPHA || img.photometric != PHOTOMETRIC_RGB) return;
    if (img.isContig && img.samplesperpixel >= 4) {
        if (img.bitspersample == 8) img.put.contig = put_straight_contig8;
        else if (img.bitspersample == 16) img.put.contig = put_straight_contig16;
    } else if (!img.isContig) {
        if (img.bitspersample == 8) img.put.separate = put_straight_separate8;
        else if (img.bitspersample == 16) img.put.separate = put_straight_separate16;
    }
}

// Associated (premultiplied) colour back to straight colour, rounded to nearest.
guchar unpremultiply (guint32 c, guint32 a)
{
    return guchar (std::min<guint32> (255, (c * 255 + a / 2) / a));
}

void free_pixels (guchar *pixels, gpointer)
{
    std::free (pixels);
}

// One raster row to R, G, B[, A] bytes at dest, which never lies after the row itself.
void convert_row (const guint32 *src, guchar *dest, size_t width, bool alpha, bool associated)
{
    const size_t n_channels = alpha ? 4 : 3;
    for (size_t x = 0; x < width; ++x, dest += n_channels) {
        const guint32 v = src[x];
        const guint32 a = TIFFGetA (v);
        guint32 r = TIFFGetR (v), g = TIFFGetG (v), b = TIFFGetB (v);
        if (associated && a != 0 && a != 255) {
            r = unpremultiply (r, a);
            g = unpremultiply (g, a);
            b = unpremultiply (b, a);
        }
        dest[0] = guchar (r);
        dest[1] = guchar (g);
        dest[2] = guchar (b);
        if (alpha) dest[3] = guchar (a);
    }
}

// Little-endian RGBA words to RGB bytes, four pixels (three words) at a time; every source
// word is read before the group's bytes are written over it.
void pack_row_rgb_le (const guint32 *src, guchar *dest, size_t width)
{
    size_t x = 0;
    for (; x + 4 <= width; x += 4, src += 4, dest += 12) {
        const guint32 p0 = src[0], p1 = src[1], p2 = src[2], p3 = src[3];
        const guint32 words[3] = {(p0 & 0xFFFFFF) | (p1 << 24), ((p1 >> 8) & 0xFFFF) | (p2 << 16),
                                  ((p2 >> 16) & 0xFF) | (p3 << 8)};
        std::memcpy (dest, words, sizeof words);
    }
    convert_row (src, dest, width - x, false, false);
}

// Turns libtiff's packed raster (top row first) into the image's byte layout, in place: rows
// only ever move towards the start, so nothing is overwritten before it is read.
Tamba *raster_to_image (guint32 *raster, int width, int height, bool alpha, bool associated)
{
    const size_t n_channels = alpha ? 4 : 3;
    const size_t rowstride = (size_t (width) * n_channels + 3) & ~size_t (3);
    auto *bytes = reinterpret_cast<guchar *> (raster);
    const bool little_endian = G_BYTE_ORDER == G_LITTLE_ENDIAN;
    // Straight RGBA words on a little-endian machine already are the image's bytes.
    if (!(little_endian && alpha && !associated)) {
        for (size_t y = 0; y < size_t (height); ++y) {
            const guint32 *src = raster + y * size_t (width);
            guchar *dest = bytes + y * rowstride;
            if (little_endian && !alpha) pack_row_rgb_le (src, dest, size_t (width));
            else convert_row (src, dest, size_t (width), alpha, associated);
        }
    }
    guchar *pixels = bytes;
    if (!alpha) {
        // Give back what the wider raster no longer needs; keep the raster if that fails.
        auto *smaller = static_cast<guchar *> (std::realloc (bytes, rowstride * size_t (height)));
        if (smaller) pixels = smaller;
    }
    return tamba_new_from_data (pixels, GDK_COLORSPACE_RGB, alpha, 8, width, height,
                                int (rowstride), free_pixels, nullptr);
}

// A strip or tile with no bytes, or whose bytes start past the end of the file, has no data;
// libtiff would leave it black and report success, so a few hundred bytes could claim (and
// cost) a gigabyte of pixels. And libtiff decodes a whole strip or tile into a buffer of its
// own, whose size comes from header fields alone (samples per pixel among them): one larger than
// twice the image itself (16-bit RGBA) is refused. Checked before anything image-sized is
// allocated.
bool layout_ok (TIFF *tif, uint32_t width, uint32_t height, toff_t file_size, char (&reason)[1024])
{
    const bool tiled = TIFFIsTiled (tif);
    const uint64_t piece = tiled ? TIFFTileSize64 (tif) : TIFFStripSize64 (tif);
    const uint64_t image_bytes = uint64_t (width) * height * 4;
    if (piece > std::max<uint64_t> (2 * image_bytes, uint64_t (64) << 20)) {
        g_snprintf (reason, sizeof reason, "a %s of %" G_GUINT64_FORMAT " bytes is larger than the image allows",
                    tiled ? "tile" : "strip", guint64 (piece));
        return false;
    }
    const uint32_t n = tiled ? TIFFNumberOfTiles (tif) : TIFFNumberOfStrips (tif);
    for (uint32_t i = 0; i < n; ++i) {
        const uint64_t count = TIFFGetStrileByteCount (tif, i);
        if (count == 0 || TIFFGetStrileOffset (tif, i) >= file_size) {
            g_snprintf (reason, sizeof reason, "the data of %s %u is missing", tiled ? "tile" : "strip", i);
            return false;
        }
    }
    return true;
}

// Decodes the first directory of an opened TIFF and closes it; NULL (with one warning) on
// failure, including a failed open (tif NULL).
Tamba *read_first_directory (TIFF *tif, toff_t file_size, const Messages &messages)
{
    if (!tif) {
        warn (kFormat, "%s", messages.first_error[0] ? messages.first_error : "not a readable TIFF file");
        return nullptr;
    }
    char reason[1024] = "";
    uint32_t width = 0, height = 0;
    TIFFGetField (tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField (tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFRGBAImage img {};
    guint32 *raster = nullptr;
    Tamba *image = nullptr;
    const bool size_ok = check_size (kFormat, width, height);
    if (!size_ok) {
        // warned
    } else if (layout_ok (tif, width, height, file_size, reason) && TIFFRGBAImageOK (tif, reason)
               && TIFFRGBAImageBegin (&img, tif, 0, reason)) {
        img.req_orientation = ORIENTATION_TOPLEFT;
        install_exact_packers (img);
        const bool alpha = img.alpha != 0;
        const bool associated = img.alpha == EXTRASAMPLE_ASSOCALPHA;
        // Zeroed, so a tile or strip libtiff skips still leaves defined pixels.
        raster = static_cast<guint32 *> (std::calloc (size_t (width) * height, sizeof (guint32)));
        if (!raster) {
            keep_message (reason, kNoMemory);
        } else if (!TIFFRGBAImageGet (&img, raster, width, height)) {
            keep_message (
                reason, messages.first_error[0] ? messages.first_error : "the image data is damaged");
        } else {
            image = raster_to_image (raster, int (width), int (height), alpha, associated);
            if (image) raster = nullptr;  // the image owns it now
            else keep_message (reason, kNoMemory);
        }
        TIFFRGBAImageEnd (&img);
    }
    TIFFClose (tif);
    std::free (raster);
    if (!image && size_ok) warn (kFormat, "%s", reason[0] ? reason : messages.first_error);
    return image;
}

// The decoder collects the bytes in a buffer grown with realloc, which for large buffers moves
// pages instead of copying bytes, and decodes them at the end.
class TiffDecoder final : public Decoder {
public:
    explicit TiffDecoder (const ProgressSink &sink) noexcept : Decoder (sink) {}
    ~TiffDecoder () override { std::free (data_); }

    bool feed (const guchar *bytes, size_t count) noexcept override
    {
        if (count > capacity_ - size_) {
            const size_t wanted = count > SIZE_MAX / 2 - size_
                                      ? 0
                                      : std::max ({size_ + count, capacity_ * 2, size_t (65536)});
            auto *grown = wanted ? static_cast<guchar *> (std::realloc (data_, wanted)) : nullptr;
            if (!grown) {
                warn (kFormat, "%s", kNoMemory);
                return false;
            }
            data_ = grown;
            capacity_ = wanted;
        }
        if (count) std::memcpy (data_ + size_, bytes, count);
        size_ += count;
        return true;
    }

    // Decodes what arrived and shows it at once.
    Tamba *finish () noexcept override
    {
        // libtiff names the data in some messages: a file when it is loaded whole.
        MemoryFile file {data_, toff_t (size_)};
        Messages messages;
        Tamba *image = read_first_directory (
            open_memory_tiff (sink_.progressive () ? "TIFF data" : "TIFF file", file, messages),
            file.size, messages);
        if (!image) return nullptr;
        sink_.prepared (image);
        sink_.rows_done (image, 0, image->height);
        return image;
    }

private:
    guchar *data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

}  // namespace
}  // namespace tamba::loader

TAMBA_LOADER_MODULE (tiff, tamba::loader::TiffDecoder)
