#!/usr/bin/env python3
"""Checks Corvaset's checked-in artwork and button descriptions in config/res against each other.

  python3 tests/unit/config_art_check.py [RES_DIR]

- every file corvaset.rc names exists;
- every skin picture has the size config_layout.h gives it (the window arranges its skin from
  those sizes, so a picture drawn at another size would be stretched or leave a seam), at each
  art scale: the 150 % and 200 % pictures, listed as resource N + 1000 and N + 2000, have that
  size scaled as the program scales it;
- the ImageBtn instances of each description lie inside the panel or page that holds them, and
  none overlaps another.

Standard library only. Exits 1 and lists every failure.
"""

import os
import re
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_RES = os.path.normpath(os.path.join(HERE, "..", "..", "config", "res"))

# picture file -> the size it must have, by name in config_layout.h (w, h of that Size)
PICTURE_SIZE = {
    "top_l.bmp": "kTopL", "top_m.bmp": "kTopM", "top_dt.bmp": "kDT",
    "corner_it.bmp": "kCorner", "corner_id.bmp": "kCorner", "corner_dd.bmp": "kCorner",
    "menu.bmp": "kMenu", "bar.bmp": "kBar",
    "menu_normal.bmp": "kMenuButton", "menu_hover.bmp": "kMenuButton",
    "menu_down.bmp": "kMenuButton",
    "button_normal.bmp": "kPageButton", "button_hover.bmp": "kPageButton",
    "button_down.bmp": "kPageButton",
    "conn_usb.bmp": "kConn", "conn_com.bmp": "kConn", "conn_none.bmp": "kConn",
    "locator.bmp": "kLocatorImage", "info.bmp": "kInfoImage",
}


ART_SCALES = (100, 150, 200)
SCALED_ID_STEP = 1000


def scale_by(v, percent):
    """common/core/dpi_scale.h's ScaleBy: MulDiv rounding, halves away from zero."""
    return (v * percent + 50) // 100


def scaled_name(fname, percent):
    base, ext = os.path.splitext(fname)
    return fname if percent == 100 else "%s_%d%s" % (base, percent, ext)


def bitmap_ids(rc, resource_h):
    """{id: file} of corvaset.rc's BITMAP lines, named ids looked up in resource.h."""
    defines = dict((m.group(1), int(m.group(2))) for m in
                   re.finditer(r"#define\s+(\w+)\s+(\d+)", open(resource_h).read()))
    out = {}
    for m in re.finditer(r'^(\w+)\s+BITMAP\s+"([^"]+)"', rc, re.M):
        key = m.group(1)
        out[int(key) if key.isdigit() else defines.get(key, -1)] = m.group(2)
    return out


def bmp_size(path):
    with open(path, "rb") as f:
        data = f.read(26)
    if data[:2] != b"BM":
        raise ValueError("not a BMP")
    w, h = struct.unpack_from("<ii", data, 18)
    return w, abs(h)


def layout_sizes(path):
    sizes = {}
    for m in re.finditer(r"inline constexpr Size (\w+)\{(\d+), (\d+)\};", open(path).read()):
        sizes[m.group(1)] = (int(m.group(2)), int(m.group(3)))
    return sizes


def records(path):
    """[(name, {key: value})] of a button description."""
    out = []
    for raw in open(path, encoding="utf-8").read().splitlines():
        line = raw.strip()
        if not line or line.startswith(";"):
            continue
        if line.startswith("[") and line.endswith("]"):
            out.append((line[1:-1], {}))
        elif "=" in line and out:
            key, value = line.split("=", 1)
            out[-1][1][key.strip().lower()] = value.strip()
    return out


def main(argv):
    res = argv[1] if len(argv) > 1 else DEFAULT_RES
    failures = []
    rc = open(os.path.join(res, "corvaset.rc"), encoding="utf-8", errors="replace").read()
    for name in re.findall(r'(?:ICON|BITMAP|RCDATA|RT_MANIFEST)\s+"([^"]+)"', rc):
        if not os.path.isfile(os.path.join(res, name)):
            failures.append(f"corvaset.rc names {name}, which is not in {res}")

    sizes = layout_sizes(os.path.join(res, "config_layout.h"))
    ids = bitmap_ids(rc, os.path.join(res, "resource.h"))
    by_file = {f: i for i, f in ids.items()}
    for percent in ART_SCALES:
        step = SCALED_ID_STEP * ART_SCALES.index(percent)
        for base_picture, size_name in PICTURE_SIZE.items():
            picture = scaled_name(base_picture, percent)
            base_id = by_file.get(base_picture)
            if base_id is None or ids.get(base_id + step) != picture:
                failures.append(f"corvaset.rc does not list {picture} as resource {base_id} + {step}")
            want = sizes.get(size_name)
            try:
                got = bmp_size(os.path.join(res, picture))
            except (OSError, ValueError) as e:
                failures.append(f"{picture}: {e}")
                continue
            if want is None:
                failures.append(f"config_layout.h has no {size_name}")
                continue
            want = (scale_by(want[0], percent), scale_by(want[1], percent))
            if got != want:
                failures.append(f"{picture} is {got[0]} x {got[1]}, {size_name} at {percent} % "
                                f"is {want[0]} x {want[1]}")

    # The menu buttons sit on the menu panel (below the title, right of the left corner); the page
    # buttons on their page.
    top, corner = sizes["kTopL"][1], sizes["kCorner"][0]
    holders = {
        "menu_buttons.txt": (corner, top, sizes["kMenu"][0], sizes["kMenu"][1]),
        "page0_buttons.txt": (0, 0) + sizes["kPage"],
        "page1_buttons.txt": (0, 0) + sizes["kPage"],
    }
    for description, (hx, hy, hw, hh) in holders.items():
        placed = []
        for name, props in records(os.path.join(res, description)):
            try:
                x, y, w, h = (int(props[k]) for k in ("left", "top", "width", "height"))
            except (KeyError, ValueError):
                failures.append(f"{description}: {name} has no whole place")
                continue
            if x < hx or y < hy or x + w > hx + hw or y + h > hy + hh:
                failures.append(f"{description}: {name} at {x},{y} {w}x{h} is outside its holder")
            for other, (ox, oy, ow, oh) in placed:
                if x < ox + ow and ox < x + w and y < oy + oh and oy < y + h:
                    failures.append(f"{description}: {name} overlaps {other}")
            placed.append((name, (x, y, w, h)))
        if not placed:
            failures.append(f"{description}: no buttons")

    for f in failures:
        print("FAIL:", f)
    print(f"config art check: {len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
