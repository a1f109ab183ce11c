#!/usr/bin/python3
"""Draws the pictures of ブクレア and writes them into assets/.

    /usr/bin/python3 tools/draw_assets.py            draw, write, then check
    /usr/bin/python3 tools/draw_assets.py --check    only check the files in assets/
    /usr/bin/python3 tools/draw_assets.py --preview DIR
                                                     also write enlarged PNG previews

Outputs (all committed, so the build needs no Python):
  bukurea.ico  application icon: 16x16 at 4 bpp and 32x32 at 8 bpp
  main.ico     registration window icon, same format, book with a "+"
  bukurea.png  64x64 RGBA desktop icon, same motif as bukurea.ico
  banner.gif   330x56 start menu banner: GIF89a, one interlaced frame,
               256-entry global colour table, no transparency

The icons are classic BMP-style ICO entries (palette, XOR bitmap, 1-bpp AND
mask) because the windows declare exactly these two image depths; PIL's ICO
writer only produces 32-bpp or PNG entries, so the bytes are assembled here.
The GIF is encoded here too, so that the header, the colour table size and the
interlace flag are exactly what the start menu expects, whatever PIL version
is installed. The script needs Debian's python3-pil and the IPA Gothic fonts.
"""

import argparse
import io
import math
import struct
import sys
from pathlib import Path

from PIL import Image, ImageDraw, ImageFont

ROOT = Path(__file__).resolve().parent.parent
ASSETS = ROOT / "assets"
FONT_PGOTHIC = "/usr/share/fonts/opentype/ipafont-gothic/ipagp.ttf"

BANNER_SIZE = (330, 56)
PNG_SIZE = 64

# ---------------------------------------------------------------- colours
# A calm shelf: muted navy, teal, brick and ochre spines on light oak.
NAVY = (58, 84, 128)
NAVY_DK = (36, 54, 90)
TEAL = (78, 134, 124)
TEAL_DK = (50, 94, 88)
BRICK = (166, 88, 74)
BRICK_DK = (118, 58, 50)
OCHRE = (210, 168, 84)
OCHRE_DK = (156, 118, 52)
GOLD = (236, 208, 128)
PAPER = (248, 243, 228)
PAPER_SH = (214, 206, 186)
INK = (150, 160, 180)
WOOD_LT = (196, 152, 102)
WOOD = (150, 108, 68)
WOOD_DK = (98, 68, 42)
GREEN = (78, 156, 98)
GREEN_DK = (44, 104, 62)
WHITE = (255, 255, 255)
BLACK = (0, 0, 0)

# ------------------------------------------------------ 16x16 pixel art
# At 16 pixels every pixel is placed by hand; '.' is transparent.
SHELF_16 = [
    "................",
    "......bbB.......",
    ".nnN..bbB.......",
    ".ggG..ggGoO.....",
    ".nnN..bbBoO.....",
    ".nnNtTbbBgG.....",
    ".nnNtTbbBoO.....",
    ".nnNpTbbBoO.....",
    ".nnNpTbbBoO.....",
    ".nnNtTbbBoOtttT.",
    ".ggGtTggBoOTTTT.",
    ".nnNtTbbBgGngnnN",
    ".nnNtTbbBoONGNNN",
    "WWWWWWWWWWWWWWWW",
    "wwwwwwwwwwwwwwww",
    "dddddddddddddddd",
]
SHELF_16_KEYS = {
    "n": NAVY, "N": NAVY_DK, "g": GOLD, "G": OCHRE_DK,
    "t": TEAL, "T": TEAL_DK, "p": PAPER,
    "b": BRICK, "B": BRICK_DK, "o": OCHRE, "O": OCHRE_DK,
    "W": WOOD_LT, "w": WOOD, "d": WOOD_DK,
}

BOOK_PLUS_16 = [
    "................",
    "................",
    "................",
    ".pppp......pppp.",
    "nppppppssppppppn",
    "nppppppssppppppn",
    "npllllpsspllllpn",
    "nppppppssppppppn",
    "npllllpsspllllpn",
    "nppppppssppGGGpn",
    "npllllpsspGgwgGn",
    "nppppppssGggwggG",
    "nppppppssGwwwwwG",
    ".nnnpppssGggwggG",
    "..nnnnnNN.GgwgG.",
    "...........GGG..",
]
BOOK_PLUS_16_KEYS = {
    "p": PAPER, "l": INK, "s": PAPER_SH, "n": NAVY, "N": NAVY_DK,
    "g": GREEN, "G": GREEN_DK, "w": WHITE,
}


