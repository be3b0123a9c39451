// SPDX-License-Identifier: LGPL-2.1-or-later
// The decoder interface every module implements: bytes in, callbacks out. The module entry
// points (module-entry.h) drive it the same way for whole-file and progressive loads:
//
//   construct with a ProgressSink (no callbacks for a whole-file load),
//   feed() every piece of the file in order, pieces of any size including 1 byte,
//   finish() once the data has ended, or stop() when a progressive load is closed.
//
// Each failure is reported by the decoder with one warning (messages.h); the entries only turn
// it into NULL or FALSE. Nothing a decoder throws leaves the module: the entries catch it.
#ifndef TAMBA_LOADERS_COMMON_DECODER_H
#define TAMBA_LOADERS_COMMON_DECODER_H

#include <glib.h>

#include <cstddef>
#include <string_view>

#include "progress-sink.h"
#include "tamba/tamba.h"

namespace tamba::loader {

class Decoder {
public:
    explicit Decoder (const ProgressSink &sink) noexcept : sink_ (sink) {}
    virtual ~Decoder () = default;
    Decoder (const Decoder &) = delete;
    Decoder &operator= (const Decoder &) = delete;

    // The next piece of data; false once the data has proved bad (this and every later call).
    // Bytes after the end of the image are ignored.
    virtual bool feed (const guchar *data, size_t size) = 0;

    // The data has ended: the finished image with the caller's reference, or NULL with a
    // warning. Decoders that hand over frames return NULL and report through the sink.
    virtual Tamba *finish () = 0;

    // A progressive load is closed. By default the data counts as ended: what finish() says
    // about missing data is said, and the image (the library holds its own reference) is
    // dropped. A decoder whose rest nobody could see may skip it.
    virtual void stop ()
    {
        Tamba *image = finish ();
        sink_.flush ();
        if (image) tamba_unref (image);
    }

    ProgressSink &sink () noexcept { return sink_; }

protected:
    ProgressSink sink_;
};

// Compares the first bytes of a stream with a fixed signature as they arrive.
class SignatureCheck {
public:
    explicit SignatureCheck (std::string_view signature) noexcept : signature_ (signature) {}
    // False as soon as a byte differs; consumes nothing.
    bool accept (const guchar *data, size_t size) noexcept
    {
        while (matched_ < signature_.size () && size > 0) {
            if (guchar (signature_[matched_]) != *data) return false;
            ++matched_;
            ++data;
            --size;
        }
        return true;
    }
    bool complete () const noexcept { return matched_ == signature_.size (); }

private:
    std::string_view signature_;
    size_t matched_ = 0;
};

}  // namespace tamba::loader

#endif  // TAMBA_LOADERS_COMMON_DECODER_H
