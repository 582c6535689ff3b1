#!/usr/bin/env python3
"""Renders the SVG glyphs to the PNGs the resource file carries (at 1x and
2x). Qt's SVG module is not part of our toolkit set, so the PNGs are made
here, with the system's librsvg, and committed next to their sources.
Run from this folder after changing an SVG."""
import ctypes
import glob
import os

rsvg = ctypes.CDLL("librsvg-2.so.2")
cairo = ctypes.CDLL("libcairo.so.2")
rsvg.rsvg_handle_new_from_file.restype = ctypes.c_void_p
rsvg.rsvg_handle_new_from_file.argtypes = [ctypes.c_char_p, ctypes.c_void_p]
rsvg.rsvg_handle_render_cairo.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
cairo.cairo_image_surface_create.restype = ctypes.c_void_p
cairo.cairo_create.restype = ctypes.c_void_p
cairo.cairo_create.argtypes = [ctypes.c_void_p]
cairo.cairo_scale.argtypes = [ctypes.c_void_p, ctypes.c_double, ctypes.c_double]
cairo.cairo_surface_write_to_png.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
cairo.cairo_destroy.argtypes = [ctypes.c_void_p]
cairo.cairo_surface_destroy.argtypes = [ctypes.c_void_p]

CAIRO_FORMAT_ARGB32 = 0

for svg in sorted(glob.glob("*.svg")):
    base = os.path.splitext(svg)[0]
    size = 32 if base == "tavrix" else 16
    handle = rsvg.rsvg_handle_new_from_file(svg.encode(), None)
    if not handle:
        raise SystemExit("cannot read " + svg)
    for scale, suffix in ((1, ""), (2, "@2x")):
        surface = cairo.cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size * scale, size * scale)
        cr = cairo.cairo_create(surface)
        cairo.cairo_scale(cr, float(scale), float(scale))
        rsvg.rsvg_handle_render_cairo(handle, cr)
        cairo.cairo_surface_write_to_png(surface, (base + suffix + ".png").encode())
        cairo.cairo_destroy(cr)
        cairo.cairo_surface_destroy(surface)
