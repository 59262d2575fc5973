#!/usr/bin/python3
"""Draws the pictures of Corvaset, the settings editor, and writes them to config/res/.

Run from anywhere:  /usr/bin/python3 tools/art/make_config_art.py

It shares the palette, the drawing layer and the icon writer of make_art.py, so both programs
look like one product: a dark frame and menu with teal accents, and light pages where the
standard controls (check boxes, text boxes) read well with or without visual styles.
The output depends only on this file, make_art.py, Pillow and the fonts: running it twice
gives byte-identical files.

Every picture is drawn at 100 %, 150 % and 200 % (see make_art.py).  Besides the pictures it writes
config_layout.h (the sizes the window arranges its skin with, in 96-DPI pixels) and corvaset.rc.
"""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import make_art as A  # noqa: E402
from PIL import Image, ImageDraw, ImageFilter  # noqa: E402

OUT = os.path.join(A.ROOT, "config", "res")

# The window: 8850 x 6480 twips at 96 dpi.
W, H = 590, 432
TOP_H = 34          # ImgTopL, ImgTopM, ImgDT
TOPL_W = 300
DT_W = 30
TOPM_W = W - TOPL_W - DT_W
CORNER = 10         # ImgIT, ImgID, ImgDD
EDGE = 4            # ImgIM, ImgDM (width), ImgMD (height)
MENU_W = 150        # pbmenu
BAR_W = 6           # imgbarra
BODY_H = H - TOP_H - EDGE
PAGE_X = CORNER + MENU_W + BAR_W
PAGE_W = W - PAGE_X - EDGE
MENU_BTN = (142, 40)  # ImgC pictures
CONN = 40             # imgconn pictures
LOCATOR_IMG = 32

PAGE_BG = (244, 246, 248)
PAGE_TEXT = (30, 38, 46)
HEADING = (16, 128, 114)
MENU_TOP = (40, 48, 57)
MENU_BOTTOM = (24, 29, 35)


def solid(w, h, rgb):
    return Image.new("RGB", (A.px(w), A.px(h)), rgb)


def title_piece(w, with_brand):
    L = A.Layer(w, TOP_H)
    L.paint(L.m_rect(0, 0, w, TOP_H), L.vgrad(A.TITLE_TOP, A.TITLE_BOTTOM, 0, TOP_H))
    L.paint(L.m_rect(0, TOP_H - 1, w, 1), (14, 17, 21))
    L.paint(L.m_rect(0, 0, w, 2), A.TEAL, 0.8)
    img = L.result().convert("RGB")
    if with_brand:
        icon = A.render_app_icon(A.px(24))
        img.paste(icon, (A.px(10), A.px(5)), icon)
        d = ImageDraw.Draw(img)
        d.text((A.px(42), A.px(9)), "Configuración Corvamon", font=A.first_font(True, A.px(14)),
               fill=A.BRAND_TEXT)
    return img


def corner(rgb_top, rgb_bottom):
    L = A.Layer(CORNER, CORNER)
    L.paint(L.m_rect(0, 0, CORNER, CORNER), L.vgrad(rgb_top, rgb_bottom))
    return L.result().convert("RGB")