def pixel_art(rows, keys):
    """RGBA image from rows of key characters; unknown keys are transparent."""
    h, w = len(rows), len(rows[0])
    img = Image.new("RGBA", (w, h), (0, 0, 0, 0))
    for y, row in enumerate(rows):
        if len(row) != w:
            raise ValueError(f"pixel row {y} is {len(row)} wide, expected {w}")
        for x, ch in enumerate(row):
            if ch in keys:
                img.putpixel((x, y), keys[ch] + (255,))
    return img


# ------------------------------------------------------- vector drawings
# Drawn on a 32-unit grid; u is the number of pixels per unit. Shapes sit on
# whole units so that the 32x32 icon comes out crisp after reduction.

class Grid:
    def __init__(self, draw, u, ox=0.0, oy=0.0):
        self.d, self.u, self.ox, self.oy = draw, u, ox, oy

    def p(self, x, y):
        return (self.ox + x * self.u, self.oy + y * self.u)

    def rect(self, x0, y0, x1, y1, fill):
        a, b = self.p(x0, y0)
        c, d = self.p(x1, y1)
        self.d.rectangle([a, b, c - 1, d - 1], fill=fill)

    def poly(self, pts, fill):
        self.d.polygon([self.p(x, y) for x, y in pts], fill=fill)

    def ellipse(self, x0, y0, x1, y1, fill):
        a, b = self.p(x0, y0)
        c, d = self.p(x1, y1)
        self.d.ellipse([a, b, c - 1, d - 1], fill=fill)


def upright_book(g, x0, x1, top, bottom, body, edge, bands=(), label=None):
    """A standing book seen from its spine: dark outline, body, gold bands."""
    g.rect(x0, top, x1, bottom, edge)
    g.rect(x0 + 1, top + 1, x1 - 1, bottom, body)
    for band_top in bands:
        g.rect(x0 + 1, band_top, x1 - 1, band_top + 1, GOLD)
    if label is not None:
        g.rect(x0 + 1, label, x1 - 1, label + 4, PAPER)


def rotate(pts, pivot, cos_a, sin_a):
    px, py = pivot
    out = []
    for x, y in pts:
        dx, dy = x - px, y - py
        out.append((px + dx * cos_a - dy * sin_a, py + dx * sin_a + dy * cos_a))
    return out


def leaning_book(g, rest_x, bottom, width, height, lean_deg, body, edge, bands=()):
    """A book tipped to the left, resting on its bottom-left corner."""
    a = math.radians(-lean_deg)
    c, s = math.cos(a), math.sin(a)
    pivot = (rest_x, bottom)

    def quad(x0, y0, x1, y1):
        return rotate([(x0, y0), (x1, y0), (x1, y1), (x0, y1)], pivot, c, s)

    g.poly(quad(rest_x, bottom - height, rest_x + width, bottom), edge)
    g.poly(quad(rest_x + 1, bottom - height + 1, rest_x + width - 1, bottom), body)
    for bt in bands:
        g.poly(quad(rest_x + 1, bottom - height + bt, rest_x + width - 1,
                    bottom - height + bt + 1), GOLD)


def draw_shelf(g):
    """The application motif: four standing books and a small stack of two
    lying ones on a light oak shelf."""
    upright_book(g, 3, 9, 6, 26, NAVY, NAVY_DK, bands=(9, 22))
    upright_book(g, 9, 14, 10, 26, TEAL, TEAL_DK, label=14)
    upright_book(g, 14, 20, 3, 26, BRICK, BRICK_DK, bands=(6, 21))
    upright_book(g, 20, 24, 8, 26, OCHRE, OCHRE_DK, bands=(12,))
    lying_book(g, 24, 31, 21, 26, NAVY, NAVY_DK, band=26)
    lying_book(g, 24, 30, 17, 21, TEAL, TEAL_DK, band=None)
    g.rect(1, 26, 31, 27, WOOD_LT)
    g.rect(1, 27, 31, 29, WOOD)
    g.rect(1, 29, 31, 30, WOOD_DK)


def lying_book(g, x0, x1, top, bottom, body, edge, band):
    """A book lying flat, its spine towards the viewer."""
    g.rect(x0, top, x1, bottom, edge)
    g.rect(x0, top + 1, x1 - 1, bottom - 1, body)
    if band is not None:
        g.rect(band, top + 1, band + 1, bottom - 1, GOLD)


