// SPDX-License-Identifier: LGPL-2.1-or-later
// XBM loader module: X11 bitmaps (`char` or `unsigned char` data) and X10 bitmaps (`short`
// data), as C source that starts with "#define ".
//
// - The `#define`s ending in _width and _height give the size; a hot spot (_x_hot, _y_hot) is
//   read and ignored, as the image record has no place for it.
// - Each row takes whole 8-bit (X11) or 16-bit (X10) units, least significant bit leftmost. A
//   set bit is black (0, 0, 0), a clear bit white (255, 255, 255); the image has no alpha.
// - The data must hold exactly the number of units the size needs, each within its unit's
//   range; fewer, more or a value out of range is an error.
#include <cstdint>
#include <string_view>

#include "c-source-tokens.h"
#include "common/decoder.h"
#include "common/image-alloc.h"
#include "common/module-entry.h"

namespace tamba::loader {
namespace {

constexpr char kSignature[] = "#define ";
constexpr char kNoSignature[] = "the data does not start with \"#define \"";

bool ends_with (std::string_view s, std::string_view suffix)
{
    return s.size () >= suffix.size () && s.substr (s.size () - suffix.size ()) == suffix;
}

// A decimal, octal (leading 0) or hexadecimal (0x, 0X) number up to 2^31 - 1.
bool parse_c_number (std::string_view s, std::int64_t &value)
{
    int base = 10;
    if (s.size () > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix (2);
    } else if (s.size () > 1 && s[0] == '0') {
        base = 8;
        s.remove_prefix (1);
    }
    if (s.empty ()) return false;
    value = 0;
    for (char c : s) {
        const int digit = g_ascii_xdigit_value (c);
        if (digit < 0 || digit >= base) return false;
        value = value * base + digit;
        if (value > G_MAXINT32) return false;
    }
    return true;
}

class XbmDecoder final : public Decoder {
public:
    explicit XbmDecoder (const ProgressSink &sink) : Decoder (sink) {}
    ~XbmDecoder () override
    {
        if (image_) tamba_unref (image_);
    }

    bool feed (const guchar *data, size_t size) override
    {
        if (stage_ == Stage::Failed) return false;
        if (stage_ == Stage::Done) return true;
        if (!signature_.accept (data, size)) return fail (kNoSignature);
        tokens_.append (data, size);
        const bool ok = drain (false);
        sink_.flush ();
        return ok;
    }

    // The finished image (the caller's reference), or NULL with a warning.
    Tamba *finish () override
    {
        if (stage_ != Stage::Failed && stage_ != Stage::Done) {
            if (!signature_.complete ()) fail (kNoSignature);
            else if (drain (true) && stage_ != Stage::Done)
                fail ("the data ends before the end of the bitmap");
        }
        if (stage_ != Stage::Done) return nullptr;
        Tamba *image = image_;
        image_ = nullptr;
        return image;
    }

    // stop() is the default one: a load stopped early keeps what it showed, and finish() warns
    // that data is missing, as a whole-file load does.

private:
    // Header: #define lines. Declaration: the words up to '{'. Value/Separator: the data.
    enum class Stage { Header, Define, DefineName, DefineValue, Declaration, Value, Separator, Done, Failed };

    bool fail (const char *why)
    {
        warn (formats::xbm, "%s", why);
        stage_ = Stage::Failed;
        return false;
    }

    bool drain (bool at_end)
    {
        CToken t;
        while (stage_ != Stage::Done) {
            const auto status = tokens_.next (t, at_end);
            if (status == CSourceTokenizer::Status::Error) return fail ("over-long token");
            if (status != CSourceTokenizer::Status::Token) return true;
            if (!take (t)) return false;
        }
        return true;
    }

