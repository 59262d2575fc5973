#!/usr/bin/python3
"""Draws every picture of the Corvamon main window and writes it to monitor/res/.

Run from anywhere:  /usr/bin/python3 tools/art/make_art.py

Everything is drawn at SS times the final size and reduced with LANCZOS, so
edges come out anti-aliased.  The output only depends on this file, Pillow
and the DejaVu/Tahoma font files: no dates, no randomness.  Running it twice
gives byte-identical files.

Besides the pictures it writes the files that must agree with them:
skin_layout.h (where the program puts each child window), resource.h,
corvamon.rc and corvamon.manifest.

Options:
  --sheet PATH   also write a large review sheet (all states, icons
                 enlarged) to PATH; it is not part of the product.
"""

import io
import math
import os
import struct
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
OUT = os.path.join(ROOT, "monitor", "res")

SS = 4  # supersampling factor

# The art scale being drawn, in percent (100, 150, 200): every picture of the windows is drawn
# at each of ART_SCALES, at its size, from the same 96-DPI geometry.  The program picks the one
# nearest to the screen's DPI (common/core/dpi_scale.h); the bitmap of resource N at 150 % is
# N + 1000, at 200 % N + 2000.
ART_SCALES = (100, 150, 200)
SCALED_ID_STEP = 1000
SCALE = 100


def set_scale(percent):
    global SCALE
    SCALE = percent


def px(v, percent=None):
    """A whole length in 96-DPI units at the current scale, rounded halves up, as the program's
    MulDiv-style ScaleBy does (so a picture and its place agree to the pixel)."""
    percent = SCALE if percent is None else percent
    return (v * percent + 50) // 100 if v >= 0 else -((-v * percent + 50) // 100)


def px_rect(r):
    return tuple(px(v) for v in r)


def scaled_id(num, percent):
    return num + SCALED_ID_STEP * ART_SCALES.index(percent)


def suffix(percent):
    return "" if percent == 100 else "_%d" % percent

DEJAVU_DIR = "/usr/share/fonts/truetype/dejavu"
BRAND_FONT = os.path.join(DEJAVU_DIR, "DejaVuSans-Bold.ttf")
# The program draws its labels with Tahoma.  Wine ships a metric-compatible
# Tahoma; the preview uses it when present so the text widths are honest.
PREVIEW_FONTS = {
    False: ["/usr/share/wine/fonts/tahoma.ttf", os.path.join(DEJAVU_DIR, "DejaVuSans.ttf")],
    True: ["/usr/share/wine/fonts/tahomabd.ttf", os.path.join(DEJAVU_DIR, "DejaVuSans-Bold.ttf")],
}

# --------------------------------------------------------------------------
# Palette (sRGB)
# --------------------------------------------------------------------------
BG_TOP = (33, 39, 47)
BG_BOTTOM = (18, 22, 27)
TITLE_TOP = (45, 53, 63)
TITLE_BOTTOM = (35, 42, 50)
FRAME = (58, 69, 82)
PANEL = (38, 46, 55)          # cards: flat, so labels may fill with it
PANEL_EDGE = (54, 64, 76)
PANEL_SHINE = (62, 73, 86)
WELL = (22, 27, 33)           # label wells: flat, so labels may fill with it
WELL_SHADE = (13, 16, 20)
WELL_LIP = (50, 60, 71)

TEXT = (236, 242, 245)        # values
TITLE_TEXT = (139, 156, 173)  # row titles, small texts
MESSAGE_TEXT = (120, 214, 192)
BRAND_TEXT = (226, 233, 239)

TEAL = (46, 200, 170)
TEAL_HI = (104, 230, 204)
TEAL_LO = (22, 146, 126)
AMBER = (245, 168, 58)
AMBER_HI = (255, 208, 120)
AMBER_LO = (196, 118, 22)
RED = (233, 76, 82)
RED_HI = (255, 138, 140)
RED_LO = (178, 40, 48)

GLYPH = (212, 223, 232)
GLYPH_HOVER = (246, 250, 252)
GLYPH_DOWN = (178, 192, 204)

# --------------------------------------------------------------------------
# Layout: (name, x, y, w, h, comment).  Child windows go exactly here.
# --------------------------------------------------------------------------
W, H = 400, 260
TITLE_H = 30

LAYOUT = [
    ("kSkin", 0, 0, W, H, "ImgSkin: the whole window, IDB_SKIN"),
    ("kTitleBar", 0, 0, W, TITLE_H, "drag area (the buttons inside it excluded)"),
    ("kIBMin", 342, 3, 24, 24, "IBMin: minimise, IDB_MIN_*"),
    ("kIBClose", 368, 3, 24, 24, "IBClose: close, IDB_CLOSE_*"),
    ("kImgMainBat", 26, 44, 64, 64, "ImgMainBat: IDB_BATTERY"),
    ("kLblIdenti", 20, 123, 76, 16, "lblidenti: \"Autoprueba\", small font"),
    ("kLblTit0", 132, 51, 66, 16, "lbltit(0): \"Salida\""),
    ("kLblTit1", 132, 89, 66, 16, "lbltit(1): \"Frecuencia\""),
    ("kLblTit2", 132, 127, 66, 16, "lbltit(2): \"Linea\" (accented i)"),
    ("kLblVolt", 209, 49, 170, 20, "lblvolt: \"120.0 Volts\" / \"Monitoreando Equipo\""),
    ("kLblFr", 209, 87, 170, 20, "lblfr: \"60.0 Hz\""),
    ("kLblOp", 209, 125, 170, 20, "lblop: \" Normal\" / \"Sobrecarga\" / \"Bateria\""),
    ("kIMBatG", 17, 180, 176, 24, "IMBatG: charge gauge, IDB_GAUGE_00 + tenths"),
    ("kLblBat", 203, 182, 70, 20, "lblbat: \"100.00 %\""),
    ("kImgConn", 283, 176, 32, 32, "ImgConn: IDB_LINK_SERIAL / IDB_LINK_USB"),
    ("kIBMute", 317, 176, 32, 32, "IBMute: IDB_SOUND_* / IDB_MUTE_*"),
    ("kIBTest", 351, 176, 32, 32, "IBTest: IDB_TEST_*"),
    ("kLblMsg", 14, 229, 372, 20, "lblmsg: status line"),
]
R = {name: (x, y, w, h) for name, x, y, w, h, _ in LAYOUT}

# Decorative geometry of the skin (no child windows live here).
CARD_BATTERY = (8, 36, 100, 122)
CARD_READINGS = (114, 36, 278, 122)
CARD_BOTTOM = (8, 164, 384, 56)
CARD_RADIUS = 8
ROW_Y = (44, 82, 120)          # reading rows, 30 px high
VALUE_WELL_X, VALUE_WELL_W = 204, 180
WELL_RADIUS = 6
WELLS = [
    (16, 119, 84, 24),                               # lblidenti
    (VALUE_WELL_X, ROW_Y[0], VALUE_WELL_W, 30),      # lblvolt
    (VALUE_WELL_X, ROW_Y[1], VALUE_WELL_W, 30),      # lblfr
    (VALUE_WELL_X, ROW_Y[2], VALUE_WELL_W, 30),      # lblop
    (199, 178, 78, 28),                              # lblbat
    (8, 226, 384, 26),                               # lblmsg
]
WELL_OF_LABEL = {
    "kLblIdenti": 0, "kLblVolt": 1, "kLblFr": 2, "kLblOp": 3, "kLblBat": 4, "kLblMsg": 5,
}
# Title labels sit straight on the readings card.
TITLE_LABELS = ("kLblTit0", "kLblTit1", "kLblTit2")

