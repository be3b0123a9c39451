// SPDX-License-Identifier: LGPL-2.1-or-later
// XPM loader module: XPM3 files in their C-array form (starting with the XPM comment), and
// in-memory arrays of strings through load_xpm_data; both, and progressive loading, go through
// one decoder fed one string at a time.
//
// - The values string gives width, height, colour count and characters per pixel (1 to 8);
//   a hot spot and XPMEXT after them are ignored, and so is everything after the last row.
// - A colour entry may carry the keys c, g, g4, m and s; the first present of c, g, g4, m, s
//   is used. Its value is "None" (any case, transparent), #hex with 1 to 4 digits per
//   channel (the high byte of the 16-bit value is kept) or an X11 colour name. A value that
//   is neither becomes black.
// - The image has alpha exactly when an entry is "None".
// - Pixel codes not in the colour table, rows shorter than width times characters per pixel
//   and data that ends before the last row are errors.
#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "c-source-tokens.h"
#include "common/decoder.h"
#include "common/image-alloc.h"
#include "common/module-entry.h"

namespace tamba::loader {
namespace {

constexpr int kMaxCharsPerPixel = 8;
constexpr char kSignature[] = "/* XPM */";

bool is_blank (char c)
{
    return c == ' ' || c == '\t';
}

// Splits off the next blank-separated word of s.
std::string_view next_word (std::string_view &s)
{
    size_t start = 0;
    while (start < s.size () && is_blank (s[start])) ++start;
    size_t end = start;
    while (end < s.size () && !is_blank (s[end])) ++end;
    const std::string_view word = s.substr (start, end - start);
    s.remove_prefix (end);
    return word;
}

bool parse_number (std::string_view word, std::int64_t &value)
{
    if (word.empty () || word.size () > 9) return false;
    value = 0;
    for (char c : word) {
        if (!g_ascii_isdigit (c)) return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

// The colour an entry's value names, as 8-bit RGBA.
std::array<guint8, 4> colour_from_value (const std::string &value)
{
    if (g_ascii_strcasecmp (value.c_str (), "none") == 0) return {0, 0, 0, 0};
    guint16 r = 0, g = 0, b = 0;
    if (!tamba_parse_color (value.c_str (), &r, &g, &b)) return {0, 0, 0, 255};
    return {guint8 (r >> 8), guint8 (g >> 8), guint8 (b >> 8), 255};
}

// The value of the preferred key in the rest of a colour entry: each key word starts a new
// value, which runs (its words joined by single spaces) up to the next key word.
bool preferred_value (std::string_view rest, std::string &value)
{
    static constexpr std::string_view kKeys[] = {"c", "g", "g4", "m", "s"};
    std::array<std::string, 5> values;
    std::array<bool, 5> present {};
    int current = -1;
    for (std::string_view word = next_word (rest); !word.empty (); word = next_word (rest)) {
        int key = -1;
        for (int k = 0; k < 5; ++k)
            if (word == kKeys[k]) key = k;
        if (key >= 0) {
            current = key;
            present[size_t (key)] = true;
            values[size_t (key)].clear ();
        } else if (current >= 0) {
            std::string &v = values[size_t (current)];
            if (!v.empty ()) v += ' ';
            v.append (word);
        }
    }
    for (size_t k = 0; k < 5; ++k)
        if (present[k] && !values[k].empty ()) {
            value = values[k];
            return true;
        }
    return false;
}

// The array form, one string at a time.
class XpmStrings {
public:
    explicit XpmStrings (ProgressSink &sink) : sink_ (sink) {}
    ~XpmStrings ()
    {
        if (image_) tamba_unref (image_);
    }
    XpmStrings (const XpmStrings &) = delete;
    XpmStrings &operator= (const XpmStrings &) = delete;

    // One string of the array; false once the data is found to be broken.
    bool add_string (std::string_view s)
    {
        if (failed_) return false;
        if (done ()) return true;
        const bool ok = stage_ == Stage::Values ? parse_values (s)
                        : stage_ == Stage::Colours ? parse_colour (s)
                                                    : parse_row (s);
        if (!ok) failed_ = true;
        return ok;
    }

    bool done () const { return stage_ == Stage::Done; }

    // The finished image (the caller's reference), or NULL with a warning.
    Tamba *take_image ()
    {
        if (!done ()) {
            if (!failed_) warn (formats::xpm, "the data ends before the last row");
            return nullptr;
        }
        Tamba *image = image_;
        image_ = nullptr;
        return image;
    }

private:
    enum class Stage { Values, Colours, Rows, Done };

    bool fail (const char *why)
    {
        warn (formats::xpm, "%s", why);
        return false;
    }

    bool parse_values (std::string_view s)
    {
        std::int64_t v[4];
        for (auto &n : v)
            if (!parse_number (next_word (s), n)) return fail ("malformed values string");
        if (!within_limits (formats::xpm, v[0], v[1]))
            return fail ("image size is outside the supported range");
        if (v[3] < 1 || v[3] > kMaxCharsPerPixel)
            return fail ("characters per pixel must be 1 to 8");
        // More colours than distinct codes cannot be told apart.
        const std::int64_t max_colours = v[3] >= 3 ? std::int64_t (1) << 24 : std::int64_t (1) << (8 * v[3]);
        if (v[2] < 1 || v[2] > max_colours) return fail ("colour count out of range");
        width_ = int (v[0]);
        height_ = int (v[1]);
        colours_left_ = int (v[2]);
        cpp_ = int (v[3]);
        stage_ = Stage::Colours;
        return true;
    }

    std::uint64_t code_of (std::string_view chars) const
    {
        std::uint64_t code = 0;
        for (char c : chars) code = (code << 8) | guint8 (c);
        return code;
    }

    bool parse_colour (std::string_view s)
    {
        if (s.size () < size_t (cpp_)) return fail ("colour entry shorter than its pixel code");
        std::string value;
        if (!preferred_value (s.substr (size_t (cpp_)), value))
            return fail ("colour entry without a colour");
        const auto rgba = colour_from_value (value);
        if (rgba[3] == 0) has_alpha_ = true;
        std::uint32_t packed;
        std::memcpy (&packed, rgba.data (), 4);
        const auto index = std::uint32_t (colours_.size ());
        colours_.push_back (packed);
        if (cpp_ == 1) direct_[guint8 (s[0])] = std::int32_t (index);
        else codes_[code_of (s.substr (0, size_t (cpp_)))] = index;
        if (--colours_left_ > 0) return true;
        image_ = new_image (formats::xpm, has_alpha_, width_, height_);
        if (!image_) return false;
        stage_ = Stage::Rows;
        sink_.prepared (image_);
        return true;
    }

    bool parse_row (std::string_view s)
    {
        if (s.size () / size_t (cpp_) < size_t (width_)) return fail ("row shorter than the image width");
        const int nc = image_->n_channels;
        guint8 *out = image_->pixels + size_t (row_) * size_t (image_->rowstride);
        for (int x = 0; x < width_; ++x, out += nc) {
            const std::string_view chars = s.substr (size_t (x) * size_t (cpp_), size_t (cpp_));
            std::int64_t index = -1;
            if (cpp_ == 1) {
                index = direct_[guint8 (chars[0])];
            } else {
                const auto it = codes_.find (code_of (chars));
                if (it != codes_.end ()) index = it->second;
            }
            if (index < 0) return fail ("pixel code not in the colour table");
            std::memcpy (out, &colours_[size_t (index)], size_t (nc));
        }
        sink_.rows_done (image_, row_, 1);
        if (++row_ == height_) {
            sink_.flush ();
            stage_ = Stage::Done;
        }
        return true;
    }

    ProgressSink &sink_;
    Stage stage_ = Stage::Values;
    bool failed_ = false;
    int width_ = 0, height_ = 0, cpp_ = 0, colours_left_ = 0, row_ = 0;
    bool has_alpha_ = false;
    std::vector<std::uint32_t> colours_;  // RGBA, bytes in memory order
    std::array<std::int32_t, 256> direct_ = filled_direct ();
    std::unordered_map<std::uint64_t, std::uint32_t> codes_;
    Tamba *image_ = nullptr;

    static std::array<std::int32_t, 256> filled_direct ()
    {
        std::array<std::int32_t, 256> a;
        a.fill (-1);
        return a;
    }
};

// The file form: the signature comment, then C source whose string literals are the array.
class XpmDecoder final : public Decoder {
public:
    explicit XpmDecoder (const ProgressSink &sink) : Decoder (sink) {}

    bool feed (const guchar *data, size_t size) override
    {
        if (failed_) return false;
        if (strings_.done ()) return true;
        if (!signature_.accept (data, size)) return refuse_signature ();
        tokens_.append (data, size);
        failed_ = !drain (false);
        sink_.flush ();
        return !failed_;
    }

    Tamba *finish () override
    {
        if (!failed_ && !signature_.complete ()) refuse_signature ();
        if (!failed_ && !strings_.done ()) failed_ = !drain (true);
        return failed_ ? nullptr : strings_.take_image ();
    }

    // stop() is the default one: a load stopped early keeps what it showed, and finish() warns
    // that data is missing, as a whole-file load does.

    // The array holds no length: strings are read only as far as the values string says, and
    // a NULL entry where a string is due ends the data.
    static Tamba *load_xpm_data (const char **data)
    {
        ProgressSink none;
        XpmStrings strings (none);
        for (size_t i = 0; !strings.done (); ++i) {
            if (!data[i]) break;
            if (!strings.add_string (data[i])) return nullptr;
        }
        return strings.take_image ();
    }

private:
    bool refuse_signature ()
    {
        warn (formats::xpm, "the data does not start with the XPM comment");
        failed_ = true;
        return false;
    }

    bool drain (bool at_end)
    {
        CToken token;
        for (;;) {
            const auto status = tokens_.next (token, at_end);
            if (status == CSourceTokenizer::Status::Error) {
                warn (formats::xpm, "unterminated or over-long string");
                return false;
            }
            if (status != CSourceTokenizer::Status::Token) return true;
            if (token.kind != TokenKind::String) continue;
            if (!strings_.add_string (token.text)) return false;
            if (strings_.done ()) return true;
        }
    }

    XpmStrings strings_ {sink_};
    CSourceTokenizer tokens_;
    SignatureCheck signature_ {kSignature};
    bool failed_ = false;
};

}  // namespace
}  // namespace tamba::loader

TAMBA_LOADER_MODULE (xpm, tamba::loader::XpmDecoder, xpm_data)
