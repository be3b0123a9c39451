// SPDX-License-Identifier: LGPL-2.1-or-later
// Kernel tables: the scalar kernels that have vector variants, grouped so that the engine picks
// one table once per process from what the CPU supports. Every table gives the same bytes as the
// scalar one; the vector variants only change how fast they get there.
#ifndef TAMBA_PIXOPS_PIXOPS_SIMD_H
#define TAMBA_PIXOPS_PIXOPS_SIMD_H

#include <cstddef>
#include <cstdint>

#include "pixops/pixops-private.h"

namespace tamba::detail {

// Blends n RGBA source pixels (4 bytes each, consecutive) over n opaque destination pixels
// with the source's own alpha a, channel by channel:
//   rounded:   (a * p + (255 - a) * d) / 255 rounded to nearest (the nearest path),
//   truncated: the same quotient truncated (a filter tap of full weight, see composite kernels),
//   shifted:   the same sum divided by 256 (a full-weight tap of the 2 x 2 kernel onto 4 bytes).
// The rgb runs write 3-byte pixels; the rgbx runs 4-byte ones, whose fourth byte the rounded
// run leaves as it was and the shifted run sets to a.
using PixopsRunKernel = void (guchar *dest, const guchar *src, std::int64_t n);
using PixopsRunFunc = PixopsRunKernel *;

struct PixopsKernelTable {
    const char *name;
    PixopsLineFunc scale_line_22_33;
    PixopsLineFunc composite_line_22_4a4a;
    // Scaling an opaque source with any filter, by [source has 4 channels][destination layout:
    // 3, 4, 4 with alpha]; null where the table has no such kernel.
    const PixopsLineFunc (*scale_line_opaque)[3];
    // Scaling RGBA to RGBA with any filter; null where the table has no such kernel. The
    // premultiplied kernel reads rows that premultiply_row made.
    PixopsLineFunc scale_line_4a4a;
    PixopsLineFunc scale_line_4a4a_premultiplied;
    PixopsPremultiplyKernel *premultiply_row;
    // Separable 2 x 2 filters: RGB scaling, and RGBA scaling and compositing over RGBA; null
    // where the table leaves them to the line kernels.
    PixopsRowFilterKernel *filter_row_22_3;
    PixopsRowCombineKernel *scale_rows_22_33;
    PixopsRowFilterKernel *filter_row_22_4a;
    PixopsRowCombineKernel *scale_rows_22_4a4a;
    PixopsRowCombineKernel *composite_rows_22_4a4a;
    PixopsRunFunc over_rgb_rounded;
    PixopsRunFunc over_rgb_truncated;
    PixopsRunFunc over_rgbx_rounded;
    PixopsRunFunc over_rgbx_shifted;
};

// The table in use: the fastest one the CPU supports, chosen on first use.
const PixopsKernelTable &kernel_table ();

// For tests: every table this build has, scalar first; a table the CPU cannot run is null.
// Forcing a table (null = back to the automatic choice) is not thread-safe with running work.
int kernel_table_count ();
const PixopsKernelTable *kernel_table_at (int index);
void force_kernel_table (const PixopsKernelTable *table);

// The scalar run kernels, and the vector variants (defined on x86-64 only).
PixopsRunKernel over_rgb_rounded, over_rgb_truncated, over_rgbx_rounded, over_rgbx_shifted;
namespace kernels {
PixopsLineKernel scale_line_22_33, scale_line_22_33_sse2, scale_line_22_33_avx2;
PixopsRowFilterKernel filter_row_22_3_sse2, filter_row_22_4a_avx2;
PixopsRowCombineKernel scale_rows_22_33_sse2, scale_rows_22_33_avx2, scale_rows_22_4a4a_avx2,
    composite_rows_22_4a4a_avx2;
PixopsLineKernel composite_line_22_4a4a, composite_line_22_4a4a_avx2;
extern const PixopsLineFunc scale_line_opaque_avx2_table[2][3];
PixopsLineKernel scale_line_4a4a_avx2, scale_line_4a4a_premultiplied_avx2;
PixopsPremultiplyKernel premultiply_row_avx2;
// For tests: num[k] / den[k] (den[k] != 0) by the vector division the AVX2 kernels use.
void quotients_avx2 (const guint32 *num, const guint32 *den, guint32 *out, std::size_t n);
// The same for 0 < den[k] < 2^25 and quotients of at most 256 (the separable kernels' division).
void bounded_quotients_avx2 (const guint32 *num, const guint32 *den, guint32 *out,
                             std::size_t n);
PixopsRunKernel over_rgb_rounded_ssse3, over_rgb_truncated_ssse3, over_rgbx_rounded_ssse3,
    over_rgbx_shifted_ssse3;
PixopsRunKernel over_rgb_rounded_avx2, over_rgb_truncated_avx2, over_rgbx_rounded_avx2,
    over_rgbx_shifted_avx2;
}  // namespace kernels

}  // namespace tamba::detail

#endif  // TAMBA_PIXOPS_PIXOPS_SIMD_H
