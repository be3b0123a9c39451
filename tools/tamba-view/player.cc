// SPDX-License-Identifier: LGPL-2.1-or-later
#include "player.h"

#include "look.h"

#include <algorithm>
#include <cstring>

namespace tamba::view {

namespace {

// The part of a frame that lies on a canvas of width x height, in canvas coordinates.
struct Area {
    int x0, y0, x1, y1;
    bool empty () const { return x0 >= x1 || y0 >= y1; }
};

Area area_of (const TambaFrame *f, int width, int height)
{
    return {std::max (f->x_offset, 0), std::max (f->y_offset, 0),
            std::min (f->x_offset + f->tamba->width, width),
            std::min (f->y_offset + f->tamba->height, height)};
}

void clear (Tamba *canvas, const Area &a)
{
    for (int y = a.y0; y < a.y1; ++y)
        std::memset (canvas->pixels + size_t (y) * size_t (canvas->rowstride) + size_t (a.x0) * 4,
                     0, size_t (a.x1 - a.x0) * 4);
}

// Source-over of one frame onto the RGBA canvas: opaque pixels replace, transparent ones leave
// the canvas as it is.
void paint (Tamba *canvas, const TambaFrame *f, const Area &a)
{
    const Tamba *src = f->tamba;
    const int nc = src->n_channels;
    for (int y = a.y0; y < a.y1; ++y) {
        const guchar *s = src->pixels + size_t (y - f->y_offset) * size_t (src->rowstride)
                          + size_t (a.x0 - f->x_offset) * size_t (nc);
        guchar *d = canvas->pixels + size_t (y) * size_t (canvas->rowstride) + size_t (a.x0) * 4;
        for (int x = a.x0; x < a.x1; ++x, s += nc, d += 4) {
            const int sa = src->has_alpha ? s[3] : 255;
            if (sa == 255) {
                std::memcpy (d, s, 3);
                d[3] = 255;
                continue;
            }
            if (sa == 0) continue;
            const int da = d[3] * (255 - sa) / 255;  // what shows through, in 0..255
            const int oa = sa + da;
            for (int c = 0; c < 3; ++c) d[c] = guchar ((s[c] * sa + d[c] * da + oa / 2) / oa);
            d[3] = guchar (oa);
        }
    }
}

}  // namespace

std::unique_ptr<Player> Player::create (TambaAnimation *animation)
{
    std::unique_ptr<Player> p (new Player (tamba_animation_ref (animation)));
    for (GList *l = animation->frames; l; l = l->next) {
        const auto *f = static_cast<const TambaFrame *> (l->data);
        if (f && f->tamba && f->tamba->n_channels >= 3) p->frames_.push_back (f);
    }
    if (p->frames_.empty () || animation->width <= 0 || animation->height <= 0) return nullptr;

    const TambaFrame *first = p->frames_[0];
    if (!p->animated () && first->x_offset == 0 && first->y_offset == 0
        && first->tamba->width == animation->width && first->tamba->height == animation->height) {
        // A still image is its own canvas.
        p->canvas_.reset (tamba_ref (first->tamba));
        return p;
    }
    p->canvas_.reset (tamba_new (GDK_COLORSPACE_RGB, TRUE, 8, animation->width, animation->height));
    if (!p->canvas_) return nullptr;
    clear (p->canvas_.get (), {0, 0, animation->width, animation->height});
    p->draw_current ();
    return p;
}

Player::~Player ()
{
    tamba_animation_unref (animation_);
}

int Player::delay () const
{
    const int d = frames_[current_]->delay_time;
    return d > 0 ? d : kDefaultDelay;
}

void Player::draw_current ()
{
    const TambaFrame *f = frames_[current_];
    const Area a = area_of (f, canvas_->width, canvas_->height);
    if (a.empty ()) return;
    if (f->action == TAMBA_FRAME_REVERT) {
        saved_.reset (tamba_new (GDK_COLORSPACE_RGB, TRUE, 8, a.x1 - a.x0, a.y1 - a.y0));
        if (saved_)
            tamba_copy_area (canvas_.get (), a.x0, a.y0, a.x1 - a.x0, a.y1 - a.y0, saved_.get (),
                             0, 0);
    }
    paint (canvas_.get (), f, a);
}

void Player::advance ()
{
    if (!animated ()) return;
    Tamba *canvas = canvas_.get ();
    const TambaFrame *f = frames_[current_];
    const Area a = area_of (f, canvas->width, canvas->height);
    if (!a.empty ()) {
        if (f->action == TAMBA_FRAME_DISPOSE)
            clear (canvas, a);
        else if (f->action == TAMBA_FRAME_REVERT && saved_)
            tamba_copy_area (saved_.get (), 0, 0, a.x1 - a.x0, a.y1 - a.y0, canvas, a.x0, a.y0);
    }
    saved_.reset ();
    current_ = (current_ + 1) % frames_.size ();
    // Each pass of the animation starts on an empty canvas.
    if (current_ == 0) clear (canvas, {0, 0, canvas->width, canvas->height});
    draw_current ();
}

}  // namespace tamba::view
