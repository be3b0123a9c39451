// SPDX-License-Identifier: LGPL-2.1-or-later
// GIF87a/GIF89a stream decoder: every image of the file becomes one frame, reported through
// the progress callbacks as soon as its parts are known.
//
// - A frame's image is the GIF image clipped to the logical screen, placed at its offsets; an
//   image wholly outside the screen is decoded and dropped. A screen of width or height 0
//   takes the size of the first image.
// - The image has alpha exactly when its graphic control extension names a transparent
//   index; pixels of that index are (0, 0, 0, 0).
// - Palette indices beyond the colour table in use (or any index when the file has no colour
//   table) are opaque black.
// - delay_time is the control extension's delay exactly as stored, in hundredths of a second
//   (0 without one). Disposal 2 is TAMBA_FRAME_DISPOSE, 3 TAMBA_FRAME_REVERT, anything else
//   TAMBA_FRAME_RETAIN.
// - Rows the data never reaches stay zero (black, or transparent). An invalid LZW code ends
//   that image's pixel data with a warning; the stream goes on with the next block.
// - The frames of one stream hold at most kGifStreamPixels (limits.h) pixels in all, each frame
//   counting kGifFramePixels more for its record, so neither a small file of many large frames
//   nor a large one of tiny frames can exhaust memory; the stream fails at the frame that would
//   exceed.
#ifndef TAMBA_LOADERS_GIF_DECODER_H
#define TAMBA_LOADERS_GIF_DECODER_H

#include <array>
#include <cstdint>

#include "gif-lzw.h"
#include "common/decoder.h"
#include "common/image-alloc.h"

namespace tamba::loader {

class GifDecoder final : public Decoder {
public:
    explicit GifDecoder (const ProgressSink &sink) noexcept : Decoder (sink) {}
    ~GifDecoder () override;

    // False once the stream is found to be broken (this and every later call).
    bool feed (const guchar *data, size_t size) noexcept override;

    // At the end of the data: hands over an image whose pixel data was cut short.
    Tamba *finish () noexcept override;
    // Frames already went to the library; a cut-short one stays unfinished.
    void stop () override {}

    int screen_width () const noexcept { return screen_width_; }
    int screen_height () const noexcept { return screen_height_; }
    bool at_trailer () const noexcept { return state_ == State::Trailer; }
    // Whether a warning was given, so that a load without frames says why only once.
    bool warned () const noexcept { return warned_; }

private:
    enum class State {
        Header,
        GlobalTable,
        BlockStart,
        ExtensionLabel,
        ExtensionBlockSize,
        ExtensionBlockData,
        ImageDescriptor,
        LocalTable,
        MinCodeSize,
        DataBlockSize,
        DataBlockData,
        Trailer,
        Failed,
    };

    const guint8 *gather (size_t n, const guint8 *&p, const guint8 *end) noexcept;
    bool step (const guint8 *&p, const guint8 *end) noexcept;
    bool fail (const char *why) noexcept;
    bool parse_header (const guint8 *h) noexcept;
    void parse_control (const guint8 *block) noexcept;
    bool begin_image (const guint8 *descriptor) noexcept;
    bool start_pixels (int min_code_size) noexcept;
    void load_palette (const guint8 *table, int entries) noexcept;
    void put_indices (const guint8 *indices, size_t n) noexcept;
    void next_row () noexcept;
    void end_image () noexcept;

    State state_ = State::Header;
    bool warned_ = false;

    // Bytes of a fixed-size structure that arrived in more than one piece.
    std::array<guint8, 768> held_ {};
    size_t n_held_ = 0;

    int screen_width_ = 0;
    int screen_height_ = 0;
    std::array<guint8, 768> global_table_ {};
    int global_entries_ = 0;

    // The pending graphic control extension, which applies to the next image only.
    bool control_seen_ = false;
    int transparent_ = -1;
    int delay_ = 0;
    TambaFrameAction action_ = TAMBA_FRAME_RETAIN;
    bool first_extension_block_ = false;
    int extension_label_ = 0;
    size_t block_left_ = 0;

    // The image being decoded: its rectangle in the file and the part kept on the screen.
    std::int64_t stream_pixels_ = 0;
    int frame_x_ = 0, frame_y_ = 0, frame_width_ = 0, frame_height_ = 0;
    bool interlaced_ = false;
    int local_entries_ = 0;
    Tamba *image_ = nullptr;  // our reference; null when the image is off the screen
    std::array<std::uint32_t, 256> palette_ {};  // RGBA, bytes in memory order
    bool frame_alpha_ = false;
    TambaFrameAction frame_action_ = TAMBA_FRAME_RETAIN;
    int frame_delay_ = 0;
    std::uint64_t pixels_left_ = 0;
    int column_ = 0, row_ = 0, pass_ = 0;
    bool pixels_broken_ = false;
    GifLzw lzw_;
};

}  // namespace tamba::loader

#endif  // TAMBA_LOADERS_GIF_DECODER_H
