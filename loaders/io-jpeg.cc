// SPDX-License-Identifier: LGPL-2.1-or-later
// JPEG loader module on libjpeg-turbo with a suspending data source, and the saver. Whole-file
// loading feeds the file through the same decoder as progressive loading, so both give the same
// pixels.
//
// Progressive-mode (multi-scan) JPEGs are shown once, when the final image is complete: the
// decoder runs in single-pass mode, so rows are delivered only after the last scan has arrived.
// A file that ends early is finished as if an end-of-image marker followed: what arrived is
// shown and the rest of the image is still decoded (grey where no data came), never left
// uninitialised.
//
// libjpeg decodes damaged data differently depending on how much input it holds at a time (its
// fast Huffman path, taken only with plenty of input, falls back to the slow one on anything
// that looks like a marker, keeping coefficients it had decoded), and its arithmetic decoder
// cannot suspend at all. So every byte is kept: arithmetic-coded files are decoded once all of
// them are here, and a decode on which libjpeg warned, or whose data holds two 0xFF bytes in a
// row (fill bytes, which the two paths read differently when a zero follows them), is done again
// at the end from all the bytes at once. Whatever the pieces, the final pixels are those of one
// decode of the whole data.
//
// Loading at a size lets libjpeg scale the DCT by 1/2, 1/4 or 1/8, which skips most of the
// inverse transform, upsampling and colour conversion; the library finishes with its engine.
#include <cstdio>
#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "common/module-entry.h"

namespace tamba::loader {
namespace {

constexpr const Format &kFormat = formats::jpeg;
constexpr char kNoMemory[] = "not enough memory for the image";
constexpr int kRowsPerRead = 16;

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool warned;  // libjpeg met damaged data and went on
};

// Every byte that has arrived; libjpeg reads from the first it has not consumed.
struct SourceManager {
    jpeg_source_mgr pub;
    std::vector<JOCTET> bytes;  // what next_input_byte points into
    size_t skip = 0;            // bytes still to drop once they arrive
    bool at_end = false;        // no more bytes will come
};

class JpegDecoder final : public Decoder {
public:
    explicit JpegDecoder (const ProgressSink &sink) noexcept : Decoder (sink) {}
    // Decodes at the smallest DCT scale whose output is at least width x height on each side
    // (or the whole image on a side that is smaller than that).
    JpegDecoder (int min_width, int min_height) noexcept
        : Decoder (ProgressSink {}), min_width_ (min_width), min_height_ (min_height) {}
    ~JpegDecoder () override
    {
        if (created_) jpeg_destroy_decompress (&cinfo_);
        if (image_) tamba_unref (image_);
    }
    bool start () noexcept;
    // Adds bytes and decodes as far as they go; false (with one warning) on a fatal error.
    bool feed (const guchar *data, size_t size) noexcept override;
    // Decodes the rest as if the data ended here; the image (caller's reference) or NULL.
    Tamba *finish () noexcept override;
    // An image that went to nobody but this decoder (no reference taken at prepare) has no
    // one to finish the rows for.
    void stop () override
    {
        if (!(image_ && image_->ref_count == 1)) Decoder::stop ();
    }

private:
    // kWhole: the header is read and the image prepared; the rest waits for all the data.
    enum class Stage { kHeader, kWhole, kStart, kRows, kDone, kFailed };

    static void on_error_exit (j_common_ptr cinfo);
    static void on_message (j_common_ptr cinfo, int level)
    {
        if (level < 0) reinterpret_cast<ErrorManager *> (cinfo->err)->warned = true;
    }
    static void on_init_source (j_decompress_ptr) {}
    static boolean on_fill_input (j_decompress_ptr cinfo);
    static void on_skip_input (j_decompress_ptr cinfo, long count);
    static void on_term_source (j_decompress_ptr) {}

    bool run () noexcept;
    bool must_decode_again () const noexcept { return error_.warned || fill_bytes_seen_; }
    bool decode_all_at_once () noexcept;
    void create () noexcept;
    void step ();
    void begin_image ();
    void choose_scale ();
    void read_rows ();
    void fill_missing_rows () noexcept;
    // Ends the decode from inside run(), as libjpeg's own errors do.
    [[noreturn]] void stop_with (const char *reason) noexcept
    {
        keep_message (error_.message, reason);
        std::longjmp (error_.jump, 1);
    }
    // As stop_with, after a helper has warned.
    [[noreturn]] void stop_quietly () noexcept
    {
        quiet_ = true;
        std::longjmp (error_.jump, 1);
    }
    void fail (const char *reason) noexcept;

