#!/usr/bin/env python3
"""Generate the OCTO816.EXE artwork (status lamps, logo, application icon).

Python 3 standard library only: the BMP and ICO bytes are written directly,
so the output is byte-for-byte reproducible. Run from anywhere:

    python3 tools/make_artwork.py [output-dir]

The default output directory is program/resources/ of the repository
that holds this script. Files written (resource id in brackets, see
resource.h):

    lamp_red.bmp         (138) 10 x 10, 24-bit
    lamp_green_tick.bmp  (139) 10 x 10, 24-bit
    lamp_grey.bmp        (140) 10 x 10, 24-bit
    lamp_white_tick.bmp  (141) 10 x 10, 24-bit
    lamp_white.bmp       (142) 10 x 10, 24-bit
    lamp_info.bmp        (143) 10 x 10, 24-bit
    logo.bmp             (145) 200 x 86, 24-bit
    octo816.ico          (128) 16, 32 and 48 pixel images, 32-bit with alpha

Lamps
-----
Each lamp is a 10 x 10 rounded square with a 1-pixel darker rim; the four
corner pixels are the dialog face colour (212,208,200) so the lamp looks
round-cornered inside a flat button. Colour of the pixel at the exact
centre (x=5, y=5, counted from the top-left) of each lamp; in every lamp
the whole 2 x 2 centre block (x=4..5, y=4..5) has that one colour:

    lamp_red.bmp         (255,   0,   0)  red
    lamp_green_tick.bmp  (  0, 192,   0)  green (the black tick runs below
                                          and to the right of the centre)
    lamp_grey.bmp        (128, 128, 128)  grey
    lamp_white_tick.bmp  (255, 255, 255)  white (tick as on the green lamp)
    lamp_white.bmp       (255, 255, 255)  white
    lamp_info.bmp        (  0,  80, 208)  blue (the stem of the letter "i")

Logo and icon
-------------
A dark eight-pin chip (four pins on each side) carrying a large amber
figure 8. The logo (200 x 86) puts the chip above the name "ZEL-OCTO816"
on a white card with rounded corners, outside the card the dialog face
colour; the icon is the chip alone on a transparent background (the 16 x 16
image is pixel art, see ICON16). Shapes and letters are drawn as
signed-distance fields and anti-aliased with a one-pixel linear ramp; the
letters come from a small stroke font defined below.
"""

import math
import os
import struct
import sys

# --------------------------------------------------------------------------
# Colours (R, G, B)

DIALOG_FACE = (212, 208, 200)
CARD = (255, 255, 255)
CARD_RIM = (160, 160, 160)
CHIP_BODY = (46, 54, 68)
CHIP_EDGE = (24, 28, 36)
PIN = (196, 198, 206)
PIN_EDGE = (112, 114, 124)
AMBER = (255, 168, 0)
NAVY = (28, 44, 82)

# --------------------------------------------------------------------------
# File writers


def bmp24(width, height, rgb_rows):
    """Bytes of an uncompressed 24-bit BMP (BITMAPINFOHEADER, bottom-up).

    rgb_rows: list of `height` rows, top row first, each a list of
    `width` (r, g, b) tuples.
    """
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rgb_rows):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += b"\0" * (stride - len(line))
        pixels += line
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0,
                       len(pixels), 2835, 2835, 0, 0)
    offset = 14 + len(info)
    head = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return head + info + pixels


def ico(images):
    """Bytes of a .ico holding 32-bit images with alpha.

    images: list of (size, rgba_rows) with rgba_rows top row first, each
    pixel an (r, g, b, a) tuple of 0..255 ints.
    """
    entries = []
    blobs = []
    for size, rows in images:
        xor = bytearray()
        for row in reversed(rows):
            for r, g, b, a in row:
                xor += bytes((b, g, r, a))
        mask_stride = ((size + 31) // 32) * 4
        mask = bytearray()
        for row in reversed(rows):
            bits = bytearray(mask_stride)
            for x, (_, _, _, a) in enumerate(row):
                if a == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bits
        info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                           len(xor) + len(mask), 0, 0, 0, 0)
        blobs.append(info + xor + mask)
        entries.append(size)
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, blob in zip(entries, blobs):
        dim = size if size < 256 else 0
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(blob),
                           offset)
        offset += len(blob)
    for blob in blobs:
        out += blob
    return bytes(out)