    bool take (const CToken &t)
    {
        const bool punct = t.kind == TokenKind::Punct;
        switch (stage_) {
        case Stage::Header:
            if (punct && t.text == "#") {
                stage_ = Stage::Define;
                return true;
            }
            if (t.kind != TokenKind::Identifier) return fail ("unexpected text in the header");
            stage_ = Stage::Declaration;
            return take (t);
        case Stage::Define:
            if (t.text != "define") return fail ("only #define may precede the data");
            stage_ = Stage::DefineName;
            return true;
        case Stage::DefineName:
            // Names may start with a digit ("1x1_width"), which reads as a number.
            if (t.kind == TokenKind::Punct) return fail ("malformed #define");
            target_ = ends_with (t.text, "_width") || t.text == "width"     ? &width_
                      : ends_with (t.text, "_height") || t.text == "height" ? &height_
                                                                            : nullptr;
            negative_ = false;
            stage_ = Stage::DefineValue;
            return true;
        case Stage::DefineValue: {
            if (punct && t.text == "-" && !negative_) {
                negative_ = true;
                return true;
            }
            std::int64_t v = 0;
            if (t.kind != TokenKind::Number || !parse_c_number (t.text, v))
                return fail ("malformed #define value");
            if (target_) *target_ = negative_ ? -v : v;
            stage_ = Stage::Header;
            return true;
        }
        case Stage::Declaration:
            if (t.kind == TokenKind::Identifier && t.text == "short") unit_bits_ = 16;
            if (punct && t.text == ";") return fail ("declaration without data");
            if (punct && t.text == "{") return start_data ();
            return true;
        case Stage::Value: {
            if (punct && t.text == "}") return end_data ();
            std::int64_t v = 0;
            if (t.kind != TokenKind::Number || !parse_c_number (t.text, v))
                return fail ("malformed data value");
            if (v >= (std::int64_t (1) << unit_bits_)) return fail ("data value out of range");
            if (units_done_ == units_total_) return fail ("more data than the size needs");
            put_unit (guint (v));
            stage_ = Stage::Separator;
            return true;
        }
        case Stage::Separator:
            if (punct && t.text == ",") {
                stage_ = Stage::Value;
                return true;
            }
            if (punct && t.text == "}") return end_data ();
            return fail ("expected ',' or '}' in the data");
        case Stage::Done:
        case Stage::Failed:
            break;
        }
        return false;
    }

    bool start_data ()
    {
        if (!within_limits (formats::xbm, width_, height_)) return fail ("missing or unsupported bitmap size");
        units_per_row_ = (int (width_) + unit_bits_ - 1) / unit_bits_;
        units_total_ = std::int64_t (units_per_row_) * height_;
        // Rows not yet reached read as clear bits.
        image_ = new_image (formats::xbm, false, width_, height_, 255);
        if (!image_) return fail ("cannot allocate the image");
        sink_.prepared (image_);
        stage_ = Stage::Value;
        return true;
    }

    void put_unit (guint bits)
    {
        const int row = int (units_done_ / units_per_row_);
        const int first = int (units_done_ % units_per_row_) * unit_bits_;
        guint8 *out = image_->pixels + size_t (row) * size_t (image_->rowstride) + size_t (first) * 3;
        for (int i = 0; i < unit_bits_ && first + i < image_->width; ++i, out += 3) {
            const guint8 v = (bits >> i) & 1 ? 0 : 255;
            out[0] = out[1] = out[2] = v;
        }
        ++units_done_;
        if (units_done_ % units_per_row_ == 0) sink_.rows_done (image_, row, 1);
    }

    bool end_data ()
    {
        if (units_done_ != units_total_) return fail ("fewer data values than the size needs");
        stage_ = Stage::Done;
        return true;
    }

    Stage stage_ = Stage::Header;
    SignatureCheck signature_ {kSignature};
    CSourceTokenizer tokens_;
    std::int64_t width_ = 0, height_ = 0;
    std::int64_t *target_ = nullptr;
    bool negative_ = false;
    int unit_bits_ = 8;
    int units_per_row_ = 1;
    std::int64_t units_total_ = 0, units_done_ = 0;
    Tamba *image_ = nullptr;
};

}  // namespace
}  // namespace tamba::loader

TAMBA_LOADER_MODULE (xbm, tamba::loader::XbmDecoder)
