// SPDX-License-Identifier: LGPL-2.1-or-later
// The viewer reports each failure in one line of its own; the library's warnings about the same
// failure are caught and folded into that line instead of being printed beside it.
#ifndef TAMBA_VIEW_MESSAGES_H
#define TAMBA_VIEW_MESSAGES_H

#include <glib.h>

#include <cstdio>
#include <string>

namespace tamba::view {

inline constexpr char kProgram[] = "tamba-view";

// Collects the first warning logged while it lives (any domain); other messages pass on.
class WarningCatcher {
public:
    WarningCatcher () : previous_ (g_log_set_default_handler (&WarningCatcher::handler, this)) {}
    ~WarningCatcher () { g_log_set_default_handler (previous_, nullptr); }
    WarningCatcher (const WarningCatcher &) = delete;
    WarningCatcher &operator= (const WarningCatcher &) = delete;

    const std::string &first () const { return first_; }

private:
    static void handler (const gchar *domain, GLogLevelFlags level, const gchar *message,
                         gpointer self)
    {
        auto *c = static_cast<WarningCatcher *> (self);
        if ((level & G_LOG_LEVEL_WARNING) && !(level & G_LOG_FLAG_FATAL)) {
            if (c->first_.empty () && message) c->first_ = message;
            return;
        }
        g_log_default_handler (domain, level, message, nullptr);
    }

    GLogFunc previous_;
    std::string first_;
};

// "tamba-view: SUBJECT: REASON" on stderr.
inline void report (const std::string &subject, const std::string &reason)
{
    std::fprintf (stderr, "%s: %s: %s\n", kProgram, subject.c_str (), reason.c_str ());
}

}  // namespace tamba::view

#endif