def draw_book_plus(g):
    """The registration motif: an open book with a green "+" badge."""
    # Cover, a little larger than the pages; pages stepped so that their
    # outer corners stand higher than the spine, as in an open book.
    g.rect(1, 8, 31, 28, NAVY)
    g.rect(3, 28, 29, 29, NAVY)
    g.rect(14, 27, 18, 29, NAVY_DK)
    for x0, x1 in ((3, 16), (16, 29)):
        g.rect(x0, 7, x1, 26, PAPER)
    g.rect(3, 6, 10, 7, PAPER)
    g.rect(22, 6, 29, 7, PAPER)
    g.rect(3, 5, 6, 6, PAPER)
    g.rect(26, 5, 29, 6, PAPER)
    g.rect(9, 26, 16, 27, PAPER)
    g.rect(16, 26, 23, 27, PAPER)
    g.rect(15, 7, 17, 27, PAPER_SH)
    for y in (10, 13, 16, 19, 22):
        g.rect(5, y, 14, y + 1, INK)
    for y in (10, 13):
        g.rect(18, y, 27, y + 1, INK)
    # Badge, bottom right, over the right page.
    g.ellipse(17, 15, 32, 30, GREEN_DK)
    g.ellipse(18, 16, 31, 29, GREEN)
    g.rect(23, 18, 26, 27, WHITE)
    g.rect(20, 21, 29, 24, WHITE)


def render_vector(draw_fn, size, supersample=8):
    """Draws on the 32-unit grid at size*supersample and box-reduces to size."""
    big = size * supersample
    img = Image.new("RGBA", (big, big), (0, 0, 0, 0))
    draw_fn(Grid(ImageDraw.Draw(img), big / 32))
    # Reduce in premultiplied form so transparent black does not darken edges.
    return img.convert("RGBa").reduce(supersample).convert("RGBA")


# ------------------------------------------------------------- ICO bytes

