// SPDX-License-Identifier: LGPL-2.1-or-later
// Tokens of the C-source forms of XPM and XBM files, read from data that arrives in pieces.
//
// White space and comments (block and line) are skipped; the tokens are identifiers, numbers
// (a run of letters, digits and underscores that starts with a digit), double-quoted strings
// (without escapes, as the formats write them) and single punctuation characters. Only the
// token being read is kept between pieces, and it may be at most kMaxTokenBytes long.
#ifndef TAMBA_LOADERS_C_SOURCE_TOKENS_H
#define TAMBA_LOADERS_C_SOURCE_TOKENS_H

#include <glib.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace tamba::loader {

enum class TokenKind { Identifier, Number, String, Punct };

struct CToken {
    TokenKind kind = TokenKind::Punct;
    std::string_view text;  // a string's text without its quotes
};

class CSourceTokenizer {
public:
    static constexpr size_t kMaxTokenBytes = size_t (1) << 22;

    enum class Status { Token, NeedMore, End, Error };

    void append (const guchar *data, size_t size)
    {
        if (pos_ > 0) {
            buf_.erase (0, pos_);
            pos_ = 0;
        }
        buf_.append (reinterpret_cast<const char *> (data), size);
    }

    // The next token, valid until the next call of next() or append(). NeedMore when the
    // data so far ends inside a token or comment; with at_end the data is complete, and
    // the result is then End (or Error for an unterminated string or an over-long token).
    Status next (CToken &token, bool at_end)
    {
        for (;;) {
            if (in_block_comment_ && !skip_block_comment ()) return at_end ? Status::End : Status::NeedMore;
            if (in_line_comment_ && !skip_line_comment ()) return at_end ? Status::End : Status::NeedMore;
            while (pos_ < buf_.size () && is_space (buf_[pos_])) ++pos_;
            if (pos_ == buf_.size ()) return at_end ? Status::End : Status::NeedMore;
            const char c = buf_[pos_];
            if (c == '/') {
                if (pos_ + 1 == buf_.size () && !at_end) return Status::NeedMore;
                const char d = pos_ + 1 < buf_.size () ? buf_[pos_ + 1] : '\0';
                if (d == '*' || d == '/') {
                    (d == '*' ? in_block_comment_ : in_line_comment_) = true;
                    pos_ += 2;
                    continue;
                }
            }
            if (c == '"') return read_string (token, at_end);
            if (is_word (c)) return read_word (token, at_end);
            token.kind = TokenKind::Punct;
            token.text = std::string_view (buf_).substr (pos_++, 1);
            return Status::Token;
        }
    }

private:
    static bool is_space (char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
    static bool is_word (char c) { return g_ascii_isalnum (c) || c == '_'; }

    bool skip_block_comment ()
    {
        const size_t close = buf_.find ("*/", pos_);
        if (close == std::string::npos) {
            // Keep a final '*' that may start the closing pair.
            pos_ = buf_.size () - (buf_.size () > pos_ && buf_.back () == '*' ? 1 : 0);
            return false;
        }
        pos_ = close + 2;
        in_block_comment_ = false;
        return true;
    }

    bool skip_line_comment ()
    {
        const size_t newline = buf_.find ('\n', pos_);
        if (newline == std::string::npos) {
            pos_ = buf_.size ();
            return false;
        }
        pos_ = newline + 1;
        in_line_comment_ = false;
        return true;
    }

    // scanned_ remembers how far an unfinished token was already searched, so that data
    // arriving a byte at a time is not searched again from the token's start.
    Status read_string (CToken &token, bool at_end)
    {
        const size_t from = pos_ + 1 + scanned_;
        const size_t close = buf_.find ('"', from);
        if (close == std::string::npos) {
            scanned_ = buf_.size () - pos_ - 1;
            if (at_end || scanned_ > kMaxTokenBytes) return Status::Error;
            return Status::NeedMore;
        }
        scanned_ = 0;
        token.kind = TokenKind::String;
        token.text = std::string_view (buf_).substr (pos_ + 1, close - pos_ - 1);
        pos_ = close + 1;
        return token.text.size () > kMaxTokenBytes ? Status::Error : Status::Token;
    }

    Status read_word (CToken &token, bool at_end)
    {
        size_t end = pos_ + scanned_;
        while (end < buf_.size () && is_word (buf_[end])) ++end;
        if (end - pos_ > kMaxTokenBytes) return Status::Error;
        if (end == buf_.size () && !at_end) {
            scanned_ = end - pos_;
            return Status::NeedMore;
        }
        scanned_ = 0;
        token.kind = g_ascii_isdigit (buf_[pos_]) ? TokenKind::Number : TokenKind::Identifier;
        token.text = std::string_view (buf_).substr (pos_, end - pos_);
        pos_ = end;
        return Status::Token;
    }

    std::string buf_;
    size_t pos_ = 0;
    size_t scanned_ = 0;
    bool in_block_comment_ = false;
    bool in_line_comment_ = false;
};

}  // namespace tamba::loader

#endif  // TAMBA_LOADERS_C_SOURCE_TOKENS_H
