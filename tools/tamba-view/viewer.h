// SPDX-License-Identifier: LGPL-2.1-or-later
// The viewer's window and event loop, over the X layer and Xlib.
#ifndef TAMBA_VIEW_VIEWER_H
#define TAMBA_VIEW_VIEWER_H

#include "player.h"

#include <memory>
#include <string>
#include <vector>

namespace tamba::view {

struct ViewFile {
    std::string name;
    std::unique_ptr<Player> player;
};

struct ViewOptions {
    double scale = 0;  // 0: fit the screen
    const char *snapshot = nullptr;
    int after = 1;     // the frame, counted from 1 in playing order, shown at the snapshot
};

// Shows the files (at least one) until the user quits, or until the snapshot is written; the
// display must be open. Returns the exit status.
int run_viewer (std::vector<ViewFile> &files, const ViewOptions &options);

}  // namespace tamba::view

#endif