def row_stride(width, bpp):
    return ((width * bpp + 31) // 32) * 4


def to_indexed(img, bpp):
    """Splits an RGBA image into (palette, index rows, AND-mask rows).

    Pixels with alpha below one half become transparent: AND bit 1 and
    index 0, which is kept black so that the XOR step leaves the screen as is.
    """
    limit = 1 << bpp
    w, h = img.size
    px = img.load()
    opaque = [[px[x, y][3] >= 128 for x in range(w)] for y in range(h)]
    colours = sorted({px[x, y][:3] for y in range(h) for x in range(w) if opaque[y][x]})
    if BLACK in colours:
        colours.remove(BLACK)
    if len(colours) > limit - 1:
        # Too many shades for the palette: reduce them, keeping slot 0 free.
        rgb = Image.new("RGB", (w, h), BLACK)
        rgb.paste(img.convert("RGB"), mask=img.getchannel("A").point(lambda a: 255 if a >= 128 else 0))
        q = rgb.quantize(colors=limit - 1, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
        qp = q.getpalette()[: 3 * (limit - 1)]
        colours = sorted({tuple(qp[3 * q.getpixel((x, y)): 3 * q.getpixel((x, y)) + 3])
                          for y in range(h) for x in range(w) if opaque[y][x]})
        mapped = {(x, y): tuple(qp[3 * q.getpixel((x, y)): 3 * q.getpixel((x, y)) + 3])
                  for y in range(h) for x in range(w)}
    else:
        mapped = {(x, y): px[x, y][:3] for y in range(h) for x in range(w)}
    palette = [BLACK] + colours
    palette += [BLACK] * (limit - len(palette))
    index_of = {c: i for i, c in reversed(list(enumerate(palette)))}
    indices = [[index_of[mapped[x, y]] if opaque[y][x] else 0 for x in range(w)]
               for y in range(h)]
    return palette, indices, opaque


def pack_rows(rows, bpp):
    """Bottom-up bitmap rows, most significant bits first, padded to 4 bytes."""
    out = bytearray()
    for row in reversed(rows):
        bits = 0
        nbits = 0
        line = bytearray()
        for v in row:
            bits = (bits << bpp) | v
            nbits += bpp
            if nbits == 8:
                line.append(bits)
                bits = nbits = 0
        if nbits:
            line.append(bits << (8 - nbits))
        line += bytes(row_stride(len(row), bpp) - len(line))
        out += line
    return bytes(out)


def ico_entry_data(img, bpp):
    w, h = img.size
    palette, indices, opaque = to_indexed(img, bpp)
    xor = pack_rows(indices, bpp)
    mask = pack_rows([[0 if o else 1 for o in row] for row in opaque], 1)
    header = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, bpp, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    pal = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return header + pal + xor + mask


def build_ico(images):
    """images: list of (RGBA image, bits per pixel), smallest first."""
    datas = [ico_entry_data(img, bpp) for img, bpp in images]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for (img, bpp), data in zip(images, datas):
        w, h = img.size
        colour_count = (1 << bpp) if bpp < 8 else 0
        out += struct.pack("<BBBBHHII", w % 256, h % 256, colour_count, 0, 1, bpp,
                           len(data), offset)
        offset += len(data)
    for data in datas:
        out += data
    return bytes(out)


def parse_ico(data):
    """Reads a classic ICO back: list of dicts with the header fields, the
    palette and the decoded RGBA pixels. Raises ValueError on any defect."""
    if len(data) < 6:
        raise ValueError("file shorter than the icon directory")
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        raise ValueError(f"not an icon file (reserved={reserved}, type={kind})")
    entries = []
    for i in range(count):
        w, h, cc, res, planes, bpp, size, off = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        w, h = w or 256, h or 256
        if off + size > len(data):
            raise ValueError(f"entry {i} runs past the end of the file")
        blob = data[off: off + size]
        if blob[:8] == b"\x89PNG\r\n\x1a\n":
            raise ValueError(f"entry {i} is PNG-compressed")
        (bi_size, bi_w, bi_h, bi_planes, bi_bpp, bi_comp, bi_img, _, _, bi_used,
         _) = struct.unpack_from("<IiiHHIIiiII", blob, 0)
        if bi_size != 40:
            raise ValueError(f"entry {i}: header size {bi_size}, expected 40")
        if (bi_w, bi_h) != (w, 2 * h):
            raise ValueError(f"entry {i}: bitmap {bi_w}x{bi_h} does not match {w}x{h} doubled")
        if bi_bpp != bpp or bi_planes != 1 or bi_comp != 0:
            raise ValueError(f"entry {i}: bpp {bi_bpp}/{bpp}, planes {bi_planes}, compression {bi_comp}")
        ncol = bi_used or (1 << bi_bpp)
        pal_off = 40
        palette = [tuple(blob[pal_off + 4 * k + 2 - j] for j in range(3)) for k in range(ncol)]
        xor_off = pal_off + 4 * ncol
        xs, ms = row_stride(w, bi_bpp), row_stride(w, 1)
        and_off = xor_off + xs * h
        if and_off + ms * h != size:
            raise ValueError(f"entry {i}: {size} bytes, expected {and_off + ms * h}")
        img = Image.new("RGBA", (w, h))
        for y in range(h):
            xrow = blob[xor_off + (h - 1 - y) * xs:]
            mrow = blob[and_off + (h - 1 - y) * ms:]
            for x in range(w):
                bit = x * bi_bpp
                v = (xrow[bit // 8] >> (8 - bi_bpp - bit % 8)) & ((1 << bi_bpp) - 1)
                transparent = (mrow[x // 8] >> (7 - x % 8)) & 1
                img.putpixel((x, y), (0, 0, 0, 0) if transparent else palette[v] + (255,))
        entries.append({"width": w, "height": h, "bpp": bpp, "colour_count": cc,
                        "palette_size": ncol, "image": img})
    return entries


# ------------------------------------------------------------- GIF bytes

def lzw_encode(indices, min_code_size=8):
    """GIF variable-length LZW. Emits a clear code first and whenever the
    code table is full, so decoders never see a code wider than 12 bits."""
    clear = 1 << min_code_size
    end = clear + 1
    out = bytearray()
    acc = nacc = 0

    def emit(code, width):
        nonlocal acc, nacc
        acc |= code << nacc
        nacc += width
        while nacc >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nacc -= 8

    width = min_code_size + 1
    table = {}
    next_code = end + 1
    emit(clear, width)
    prefix = None
    for v in indices:
        if prefix is None:
            prefix = v
            continue
        key = (prefix, v)
        if key in table:
            prefix = table[key]
            continue
        emit(prefix, width)
        if next_code == 4096:
            emit(clear, width)
            table.clear()
            next_code = end + 1
            width = min_code_size + 1
        else:
            table[key] = next_code
            next_code += 1
            # The decoder adds its entry one code later, so it widens when
            # the code it will assign next no longer fits.
            if next_code > (1 << width) and width < 12:
                width += 1
        prefix = v
    if prefix is not None:
        emit(prefix, width)
    emit(end, width)
    if nacc:
        out.append(acc & 0xFF)
    return bytes(out)


def interlace_order(height):
    """Row order of an interlaced GIF: every 8th from 0, every 8th from 4,
    every 4th from 2, every 2nd from 1."""
    return (list(range(0, height, 8)) + list(range(4, height, 8))
            + list(range(2, height, 4)) + list(range(1, height, 2)))


def build_gif(indexed):
    """GIF89a with one interlaced frame and a full 256-entry global palette."""
    w, h = indexed.size
    pal = indexed.getpalette()[:768]
    pal += [0] * (768 - len(pal))
    data = indexed.tobytes()
    rows = [data[y * w:(y + 1) * w] for y in interlace_order(h)]
    code = lzw_encode(b"".join(rows))
    out = bytearray(b"GIF89a")
    out += struct.pack("<HHBBB", w, h, 0x80 | (7 << 4) | 7, 0, 0)
    out += bytes(pal)
    out += b"," + struct.pack("<HHHHB", 0, 0, w, h, 0x40)  # interlace, no local table
    out.append(8)
    for i in range(0, len(code), 255):
        chunk = code[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out += b"\x00;"
    return bytes(out)


def parse_gif(data):
    """Walks the GIF block structure; returns a dict of what the checks need."""
    if data[:6] not in (b"GIF87a", b"GIF89a"):
        raise ValueError("no GIF signature")
    w, h, packed, _bg, _ratio = struct.unpack_from("<HHBBB", data, 6)
    info = {"version": data[:6], "width": w, "height": h,
            "global_table": bool(packed & 0x80), "table_size_field": packed & 7,
            "frames": [], "transparency": False, "extensions": []}
    pos = 13
    if packed & 0x80:
        pos += 3 * (2 << (packed & 7))
    while True:
        if pos >= len(data):
            raise ValueError("missing trailer")
        tag = data[pos]
        if tag == 0x3B:
            info["trailing_bytes"] = len(data) - pos - 1
            break
        if tag == 0x21:
            label = data[pos + 1]
            info["extensions"].append(label)
            if label == 0xF9 and data[pos + 3] & 1:
                info["transparency"] = True
            pos += 2
            while data[pos]:
                pos += data[pos] + 1
            pos += 1
        elif tag == 0x2C:
            x, y, fw, fh, fpacked = struct.unpack_from("<HHHHB", data, pos + 1)
            info["frames"].append({"rect": (x, y, fw, fh), "interlaced": bool(fpacked & 0x40),
                                   "local_table": bool(fpacked & 0x80)})
            pos += 10
            if fpacked & 0x80:
                pos += 3 * (2 << (fpacked & 7))
            pos += 1  # LZW minimum code size
            while data[pos]:
                pos += data[pos] + 1
            pos += 1
        else:
            raise ValueError(f"unexpected block 0x{tag:02x} at {pos}")
    return info


# ---------------------------------------------------------------- banner

def draw_spines(d, x, base, s):
    """A row of book spines standing on the banner's shelf; sizes in banner
    pixels, s is the supersampling factor. Returns the right edge."""
    books = [  # width, height, body, edge, banded
        (8, 31, NAVY, NAVY_DK, True), (7, 26, TEAL, TEAL_DK, False),
        (10, 36, BRICK, BRICK_DK, True), (7, 29, OCHRE, OCHRE_DK, False),
        (8, 33, TEAL, TEAL_DK, True), (6, 24, NAVY, NAVY_DK, False),
        (9, 30, OCHRE, OCHRE_DK, True), (8, 37, NAVY, NAVY_DK, True),
        (7, 27, BRICK, BRICK_DK, False),
    ]
    for bw, bh, body, edge, band in books:
        x0, x1 = x * s, (x + bw) * s
        top = base - bh * s
        d.rectangle([x0, top, x1 - 1, base - 1], fill=edge)
        d.rectangle([x0 + s, top + s, x1 - s - 1, base - 1], fill=body)
        if band:
            for bt in (3, bh - 6):
                d.rectangle([x0 + s, top + bt * s, x1 - s - 1, top + (bt + 2) * s - 1], fill=GOLD)
        x += bw
    return x


def draw_banner():
    w, h = BANNER_SIZE
    s = 4  # shapes are drawn four times larger, then reduced
    big = Image.new("RGB", (w * s, h * s))
    d = ImageDraw.Draw(big)
    top, bottom = (252, 249, 240), (238, 230, 212)
    for y in range(h * s):
        t = y / (h * s - 1)
        d.line([(0, y), (w * s, y)],
               fill=tuple(round(a + (b - a) * t) for a, b in zip(top, bottom)))
    shelf_top = 47 * s
    # Spines on the right; the last one leans against its neighbour.
    end = draw_spines(d, 232, shelf_top, s)
    # Tipped over until its top-left corner touches the last spine.
    leaning_book(Grid(d, s), end + 30 * math.sin(math.radians(16)), 47, 8, 30, 16,
                 TEAL, TEAL_DK, bands=(3,))
    # The shelf board across the whole width.
    d.rectangle([0, shelf_top, w * s, shelf_top + 2 * s - 1], fill=WOOD_LT)
    d.rectangle([0, shelf_top + 2 * s, w * s, shelf_top + 6 * s - 1], fill=WOOD)
    d.rectangle([0, shelf_top + 6 * s, w * s, shelf_top + 7 * s - 1], fill=WOOD_DK)
    img = big.resize((w, h), Image.Resampling.BOX)

    # Text is rendered at its final size so FreeType's hinting keeps it sharp.
    d = ImageDraw.Draw(img)
    title = ImageFont.truetype(FONT_PGOTHIC, 34)
    sub = ImageFont.truetype(FONT_PGOTHIC, 14)
    small = ImageFont.truetype(FONT_PGOTHIC, 10)
    d.text((15, 40), "ブクレア", font=title, fill=(196, 186, 164), anchor="ls")  # soft shadow
    d.text((14, 39), "ブクレア", font=title, fill=NAVY_DK, anchor="ls")
    tx = 14 + d.textlength("ブクレア", font=title) + 12
    d.text((tx, 39), "蔵書管理", font=sub, fill=BRICK_DK, anchor="ls")
    d.line([(tx, 19), (tx + d.textlength("蔵書管理", font=sub), 19)], fill=OCHRE, width=2)
    d.text((tx, 17), "Book Catalogue", font=small, fill=WOOD, anchor="ls")
    return img


def quantize_256(img):
    """Exactly 256 palette entries; unused slots are padded with grey."""
    q = img.quantize(colors=256, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    pal = q.getpalette()[:768]
    used = len(pal) // 3
    for k in range(used, 256):
        pal += [k, k, k]
    q.putpalette(pal)
    return q


# ---------------------------------------------------------------- checks

class Checks:
    def __init__(self):
        self.failures = []
        self.lines = []

    def report(self):
        """Prints every check; returns the exit status."""
        for line in self.lines:
            print(line)
        if self.failures:
            print(f"{len(self.failures)} check(s) failed", file=sys.stderr)
            return 1
        print(f"all {len(self.lines)} checks passed")
        return 0

    def expect(self, cond, what):
        self.lines.append(("ok   " if cond else "FAIL ") + what)
        if not cond:
            self.failures.append(what)


def check_ico(c, path, source_images=None):
    data = path.read_bytes()
    name = path.name
    try:
        entries = parse_ico(data)
    except ValueError as e:
        c.expect(False, f"{name}: {e}")
        return
    c.expect(len(entries) == 2, f"{name}: two images (found {len(entries)})")
    want = [(16, 4, 16), (32, 8, 0)]
    for e, (size, bpp, cc) in zip(entries, want):
        c.expect((e["width"], e["height"]) == (size, size), f"{name}: {size}x{size} image present")
        c.expect(e["bpp"] == bpp, f"{name}: {size}x{size} at {bpp} bpp (header says {e['bpp']})")
        c.expect(e["palette_size"] == 1 << bpp, f"{name}: {size}x{size} palette of {1 << bpp} colours")
        c.expect(e["colour_count"] == cc, f"{name}: {size}x{size} directory colour count {cc}")
        alpha = e["image"].getchannel("A")
        lo, hi = alpha.getextrema()
        c.expect(lo == 0 and hi == 255, f"{name}: {size}x{size} mask has both opaque and clear pixels")
    if source_images is not None:
        for e, src in zip(entries, source_images):
            c.expect(e["image"].tobytes() == src.tobytes(),
                     f"{name}: {e['width']}x{e['height']} reads back pixel for pixel")
    try:
        with Image.open(path) as im:
            sizes = sorted(im.info.get("sizes", []))
            im.load()
        c.expect(sizes == [(16, 16), (32, 32)], f"{name}: PIL opens it, sizes {sizes}")
    except Exception as e:  # any decoder complaint is a failed check
        c.expect(False, f"{name}: PIL cannot open it: {e}")


def check_gif(c, path, source=None):
    data = path.read_bytes()
    name = path.name
    try:
        info = parse_gif(data)
    except ValueError as e:
        c.expect(False, f"{name}: {e}")
        return
    c.expect(info["version"] == b"GIF89a", f"{name}: header GIF89a ({info['version']!r})")
    c.expect((info["width"], info["height"]) == BANNER_SIZE,
             f"{name}: logical screen {info['width']}x{info['height']}")
    c.expect(info["global_table"] and info["table_size_field"] == 7,
             f"{name}: global colour table, size field {info['table_size_field']} (256 entries)")
    c.expect(len(info["frames"]) == 1, f"{name}: one frame ({len(info['frames'])})")
    if info["frames"]:
        f = info["frames"][0]
        c.expect(f["interlaced"], f"{name}: image descriptor interlace flag set")
        c.expect(not f["local_table"], f"{name}: no local colour table")
        c.expect(f["rect"] == (0, 0) + BANNER_SIZE, f"{name}: frame covers the screen {f['rect']}")
    c.expect(0xF9 not in info["extensions"] and not info["transparency"],
             f"{name}: no graphic control extension, no transparent colour")
    c.expect(info["trailing_bytes"] == 0, f"{name}: ends with the trailer")
    try:
        with Image.open(path) as im:
            im.load()
            n = getattr(im, "n_frames", 1)
            decoded = im.convert("RGB")
        c.expect(n == 1, f"{name}: PIL sees {n} frame")
        if source is not None:
            c.expect(decoded.tobytes() == source.convert("RGB").tobytes(),
                     f"{name}: PIL decodes the interlaced LZW data to the drawn picture")
    except Exception as e:
        c.expect(False, f"{name}: PIL cannot decode it: {e}")


def check_png(c, path):
    try:
        with Image.open(path) as im:
            im.load()
            c.expect(im.format == "PNG" and im.mode == "RGBA" and im.size == (PNG_SIZE, PNG_SIZE),
                     f"{path.name}: PNG {im.mode} {im.size[0]}x{im.size[1]}")
    except Exception as e:
        c.expect(False, f"{path.name}: PIL cannot open it: {e}")


def self_test_codecs(c):
    """Round trips through the two encoders on awkward inputs: long runs that
    fill the LZW table, noise that resets it often, odd row lengths."""
    import random
    rnd = random.Random(8)
    cases = {
        "flat": [[0] * 330 for _ in range(56)],
        "noise": [[rnd.randrange(256) for _ in range(330)] for _ in range(56)],
        "ramp": [[(x + y) % 256 for x in range(330)] for y in range(56)],
        "few rows": [[rnd.randrange(4) for _ in range(17)] for _ in range(3)],
    }
    for label, rows in cases.items():
        img = Image.new("P", (len(rows[0]), len(rows)))
        img.putdata([v for row in rows for v in row])
        img.putpalette([k for i in range(256) for k in (i, 255 - i, (i * 7) % 256)])
        try:
            with Image.open(io.BytesIO(build_gif(img))) as back:
                back.load()
                ok = back.convert("RGB").tobytes() == img.convert("RGB").tobytes()
        except Exception:
            ok = False
        c.expect(ok, f"GIF encoder round trip: {label}")
    for bpp, size in ((4, 16), (8, 32), (4, 5), (8, 3)):
        img = Image.new("RGBA", (size, size))
        img.putdata([(rnd.randrange(1, 256), rnd.randrange(256), rnd.randrange(256),
                      rnd.choice((0, 255))) for _ in range(size * size)])
        img.putpixel((0, 0), (1, 2, 3, 255))
        img.putpixel((size - 1, size - 1), (0, 0, 0, 0))
        palette, indices, opaque = to_indexed(img, bpp)
        entry = parse_ico(build_ico([(img, bpp)]))[0]
        expect = Image.new("RGBA", (size, size))
        expect.putdata([palette[indices[y][x]] + (255,) if opaque[y][x] else (0, 0, 0, 0)
                        for y in range(size) for x in range(size)])
        c.expect(entry["image"].tobytes() == expect.tobytes(),
                 f"ICO writer round trip: {size}x{size} at {bpp} bpp")


# ----------------------------------------------------------------- main

def make_all():
    shelf16 = pixel_art(SHELF_16, SHELF_16_KEYS)
    plus16 = pixel_art(BOOK_PLUS_16, BOOK_PLUS_16_KEYS)
    shelf32 = render_vector(draw_shelf, 32)
    plus32 = render_vector(draw_book_plus, 32)
    png = render_vector(draw_shelf, PNG_SIZE)
    banner = quantize_256(draw_banner())
    return {
        "bukurea.ico": [(shelf16, 4), (shelf32, 8)],
        "main.ico": [(plus16, 4), (plus32, 8)],
        "bukurea.png": png,
        "banner.gif": banner,
    }


def ico_expected(images):
    """What an ICO reader should see for each image: the palette colours
    where the mask is clear-bit, transparent elsewhere."""
    out = []
    for img, bpp in images:
        palette, indices, opaque = to_indexed(img, bpp)
        w, h = img.size
        e = Image.new("RGBA", (w, h))
        e.putdata([palette[indices[y][x]] + (255,) if opaque[y][x] else (0, 0, 0, 0)
                   for y in range(h) for x in range(w)])
        out.append(e)
    return out


def write_previews(made, outdir):
    outdir.mkdir(parents=True, exist_ok=True)
    for name in ("bukurea.ico", "main.ico"):
        for img, expected in zip((i for i, _ in made[name]), ico_expected(made[name])):
            w = img.size[0]
            board = Image.new("RGBA", (w * 3, w), (255, 255, 255, 255))
            board.paste(Image.new("RGBA", (w, w), (212, 208, 200, 255)), (w, 0))
            board.paste(Image.new("RGBA", (w, w), (40, 40, 48, 255)), (2 * w, 0))
            for k in range(3):
                board.alpha_composite(expected, (k * w, 0))
            board.resize((w * 3 * (256 // w), 256), Image.Resampling.NEAREST).save(
                outdir / f"{name[:-4]}_{w}.png")
    png = made["bukurea.png"]
    board = Image.new("RGBA", (PNG_SIZE * 2, PNG_SIZE), (255, 255, 255, 255))
    board.paste(Image.new("RGBA", (PNG_SIZE, PNG_SIZE), (40, 40, 48, 255)), (PNG_SIZE, 0))
    board.alpha_composite(png, (0, 0))
    board.alpha_composite(png, (PNG_SIZE, 0))
    board.resize((PNG_SIZE * 8, PNG_SIZE * 4), Image.Resampling.NEAREST).save(outdir / "bukurea_png.png")
    banner = made["banner.gif"].convert("RGB")
    banner.resize((BANNER_SIZE[0] * 3, BANNER_SIZE[1] * 3), Image.Resampling.NEAREST).save(
        outdir / "banner_x3.png")
    # The banner as the start menu shows it: 332 px wide window, 2 px frame.
    window = Image.new("RGB", (332, 149), (239, 239, 239))
    wd = ImageDraw.Draw(window)
    wd.rectangle([0, 0, 349, 58], outline=(160, 160, 160))
    window.paste(banner, (2, 2))
    wd.rectangle([56, 78, 272, 97], fill=(255, 255, 255), outline=(160, 160, 160))
    wd.text((60, 80), "プルダウンで選択してください", font=ImageFont.truetype(FONT_PGOTHIC, 12),
            fill=(0, 0, 0))
    wd.rectangle([128, 110, 224, 134], outline=(120, 120, 120))
    wd.rectangle([232, 110, 312, 134], outline=(120, 120, 120))
    window.resize((332 * 2, 149 * 2), Image.Resampling.NEAREST).save(outdir / "banner_in_menu.png")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--check", action="store_true", help="only check the files in assets/")
    ap.add_argument("--preview", type=Path, help="write enlarged PNG previews into this folder")
    args = ap.parse_args()

    c = Checks()
    self_test_codecs(c)
    made = None
    if not args.check:
        made = make_all()
        ASSETS.mkdir(exist_ok=True)
        for name in ("bukurea.ico", "main.ico"):
            (ASSETS / name).write_bytes(build_ico(made[name]))
        made["bukurea.png"].save(ASSETS / "bukurea.png", optimize=True)
        (ASSETS / "banner.gif").write_bytes(build_gif(made["banner.gif"]))
        if args.preview:
            write_previews(made, args.preview)

    for name in ("bukurea.ico", "main.ico"):
        check_ico(c, ASSETS / name, ico_expected(made[name]) if made else None)
    check_gif(c, ASSETS / "banner.gif", made["banner.gif"] if made else None)
    check_png(c, ASSETS / "bukurea.png")
    if made:
        a = parse_ico((ASSETS / "bukurea.ico").read_bytes())
        b = parse_ico((ASSETS / "main.ico").read_bytes())
        differs = all(x["image"].tobytes() != y["image"].tobytes() for x, y in zip(a, b))
        c.expect(differs, "main.ico differs from bukurea.ico at both sizes")

    return c.report()


if __name__ == "__main__":
    sys.exit(main())
