#!/usr/bin/python3
"""Draws the desktop icons of the Debian package into assets/icons/.

    /usr/bin/python3 tools/draw_icons.py            draw, write, then check
    /usr/bin/python3 tools/draw_icons.py --check    only check the files

Outputs (committed, so the build needs no Python), in the freedesktop hicolor
layout under the application's ID:
  hicolor/NxN/apps/io.github.bukurea.Bukurea.png   N = 16 22 24 32 48 64 128 256
  hicolor/scalable/apps/io.github.bukurea.Bukurea.svg

The motif is the shelf of bukurea.ico, drawn by tools/draw_assets.py: the
16-pixel icon is its hand-placed pixel art, every larger one the vector
drawing reduced from eight times its size, and the SVG the same shapes on the
same 32-unit grid. Needs Debian's python3-pil.
"""

import argparse
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

from PIL import Image

sys.path.insert(0, str(Path(__file__).resolve().parent))
import draw_assets  # noqa: E402

ICON_ID = "io.github.bukurea.Bukurea"
SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
HICOLOR = draw_assets.ROOT / "assets" / "icons" / "hicolor"


class SvgGrid:
    """Records the shapes draw_assets draws on its Grid as SVG elements."""

    def __init__(self):
        self.elements = []

    @staticmethod
    def colour(rgb):
        return "#%02x%02x%02x" % rgb

    def rect(self, x0, y0, x1, y1, fill):
        self.elements.append(f'<rect x="{x0:g}" y="{y0:g}" width="{x1 - x0:g}" height="{y1 - y0:g}" '
                             f'fill="{self.colour(fill)}"/>')

    def poly(self, pts, fill):
        points = " ".join(f"{x:.3f},{y:.3f}" for x, y in pts)
        self.elements.append(f'<polygon points="{points}" fill="{self.colour(fill)}"/>')

    def ellipse(self, x0, y0, x1, y1, fill):
        self.elements.append(f'<ellipse cx="{(x0 + x1) / 2:g}" cy="{(y0 + y1) / 2:g}" rx="{(x1 - x0) / 2:g}" '
                             f'ry="{(y1 - y0) / 2:g}" fill="{self.colour(fill)}"/>')

    def document(self):
        body = "\n  ".join(self.elements)
        return ('<?xml version="1.0" encoding="UTF-8"?>\n'
                '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 32 32" '
                'shape-rendering="crispEdges">\n'
                f'  <title>Bukurea</title>\n  {body}\n</svg>\n')


def png_path(size):
    return HICOLOR / f"{size}x{size}" / "apps" / f"{ICON_ID}.png"


def svg_path():
    return HICOLOR / "scalable" / "apps" / f"{ICON_ID}.svg"


def draw():
    images = {16: draw_assets.pixel_art(draw_assets.SHELF_16, draw_assets.SHELF_16_KEYS)}
    for size in SIZES[1:]:
        images[size] = draw_assets.render_vector(draw_assets.draw_shelf, size)
    svg = SvgGrid()
    draw_assets.draw_shelf(svg)
    return images, svg.document()


def check(c, made):
    for size in SIZES:
        path = png_path(size)
        try:
            with Image.open(path) as im:
                im.load()
                ok = im.format == "PNG" and im.mode == "RGBA" and im.size == (size, size)
                c.expect(ok, f"{path.relative_to(HICOLOR)}: PNG RGBA {im.size[0]}x{im.size[1]}")
                lo, hi = im.getchannel("A").getextrema()
                c.expect(lo == 0 and hi == 255, f"{path.name} {size}: transparent background, opaque shelf")
                if made:
                    c.expect(im.tobytes() == made[0][size].tobytes(), f"{path.name} {size}: reads back as drawn")
        except (OSError, ValueError) as e:
            c.expect(False, f"{path}: {e}")
    try:
        root = ET.parse(svg_path()).getroot()
        shapes = [e for e in root if not e.tag.endswith("title")]
        c.expect(root.tag == "{http://www.w3.org/2000/svg}svg" and root.get("viewBox") == "0 0 32 32",
                 "scalable icon: an SVG on the 32-unit grid")
        c.expect(len(shapes) > 10, f"scalable icon: {len(shapes)} shapes")
    except (OSError, ET.ParseError) as e:
        c.expect(False, f"{svg_path()}: {e}")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--check", action="store_true", help="only check the files in assets/icons/")
    args = ap.parse_args()
    made = None
    if not args.check:
        made = draw()
        for size, img in made[0].items():
            png_path(size).parent.mkdir(parents=True, exist_ok=True)
            img.save(png_path(size), optimize=True)
        svg_path().parent.mkdir(parents=True, exist_ok=True)
        svg_path().write_text(made[1], encoding="utf-8")
    c = draw_assets.Checks()
    check(c, made)
    return c.report()


if __name__ == "__main__":
    sys.exit(main())
