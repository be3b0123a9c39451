// SPDX-License-Identifier: LGPL-2.1-or-later
// GIF loader module: still images, animations and progressive loading, all through the
// streaming decoder in gif-decoder.cc (whose header documents how images become frames).
//
// Whole-file `load` returns the first frame composed on the logical screen: the frame itself
// when it covers the screen, else a screen-sized RGBA image, transparent outside the frame.
// Truncated or damaged data keeps every frame decoded before the damage.
#include "common/module-entry.h"
#include "gif-decoder.h"

TAMBA_LOADER_MODULE (gif, tamba::loader::GifDecoder, animation)
