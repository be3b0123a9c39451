// SPDX-License-Identifier: LGPL-2.1-or-later
// The pixel-operations engine. Its three entry points are public (<tamba/pixops.h>); this header
// is what the library's own sources include, and records the engine's limits.
//
// Refused with a logged precondition, nothing written:
//  - channel counts other than 3 and 4, and a source without pixels;
//  - interp_type outside PIXOPS_INTERP_NEAREST..PIXOPS_INTERP_HYPER;
//  - scale factors that are negative, NaN or infinite, or whose step 65536 / scale is below 1 or
//    above G_MAXINT (a zero factor is a silent no-op);
//  - a check_size of 0 on the checkerboard operation, unless the call is handed to scaling.
// Source positions are kept in 64 bits, so images up to 2^30 pixels a side are handled.
// Filter tables are capped at kPixopsMaxFilterBytes (64 MiB); a reduction so strong that its
// table would be larger first averages the source by an integer box factor per axis and then
// filters the averaged source, so only such extreme reductions differ from one single pass.
#ifndef TAMBA_PIXOPS_PIXOPS_H
#define TAMBA_PIXOPS_PIXOPS_H

#include "tamba/pixops.h"

#endif /* TAMBA_PIXOPS_PIXOPS_H */