# Font hints for the program (em height in pixels, lfHeight = -px).
VALUE_FONT_PX = 15
TITLE_FONT_PX = 12
SMALL_FONT_PX = 11
BAT_FONT_PX = 13


# --------------------------------------------------------------------------
# Small drawing kit.  Coordinates are in final pixels (floats allowed); the
# kit multiplies by SS.  Each shape is drawn as a coverage mask and then
# composited, so overlapping shapes blend properly.
# --------------------------------------------------------------------------
class Layer:
    """A picture of w x h in 96-DPI units drawn at `scale` percent (the current art scale unless
    told; icons, whose sizes are pixels already, pass 100)."""

    def __init__(self, w, h, scale=None):
        pct = SCALE if scale is None else scale
        self.k = pct / 100.0
        self.w, self.h = w, h
        self.pw, self.ph = px(w, pct), px(h, pct)
        self.im = Image.new("RGBA", (self.pw * SS, self.ph * SS), (0, 0, 0, 0))

    def _s(self, v):
        return int(round(v * SS * self.k))

    def blur(self, m, radius):
        """A mask blurred by `radius` units."""
        return m.filter(ImageFilter.GaussianBlur(radius * SS * self.k))

    # masks -------------------------------------------------------------
    def mask(self):
        return Image.new("L", self.im.size, 0)

    def m_rrect(self, x, y, w, h, r, m=None, value=255):
        m = m or self.mask()
        ImageDraw.Draw(m).rounded_rectangle(
            (self._s(x), self._s(y), self._s(x + w) - 1, self._s(y + h) - 1), radius=self._s(r), fill=value)
        return m

    def m_rect(self, x, y, w, h, m=None, value=255):
        m = m or self.mask()
        ImageDraw.Draw(m).rectangle((self._s(x), self._s(y), self._s(x + w) - 1, self._s(y + h) - 1), fill=value)
        return m

    def m_ellipse(self, cx, cy, rx, ry=None, m=None, value=255):
        ry = rx if ry is None else ry
        m = m or self.mask()
        ImageDraw.Draw(m).ellipse(
            (self._s(cx - rx), self._s(cy - ry), self._s(cx + rx) - 1, self._s(cy + ry) - 1), fill=value)
        return m

    def m_polygon(self, pts, m=None, value=255):
        m = m or self.mask()
        ImageDraw.Draw(m).polygon([(self._s(x), self._s(y)) for x, y in pts], fill=value)
        return m

    def m_lines(self, pts, width, m=None, value=255, closed=False):
        """Polyline with round caps and joins."""
        m = m or self.mask()
        d = ImageDraw.Draw(m)
        pts = list(pts) + ([pts[0]] if closed else [])
        sp = [(self._s(x), self._s(y)) for x, y in pts]
        wpx = max(1, self._s(width))
        for a, b in zip(sp, sp[1:]):
            d.line([a, b], fill=value, width=wpx)
        rr = width * SS * self.k / 2.0
        for x, y in sp:
            d.ellipse((x - rr, y - rr, x + rr - 1, y + rr - 1), fill=value)
        return m

    def m_arc(self, cx, cy, r, start, end, width, m=None, value=255):
        """Arc with round caps; angles in degrees, 0 = east, clockwise."""
        m = m or self.mask()
        d = ImageDraw.Draw(m)
        ro = r + width / 2.0
        d.arc((self._s(cx - ro), self._s(cy - ro), self._s(cx + ro) - 1, self._s(cy + ro) - 1),
              start, end, fill=value, width=self._s(width))
        for a in (start, end):
            px = cx + r * math.cos(math.radians(a))
            py = cy + r * math.sin(math.radians(a))
            self.m_ellipse(px, py, width / 2.0, m=m, value=value)
        return m

    # painting ----------------------------------------------------------
    def paint(self, m, fill, opacity=1.0):
        """fill: (r,g,b) / (r,g,b,a) or an RGB(A) image of the layer's size."""
        if isinstance(fill, Image.Image):
            src = fill.convert("RGBA")
            a = _mul(src.getchannel("A"), m)
        else:
            src = Image.new("RGBA", self.im.size, tuple(fill[:3]) + (255,))
            a = m if len(fill) < 4 else _scale(m, fill[3] / 255.0)
        if opacity != 1.0:
            a = _scale(a, opacity)
        src.putalpha(a)
        self.im.alpha_composite(src)

    def vgrad(self, top, bottom, y0=0, y1=None):
        return vgradient(self.im.size, top, bottom, self._s(y0), self._s(y1 if y1 is not None else self.h))

    def glow(self, m, colour, radius, opacity):
        blurred = self.blur(m, radius)
        self.paint(blurred, colour, opacity)

    def result(self, resample=Image.LANCZOS):
        """Down-sampled RGBA image at the final size (premultiplied while resizing)."""
        return self.im.convert("RGBa").resize((self.pw, self.ph), resample).convert("RGBA")


def _mul(a, b):
    return ImageChops.multiply(a, b)


def _scale(m, k):
    k = max(0.0, min(1.0, k))
    return m.point(lambda v: int(round(v * k)))


def vgradient(size, top, bottom, y0, y1):
    """RGB image with a vertical gradient between rows y0 and y1."""
    w, h = size
    col = Image.new("RGB", (1, h))
    span = max(1, y1 - y0 - 1)
    px = []
    for y in range(h):
        t = min(1.0, max(0.0, (y - y0) / span))
        px.append(tuple(int(round(top[i] + (bottom[i] - top[i]) * t)) for i in range(3)))
    col.putdata(px)
    return col.resize((w, h), Image.NEAREST)


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def font(path, px):
    return ImageFont.truetype(path, px)


def first_font(bold, px):
    for p in PREVIEW_FONTS[bold]:
        if os.path.exists(p):
            return ImageFont.truetype(p, px)
    raise SystemExit("no usable font found")


# --------------------------------------------------------------------------
# Skin
# --------------------------------------------------------------------------
def draw_card(L, x, y, w, h):
    # soft drop shadow first
    sh = L.m_rrect(x, y + 2, w, h, CARD_RADIUS)
    L.paint(L.blur(sh, 3), (0, 0, 0), 0.45)
    L.paint(L.m_rrect(x, y, w, h, CARD_RADIUS), PANEL_EDGE)
    L.paint(L.m_rrect(x + 1, y + 1, w - 2, h - 2, CARD_RADIUS - 1), PANEL_SHINE)
    L.paint(L.m_rrect(x + 1, y + 2, w - 2, h - 3, CARD_RADIUS - 1), PANEL)