# --------------------------------------------------------------------------
# Lamps: drawn pixel by pixel from character maps.
#
#   .  dialog face (corner)      o  rim          f  fill
#   h  highlight                 k  black tick   b  blue letter

LAMP_PLAIN = [
    ".oooooooo.",
    "offffffffo",
    "ofhhfffffo",
    "ofhffffffo",
    "offffffffo",
    "offffffffo",
    "offffffffo",
    "offffffffo",
    "offffffffo",
    ".oooooooo.",
]

LAMP_TICK = [
    ".oooooooo.",
    "offffffffo",
    "offffffffo",
    "offfffffko",
    "offffffkko",
    "ofkfffkkfo",
    "ofkkfkkffo",
    "offkkkfffo",
    "offfkffffo",
    ".oooooooo.",
]

LAMP_I = [
    ".oooooooo.",
    "offfbbfffo",
    "offfbbfffo",
    "offffffffo",
    "offbbbfffo",
    "offfbbfffo",
    "offfbbfffo",
    "offfbbfffo",
    "offbbbbffo",
    ".oooooooo.",
]

# name: (map, fill, rim, highlight)
LAMPS = {
    "lamp_red.bmp": (LAMP_PLAIN, (255, 0, 0), (128, 0, 0), (255, 150, 150)),
    "lamp_green_tick.bmp": (LAMP_TICK, (0, 192, 0), (0, 96, 0), None),
    "lamp_grey.bmp": (LAMP_PLAIN, (128, 128, 128), (80, 80, 80),
                      (188, 188, 188)),
    "lamp_white_tick.bmp": (LAMP_TICK, (255, 255, 255), (128, 128, 128),
                            None),
    "lamp_white.bmp": (LAMP_PLAIN, (255, 255, 255), (128, 128, 128),
                       (255, 255, 255)),
    "lamp_info.bmp": (LAMP_I, (255, 255, 255), (128, 128, 128), None),
}


def lamp_rows(pattern, fill, rim, highlight):
    palette = {
        ".": DIALOG_FACE,
        "o": rim,
        "f": fill,
        "h": highlight if highlight else fill,
        "k": (0, 0, 0),
        "b": (0, 80, 208),
    }
    assert len(pattern) == 10 and all(len(r) == 10 for r in pattern)
    return [[palette[c] for c in row] for row in pattern]


# --------------------------------------------------------------------------
# Anti-aliased drawing on an RGBA float canvas


def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


