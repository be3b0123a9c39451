// SPDX-License-Identifier: LGPL-2.1-or-later
// Captures GLib log messages of one domain for the life of the object, so tests can assert the
// exact text of what was logged and that nothing else was.
#ifndef TAMBA_TESTS_LOG_CAPTURE_H
#define TAMBA_TESTS_LOG_CAPTURE_H

#include <glib.h>

#include <string>
#include <vector>

namespace tamba::test {

struct LogMessage {
    GLogLevelFlags level;
    std::string text;
};

class LogCapture {
public:
    // domain nullptr captures the library's own (domain-less) messages.
    explicit LogCapture (const char *domain = nullptr);
    ~LogCapture () { g_log_remove_handler (domain_, id_); }
    LogCapture (const LogCapture &) = delete;
    LogCapture &operator= (const LogCapture &) = delete;

    const std::vector<LogMessage> &messages () const { return messages_; }
    void clear () { messages_.clear (); }
    // The expression texts of the precondition failures, in order.
    std::vector<std::string> criticals () const { return texts (G_LOG_LEVEL_CRITICAL); }
    // The texts of the warnings, in order.
    std::vector<std::string> warnings () const { return texts (G_LOG_LEVEL_WARNING); }
    // Whether a warning holds reason: the text after a module's "FORMAT: " prefix, or any part.
    bool warned (const std::string &reason) const;

private:
    std::vector<std::string> texts (GLogLevelFlags level) const;
    const gchar *domain_;
    guint id_;
    std::vector<LogMessage> messages_;
};

// The expression text of a precondition message, or "" when the message is not one.
std::string precondition_expression (const std::string &message);

}  // namespace tamba::test

#endif