def draw_well(L, x, y, w, h, r=WELL_RADIUS):
    # a shallow recess: darker rim on top, a faint lip below, flat inside
    L.paint(L.m_rrect(x, y + 1, w, h, r), WELL_LIP, 0.55)
    L.paint(L.m_rrect(x, y, w, h, r), WELL_SHADE)
    L.paint(L.m_rrect(x + 0.5, y + 1.25, w - 1, h - 1.5, r - 0.5), WELL)


def make_skin():
    L = Layer(W, H)
    L.paint(L.m_rect(0, 0, W, H), L.vgrad(BG_TOP, BG_BOTTOM))

    # title bar
    L.paint(L.m_rect(0, 0, W, TITLE_H), L.vgrad(TITLE_TOP, TITLE_BOTTOM, 0, TITLE_H))
    L.paint(L.m_rect(0, TITLE_H, W, 1), (14, 17, 21))
    L.paint(L.m_rect(0, TITLE_H + 1, W, 1), (255, 255, 255), 0.035)
    # thin accent along the top edge, fading out towards the sides
    accent = Image.new("RGB", L.im.size, TEAL)
    fw = L.im.size[0]
    fade = Image.new("L", (fw, 1))
    fade.putdata([int(round(255 * (math.sin(math.pi * i / (fw - 1)) ** 1.6)))
                  for i in range(fw)])
    fade = fade.resize(L.im.size, Image.NEAREST)
    L.paint(_mul(L.m_rect(0, 0, W, 2), fade), accent, 0.85)

    for c in (CARD_BATTERY, CARD_READINGS, CARD_BOTTOM):
        draw_card(L, *c)

    # a soft teal halo where the battery picture sits
    bx, by, bw, bh = R["kImgMainBat"]
    halo = L.m_ellipse(bx + bw / 2, by + bh / 2 + 2, 24, 26)
    L.paint(L.blur(halo, 9), TEAL, 0.16)

    for wl in WELLS:
        draw_well(L, *wl)

    # accent pips beside the reading titles
    for ry in ROW_Y:
        L.paint(L.m_rrect(123, ry + 8, 3, 14, 1.5), TEAL, 0.9)

    # hairline that separates the link/sound/test cluster from the gauge
    cx, cy = R["kImgConn"][0] - 3, R["kImgConn"][1]
    L.paint(L.m_rect(cx, cy, 1, 32), (14, 17, 21), 0.8)
    L.paint(L.m_rect(cx + 1, cy, 1, 32), (255, 255, 255), 0.05)

    # window frame
    frame = L.m_rect(0, 0, W, H)
    L.m_rect(1, 1, W - 2, H - 2, m=frame, value=0)
    L.paint(frame, FRAME)

    skin = L.result().convert("RGB")

    # Make the areas under the labels exactly flat (LANCZOS may leave the
    # odd +-1), so a label that paints its own background matches.
    d = ImageDraw.Draw(skin)
    for name, idx in WELL_OF_LABEL.items():
        x, y, w, h = WELLS[idx]
        check_inside_rounded(R[name], (x, y, w, h), WELL_RADIUS)
        lx, ly, lw, lh = px_rect(R[name])
        d.rectangle((lx, ly, lx + lw - 1, ly + lh - 1), fill=WELL)
    for name in TITLE_LABELS:
        lx, ly, lw, lh = px_rect(R[name])
        d.rectangle((lx, ly, lx + lw - 1, ly + lh - 1), fill=PANEL)

    # brand mark: logo + name, drawn at the scale's own size
    logo = render_app_icon(px(18))
    skin.paste(logo, (px(10), px(6)), logo)
    f = font(BRAND_FONT, px(13))
    d.text((px(34), px(15)), "Corvamon", font=f, fill=BRAND_TEXT, anchor="lm")
    return skin


def check_inside_rounded(label, well, r):
    lx, ly, lw, lh = label
    x, y, w, h = well
    assert x <= lx and y <= ly and lx + lw <= x + w and ly + lh <= y + h, (label, well)
    for dx, dy in ((lx - x, ly - y), (x + w - lx - lw, ly - y),
                   (lx - x, y + h - ly - lh), (x + w - lx - lw, y + h - ly - lh)):
        if dx < r and dy < r:
            assert (r - dx) ** 2 + (r - dy) ** 2 <= (r - 1) ** 2, (label, well)


# --------------------------------------------------------------------------
# Pictures drawn over the skin
# --------------------------------------------------------------------------
def compose(skin, rect, layer_img):
    x, y, w, h = px_rect(rect)
    assert layer_img.size == (w, h), (rect, layer_img.size)
    base = skin.crop((x, y, x + w, y + h)).convert("RGBA")
    base.alpha_composite(layer_img)
    return base.convert("RGB")


LEVEL_COLOURS = {
    "red": (RED, RED_HI, RED_LO),
    "amber": (AMBER, AMBER_HI, AMBER_LO),
    "teal": (TEAL, TEAL_HI, TEAL_LO),
}


def level_colour(tenths):
    if tenths <= 2:
        return "red"
    if tenths <= 4:
        return "amber"
    return "teal"


def make_gauge(tenths):
    x, y, w, h = R["kIMBatG"]
    L = Layer(w, h)
    draw_well(L, 0, 0, w, h - 1, 6)
    pad, gap, n = 4, 2, 10
    seg_w = (w - 2 * pad - gap * (n - 1)) / n
    seg_h = h - 1 - 2 * pad
    base, hi, lo = LEVEL_COLOURS[level_colour(tenths)]
    lit = L.mask()
    for i in range(n):
        sx = pad + i * (seg_w + gap)
        if i < tenths:
            L.m_rrect(sx, pad, seg_w, seg_h, 2, m=lit)
        else:
            L.paint(L.m_rrect(sx, pad, seg_w, seg_h, 2), (40, 48, 58))
            L.paint(L.m_rrect(sx, pad, seg_w, 1, 0.5), (255, 255, 255), 0.04)
    if tenths:
        L.glow(lit, base, 1.5, 0.35)
        L.paint(lit, L.vgrad(hi, lo, pad, pad + seg_h))
        shine = L.mask()
        for i in range(tenths):
            sx = pad + i * (seg_w + gap)
            L.m_rrect(sx + 1, pad + 1, seg_w - 2, seg_h * 0.38, 1.5, m=shine)
        L.paint(shine, (255, 255, 255), 0.16)
    return L.result()


def button_body(L, state, radius=7):
    x, y, s = 2, 2, L.w - 4
    if state == "hover":
        L.glow(L.m_rrect(x, y, s, s, radius), TEAL, 1.6, 0.55)
        L.paint(L.m_rrect(x, y, s, s, radius), (72, 150, 138))
        L.paint(L.m_rrect(x + 1, y + 1, s - 2, s - 2, radius - 1),
                L.vgrad((66, 79, 93), (52, 62, 74), y, y + s))
    elif state == "down":
        L.paint(L.m_rrect(x, y, s, s, radius), (20, 25, 30))
        L.paint(L.m_rrect(x + 1, y + 1, s - 2, s - 2, radius - 1),
                L.vgrad((27, 33, 40), (36, 43, 52), y, y + s))
    else:
        L.paint(L.m_rrect(x, y + 1, s, s, radius), (0, 0, 0), 0.35)
        L.paint(L.m_rrect(x, y, s, s, radius), (68, 80, 94))
        L.paint(L.m_rrect(x + 1, y + 1, s - 2, s - 2, radius - 1),
                L.vgrad((56, 66, 78), (44, 53, 63), y, y + s))


