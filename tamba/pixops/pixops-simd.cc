// SPDX-License-Identifier: LGPL-2.1-or-later
// The kernel tables and the one-time choice between them.
#include <atomic>

#include "pixops/pixops-simd.h"

namespace tamba::detail {

namespace {

constexpr PixopsKernelTable kScalar{.name = "scalar",
                                    .scale_line_22_33 = kernels::scale_line_22_33,
                                    .composite_line_22_4a4a = kernels::composite_line_22_4a4a,
                                    .scale_line_opaque = nullptr,
                                    .scale_line_4a4a = nullptr,
                                    .scale_line_4a4a_premultiplied = nullptr,
                                    .premultiply_row = nullptr,
                                    .filter_row_22_3 = nullptr,
                                    .scale_rows_22_33 = nullptr,
                                    .filter_row_22_4a = nullptr,
                                    .scale_rows_22_4a4a = nullptr,
                                    .composite_rows_22_4a4a = nullptr,
                                    .over_rgb_rounded = over_rgb_rounded,
                                    .over_rgb_truncated = over_rgb_truncated,
                                    .over_rgbx_rounded = over_rgbx_rounded,
                                    .over_rgbx_shifted = over_rgbx_shifted};
#if defined(__x86_64__)
// Each table is the one below it with the kernels its instruction set adds. SSE2 is part of
// x86-64; the blends need SSSE3's byte shuffle.
constexpr PixopsKernelTable kSse2 = [] {
    PixopsKernelTable t = kScalar;
    t.name = "sse2";
    t.scale_line_22_33 = kernels::scale_line_22_33_sse2;
    t.filter_row_22_3 = kernels::filter_row_22_3_sse2;
    t.scale_rows_22_33 = kernels::scale_rows_22_33_sse2;
    return t;
}();
constexpr PixopsKernelTable kSsse3 = [] {
    PixopsKernelTable t = kSse2;
    t.name = "ssse3";
    t.over_rgb_rounded = kernels::over_rgb_rounded_ssse3;
    t.over_rgb_truncated = kernels::over_rgb_truncated_ssse3;
    t.over_rgbx_rounded = kernels::over_rgbx_rounded_ssse3;
    t.over_rgbx_shifted = kernels::over_rgbx_shifted_ssse3;
    return t;
}();
constexpr PixopsKernelTable kAvx2{.name = "avx2",
                                  .scale_line_22_33 = kernels::scale_line_22_33_avx2,
                                  .composite_line_22_4a4a = kernels::composite_line_22_4a4a_avx2,
                                  .scale_line_opaque = kernels::scale_line_opaque_avx2_table,
                                  .scale_line_4a4a = kernels::scale_line_4a4a_avx2,
                                  .scale_line_4a4a_premultiplied =
                                      kernels::scale_line_4a4a_premultiplied_avx2,
                                  .premultiply_row = kernels::premultiply_row_avx2,
                                  .filter_row_22_3 = kernels::filter_row_22_3_sse2,
                                  .scale_rows_22_33 = kernels::scale_rows_22_33_avx2,
                                  .filter_row_22_4a = kernels::filter_row_22_4a_avx2,
                                  .scale_rows_22_4a4a = kernels::scale_rows_22_4a4a_avx2,
                                  .composite_rows_22_4a4a = kernels::composite_rows_22_4a4a_avx2,
                                  .over_rgb_rounded = kernels::over_rgb_rounded_avx2,
                                  .over_rgb_truncated = kernels::over_rgb_truncated_avx2,
                                  .over_rgbx_rounded = kernels::over_rgbx_rounded_avx2,
                                  .over_rgbx_shifted = kernels::over_rgbx_shifted_avx2};
constexpr const PixopsKernelTable *kTables[] = {&kScalar, &kSse2, &kSsse3, &kAvx2};

bool supported (const PixopsKernelTable *table)
{
    // The feature bits may be read before the runtime's own constructors have filled them in.
    __builtin_cpu_init ();
    if (table == &kAvx2)
        return __builtin_cpu_supports ("avx2") && __builtin_cpu_supports ("ssse3");
    return table != &kSsse3 || __builtin_cpu_supports ("ssse3");
}
#else
constexpr const PixopsKernelTable *kTables[] = {&kScalar};

bool supported (const PixopsKernelTable *) { return true; }
#endif

constexpr int kTableCount = int (sizeof kTables / sizeof kTables[0]);

const PixopsKernelTable *choose ()
{
    for (int i = kTableCount - 1; i > 0; i--)
        if (supported (kTables[i])) return kTables[i];
    return &kScalar;
}

std::atomic<const PixopsKernelTable *> forced{nullptr};

}  // namespace

const PixopsKernelTable &kernel_table ()
{
    static const PixopsKernelTable *const chosen = choose ();
    const PixopsKernelTable *f = forced.load (std::memory_order_relaxed);
    return f ? *f : *chosen;
}

int kernel_table_count () { return kTableCount; }

const PixopsKernelTable *kernel_table_at (int index)
{
    if (index < 0 || index >= kTableCount || !supported (kTables[index])) return nullptr;
    return kTables[index];
}

void force_kernel_table (const PixopsKernelTable *table)
{
    forced.store (table, std::memory_order_relaxed);
}

}  // namespace tamba::detail
