// SPDX-License-Identifier: LGPL-2.1-or-later
// Integer box pre-reduction for reductions too strong for one filter table.
#ifndef TAMBA_PIXOPS_PIXOPS_REDUCE_H
#define TAMBA_PIXOPS_PIXOPS_REDUCE_H

#include <algorithm>

#include "pixops/pixops-private.h"

namespace tamba::detail {

struct BoxFactors {
    int x, y;
};

// {1, 1} when the filter of (scale_x, scale_y) fits in kPixopsMaxFilterBytes; otherwise integer
// factors per axis that leave each strongly reduced axis a remaining scale (scale times factor)
// between 1/16 and 1/8, so the remaining filter is small.
BoxFactors box_factors_for (int (*taps) (double), double scale_x, double scale_y);

// The source averaged over f.x x f.y blocks (partial blocks at the right and bottom average what
// they hold), as a malloc'd buffer with the same channel layout; nullptr if memory runs out.
guchar *box_reduce (const PixopsPass &pass, BoxFactors f, int *width, int *height,
                    int *rowstride);

}  // namespace tamba::detail

#endif  // TAMBA_PIXOPS_PIXOPS_REDUCE_H