    int min_width_ = 0, min_height_ = 0;  // 0: full size
    jpeg_decompress_struct cinfo_ {};
    ErrorManager error_ {};
    SourceManager source_ {};
    bool created_ = false;
    bool quiet_ = false;
    bool fill_bytes_seen_ = false;  // 0xFF 0xFF somewhere in the data
    guchar last_byte_ = 0;          // of the previous piece
    Stage stage_ = Stage::kHeader;
    Tamba *image_ = nullptr;
    bool cmyk_ = false;
    bool inverted_cmyk_ = false;
    std::vector<JOCTET> cmyk_rows_;
};

void JpegDecoder::on_error_exit (j_common_ptr cinfo)
{
    auto *error = reinterpret_cast<ErrorManager *> (cinfo->err);
    cinfo->err->format_message (cinfo, error->message);
    std::longjmp (error->jump, 1);
}

boolean JpegDecoder::on_fill_input (j_decompress_ptr cinfo)
{
    auto *source = reinterpret_cast<SourceManager *> (cinfo->src);
    if (!source->at_end) return FALSE;  // suspend until more bytes come
    // The data ended early: an end-of-image marker lets libjpeg finish with what it has.
    static const JOCTET kEndOfImage[] = {0xFF, JPEG_EOI};
    source->pub.next_input_byte = kEndOfImage;
    source->pub.bytes_in_buffer = sizeof kEndOfImage;
    return TRUE;
}

void JpegDecoder::on_skip_input (j_decompress_ptr cinfo, long count)
{
    auto *source = reinterpret_cast<SourceManager *> (cinfo->src);
    if (count <= 0) return;
    const size_t n = size_t (count);
    if (n <= source->pub.bytes_in_buffer) {
        source->pub.next_input_byte += n;
        source->pub.bytes_in_buffer -= n;
    } else {
        source->skip = n - source->pub.bytes_in_buffer;
        source->pub.next_input_byte += source->pub.bytes_in_buffer;
        source->pub.bytes_in_buffer = 0;
    }
}

bool JpegDecoder::start () noexcept
{
    if (setjmp (error_.jump)) {
        fail (error_.message);
        return false;
    }
    create ();
    return true;
}

// A new decompressor reading from the first byte kept. Called under a setjmp.
void JpegDecoder::create () noexcept
{
    if (created_) jpeg_destroy_decompress (&cinfo_);
    created_ = false;
    cinfo_ = {};
    cinfo_.err = jpeg_std_error (&error_.pub);
    error_.pub.error_exit = on_error_exit;
    error_.pub.emit_message = on_message;
    error_.warned = false;
    jpeg_create_decompress (&cinfo_);
    created_ = true;
    source_.pub.next_input_byte = source_.bytes.data ();
    source_.pub.bytes_in_buffer = source_.bytes.size ();
    source_.skip = 0;
    source_.pub.init_source = on_init_source;
    source_.pub.fill_input_buffer = on_fill_input;
    source_.pub.skip_input_data = on_skip_input;
    source_.pub.resync_to_restart = jpeg_resync_to_restart;
    source_.pub.term_source = on_term_source;
    cinfo_.src = &source_.pub;
}

void JpegDecoder::fail (const char *reason) noexcept
{
    if (stage_ == Stage::kFailed) return;
    if (!quiet_) warn (kFormat, "%s", reason);
    stage_ = Stage::kFailed;
    fill_missing_rows ();
}

// Rows that were never decoded (after a fatal error) are made mid grey, so an image already
// handed to the caller holds no uninitialised memory.
void JpegDecoder::fill_missing_rows () noexcept
{
    if (!image_) return;
    const guint first = created_ && cinfo_.output_height ? cinfo_.output_scanline : 0;
    for (int y = int (first); y < image_->height; ++y)
        std::memset (image_->pixels + size_t (y) * size_t (image_->rowstride), 128,
                     size_t (image_->width) * 3);
    sink_.rows_done (image_, int (first), image_->height - int (first));
}

bool JpegDecoder::feed (const guchar *data, size_t size) noexcept
{
    if (stage_ == Stage::kFailed) return false;
    if (size == 0) return true;
    for (const guchar *p = data, *end = data + size; !fill_bytes_seen_ && p < end; ++p) {
        p = static_cast<const guchar *> (std::memchr (p, 0xFF, size_t (end - p)));
        if (!p) break;
        fill_bytes_seen_ = (p == data && last_byte_ == 0xFF) || (p + 1 < end && p[1] == 0xFF);
    }
    last_byte_ = data[size - 1];
    // Bytes after a clean decode are not needed; otherwise they are, for decoding again.
    if (stage_ == Stage::kDone && !must_decode_again ()) return true;
    std::vector<JOCTET> &bytes = source_.bytes;
    size_t next = bytes.size () - source_.pub.bytes_in_buffer;
    try {
        bytes.insert (bytes.end (), data, data + size);
    } catch (const std::bad_alloc &) {
        fail (kNoMemory);
        return false;
    }
    const size_t skipped = std::min (source_.skip, size);
    source_.skip -= skipped;
    next += skipped;
    source_.pub.next_input_byte = bytes.data () + next;
    source_.pub.bytes_in_buffer = bytes.size () - next;
    return stage_ == Stage::kWhole || stage_ == Stage::kDone || run ();
}

Tamba *JpegDecoder::finish () noexcept
{
    if (stage_ == Stage::kHeader) {
        fail ("the file ends before the image header");
    } else if (stage_ == Stage::kWhole) {
        decode_all_at_once ();
    } else if (stage_ != Stage::kDone && stage_ != Stage::kFailed) {
        source_.at_end = true;
        run ();
    }
    if (stage_ == Stage::kDone && must_decode_again ()) decode_all_at_once ();
    if (stage_ != Stage::kDone) return nullptr;
    Tamba *image = image_;
    image_ = nullptr;
    return image;
}

// Runs the decoder until it needs more bytes or is done. libjpeg longjmps here on errors;
// step() and what it calls hold nothing that needs a destructor.
bool JpegDecoder::run () noexcept
{
    if (setjmp (error_.jump)) {
        fail (error_.message);
        return false;
    }
    Stage before;
    do {
        before = stage_;
        step ();
    } while (stage_ != before && stage_ != Stage::kDone);
    return true;
}

// Decodes the kept bytes again from the start, with all of them in libjpeg's buffer and no
// suspension, into the image already prepared.
bool JpegDecoder::decode_all_at_once () noexcept
{
    source_.at_end = true;
    stage_ = Stage::kHeader;
    if (setjmp (error_.jump)) {
        fail (error_.message);
        return false;
    }
    create ();
    return run () && stage_ == Stage::kDone;
}

void JpegDecoder::step ()
{
    switch (stage_) {
    case Stage::kHeader:
        if (jpeg_read_header (&cinfo_, TRUE) == JPEG_SUSPENDED) return;
        begin_image ();
        // libjpeg's arithmetic decoder cannot suspend; those files wait for all their data.
        stage_ = cinfo_.arith_code && !source_.at_end ? Stage::kWhole : Stage::kStart;
        return;
    case Stage::kWhole:
        return;
    case Stage::kStart:
        if (!jpeg_start_decompress (&cinfo_)) return;
        stage_ = Stage::kRows;
        return;
    case Stage::kRows:
        read_rows ();
        if (cinfo_.output_scanline >= cinfo_.output_height) {
            // Whatever follows the last row (trailing markers, garbage) is not needed.
            jpeg_abort_decompress (&cinfo_);
            stage_ = Stage::kDone;
        }
        return;
    case Stage::kDone:
    case Stage::kFailed:
        return;
    }
}

void JpegDecoder::begin_image ()
{
    if (!check_size (kFormat, cinfo_.image_width, cinfo_.image_height)) stop_quietly ();
    switch (cinfo_.jpeg_color_space) {
    case JCS_CMYK:
    case JCS_YCCK:
        // libjpeg turns YCCK into CMYK; Adobe writes CMYK inverted (0 = full ink).
        cinfo_.out_color_space = JCS_CMYK;
        cmyk_ = true;
        inverted_cmyk_ = cinfo_.saw_Adobe_marker;
        break;
    default:
        // Grey, YCbCr and RGB all come out as RGB.
        cinfo_.out_color_space = JCS_RGB;
        break;
    }
    choose_scale ();
    // Decoding again reuses the image already handed out.
    if (image_) {
        if (image_->width != int (cinfo_.output_width) || image_->height != int (cinfo_.output_height))
            stop_with ("the image changed size when decoded again");
        return;
    }
    bool have_rows = true;
    try {
        if (cmyk_) cmyk_rows_.resize (size_t (cinfo_.output_width) * 4 * kRowsPerRead);
    } catch (const std::bad_alloc &) {
        have_rows = false;  // the jump out happens after the handler has finished
    }
    if (!have_rows) stop_with (kNoMemory);
    image_ = new_image (kFormat, false, cinfo_.output_width, cinfo_.output_height, kNoFill);
    if (!image_) stop_quietly ();
    sink_.prepared (image_);
}

// Leaves the output size in cinfo_: the full image, or the smallest of 1/8, 1/4 and 1/2 that
// still covers the minimum size. libjpeg rounds scaled sides up, so its own computation decides.
void JpegDecoder::choose_scale ()
{
    cinfo_.scale_num = 1;
    if (min_width_ > 0 && min_height_ > 0) {
        const JDIMENSION want_w = std::min (JDIMENSION (min_width_), cinfo_.image_width);
        const JDIMENSION want_h = std::min (JDIMENSION (min_height_), cinfo_.image_height);
        for (const unsigned denom : {8u, 4u, 2u}) {
            cinfo_.scale_denom = denom;
            jpeg_calc_output_dimensions (&cinfo_);
            if (cinfo_.output_width >= want_w && cinfo_.output_height >= want_h) return;
        }
    }
    cinfo_.scale_denom = 1;
    jpeg_calc_output_dimensions (&cinfo_);
}

// CMYK (as stored, inverted or not) to RGB: each colour is its ink's complement darkened by
// black, rounded.
void cmyk_to_rgb (const JOCTET *in, guchar *out, size_t width, bool inverted) noexcept
{
    for (size_t x = 0; x < width; ++x, in += 4, out += 3) {
        const unsigned k = inverted ? in[3] : 255u - in[3];
        for (int c = 0; c < 3; ++c) {
            const unsigned v = inverted ? in[c] : 255u - in[c];
            out[c] = guchar ((v * k + 127) / 255);
        }
    }
}

void JpegDecoder::read_rows ()
{
    const size_t width = cinfo_.output_width;
    while (cinfo_.output_scanline < cinfo_.output_height) {
        const JDIMENSION first = cinfo_.output_scanline;
        const JDIMENSION count = std::min<JDIMENSION> (kRowsPerRead, cinfo_.output_height - first);
        JSAMPROW rows[kRowsPerRead];
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = cmyk_ ? cmyk_rows_.data () + size_t (i) * width * 4
                            : image_->pixels + size_t (first + i) * size_t (image_->rowstride);
        const JDIMENSION got = jpeg_read_scanlines (&cinfo_, rows, count);
        if (got == 0) return;  // suspended
        if (cmyk_)
            for (JDIMENSION i = 0; i < got; ++i)
                cmyk_to_rgb (rows[i],
                             image_->pixels + size_t (first + i) * size_t (image_->rowstride),
                             width, inverted_cmyk_);
        sink_.rows_done (image_, int (first), int (got));
    }
}

// Saving. libjpeg's errors longjmp to the setjmp in compress(), which holds nothing with a
// destructor; alpha is dropped through a row buffer the caller owns.
void on_save_error (j_common_ptr cinfo)
{
    std::longjmp (reinterpret_cast<ErrorManager *> (cinfo->err)->jump, 1);
}

void on_save_message (j_common_ptr, int) {}

bool compress (jpeg_compress_struct *cinfo, ErrorManager *error, FILE *f, const Tamba *image,
               int quality, JSAMPLE *rgb_row) noexcept
{
    if (setjmp (error->jump)) return false;
    jpeg_create_compress (cinfo);
    jpeg_stdio_dest (cinfo, f);
    cinfo->image_width = JDIMENSION (image->width);
    cinfo->image_height = JDIMENSION (image->height);
    cinfo->input_components = 3;
    cinfo->in_color_space = JCS_RGB;
    jpeg_set_defaults (cinfo);
    jpeg_set_quality (cinfo, quality, TRUE);
    jpeg_start_compress (cinfo, TRUE);
    while (cinfo->next_scanline < cinfo->image_height) {
        JSAMPROW row = image->pixels + size_t (cinfo->next_scanline) * size_t (image->rowstride);
        if (rgb_row) {
            for (int x = 0; x < image->width; ++x) std::memcpy (rgb_row + 3 * x, row + 4 * x, 3);
            row = rgb_row;
        }
        jpeg_write_scanlines (cinfo, &row, 1);
    }
    jpeg_finish_compress (cinfo);
    return true;
}

}  // namespace
}  // namespace tamba::loader

