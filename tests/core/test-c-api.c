/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The public headers compile as strict C11, and a C program links against the library. */
#include <stdio.h>

#include <tamba/pixops.h>
#include <tamba/tamba.h>

int main (void)
{
  Tamba *t = tamba_new (GDK_COLORSPACE_RGB, TRUE, 8, 3, 2);
  guint16 r = 0, g = 0, b = 0;
  int ok = t != NULL && tamba_get_rowstride (t) == 12 && tamba_get_n_channels (t) == 4;
  tamba_unref (t);
  ok = ok && tamba_parse_color ("#102030", &r, &g, &b) && r == 0x1000 && b == 0x3000;
  /* The loader is usable from C: unrecognised bytes fail and give no image. */
  TambaLoader *loader = tamba_loader_new ();
  static const guchar zeros[128];
  ok = ok && TAMBA_IS_LOADER (loader) && !tamba_loader_write (loader, zeros, sizeof zeros);
  tamba_loader_close (loader);
  ok = ok && tamba_loader_get_tamba (loader) == NULL;
  g_object_unref (loader);
  /* The engine scales raw buffers from C: one grey RGB pixel doubled. */
  guchar src[3] = {90, 90, 90}, dest[12] = {0};
  pixops_scale (dest, 0, 0, 2, 2, 6, 3, FALSE, src, 1, 1, 3, 3, FALSE, 2.0, 2.0, PIXOPS_INTERP_NEAREST);
  ok = ok && dest[0] == 90 && dest[11] == 90;
  ok = ok && tamba_major_version == 0 && tamba_minor_version == 18 && tamba_screen == -1;
  printf ("%s %s\n", tamba_version, ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
