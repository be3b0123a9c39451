// SPDX-License-Identifier: LGPL-2.1-or-later
// Where a decoder reports progress: the four callbacks of a progressive load, any of which may
// be NULL (a whole-file load passes none). Finished rows are gathered into one update per run
// of adjacent rows; the run is reported before any other callback and when the module entry
// returns (flush), so the library sees every row in the order the decoder finished it.
#ifndef TAMBA_LOADERS_COMMON_PROGRESS_SINK_H
#define TAMBA_LOADERS_COMMON_PROGRESS_SINK_H

#include "tamba/tamba.h"

namespace tamba::loader {

class ProgressSink {
public:
    ProgressSink () = default;
    ProgressSink (TambaPrepareFunc prepare, TambaUpdateFunc update, TambaFrameDoneFunc frame_done,
                  TambaAnimationDoneFunc animation_done, gpointer user_data) noexcept
        : prepare_ (prepare), update_ (update), frame_done_ (frame_done),
          animation_done_ (animation_done), user_data_ (user_data), progressive_ (true)
    {
    }

    // The image exists; no update for it came before.
    void prepared (Tamba *image) noexcept
    {
        flush ();
        if (prepare_) prepare_ (image, user_data_);
    }

    // Rows [y, y + n) of image are final.
    void rows_done (Tamba *image, int y, int n) noexcept
    {
        if (n <= 0) return;
        if (image == band_image_ && y == band_end_) {
            band_end_ += n;
            return;
        }
        flush ();
        band_image_ = image;
        band_start_ = y;
        band_end_ = y + n;
    }

    void frame_done (TambaFrame *frame) noexcept
    {
        flush ();
        if (frame_done_) frame_done_ (frame, user_data_);
    }

    void animation_done (Tamba *image) noexcept
    {
        flush ();
        if (animation_done_) animation_done_ (image, user_data_);
    }

    // Reports the pending run of rows.
    void flush () noexcept
    {
        Tamba *image = band_image_;
        band_image_ = nullptr;
        if (image && update_)
            update_ (image, 0, guint (band_start_), guint (image->width),
                     guint (band_end_ - band_start_), user_data_);
    }

    bool wants_frames () const noexcept { return frame_done_ != nullptr; }
    // A progressive load, whose images are seen before they are finished.
    bool progressive () const noexcept { return progressive_; }

private:
    TambaPrepareFunc prepare_ = nullptr;
    TambaUpdateFunc update_ = nullptr;
    TambaFrameDoneFunc frame_done_ = nullptr;
    TambaAnimationDoneFunc animation_done_ = nullptr;
    gpointer user_data_ = nullptr;
    bool progressive_ = false;
    Tamba *band_image_ = nullptr;
    int band_start_ = 0;
    int band_end_ = 0;
};

}  // namespace tamba::loader

#endif  // TAMBA_LOADERS_COMMON_PROGRESS_SINK_H