def glyph_colour(state):
    return {"hover": GLYPH_HOVER, "down": GLYPH_DOWN}.get(state, GLYPH)


def speaker_mask(L, dx, dy):
    m = L.mask()
    L.m_rrect(7.5 + dx, 12.5 + dy, 5, 7, 1, m=m)
    L.m_polygon([(11.5 + dx, 12.5 + dy), (17 + dx, 8 + dy), (17 + dx, 24 + dy),
                 (11.5 + dx, 19.5 + dy)], m=m)
    L.m_lines([(17 + dx, 8.6 + dy), (17 + dx, 23.4 + dy)], 1.2, m=m)
    return m


def make_sound(state, muted):
    L = Layer(32, 32)
    button_body(L, state)
    dx, dy = (0.0, 1.0) if state == "down" else (0.0, 0.0)
    dx -= 1.5
    col = glyph_colour(state)
    m = speaker_mask(L, dx, dy)
    if muted:
        L.paint(m, col)
        x = L.m_lines([(20.5 + dx, 13 + dy), (26.5 + dx, 19 + dy)], 1.8)
        L.m_lines([(26.5 + dx, 13 + dy), (20.5 + dx, 19 + dy)], 1.8, m=x)
        L.paint(x, RED_HI if state != "down" else mix(RED_HI, GLYPH_DOWN, 0.4))
    else:
        L.m_arc(17 + dx, 16 + dy, 4.2, -48, 48, 1.7, m=m)
        L.m_arc(17 + dx, 16 + dy, 8.0, -52, 52, 1.7, m=m)
        L.paint(m, col)
    return L.result()


def make_test(state):
    L = Layer(32, 32)
    button_body(L, state)
    dy = 1.0 if state == "down" else 0.0
    col = TEAL_HI if state == "hover" else (TEAL if state == "normal" else mix(TEAL, GLYPH_DOWN, 0.4))
    tri = [(13, 10 + dy), (22.5, 16 + dy), (13, 22 + dy)]
    m = L.m_polygon(tri)
    L.m_lines(tri, 2.0, m=m, closed=True)
    L.paint(m, col)
    return L.result()


def make_caption_button(kind, state):
    L = Layer(24, 24)
    if state != "normal":
        if kind == "close":
            fill = (222, 70, 76) if state == "hover" else (164, 44, 50)
            if state == "hover":
                L.glow(L.m_rrect(2, 2, 20, 20, 5), RED, 1.2, 0.45)
            L.paint(L.m_rrect(2, 2, 20, 20, 5), fill)
        else:
            if state == "hover":
                L.paint(L.m_rrect(2, 2, 20, 20, 5), (255, 255, 255), 0.12)
            else:
                L.paint(L.m_rrect(2, 2, 20, 20, 5), (0, 0, 0), 0.30)
    if kind == "close":
        col = (255, 255, 255) if state == "hover" else ((236, 226, 228) if state == "down" else (176, 190, 203))
    else:
        col = {"hover": GLYPH_HOVER, "down": GLYPH_DOWN}.get(state, (176, 190, 203))
    d = 0.5 if state == "down" else 0.0
    if kind == "close":
        m = L.m_lines([(8 + d, 8 + d), (16 + d, 16 + d)], 1.7)
        L.m_lines([(16 + d, 8 + d), (8 + d, 16 + d)], 1.7, m=m)
    else:
        m = L.m_rrect(7.5 + d, 12 + d, 9, 2, 1)
    L.paint(m, col)
    return L.result()


def link_body(L):
    L.paint(L.m_rrect(2, 2, 28, 28, 7), WELL_SHADE)
    L.paint(L.m_rrect(2.5, 3, 27, 26.5, 6.5), (28, 34, 41))


def make_link(kind):
    L = Layer(32, 32)
    link_body(L)
    col = TEAL_HI
    if kind == "serial":
        shell = [(4.8, 9.5), (27.2, 9.5), (23.8, 22.5), (8.2, 22.5)]
        m = L.m_lines(shell, 1.6, closed=True)
        L.paint(m, col)
        pins = L.mask()
        for i in range(5):
            L.m_ellipse(8 + i * 4, 13.5, 1.15, m=pins)
        for i in range(4):
            L.m_ellipse(10 + i * 4, 18.2, 1.15, m=pins)
        L.paint(pins, col)
    else:
        m = L.mask()
        L.m_lines([(7.5, 16), (23, 16)], 1.6, m=m)                    # shaft
        L.m_polygon([(22, 12.8), (27.2, 16), (22, 19.2)], m=m)        # arrow
        L.m_ellipse(7.2, 16, 2.4, m=m)                                # base
        L.m_lines([(11, 16), (14.5, 11), (18.5, 11)], 1.5, m=m)       # upper branch
        L.m_ellipse(19.6, 11, 1.8, m=m)
        L.m_lines([(13.5, 16), (17, 21), (19.5, 21)], 1.5, m=m)       # lower branch
        L.m_rect(19, 19.2, 3.6, 3.6, m=m)
        L.paint(m, col)
    return L.result()


def bolt(cx, cy, hw, hh):
    """Lightning bolt polygon centred on (cx, cy), half-size hw x hh."""
    pts = [(0.18, -1.0), (-0.62, 0.12), (-0.02, 0.12), (-0.22, 1.0), (0.62, -0.16), (0.02, -0.16)]
    return [(cx + px * hw, cy + py * hh) for px, py in pts]


def make_battery():
    x, y, w, h = R["kImgMainBat"]
    L = Layer(w, h)
    bx, by, bw, bh = 18, 11, 28, 47
    # terminal
    L.paint(L.m_rrect(26, 6, 12, 7, 2), (170, 186, 199))
    # shadow
    L.paint(L.blur(L.m_rrect(bx, by + 2, bw, bh, 6), 2), (0, 0, 0), 0.5)
    # casing
    L.paint(L.m_rrect(bx, by, bw, bh, 6), L.vgrad((222, 231, 238), (150, 166, 180), by, by + bh))
    L.paint(L.m_rrect(bx + 3, by + 3, bw - 6, bh - 6, 3.5), (20, 25, 31))
    # charge
    cell = L.m_rrect(bx + 5, by + 5, bw - 10, bh - 10, 2.5)
    L.paint(cell, L.vgrad(TEAL_HI, TEAL_LO, by + 5, by + bh - 5))
    L.paint(L.m_rrect(bx + 6, by + 6, 5, bh - 12, 2), (255, 255, 255), 0.14)
    # bolt
    pts = bolt(bx + bw / 2, by + bh / 2, 8.5, 14)
    sh = L.m_polygon([(px + 0.6, py + 1.0) for px, py in pts])
    L.paint(L.blur(sh, 1.0), (8, 60, 52), 0.7)
    L.paint(L.m_polygon(pts), (250, 253, 252))
    return L.result()


