// SPDX-License-Identifier: LGPL-2.1-or-later
// The variable-length LZW decoder of GIF image data, fed the bytes of the data sub-blocks in
// pieces of any size.
//
// Bounds: minimum code size 2 to 8, codes of at most 12 bits (4096 table entries), a code above
// the next free entry (or equal to it with no previous code) is an error, strings are expanded
// with an explicit bounded buffer, never by recursion.
#ifndef TAMBA_LOADERS_GIF_LZW_H
#define TAMBA_LOADERS_GIF_LZW_H

#include <glib.h>

#include <cstddef>
#include <cstdint>

namespace tamba::loader {

class GifLzw {
public:
    static constexpr int kMaxCodes = 4096;

    // Starts a new image; false when the minimum code size is outside 2..8.
    bool reset (int min_code_size) noexcept
    {
        if (min_code_size < 2 || min_code_size > 8) return false;
        min_code_size_ = min_code_size;
        clear_code_ = 1 << min_code_size;
        end_code_ = clear_code_ + 1;
        for (int i = 0; i < clear_code_; ++i) {
            suffix_[i] = guint8 (i);
            first_[i] = guint8 (i);
            length_[i] = 1;
        }
        bits_ = 0;
        n_bits_ = 0;
        ended_ = false;
        restart_table ();
        return true;
    }

    // True once the end-of-information code has been read.
    bool ended () const noexcept { return ended_; }

    // Decodes the bytes; sink (const guint8 *indices, size_t n) receives each string. Returns
    // false at an invalid code; bytes after the end code are ignored.
    template <class Sink>
    bool decode (const guint8 *data, size_t size, Sink &&sink) noexcept
    {
        for (size_t i = 0; i < size && !ended_; ++i) {
            bits_ |= std::uint32_t (data[i]) << n_bits_;
            n_bits_ += 8;
            while (n_bits_ >= code_size_) {
                const int code = int (bits_ & ((1u << code_size_) - 1));
                bits_ >>= code_size_;
                n_bits_ -= code_size_;
                if (code == clear_code_) {
                    restart_table ();
                    continue;
                }
                if (code == end_code_) {
                    ended_ = true;
                    return true;
                }
                if (code > next_code_ || (code == next_code_ && previous_ < 0)) return false;
                if (previous_ >= 0 && next_code_ < kMaxCodes) {
                    // For code == next_code_ the new entry is the one being decoded: the
                    // previous string plus its own first byte.
                    const guint8 first = code == next_code_ ? first_[previous_] : first_[code];
                    add_entry (previous_, first);
                }
                previous_ = code;
                sink (expand (code), size_t (length_[code]));
            }
        }
        return true;
    }

private:
    void restart_table () noexcept
    {
        code_size_ = min_code_size_ + 1;
        next_code_ = clear_code_ + 2;
        previous_ = -1;
    }

    void add_entry (int prefix, guint8 last) noexcept
    {
        prefix_[next_code_] = guint16 (prefix);
        suffix_[next_code_] = last;
        first_[next_code_] = first_[prefix];
        length_[next_code_] = guint16 (length_[prefix] + 1);
        ++next_code_;
        if (next_code_ == (1 << code_size_) && code_size_ < 12) ++code_size_;
    }

    // Writes the string of `code` backwards into the buffer; returns where it starts.
    const guint8 *expand (int code) noexcept
    {
        guint8 *out = buffer_ + length_[code];
        for (int c = code;; c = prefix_[c]) {
            *--out = suffix_[c];
            if (c < clear_code_) break;
        }
        return out;
    }

    int min_code_size_ = 2;
    int clear_code_ = 4;
    int end_code_ = 5;
    int code_size_ = 3;
    int next_code_ = 6;
    int previous_ = -1;
    std::uint32_t bits_ = 0;
    int n_bits_ = 0;
    bool ended_ = false;
    guint16 prefix_[kMaxCodes] = {};
    guint8 suffix_[kMaxCodes] = {};
    guint8 first_[kMaxCodes] = {};
    guint16 length_[kMaxCodes] = {};
    guint8 buffer_[kMaxCodes] = {};
};

}  // namespace tamba::loader

#endif  // TAMBA_LOADERS_GIF_LZW_H