class Canvas:
    def __init__(self, width, height, background=None):
        self.w = width
        self.h = height
        if background is None:
            px = (0.0, 0.0, 0.0, 0.0)
        else:
            px = (background[0], background[1], background[2], 1.0)
        self.px = [[list(px) for _ in range(width)] for _ in range(height)]

    def blend(self, x, y, colour, cover):
        """Composite `colour` over pixel (x, y) with coverage 0..1."""
        if cover <= 0.0:
            return
        d = self.px[y][x]
        a_out = cover + d[3] * (1.0 - cover)
        for i in range(3):
            d[i] = (colour[i] * cover + d[i] * d[3] * (1.0 - cover)) / a_out
        d[3] = a_out

    def erase(self, x, y, cover):
        self.px[y][x][3] *= 1.0 - cover

    def fill_sdf(self, sdf, box, colour, erase=False):
        """Fill the shape sdf(x, y) < 0 (pixel units) within box."""
        x0, y0, x1, y1 = box
        for y in range(max(0, int(math.floor(y0)) - 1),
                       min(self.h, int(math.ceil(y1)) + 1)):
            for x in range(max(0, int(math.floor(x0)) - 1),
                           min(self.w, int(math.ceil(x1)) + 1)):
                cover = clamp01(0.5 - sdf(x + 0.5, y + 0.5))
                if erase:
                    self.erase(x, y, cover)
                else:
                    self.blend(x, y, colour, cover)

    def rgb_rows(self, background):
        rows = []
        for row in self.px:
            out = []
            for r, g, b, a in row:
                out.append(tuple(int(round(c * a + bg * (1.0 - a)))
                                 for c, bg in zip((r, g, b), background)))
            rows.append(out)
        return rows

    def rgba_rows(self):
        rows = []
        for row in self.px:
            out = []
            for r, g, b, a in row:
                alpha = int(round(a * 255))
                if alpha == 0:
                    out.append((0, 0, 0, 0))
                else:
                    out.append((int(round(r)), int(round(g)), int(round(b)),
                                alpha))
            rows.append(out)
        return rows