# --------------------------------------------------------------------------
# Icons
# --------------------------------------------------------------------------
def render_app_icon(size):
    """Teal tile, white battery, bolt cut out of it.  Drawn on a 32-unit grid;
    the small sizes get their own pixel-aligned proportions."""
    k = size / 32.0
    L = Layer(size, size, scale=100)

    def S(v):
        return v * k

    if size <= 18:
        tile = (0, 0, 32, 32, 7)
        body = (8, 8, 16, 22, 3)
        cap = (12, 4, 8, 5, 1.5)
        bolt_box = (16, 19, 6.4, 8.6)
    else:
        tile = (1, 1, 30, 30, 7)
        body = (9.5, 9, 13, 19.5, 2.4)
        cap = (13, 5.5, 6, 4.5, 1.3)
        bolt_box = (16, 18.8, 5.0, 7.6)
    tx, ty, tw, th, tr = tile
    tile_m = L.m_rrect(S(tx), S(ty), S(tw), S(th), S(tr))
    L.paint(tile_m, L.vgrad((74, 224, 192), (16, 128, 114), S(ty), S(ty + th)))
    if size >= 32:
        sheen = L.m_ellipse(S(9), S(4), S(20), S(13))
        L.paint(_mul(sheen.filter(ImageFilter.GaussianBlur(S(4) * SS)), tile_m), (255, 255, 255), 0.16)
    batt = L.m_rrect(S(body[0]), S(body[1]), S(body[2]), S(body[3]), S(body[4]))
    L.m_rrect(S(cap[0]), S(cap[1]), S(cap[2]), S(cap[3]), S(cap[4]), m=batt)
    if size >= 32:
        L.paint(batt.filter(ImageFilter.GaussianBlur(S(1.0) * SS)), (0, 56, 48), 0.35)
    L.paint(batt, (250, 253, 253))
    if size == 16:
        # hand-placed pixels: a polygon this small turns to mush
        m = L.mask()
        for y, cols in BOLT_16:
            for x in cols:
                L.m_rect(x, y, 1, 1, m=m)
    else:
        m = L.m_polygon([(S(px), S(py)) for px, py in bolt(*bolt_box)])
    L.paint(m, (20, 136, 120))
    return L.result(icon_resample(size))


# (row, columns) of the bolt in the 16 px application icon
BOLT_16 = [(5, (8, 9)), (6, (7, 8)), (7, (6, 7, 8)), (8, (6, 7, 8, 9)),
           (9, (7, 8, 9)), (10, (7, 8)), (11, (6, 7)), (12, (6,))]


def icon_resample(size):
    # LANCZOS smears one-pixel strokes over their neighbours; at tray sizes
    # plain area averaging (exact coverage) keeps the outlines crisp.
    return Image.BOX if size <= 24 else Image.LANCZOS


# Tray battery geometry, per icon size: rim (dark halo), stroke (light line),
# body box x0,y0,x1,y1 (outer edge of the rim), terminal box, corner radius,
# gap between the stroke and the charge bar.  Small sizes are pixel-aligned.
TRAY_GEOM = {
    16: dict(rim=1, stroke=1, body=(0, 2, 14, 14), nub=(13, 5, 16, 11), r=1.5, gap=0),
    20: dict(rim=1, stroke=1, body=(0, 3, 18, 17), nub=(17, 7, 20, 13), r=2, gap=1),
    24: dict(rim=1, stroke=2, body=(0, 4, 21, 21), nub=(20, 8, 24, 17), r=2.5, gap=1),
    32: dict(rim=1, stroke=2, body=(0, 5, 28, 27), nub=(27, 11, 32, 21), r=3, gap=2),
    40: dict(rim=2, stroke=3, body=(0, 7, 35, 34), nub=(33, 13, 40, 27), r=4, gap=2),
    48: dict(rim=2, stroke=3, body=(0, 8, 42, 40), nub=(40, 16, 48, 32), r=4.5, gap=2),
    256: dict(rim=8, stroke=14, body=(4, 44, 228, 212), nub=(220, 90, 252, 166), r=24, gap=10),
}

TRAY_STROKE = (236, 241, 245)
TRAY_RIM = (10, 12, 15, 190)
TRAY_EMPTY = (24, 29, 35, 200)


def render_tray(size, tenths=None, nousb=False):
    g = TRAY_GEOM[size]
    L = Layer(size, size, scale=100)
    x0, y0, x1, y1 = g["body"]
    nx0, ny0, nx1, ny1 = g["nub"]
    rim, st, r, gap = g["rim"], g["stroke"], g["r"], g["gap"]
    stroke = TRAY_STROKE
    if nousb:
        stroke = (150, 160, 170)
    elif tenths == 0:
        stroke = RED_HI
    # rim
    m = L.m_rrect(x0, y0, x1 - x0, y1 - y0, r)
    L.m_rrect(nx0, ny0, nx1 - nx0, ny1 - ny0, min(r, (nx1 - nx0) / 2.0), m=m)
    L.paint(m, TRAY_RIM)
    # stroke
    m = L.m_rrect(x0 + rim, y0 + rim, x1 - x0 - 2 * rim, y1 - y0 - 2 * rim, max(0.5, r - rim))
    L.m_rrect(nx0, ny0 + rim, nx1 - nx0 - rim, ny1 - ny0 - 2 * rim,
              max(0.5, min(r, (nx1 - nx0) / 2.0) - rim), m=m)
    L.paint(m, stroke)
    # inside
    ix0, iy0 = x0 + rim + st, y0 + rim + st
    ix1, iy1 = x1 - rim - st, y1 - rim - st
    ir = max(0.0, r - rim - st)
    # The empty part is a dark, slightly see-through pane, so the level
    # reads on light and dark taskbars alike.
    inside = L.m_rrect(ix0, iy0, ix1 - ix0, iy1 - iy0, ir)
    L.paint(inside, TRAY_EMPTY[:3])
    a = Image.composite(Image.new("L", inside.size, TRAY_EMPTY[3]), L.im.getchannel("A"), inside)
    L.im.putalpha(a)
    if tenths:
        fx0, fy0 = ix0 + gap, iy0 + gap
        fx1, fy1 = ix1 - gap, iy1 - gap
        fw = (fx1 - fx0) * tenths / 10.0
        fill_col = {"red": RED, "amber": AMBER, "teal": (60, 214, 170)}[level_colour(tenths)]
        fm = L.m_rrect(fx0, fy0, fw, fy1 - fy0, max(0.0, ir - gap))
        if size >= 32:
            L.paint(fm, L.vgrad(mix(fill_col, (255, 255, 255), 0.25), mix(fill_col, (0, 0, 0), 0.12), fy0, fy1))
        else:
            L.paint(fm, fill_col)
    if nousb:
        draw_badge(L, size)
    return L.result(icon_resample(size))


