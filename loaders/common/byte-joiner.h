// SPDX-License-Identifier: LGPL-2.1-or-later
// A decoder base for formats read in steps (a header, a palette, one row, one code ...): the
// subclass says how many contiguous bytes its next step needs (want) and consumes them (step).
// Bytes of a step that straddles pieces are joined in a small buffer; otherwise steps read the
// caller's piece in place. Also the byte-order readers these formats share.
#ifndef TAMBA_LOADERS_COMMON_BYTE_JOINER_H
#define TAMBA_LOADERS_COMMON_BYTE_JOINER_H

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <vector>

#include "decoder.h"
#include "image-alloc.h"

namespace tamba::loader {

inline std::uint16_t read_le16 (const guchar *p) { return std::uint16_t (p[0] | (p[1] << 8)); }
inline std::uint32_t read_le32 (const guchar *p)
{
    return std::uint32_t (p[0]) | (std::uint32_t (p[1]) << 8) | (std::uint32_t (p[2]) << 16)
           | (std::uint32_t (p[3]) << 24);
}
inline std::uint32_t read_be32 (const guchar *p)
{
    return (std::uint32_t (p[0]) << 24) | (std::uint32_t (p[1]) << 16) | (std::uint32_t (p[2]) << 8)
           | std::uint32_t (p[3]);
}

class ByteJoiner : public Decoder {
public:
    ByteJoiner (const Format &format, const ProgressSink &sink) : Decoder (sink), format_ (format) {}
    ~ByteJoiner () override
    {
        if (image_) tamba_unref (image_);
    }

    bool feed (const guchar *data, size_t size) override
    {
        if (failed_) return false;
        while (!done_ && !failed_ && held_.size () > held_start_) {
            const size_t need = next_want ();
            size_t have = held_.size () - held_start_;
            if (have < need) {
                const size_t n = std::min (need - have, size);
                held_.insert (held_.end (), data, data + n);
                data += n;
                size -= n;
                have += n;
                if (have < need) return true;
            }
            const size_t used = run_step (held_.data () + held_start_, have);
            held_start_ += used;
            if (held_start_ == held_.size ()) {
                held_.clear ();
                held_start_ = 0;
            }
        }
        while (!done_ && !failed_ && size > 0 && size >= next_want ()) {
            const size_t used = run_step (data, size);
            data += used;
            size -= used;
        }
        if (!done_ && !failed_ && size > 0) {
            if (held_start_ > 0) {
                held_.erase (held_.begin (), held_.begin () + std::ptrdiff_t (held_start_));
                held_start_ = 0;
            }
            held_.insert (held_.end (), data, data + size);
        }
        return !failed_;
    }

    // The image when it is complete, or acceptably so (see at_end).
    Tamba *finish () override
    {
        if (failed_) return nullptr;
        if (!done_ && !at_end ()) {
            fail ("premature end of data");
            return nullptr;
        }
        done_ = true;
        Tamba *image = image_;
        image_ = nullptr;
        return image;
    }

protected:
    virtual size_t want () const = 0;
    // Called with size >= want(); returns the bytes used. A step may use nothing when it only
    // changes what it wants next.
    virtual size_t step (const guchar *data, size_t size) = 0;
    // The data ended before finished(): true when what was decoded stands as the image.
    virtual bool at_end () { return false; }

    bool fail (const char *fmt, ...) G_GNUC_PRINTF (2, 3)
    {
        va_list args;
        va_start (args, fmt);
        warn_v (format_, fmt, args);
        va_end (args);
        failed_ = true;
        return false;
    }
    // Fails without a message of its own, after a helper has already said what went wrong.
    bool fail_quietly ()
    {
        failed_ = true;
        return false;
    }
    void finished () { done_ = true; }
    const Format &format () const { return format_; }

    // Checks the size, allocates the image and announces it. A progressive image starts cleared
    // (transparent black, or black) so that rows not yet decoded are defined; so does one whose
    // decoder may skip pixels (clear).
    bool start_image (bool has_alpha, std::int64_t width, std::int64_t height, bool clear)
    {
        image_ = new_image (format_, has_alpha, width, height,
                            clear || sink_.progressive () ? 0 : kNoFill);
        if (!image_) return fail_quietly ();
        sink_.prepared (image_);
        return true;
    }
    guchar *row (int y) const { return image_->pixels + size_t (y) * size_t (image_->rowstride); }
    // Rows [y, y + n) of the image are final.
    void rows_done (int y, int n) { sink_.rows_done (image_, y, n); }

    Tamba *image_ = nullptr;

private:
    size_t next_want () const { return std::max<size_t> (want (), 1); }
    size_t run_step (const guchar *data, size_t size)
    {
        const size_t used = std::min (step (data, size), size);
        // A few steps in a row may only change state; more means the decoder is stuck.
        idle_steps_ = used ? 0 : idle_steps_ + 1;
        if (idle_steps_ > 8 && !failed_ && !done_) fail ("decoder made no progress");
        return used;
    }

    const Format &format_;
    bool failed_ = false;
    bool done_ = false;
    std::vector<guchar> held_;
    size_t held_start_ = 0;
    int idle_steps_ = 0;
};

}  // namespace tamba::loader

#endif  // TAMBA_LOADERS_COMMON_BYTE_JOINER_H