def round_rect(x0, y0, x1, y1, radius):
    """Signed distance to a rectangle with rounded corners, plus its box."""
    cx, cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
    hx, hy = (x1 - x0) / 2.0 - radius, (y1 - y0) / 2.0 - radius

    def sdf(x, y):
        qx = abs(x - cx) - hx
        qy = abs(y - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - radius

    return sdf, (x0, y0, x1, y1)


def circle(cx, cy, radius):
    def sdf(x, y):
        return math.hypot(x - cx, y - cy) - radius

    return sdf, (cx - radius, cy - radius, cx + radius, cy + radius)


def seg_dist(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    ll = dx * dx + dy * dy
    t = 0.0 if ll == 0 else clamp01(((px - ax) * dx + (py - ay) * dy) / ll)
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def strokes(segments, radius):
    """Signed distance to a set of line segments thickened by radius."""
    xs = [c for s in segments for c in (s[0], s[2])]
    ys = [c for s in segments for c in (s[1], s[3])]
    box = (min(xs) - radius, min(ys) - radius,
           max(xs) + radius, max(ys) + radius)

    def sdf(x, y):
        return min(seg_dist(x, y, *s) for s in segments) - radius

    return sdf, box


# --------------------------------------------------------------------------
# Stroke font. Each glyph is a list of polylines in a box whose height is
# 1 (cap line at y=0, base line at y=1, y grows downwards) and whose width
# is the glyph's entry in GLYPH_WIDTH.


def arc(cx, cy, rx, ry, a0, a1, steps=40):
    """Polyline along an ellipse, angles in degrees, counter-clockwise as
    seen on screen (0 = right, 90 = up)."""
    pts = []
    for i in range(steps + 1):
        t = math.radians(a0 + (a1 - a0) * i / steps)
        pts.append((cx + rx * math.cos(t), cy - ry * math.sin(t)))
    return pts


GLYPH_WIDTH = {
    "Z": 0.60, "E": 0.52, "L": 0.50, "-": 0.34, "O": 0.78, "C": 0.66,
    "T": 0.62, "8": 0.58, "1": 0.36, "6": 0.58,
}


def glyph(ch):
    w = GLYPH_WIDTH[ch]
    if ch == "Z":
        return [[(0, 0), (w, 0), (0, 1), (w, 1)]]
    if ch == "E":
        return [[(w, 0), (0, 0), (0, 1), (w, 1)], [(0, 0.5), (w * 0.9, 0.5)]]
    if ch == "L":
        return [[(0, 0), (0, 1), (w, 1)]]
    if ch == "-":
        return [[(0, 0.58), (w, 0.58)]]
    if ch == "O":
        return [arc(w / 2, 0.5, w / 2, 0.5, 0, 360, 64)]
    if ch == "C":
        return [arc(w / 2, 0.5, w / 2, 0.5, 42, 318, 56)]
    if ch == "T":
        return [[(0, 0), (w, 0)], [(w / 2, 0), (w / 2, 1)]]
    if ch == "8":
        return [arc(w / 2, 0.255, w * 0.40, 0.255, 0, 360, 48),
                arc(w / 2, 0.735, w / 2, 0.265, 0, 360, 48)]
    if ch == "1":
        return [[(0, 0.22), (w * 0.72, 0), (w * 0.72, 1)]]
    if ch == "6":
        return [arc(w / 2, 0.70, w / 2, 0.30, 0, 360, 48),
                arc(w * 0.56, 0.64, w * 0.56, 0.64, 62, 180, 32)]
    raise KeyError(ch)


def glyph_segments(ch, x, y, height, radius):
    """Segments of glyph `ch` with its ink box's top-left at (x, y) and
    ink height `height` (the stroke's round ends included)."""
    inner = height - 2 * radius
    segs = []
    for line in glyph(ch):
        pts = [(x + radius + px * inner, y + radius + py * inner)
               for px, py in line]
        for (ax, ay), (bx, by) in zip(pts, pts[1:]):
            segs.append((ax, ay, bx, by))
    return segs


def text_width(text, height, radius, spacing):
    inner = height - 2 * radius
    return sum(GLYPH_WIDTH[c] * inner + 2 * radius for c in text) + \
        spacing * (len(text) - 1)


def draw_text(canvas, text, x, y, height, radius, spacing, colours):
    inner = height - 2 * radius
    for i, ch in enumerate(text):
        sdf, box = strokes(glyph_segments(ch, x, y, height, radius), radius)
        canvas.fill_sdf(sdf, box, colours[i])
        x += GLYPH_WIDTH[ch] * inner + 2 * radius + spacing


# --------------------------------------------------------------------------
# The chip


def draw_chip(canvas, bx0, by0, bx1, by1, pin_len, pin_h, eight_h,
              eight_r, notch_r, notch_colour=None):
    """Eight-pin chip: body box (bx0, by0)-(bx1, by1), four pins each side
    spread evenly along the body, a figure 8 of ink height eight_h in the
    middle and a pin-1 notch of radius notch_r cut into the top edge,
    filled with notch_colour (None: made transparent)."""
    body_h = by1 - by0
    pitch = body_h / 4.0
    for i in range(4):
        cy = by0 + pitch * (i + 0.5)
        for px0, px1 in ((bx0 - pin_len, bx0 + 1), (bx1 - 1, bx1 + pin_len)):
            box = (px0, cy - pin_h / 2.0, px1, cy + pin_h / 2.0)
            canvas.fill_sdf(*round_rect(*box, 0.6), PIN_EDGE)
            inset = (box[0] + 1, box[1] + 1, box[2] - 1, box[3] - 1)
            canvas.fill_sdf(*round_rect(*inset, 0.3), PIN)
    radius = max(1.0, (bx1 - bx0) / 12.0)
    canvas.fill_sdf(*round_rect(bx0, by0, bx1, by1, radius), CHIP_EDGE)
    canvas.fill_sdf(*round_rect(bx0 + 1, by0 + 1, bx1 - 1, by1 - 1,
                                radius - 0.5), CHIP_BODY)
    if notch_r > 0:
        # semicircular cut in the top edge, rimmed like the body
        cx = (bx0 + bx1) / 2.0
        ring, ring_box = circle(cx, by0, notch_r + 1)
        canvas.fill_sdf(lambda x, y: max(ring(x, y), by0 + 0.5 - y),
                        ring_box, CHIP_EDGE)
        sdf, box = circle(cx, by0, notch_r)
        if notch_colour is None:
            canvas.fill_sdf(sdf, box, None, erase=True)
        else:
            canvas.fill_sdf(sdf, box, notch_colour)
    r = eight_r
    w = GLYPH_WIDTH["8"] * (eight_h - 2 * r) + 2 * r
    ex = (bx0 + bx1) / 2.0 - w / 2.0
    ey = (by0 + by1) / 2.0 - eight_h / 2.0 + (notch_r / 3.0)
    sdf, box = strokes(glyph_segments("8", ex, ey, eight_h, r), r)
    canvas.fill_sdf(sdf, box, AMBER)


# --------------------------------------------------------------------------
# Logo

LOGO_W, LOGO_H = 200, 86


def make_logo():
    c = Canvas(LOGO_W, LOGO_H, DIALOG_FACE)
    c.fill_sdf(*round_rect(0, 0, LOGO_W, LOGO_H, 6), CARD_RIM)
    c.fill_sdf(*round_rect(1, 1, LOGO_W - 1, LOGO_H - 1, 5), CARD)
    # chip, centred horizontally in the upper part
    body_w, body_h = 40, 42
    bx0 = (LOGO_W - body_w) / 2.0
    draw_chip(c, bx0, 7, bx0 + body_w, 7 + body_h, pin_len=9, pin_h=6,
              eight_h=27, eight_r=2.4, notch_r=3.5, notch_colour=CARD)
    # name, centred below the chip
    text = "ZEL-OCTO816"
    height, radius, spacing = 16, 1.35, 2.6
    tw = text_width(text, height, radius, spacing)
    draw_text(c, text, round((LOGO_W - tw) / 2.0), 59, height, radius,
              spacing, [NAVY] * len(text))
    return c.rgb_rows(DIALOG_FACE)


# --------------------------------------------------------------------------
# Icon


# The 16 x 16 image is drawn pixel by pixel so that it stays sharp:
#   .  transparent   e  chip rim    b  chip body   a  amber figure 8
#   p  pin (top row)  q  pin (shaded bottom row)
ICON16 = [
    "................",
    "....eeeeeeee....",
    "pppebbbbbbbbeppp",
    "qqqebbbbbbbbeqqq",
    "...ebbaaaabbe...",
    "pppebaabbaabeppp",
    "qqqebaabbaabeqqq",
    "...ebbaaaabbe...",
    "...ebaabbaabe...",
    "pppebaabbaabeppp",
    "qqqebaabbaabeqqq",
    "...ebbaaaabbe...",
    "pppebbbbbbbbeppp",
    "qqqebbbbbbbbeqqq",
    "....eeeeeeee....",
    "................",
]


def make_icon(size):
    if size == 16:
        palette = {"e": CHIP_EDGE, "b": CHIP_BODY, "a": AMBER,
                   "p": PIN, "q": PIN_EDGE}
        assert len(ICON16) == 16 and all(len(r) == 16 for r in ICON16)
        return [[(0, 0, 0, 0) if ch == "." else palette[ch] + (255,)
                 for ch in row] for row in ICON16]
    c = Canvas(size, size)
    if size == 32:
        draw_chip(c, 8, 1, 24, 31, pin_len=6, pin_h=4, eight_h=19,
                  eight_r=1.6, notch_r=2.5)
    else:
        draw_chip(c, 12, 2, 36, 46, pin_len=9, pin_h=6, eight_h=28,
                  eight_r=2.4, notch_r=3.5)
    return c.rgba_rows()


# --------------------------------------------------------------------------


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = argv[1] if len(argv) > 1 else os.path.join(
        here, os.pardir, "program", "resources")
    out_dir = os.path.normpath(out_dir)
    os.makedirs(out_dir, exist_ok=True)

    def write(name, data):
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(data)
        print("wrote", os.path.join(out_dir, name), len(data), "bytes")

    for name, (pattern, fill, rim, hl) in LAMPS.items():
        write(name, bmp24(10, 10, lamp_rows(pattern, fill, rim, hl)))
    write("logo.bmp", bmp24(LOGO_W, LOGO_H, make_logo()))
    write("octo816.ico",
          ico([(s, make_icon(s)) for s in (16, 32, 48)]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