def draw_badge(L, size):
    """Red round badge with a white cross, bottom-right, cut out of the art below."""
    d = {16: 9, 20: 11, 24: 13, 32: 17, 40: 20, 48: 24, 256: 124}[size]
    cx = cy = size - d / 2.0
    rr = d / 2.0
    ring = max(1.0, size / 16.0)
    # knock out a ring so the badge stands apart
    cut = L.m_ellipse(cx, cy, rr + ring)
    a = ImageChops.subtract(L.im.getchannel("A"), cut)
    L.im.putalpha(a)
    L.paint(L.m_ellipse(cx, cy, rr), RED)
    if size == 16:
        # pixel-exact cross, 5 x 5, so it stays crisp in the tray
        m = L.mask()
        x0, y0 = int(cx) - 2, int(cy) - 2
        for i in range(5):
            L.m_rect(x0 + i, y0 + i, 1, 1, m=m)
            L.m_rect(x0 + 4 - i, y0 + i, 1, 1, m=m)
    else:
        arm = {24: 3.0}.get(size, rr * 0.42)
        w = max(1.3, size / 12.0)
        m = L.m_lines([(cx - arm, cy - arm), (cx + arm, cy + arm)], w)
        L.m_lines([(cx + arm, cy - arm), (cx - arm, cy + arm)], w, m=m)
    L.paint(m, (255, 255, 255))


# The shell asks for the small icon at 16, 20, 24, 32 px (100 % to 200 %) and the large one at
# 32, 40, 48 ... px: each size is drawn, none is left to the system to stretch.
ICON_SIZES = (16, 20, 24, 32, 40, 48, 256)


def ico_bytes(images):
    """ICO file: PNG for 256 px, 32-bit DIB with AND mask for the rest."""
    images = sorted(images, key=lambda im: im.size[0])
    blobs = []
    for im in images:
        w, h = im.size
        if w >= 256:
            buf = io.BytesIO()
            im.save(buf, "PNG")
            blobs.append(buf.getvalue())
            continue
        px = im.load()
        xor = bytearray()
        for y in range(h - 1, -1, -1):
            for x in range(w):
                r, g, b, a = px[x, y]
                if a == 0:
                    r = g = b = 0
                xor += bytes((b, g, r, a))
        row = ((w + 31) // 32) * 4
        andm = bytearray()
        for y in range(h - 1, -1, -1):
            bits = bytearray(row)
            for x in range(w):
                if px[x, y][3] == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            andm += bits
        hdr = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, len(xor) + len(andm), 0, 0, 0, 0)
        blobs.append(hdr + bytes(xor) + bytes(andm))
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for im, blob in zip(images, blobs):
        w, h = im.size
        out += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    for blob in blobs:
        out += blob
    return bytes(out)


# --------------------------------------------------------------------------
# Text files
# --------------------------------------------------------------------------
def colorref(rgb):
    r, g, b = rgb
    return "0x00%02X%02X%02X" % (b, g, r)


def layout_header():
    lines = [
        "// Where the Corvamon main window puts its child windows over the skin,",
        "// and the colours/fonts its labels should use.",
        "//",
        "// Generated by tools/art/make_art.py together with the pictures in this",
        "// folder; change the generator and re-run it rather than editing this file.",
        "// Plain header: no windows.h needed.",
        "#pragma once",
        "",
        "namespace corva::skin {",
        "",
        "// Client coordinates in pixels, origin at the top-left of the window.",
        "struct Rect { int x, y, w, h; };",
        "",
    ]
    for name, x, y, w, h, comment in LAYOUT:
        lines.append("// %s" % comment)
        lines.append("inline constexpr Rect %s{%d, %d, %d, %d};" % (name, x, y, w, h))
    lines += [
        "",
        "// Colours are COLORREF values, 0x00BBGGRR (the layout RGB(r, g, b) produces).",
        "// Values (lblvolt, lblfr, lblop, lblbat):",
        "inline constexpr unsigned kTextColour = %s;     // RGB(%d, %d, %d)" % ((colorref(TEXT),) + TEXT),
        "// Row titles (lbltit) and lblidenti:",
        "inline constexpr unsigned kTitleColour = %s;    // RGB(%d, %d, %d)" % ((colorref(TITLE_TEXT),) + TITLE_TEXT),
        "// Status line (lblmsg):",
        "inline constexpr unsigned kMessageColour = %s;  // RGB(%d, %d, %d)" % ((colorref(MESSAGE_TEXT),) + MESSAGE_TEXT),
        "// Warning/alarm text, if the program wants one (lblop on battery, lblmsg alarms):",
        "inline constexpr unsigned kAlertColour = %s;    // RGB(%d, %d, %d)" % ((colorref(AMBER),) + AMBER),
        "",
        "// Backgrounds under the labels are flat, so a label may either draw",
        "// transparently or fill its rect with one of these and still match:",
        "// kWellColour under the value labels, lblbat, lblidenti and lblmsg;",
        "// kPanelColour under the three lbltit labels.",
        "inline constexpr unsigned kWellColour = %s;     // RGB(%d, %d, %d)" % ((colorref(WELL),) + WELL),
        "inline constexpr unsigned kPanelColour = %s;    // RGB(%d, %d, %d)" % ((colorref(PANEL),) + PANEL),
        "",
        "// Font hints for the \"Tahoma\" face: em height in pixels, so",
        "// LOGFONT.lfHeight = -kXxxFontPx.  All texts are vertically centred in",
        "// their rects and left aligned, except lblbat and lblidenti, which are",
        "// centred.",
        "// Value labels (lblvolt, lblfr, lblop): bold.",
        "inline constexpr int kValueFontPx = %d;" % VALUE_FONT_PX,
        "// lblbat: bold (70 px leaves room for \"100.00 %\" at this size).",
        "inline constexpr int kBatFontPx = %d;" % BAT_FONT_PX,
        "// Row titles (lbltit) and lblmsg: regular.",
        "inline constexpr int kTitleFontPx = %d;" % TITLE_FONT_PX,
        "// lblidenti: regular.",
        "inline constexpr int kSmallFontPx = %d;" % SMALL_FONT_PX,
        "",
        "}  // namespace corva::skin",
        "",
    ]
    return "\n".join(lines)


# (define, id, file, kind)
RESOURCES = []


def _res(define, num, fname, kind):
    RESOURCES.append((define, num, fname, kind))


_res("IDI_CORVAMON", 1, "corvamon.ico", "ICON")
for _i in range(11):
    _res("IDI_TRAY_BAT_%02d" % _i, 10 + _i, "tray_bat_%02d.ico" % _i, "ICON")
_res("IDI_TRAY_NOUSB", 21, "tray_nousb.ico", "ICON")
_res("IDB_SKIN", 100, "skin.bmp", "BITMAP")
for _i in range(11):
    _res("IDB_GAUGE_%02d" % _i, 110 + _i, "gauge_%02d.bmp" % _i, "BITMAP")
_res("IDB_LINK_SERIAL", 130, "link_serial.bmp", "BITMAP")
_res("IDB_LINK_USB", 131, "link_usb.bmp", "BITMAP")
for _j, _st in enumerate(("NORMAL", "DOWN", "HOVER")):
    _res("IDB_SOUND_" + _st, 140 + _j, "sound_%s.bmp" % _st.lower(), "BITMAP")
    _res("IDB_MUTE_" + _st, 143 + _j, "mute_%s.bmp" % _st.lower(), "BITMAP")
    _res("IDB_CLOSE_" + _st, 150 + _j, "close_%s.bmp" % _st.lower(), "BITMAP")
    _res("IDB_MIN_" + _st, 153 + _j, "min_%s.bmp" % _st.lower(), "BITMAP")
    _res("IDB_TEST_" + _st, 156 + _j, "test_%s.bmp" % _st.lower(), "BITMAP")