def menu_panel():
    L = A.Layer(MENU_W, BODY_H)
    L.paint(L.m_rect(0, 0, MENU_W, BODY_H), L.vgrad(MENU_TOP, MENU_BOTTOM))
    # the product's mark at the foot of the menu
    icon = A.render_app_icon(A.px(48))
    img = L.result().convert("RGB")
    img.paste(icon, ((A.px(MENU_W) - A.px(48)) // 2, A.px(BODY_H - 70)), icon)
    d = ImageDraw.Draw(img)
    f = A.first_font(False, A.px(11))
    text = "KRD Corvamon"
    tw = d.textlength(text, font=f)
    d.text(((A.px(MENU_W) - tw) / 2, A.px(BODY_H - 18)), text, font=f, fill=A.TITLE_TEXT)
    return img


def bar():
    L = A.Layer(BAR_W, BODY_H)
    L.paint(L.m_rect(0, 0, BAR_W, BODY_H), L.vgrad(A.TEAL_LO, (12, 70, 62)))
    L.paint(L.m_rect(0, 0, 1, BODY_H), (255, 255, 255), 0.12)
    return L.result().convert("RGB")


def menu_button(state):
    w, h = MENU_BTN
    L = A.Layer(w, h)
    back = {"normal": MENU_TOP, "hover": (52, 64, 76), "down": (30, 92, 84)}[state]
    L.paint(L.m_rect(0, 0, w, h), L.vgrad(MENU_TOP, MENU_TOP))
    L.paint(L.m_rrect(2, 3, w - 4, h - 6, 6), back)
    if state != "normal":
        L.paint(L.m_rrect(2, 3, 4, h - 6, 2), A.TEAL_HI)
    return L.result().convert("RGB")


def page_button(state):
    """Background of the buttons on the pages (search, browse, log buttons): 120 x 28."""
    w, h = 120, 28
    L = A.Layer(w, h)
    L.paint(L.m_rect(0, 0, w, h), PAGE_BG)
    top, bottom = {"normal": ((74, 214, 186), (22, 146, 126)),
                   "hover": ((120, 236, 212), (40, 170, 148)),
                   "down": ((22, 146, 126), (16, 112, 98))}[state]
    L.paint(L.m_rrect(0.5, 0.5, w - 1, h - 1, 5), A.mix(bottom, (0, 0, 0), 0.25))
    L.paint(L.m_rrect(1.5, 1.5, w - 3, h - 3, 4), L.vgrad(top, bottom, 0, h))
    return L.result().convert("RGB")


def conn_picture(kind):
    L = A.Layer(CONN, CONN)
    L.paint(L.m_rect(0, 0, CONN, CONN), PAGE_BG)
    colour = {"usb": A.TEAL_LO, "com": A.TEAL_LO, "none": A.RED}[kind]
    L.paint(L.m_rrect(2, 2, CONN - 4, CONN - 4, 9), A.mix(colour, PAGE_BG, 0.82))
    L.paint(L.m_rrect(2, 2, CONN - 4, CONN - 4, 9), colour, 0.0)
    k = CONN / 32.0
    if kind == "com":
        shell = [(4.8 * k, 11 * k), (27.2 * k, 11 * k), (23.8 * k, 22 * k), (8.2 * k, 22 * k)]
        L.paint(L.m_lines(shell, 1.8, closed=True), colour)
        pins = L.mask()
        for i in range(5):
            L.m_ellipse((8 + i * 4) * k, 14.5 * k, 1.3, m=pins)
        for i in range(4):
            L.m_ellipse((10 + i * 4) * k, 18.5 * k, 1.3, m=pins)
        L.paint(pins, colour)
    elif kind == "usb":
        m = L.mask()
        L.m_lines([(7.5 * k, 16 * k), (23 * k, 16 * k)], 2.0, m=m)
        L.m_polygon([(22 * k, 12.6 * k), (27.4 * k, 16 * k), (22 * k, 19.4 * k)], m=m)
        L.m_ellipse(7.2 * k, 16 * k, 2.8, m=m)
        L.m_lines([(11 * k, 16 * k), (14.5 * k, 11 * k), (18.5 * k, 11 * k)], 1.8, m=m)
        L.m_ellipse(19.6 * k, 11 * k, 2.1, m=m)
        L.m_lines([(13.5 * k, 16 * k), (17 * k, 21 * k), (19.5 * k, 21 * k)], 1.8, m=m)
        L.m_rect(19 * k, 19 * k, 4.2, 4.2, m=m)
        L.paint(m, colour)
    else:
        # an unplugged cable: two halves apart, and a cross
        m = L.mask()
        L.m_lines([(6 * k, 20 * k), (12 * k, 14 * k)], 2.2, m=m)
        L.m_lines([(20 * k, 18 * k), (26 * k, 12 * k)], 2.2, m=m)
        L.m_rrect(11 * k, 10 * k, 5 * k, 5 * k, 1.2, m=m)
        L.m_rrect(16 * k, 17 * k, 5 * k, 5 * k, 1.2, m=m)
        L.paint(m, A.mix(colour, (0, 0, 0), 0.1))
    return L.result().convert("RGB")


def locator_picture():
    L = A.Layer(LOCATOR_IMG, LOCATOR_IMG)
    L.paint(L.m_rect(0, 0, LOCATOR_IMG, LOCATOR_IMG), PAGE_BG)
    L.paint(L.m_arc(13, 13, 8, 0, 360, 2.6), A.TEAL_LO)
    L.paint(L.m_lines([(19, 19), (27, 27)], 3.4), A.mix(A.TEAL_LO, (0, 0, 0), 0.2))
    pins = L.mask()
    for i in range(3):
        L.m_ellipse(9.5 + i * 3.5, 12, 1.1, m=pins)
    for i in range(2):
        L.m_ellipse(11.2 + i * 3.5, 15.2, 1.1, m=pins)
    L.paint(pins, A.TEAL_LO)
    return L.result().convert("RGB")


def info_picture():
    """The information page's picture: the monitor's battery mark on a soft tile."""
    size = 96
    L = A.Layer(size, size)
    L.paint(L.m_rect(0, 0, size, size), PAGE_BG)
    shadow = L.m_rrect(8, 10, 80, 80, 18)
    L.paint(L.blur(shadow, 4), (0, 0, 0), 0.25)
    img = L.result().convert("RGB")
    icon = A.render_app_icon(256).resize((A.px(80), A.px(80)), Image.LANCZOS)
    img.paste(icon, (A.px(8), A.px(6)), icon)
    return img


def layout_header():
    rows = [
        ("kWindow", "the window, 8850 x 6480 twips", W, H),
        ("kTopL", "ImgTopL", TOPL_W, TOP_H),
        ("kTopM", "ImgTopM", TOPM_W, TOP_H),
        ("kDT", "ImgDT", DT_W, TOP_H),
        ("kCorner", "ImgIT, ImgID, ImgDD", CORNER, CORNER),
        ("kEdge", "ImgIM and ImgDM width, ImgMD height", EDGE, EDGE),
        ("kMenu", "pbmenu", MENU_W, BODY_H),
        ("kBar", "imgbarra", BAR_W, BODY_H),
        ("kPage", "PbTab(0..3)", PAGE_W, BODY_H),
        ("kMenuButton", "ImgC(0..4)", MENU_BTN[0], MENU_BTN[1]),
        ("kPageButton", "the buttons on the pages", 120, 28),
        ("kConn", "imgconn(0..3)", CONN, CONN),
        ("kLocatorImage", "Image1 of the locator", LOCATOR_IMG, LOCATOR_IMG),
        ("kInfoImage", "the information page's picture", 96, 96),
    ]
    out = ["// Sizes of Corvaset's skin pieces, in pixels at 96 dpi.",
           "//",
           "// Generated by tools/art/make_config_art.py with the pictures in this folder;",
           "// change the generator and re-run it rather than editing this file.",
           "#pragma once", "", "namespace corva::config::skin {", "",
           "struct Size { int w, h; };", ""]
    for name, what, w, h in rows:
        out.append("// %s" % what)
        out.append("inline constexpr Size %s{%d, %d};" % (name, w, h))
    out += ["", "inline constexpr unsigned kPageBackground = %s;" % A.colorref(PAGE_BG),
            "inline constexpr unsigned kPageText = %s;" % A.colorref(PAGE_TEXT),
            "inline constexpr unsigned kHeadingText = %s;" % A.colorref(HEADING),
            "inline constexpr unsigned kMenuText = %s;" % A.colorref(A.BRAND_TEXT),
            "inline constexpr unsigned kTitleText = %s;" % A.colorref(A.BRAND_TEXT),
            "inline constexpr unsigned kFrameBackground = %s;" % A.colorref(A.BG_BOTTOM),
            "", "}  // namespace corva::config::skin", ""]
    return "\n".join(out)


# (define, id, file) of the pictures; corvaset.rc lists each also at 150 % (id + 1000) and
# 200 % (id + 2000).
BITMAPS = [
    ("IDB_TOP_L", 100, "top_l"), ("IDB_TOP_M", 101, "top_m"), ("IDB_TOP_DT", 102, "top_dt"),
    ("IDB_CORNER_IT", 103, "corner_it"), ("IDB_CORNER_ID", 104, "corner_id"),
    ("IDB_CORNER_DD", 105, "corner_dd"), ("IDB_EDGE_IM", 106, "edge_im"),
    ("IDB_EDGE_DM", 107, "edge_dm"), ("IDB_EDGE_MD", 108, "edge_md"), ("IDB_MENU", 109, "menu"),
    ("IDB_BAR", 110, "bar"), ("IDB_MENU_NORMAL", 111, "menu_normal"),
    ("IDB_MENU_HOVER", 112, "menu_hover"), ("IDB_MENU_DOWN", 113, "menu_down"),
    ("IDB_BUTTON_NORMAL", 114, "button_normal"), ("IDB_BUTTON_HOVER", 115, "button_hover"),
    ("IDB_BUTTON_DOWN", 116, "button_down"), ("IDB_CONN_USB", 117, "conn_usb"),
    ("IDB_CONN_COM", 118, "conn_com"), ("IDB_CONN_NONE", 119, "conn_none"),
    ("IDB_LOCATOR", 120, "locator"), ("IDB_INFO", 121, "info"),
]


def rc_file():
    lines = [
        "// Resources of Corvaset, the settings editor.  Generated by tools/art/make_config_art.py",
        "// with the pictures in this folder; change the generator and re-run it.",
        "#include <winver.h>",
        "#include <winuser.h>",
        "#include \"resource.h\"",
        "#include \"product_version.h\"",
        "",
        "LANGUAGE 0x0A, 0x03 // Spanish (modern sort)",
        "",
        "IDI_CORVASET         ICON   \"corvaset.ico\"",
        "",
    ]
    for define, num, name in BITMAPS:
        lines.append("%-20s BITMAP \"%s.bmp\"" % (define, name))
    lines += A.scaled_bitmap_lines([(num, name + ".bmp") for _, num, name in BITMAPS])
    lines += [
        "",
        "IDR_MENU_BUTTONS     RCDATA \"menu_buttons.txt\"",
        "IDR_PAGE0_BUTTONS    RCDATA \"page0_buttons.txt\"",
        "IDR_PAGE1_BUTTONS    RCDATA \"page1_buttons.txt\"",
        "",
        "CREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST \"corvaset.manifest\"",
        "",
    ] + A.version_block("Corvaset - Configuraci\\363n de Corvamon", "Corvaset") + [
        "",
    ]
    text = "\n".join(lines)
    text.encode("ascii")
    return text


def main():
    os.makedirs(OUT, exist_ok=True)
    for scale in A.ART_SCALES:
        A.set_scale(scale)
        pics = {
            "top_l": title_piece(TOPL_W, True),
            "top_m": title_piece(TOPM_W, False),
            "top_dt": title_piece(DT_W, False),
            "corner_it": corner(A.BG_TOP, A.BG_TOP),
            "corner_id": corner(A.BG_BOTTOM, A.BG_BOTTOM),
            "corner_dd": corner(A.BG_BOTTOM, A.BG_BOTTOM),
            "edge_im": solid(EDGE, H, A.BG_BOTTOM),
            "edge_dm": solid(EDGE, H, A.BG_BOTTOM),
            "edge_md": solid(W, EDGE, A.BG_BOTTOM),
            "menu": menu_panel(),
            "bar": bar(),
            "conn_usb": conn_picture("usb"),
            "conn_com": conn_picture("com"),
            "conn_none": conn_picture("none"),
            "locator": locator_picture(),
            "info": info_picture(),
        }
        for st in ("normal", "hover", "down"):
            pics["menu_" + st] = menu_button(st)
            pics["button_" + st] = page_button(st)
        assert sorted(pics) == sorted(name for _, _, name in BITMAPS)
        for name, pic in sorted(pics.items()):
            pic.save(os.path.join(OUT, name + A.suffix(scale) + ".bmp"))
    A.set_scale(100)
    A.write(os.path.join(OUT, "corvaset.ico"),
            A.ico_bytes([A.render_app_icon(s) for s in A.ICON_SIZES]))
    A.write(os.path.join(OUT, "config_layout.h"), layout_header())
    A.write(os.path.join(OUT, "corvaset.rc"), rc_file())
    print("make_config_art: wrote %d pictures at %d scales and an icon to %s"
          % (len(pics), len(A.ART_SCALES), OUT))


if __name__ == "__main__":
    main()
