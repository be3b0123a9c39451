// SPDX-License-Identifier: LGPL-2.1-or-later
// A private Xvfb for one process: started with -displayfd (the server picks a free display and
// says which when it is ready), stopped by its process id. Used by the X tests and benchmarks.
#ifndef TAMBA_TESTS_XVFB_SERVER_H
#define TAMBA_TESTS_XVFB_SERVER_H

#include <sys/types.h>

#include <string>

namespace tamba::test {

class XvfbServer {
public:
    // config: the screen depth, then any extra Xvfb options ("16", "8 -cc 4").
    explicit XvfbServer (const std::string &config);
    ~XvfbServer ();
    XvfbServer (const XvfbServer &) = delete;
    XvfbServer &operator= (const XvfbServer &) = delete;

    // ":N" once the server is ready, "" if it did not start.
    const std::string &display () const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

// TAMBA_XVFB from the environment, or "24".
std::string xvfb_config_from_env ();

// Opens the X layer on that display; false when it cannot.
bool open_layer_on (const std::string &display);

}  // namespace tamba::test

#endif