_res("IDB_BATTERY", 160, "battery.bmp", "BITMAP")
RESOURCES.sort(key=lambda t: t[1])


def resource_header():
    lines = [
        "/* Resource IDs of Corvamon.  Included by corvamon.rc and by C++ code,",
        "   so it holds #defines only.  Generated by tools/art/make_art.py. */",
        "#ifndef CORVAMON_RESOURCE_H",
        "#define CORVAMON_RESOURCE_H",
        "",
        "/* Icons.  IDI_CORVAMON is 1 so it becomes the executable's icon. */",
        "/* IDI_TRAY_BAT_00 + n is the tray icon for n * 10 % charge (n = 0..10). */",
        "/* Bitmaps.  IDB_GAUGE_00 + n shows n of the 10 gauge segments lit. */",
        "/* Each bitmap N also comes drawn at 150 %% (N + %d) and 200 %% (N + %d). */"
        % (SCALED_ID_STEP, 2 * SCALED_ID_STEP),
        "",
    ]
    for define, num, fname, kind in RESOURCES:
        lines.append("#define %-20s %d" % (define, num))
    lines += [
        "",
        "#define CORVAMON_TRAY_BAT_COUNT 11",
        "#define CORVAMON_GAUGE_COUNT    11",
        "",
        "#endif /* CORVAMON_RESOURCE_H */",
        "",
    ]
    return "\n".join(lines)


def scaled_bitmap_lines(bitmaps):
    """The .rc lines of the 150 % and 200 % pictures: resource N + 1000 and N + 2000."""
    lines = []
    for scale in ART_SCALES[1:]:
        lines += ["", "// The same pictures drawn at %d %%: id + %d." % (scale, scaled_id(0, scale))]
        for num, fname in bitmaps:
            base, ext = os.path.splitext(fname)
            lines.append("%-20d BITMAP \"%s%s%s\"" % (scaled_id(num, scale), base, suffix(scale), ext))
    return lines


def rc_file():
    lines = [
        "// Resources of Corvamon.  Generated by tools/art/make_art.py.",
        "// Paths are relative to this file.",
        "#include <winver.h>",
        "#include <winuser.h>",
        "#include \"resource.h\"",
        "#include \"product_version.h\"",
        "",
        "LANGUAGE 0x0A, 0x03 // Spanish (modern sort)",
        "",
        "// Main icon first: the shell shows the lowest ID.",
    ]
    for define, num, fname, kind in RESOURCES:
        if kind == "ICON":
            lines.append("%-20s ICON   \"%s\"" % (define, fname))
    lines.append("")
    for define, num, fname, kind in RESOURCES:
        if kind == "BITMAP":
            lines.append("%-20s BITMAP \"%s\"" % (define, fname))
    lines += scaled_bitmap_lines([(num, fname) for _, num, fname, kind in RESOURCES
                                  if kind == "BITMAP"])
    lines += [
        "",
        "CREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST \"corvamon.manifest\"",
        "",
    ] + version_block("Corvamon - Monitor de UPS", "Corvamon") + [
        "",
    ]
    text = "\n".join(lines)
    text.encode("ascii")  # the .rc must stay plain ASCII; raises otherwise
    return text


def version_block(description, name):
    """The VERSIONINFO of a program named `name` (NAME.exe), with the product's version and name
    from common/core/product_version.h. `description` is plain ASCII with octal escapes."""
    return [
        "VS_VERSION_INFO VERSIONINFO",
        " FILEVERSION CORVA_VERSION_MAJOR,CORVA_VERSION_MINOR,CORVA_VERSION_PATCH,0",
        " PRODUCTVERSION CORVA_VERSION_MAJOR,CORVA_VERSION_MINOR,CORVA_VERSION_PATCH,0",
        " FILEFLAGSMASK VS_FFI_FILEFLAGSMASK",
        " FILEFLAGS 0x0L",
        " FILEOS VOS_NT_WINDOWS32",
        " FILETYPE VFT_APP",
        " FILESUBTYPE VFT2_UNKNOWN",
        "BEGIN",
        "    BLOCK \"StringFileInfo\"",
        "    BEGIN",
        "        BLOCK \"0C0A04E4\"",
        "        BEGIN",
        "            VALUE \"CompanyName\", \"KRD\"",
        "            VALUE \"FileDescription\", \"%s\"" % description,
        "            VALUE \"FileVersion\", CORVA_VERSION_FULL",
        "            VALUE \"InternalName\", \"%s\"" % name,
        "            VALUE \"LegalCopyright\", \"(C) 2026 KRD\"",
        "            VALUE \"OriginalFilename\", \"%s.exe\"" % name,
        "            VALUE \"ProductName\", CORVA_PRODUCT_NAME",
        "            VALUE \"ProductVersion\", CORVA_VERSION_FULL",
        "        END",
        "    END",
        "    BLOCK \"VarFileInfo\"",
        "    BEGIN",
        "        VALUE \"Translation\", 0x0C0A, 1252",
        "    END",
        "END",
    ]


def manifest():
    return """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <assemblyIdentity type="win32" name="KRD.Corvamon" version="17.1.1.0" processorArchitecture="*"/>
  <description>Corvamon - Monitor de UPS</description>
  <dependency>
    <dependentAssembly>
      <assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" version="6.0.0.0"
                        processorArchitecture="*" publicKeyToken="6595b64144ccf1df" language="*"/>
    </dependentAssembly>
  </dependency>
  <compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1">
    <application>
      <!-- Windows 7 -->
      <supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>
      <!-- Windows 8 -->
      <supportedOS Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"/>
      <!-- Windows 8.1 -->
      <supportedOS Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}"/>
      <!-- Windows 10 and Windows 11 -->
      <supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>
    </application>
  </compatibility>
  <application xmlns="urn:schemas-microsoft-com:asm.v3">
    <windowsSettings>
      <dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true</dpiAware>
      <dpiAwareness xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">PerMonitorV2, PerMonitor</dpiAwareness>
    </windowsSettings>
  </application>
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">
    <security>
      <requestedPrivileges>
        <requestedExecutionLevel level="asInvoker" uiAccess="false"/>
      </requestedPrivileges>
    </security>
  </trustInfo>
</assembly>
"""


# --------------------------------------------------------------------------
# Preview
# --------------------------------------------------------------------------
SAMPLE_TEXT = {
    "kLblTit0": ("Salida", TITLE_TEXT, TITLE_FONT_PX, False, "l"),
    "kLblTit1": ("Frecuencia", TITLE_TEXT, TITLE_FONT_PX, False, "l"),
    "kLblTit2": ("L\u00ednea", TITLE_TEXT, TITLE_FONT_PX, False, "l"),
    "kLblVolt": ("120.0 Volts", TEXT, VALUE_FONT_PX, True, "l"),
    "kLblFr": ("60.0 Hz", TEXT, VALUE_FONT_PX, True, "l"),
    "kLblOp": (" Normal", TEXT, VALUE_FONT_PX, True, "l"),
    "kLblBat": ("100.00 %", TEXT, BAT_FONT_PX, True, "c"),
    "kLblIdenti": ("Autoprueba", TITLE_TEXT, SMALL_FONT_PX, False, "c"),
    "kLblMsg": ("Conectado por USB. Energ\u00eda de la red normal.", MESSAGE_TEXT, TITLE_FONT_PX, False, "l"),
}


