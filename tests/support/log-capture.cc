// SPDX-License-Identifier: LGPL-2.1-or-later
#include "log-capture.h"

#include <algorithm>

namespace tamba::test {

LogCapture::LogCapture (const char *domain) : domain_ (domain)
{
    id_ = g_log_set_handler (domain, GLogLevelFlags (G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION),
                             [] (const gchar *, GLogLevelFlags level, const gchar *message, gpointer self) {
                                 static_cast<LogCapture *> (self)->messages_.push_back (
                                     {GLogLevelFlags (level & G_LOG_LEVEL_MASK), message ? message : ""});
                             },
                             this);
}

std::vector<std::string> LogCapture::texts (GLogLevelFlags level) const
{
    std::vector<std::string> out;
    for (const auto &m : messages_)
        if (m.level == level) out.push_back (level == G_LOG_LEVEL_CRITICAL ? precondition_expression (m.text) : m.text);
    return out;
}

bool LogCapture::warned (const std::string &reason) const
{
    const auto all = warnings ();
    return std::any_of (all.begin (), all.end (), [&] (const std::string &w) { return w.find (reason) != std::string::npos; });
}

std::string precondition_expression (const std::string &message)
{
    // "file F: line N (FUNC): assertion `EXPR' failed."
    static const std::string open = "): assertion `", tail = "' failed.";
    const size_t start = message.find (open);
    if (!message.starts_with ("file ") || start == std::string::npos || message.find (": line ") == std::string::npos
        || !message.ends_with (tail) || message.size () < start + open.size () + tail.size ())
        return "";
    return message.substr (start + open.size (), message.size () - tail.size () - start - open.size ());
}

}  // namespace tamba::test
