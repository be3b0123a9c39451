// SPDX-License-Identifier: LGPL-2.1-or-later
// Plays an animation: composes its frames, in display order, on a canvas of the animation's
// size, following each frame's action before the next is drawn.
#ifndef TAMBA_VIEW_PLAYER_H
#define TAMBA_VIEW_PLAYER_H

#include <tamba/tamba.h>

#include <memory>
#include <vector>

namespace tamba::view {

struct ImageUnref {
    void operator() (Tamba *t) const noexcept { tamba_unref (t); }
};
using Image = std::unique_ptr<Tamba, ImageUnref>;

class Player {
public:
    // A player showing the first frame, or null when the animation has no usable frame or
    // the canvas cannot be allocated. Holds its own reference to the animation.
    static std::unique_ptr<Player> create (TambaAnimation *animation);
    ~Player ();
    Player (const Player &) = delete;
    Player &operator= (const Player &) = delete;

    // The canvas as it stands after the current frame; owned by the player.
    const Tamba *canvas () const { return canvas_.get (); }
    bool animated () const { return frames_.size () > 1; }
    // How long the current frame stays, in hundredths of a second (always positive).
    int delay () const;
    // Applies the current frame's action and draws the next one, starting over after the last.
    void advance ();

private:
    explicit Player (TambaAnimation *animation) : animation_ (animation) {}
    void draw_current ();

    TambaAnimation *animation_;
    std::vector<const TambaFrame *> frames_;
    size_t current_ = 0;
    Image canvas_;
    Image saved_;  // the area under a reverting frame, as it was before that frame
};

}  // namespace tamba::view

#endif