def draw_label(img, rect, text, colour, px, bold, align):
    x, y, w, h = rect
    f = first_font(bold, px)
    d = ImageDraw.Draw(img)
    cy = y + h / 2.0
    if align == "c":
        d.text((x + w / 2.0, cy), text, font=f, fill=colour, anchor="mm")
    else:
        d.text((x, cy), text, font=f, fill=colour, anchor="lm")


def make_preview(skin, pics, texts=SAMPLE_TEXT, gauge=10, link="link_usb", sound="sound_normal"):
    img = skin.copy()
    placed = {
        "kIMBatG": pics["gauge_%02d" % gauge],
        "kImgConn": pics[link],
        "kIBMute": pics[sound],
        "kIBTest": pics["test_normal"],
        "kIBClose": pics["close_normal"],
        "kIBMin": pics["min_normal"],
        "kImgMainBat": pics["battery"],
    }
    for name, pic in placed.items():
        x, y, w, h = R[name]
        img.paste(pic, (x, y))
    for name, (text, colour, px, bold, align) in texts.items():
        draw_label(img, R[name], text, colour, px, bold, align)
    return img


def make_sheet(skin, pics, icons, path):
    """Review sheet: not shipped, only for looking at the art."""
    sheet = Image.new("RGB", (1240, 1300), (60, 60, 64))
    prev = make_preview(skin, pics)
    sheet.paste(prev.resize((800, 520), Image.NEAREST), (10, 10))
    alt = make_preview(skin, pics, dict(SAMPLE_TEXT, kLblVolt=("Monitoreando Equipo", TEXT, VALUE_FONT_PX, True, "l"),
                                        kLblOp=("Bateria", AMBER, VALUE_FONT_PX, True, "l"),
                                        kLblBat=("30.00 %", TEXT, BAT_FONT_PX, True, "c")),
                       gauge=3, link="link_serial", sound="mute_normal")
    sheet.paste(prev, (820, 10))
    sheet.paste(alt, (820, 280))
    y = 540
    for i in range(11):
        g = pics["gauge_%02d" % i]
        sheet.paste(g.resize((g.width * 2, g.height * 2), Image.NEAREST), (10 + (i % 3) * 370, y + (i // 3) * 54))
    rows = [["sound", "mute", "test"], ["close", "min", "link_serial", "link_usb", "battery"]]
    y = 770
    for row in rows:
        x = 10
        for base in row:
            names = [base] if base.startswith("link") or base == "battery" else \
                [base + "_" + s for s in ("normal", "hover", "down")]
            for n in names:
                p = pics[n]
                sheet.paste(p.resize((p.width * 3, p.height * 3), Image.NEAREST), (x, y))
                x += p.width * 3 + 6
            x += 14
        y += 200
    # icons on a dark and a light background: 16 px at 4x and 1x, 24 px at 1x
    for bi, bgc in enumerate([(28, 30, 34), (238, 238, 240)]):
        strip = Image.new("RGBA", (1240, 76), bgc + (255,))
        xx = 10
        for k, ic in icons.items():
            strip.alpha_composite(ic[16].resize((64, 64), Image.NEAREST), (xx, 6))
            strip.alpha_composite(ic[16], (xx + 68, 6))
            strip.alpha_composite(ic[24], (xx + 68, 26))
            xx += 94
        sheet.paste(strip.convert("RGB"), (0, 1140 + bi * 78))
    sheet.save(path)
    big = Image.new("RGBA", (1240, 270), (90, 96, 104, 255))
    xx = 4
    for k in ("corvamon", "tray_bat_00", "tray_bat_05", "tray_nousb"):
        big.alpha_composite(icons[k][256], (xx, 6))
        big.alpha_composite(icons[k][48], (xx + 256 - 48, 6))
        big.alpha_composite(icons[k][32], (xx + 256 - 32, 60))
        xx += 306
    big.convert("RGB").save(path.replace(".png", "_big.png"))


def write(path, data):
    mode = "wb" if isinstance(data, bytes) else "w"
    kw = {} if mode == "wb" else {"encoding": "utf-8", "newline": "\n"}
    with open(path, mode, **kw) as f:
        f.write(data)


def main(argv):
    sheet_path = None
    if "--sheet" in argv:
        sheet_path = argv[argv.index("--sheet") + 1]
    os.makedirs(OUT, exist_ok=True)

    for scale in ART_SCALES:
        set_scale(scale)
        skin = make_skin()
        assert skin.size == (px(W), px(H))
        pics = {}
        for i in range(11):
            pics["gauge_%02d" % i] = compose(skin, R["kIMBatG"], make_gauge(i))
        pics["link_serial"] = compose(skin, R["kImgConn"], make_link("serial"))
        pics["link_usb"] = compose(skin, R["kImgConn"], make_link("usb"))
        for st in ("normal", "down", "hover"):
            pics["sound_" + st] = compose(skin, R["kIBMute"], make_sound(st, False))
            pics["mute_" + st] = compose(skin, R["kIBMute"], make_sound(st, True))
            pics["test_" + st] = compose(skin, R["kIBTest"], make_test(st))
            pics["close_" + st] = compose(skin, R["kIBClose"], make_caption_button("close", st))
            pics["min_" + st] = compose(skin, R["kIBMin"], make_caption_button("min", st))
        pics["battery"] = compose(skin, R["kImgMainBat"], make_battery())

        skin.save(os.path.join(OUT, "skin%s.bmp" % suffix(scale)))
        for name, pic in sorted(pics.items()):
            pic.save(os.path.join(OUT, name + suffix(scale) + ".bmp"))
        if scale == 100:
            skin_1x, pics_1x = skin, pics
    set_scale(100)
    skin, pics = skin_1x, pics_1x

    icons = {"corvamon": {s: render_app_icon(s) for s in ICON_SIZES}}
    for i in range(11):
        icons["tray_bat_%02d" % i] = {s: render_tray(s, tenths=i) for s in ICON_SIZES}
    icons["tray_nousb"] = {s: render_tray(s, nousb=True) for s in ICON_SIZES}
    for name, sizes in icons.items():
        write(os.path.join(OUT, name + ".ico"), ico_bytes(list(sizes.values())))

    make_preview(skin, pics).save(os.path.join(OUT, "preview.png"))

    write(os.path.join(OUT, "skin_layout.h"), layout_header())
    write(os.path.join(OUT, "resource.h"), resource_header())
    write(os.path.join(OUT, "corvamon.rc"), rc_file())
    write(os.path.join(OUT, "corvamon.manifest"), manifest())

    if sheet_path:
        make_sheet(skin, pics, icons, sheet_path)
    print("make_art: wrote %d pictures at %d scales, %d icons to %s"
          % (len(pics) + 1, len(ART_SCALES), len(icons), OUT))


if __name__ == "__main__":
    main(sys.argv[1:])