TAMBA_LOADER_MODULE (jpeg, tamba::loader::JpegDecoder)

TAMBA_LOADER_ENTRY Tamba *tamba__jpeg_image_load_at_size (FILE *f, int width, int height)
{
    using namespace tamba::loader;
    return fence (kFormat, (Tamba *) nullptr, [&] {
        JpegDecoder decoder (width, height);
        return decode_file (decoder, f);
    });
}

TAMBA_LOADER_ENTRY gboolean tamba__jpeg_image_save (FILE *f, const Tamba *image, int quality)
{
    using namespace tamba::loader;
    std::unique_ptr<JSAMPLE[]> rgb_row;
    if (image->has_alpha) {
        rgb_row.reset (new (std::nothrow) JSAMPLE[size_t (image->width) * 3]);
        if (!rgb_row) return FALSE;
    }
    jpeg_compress_struct cinfo {};
    ErrorManager error {};
    cinfo.err = jpeg_std_error (&error.pub);
    error.pub.error_exit = on_save_error;
    error.pub.emit_message = on_save_message;
    const bool ok = compress (&cinfo, &error, f, image, quality, rgb_row.get ());
    // Safe whether or not the object was created: destroy checks its memory manager.
    jpeg_destroy_compress (&cinfo);
    return ok;
}
