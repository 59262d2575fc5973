#!/usr/bin/env python3
"""Checks the checked-in artwork in monitor/res against the files that use it.

  python3 tests/unit/art_check.py [RES_DIR]

- every ICON/BITMAP file named in corvamon.rc exists and parses;
- skin.bmp is 400 x 260 and equals kSkin;
- every picture drawn over the skin has exactly the size of its rect in
  skin_layout.h, and its corner pixels are the skin's pixels at that spot
  (the program blits them opaque, so a mismatch would show as a seam);
  and so at each art scale: the 150 % and 200 % pictures (resource N + 1000,
  N + 2000) fit their rect scaled as the program scales it, on the skin
  drawn at that scale;
- the rects lie inside the skin and no two child windows overlap;
- each icon holds the sizes the shell asks for at 100 % to 200 % (16, 20, 24,
  32, 40, 48 px), and the resource IDs the program relies on have the right
  values.

Standard library only.  Exits 1 and lists every failure.
"""

import os
import re
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_RES = os.path.normpath(os.path.join(HERE, "..", "..", "monitor", "res"))

# picture file prefix -> rect it is blitted into
PICTURE_RECT = [
    ("gauge_", "kIMBatG"),
    ("link_", "kImgConn"),
    ("sound_", "kIBMute"),
    ("mute_", "kIBMute"),
    ("test_", "kIBTest"),
    ("close_", "kIBClose"),
    ("min_", "kIBMin"),
    ("battery", "kImgMainBat"),
]
CHILD_RECTS = [
    "kIBClose", "kIBMin", "kIBMute", "kIBTest", "kImgConn", "kImgMainBat", "kIMBatG",
    "kLblVolt", "kLblFr", "kLblOp", "kLblBat", "kLblMsg", "kLblIdenti",
    "kLblTit0", "kLblTit1", "kLblTit2",
]

failures = []

ART_SCALES = (100, 150, 200)
SCALED_ID_STEP = 1000
ICON_SIZES = (16, 20, 24, 32, 40, 48)


def scale_by(v, percent):
    """common/core/dpi_scale.h's ScaleBy: MulDiv rounding, halves away from zero."""
    return (v * percent + 50) // 100


def scaled_name(fname, percent):
    base, ext = os.path.splitext(fname)
    return fname if percent == 100 else "%s_%d%s" % (base, percent, ext)


def fail(msg):
    failures.append(msg)


def read_bmp(path):
    """Returns (width, height, bpp, pixel getter) for an uncompressed BMP."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"BM":
        raise ValueError("not a BMP")
    off = struct.unpack_from("<I", data, 10)[0]
    hsize, w, h, planes, bpp, comp = struct.unpack_from("<IiiHHI", data, 14)
    if comp != 0 or bpp != 24:
        raise ValueError("expected an uncompressed 24-bit BMP, got bpp=%d compression=%d" % (bpp, comp))
    stride = (w * 3 + 3) & ~3
    bottom_up = h > 0
    ah = abs(h)
    if len(data) < off + stride * ah:
        raise ValueError("pixel data truncated")

    def pixel(x, y):
        row = (ah - 1 - y) if bottom_up else y
        i = off + row * stride + x * 3
        b, g, r = data[i], data[i + 1], data[i + 2]
        return (r, g, b)

    return w, ah, bpp, pixel


def ico_sizes(path):
    with open(path, "rb") as f:
        data = f.read()
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1 or count == 0:
        raise ValueError("not an icon file")
    sizes = []
    for i in range(count):
        w, h, _, _, _, _, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        if offset + size > len(data):
            raise ValueError("image %d runs past the end of the file" % i)
        sizes.append((w or 256, h or 256))
    return sizes


def parse_layout(path):
    text = open(path, encoding="utf-8").read()
    rects = {}
    for m in re.finditer(r"inline\s+constexpr\s+Rect\s+(\w+)\s*\{\s*(-?\d+)\s*,\s*(-?\d+)\s*,\s*(\d+)\s*,\s*(\d+)\s*\}", text):
        rects[m.group(1)] = tuple(int(m.group(i)) for i in range(2, 6))
    return text, rects


def parse_rc(path):
    files = []
    for line in open(path, encoding="ascii"):
        m = re.match(r"\s*(\w+)\s+(ICON|BITMAP)\s+\"([^\"]+)\"", line)
        if m:
            files.append((m.group(1), m.group(2), m.group(3)))
    return files


def parse_ids(path):
    ids = {}
    for line in open(path, encoding="ascii"):
        m = re.match(r"\s*#define\s+(\w+)\s+(\d+)\s*$", line)
        if m:
            ids[m.group(1)] = int(m.group(2))
    return ids


def overlap(a, b):
    return a[0] < b[0] + b[2] and b[0] < a[0] + a[2] and a[1] < b[1] + b[3] and b[1] < a[1] + a[3]


def main(argv):
    res = argv[1] if len(argv) > 1 else DEFAULT_RES
    rc = os.path.join(res, "corvamon.rc")
    layout_h = os.path.join(res, "skin_layout.h")
    resource_h = os.path.join(res, "resource.h")
    for p in (rc, layout_h, resource_h, os.path.join(res, "corvamon.manifest")):
        if not os.path.isfile(p):
            fail("missing %s" % p)
    if failures:
        return report()

    layout_text, rects = parse_layout(layout_h)
    for name in ["kSkin"] + CHILD_RECTS:
        if name not in rects:
            fail("skin_layout.h: no rect %s" % name)
    for name in ("kTextColour", "kTitleColour", "kMessageColour",
                 "kValueFontPx", "kTitleFontPx", "kSmallFontPx"):
        if not re.search(r"inline\s+constexpr\s+\w+\s+%s\s*=" % name, layout_text):
            fail("skin_layout.h: no constant %s" % name)
    if rects.get("kSkin") != (0, 0, 400, 260):
        fail("kSkin is %r, expected (0, 0, 400, 260)" % (rects.get("kSkin"),))

    skin_w, skin_h = 400, 260
    for name in CHILD_RECTS:
        r = rects.get(name)
        if r and not (r[0] >= 0 and r[1] >= 0 and r[0] + r[2] <= skin_w and r[1] + r[3] <= skin_h):
            fail("%s %r is not inside the window" % (name, r))
    for i, a in enumerate(CHILD_RECTS):
        for b in CHILD_RECTS[i + 1:]:
            if a in rects and b in rects and overlap(rects[a], rects[b]):
                fail("%s %r overlaps %s %r" % (a, rects[a], b, rects[b]))

    ids = parse_ids(resource_h)
    if ids.get("IDI_CORVAMON") != 1:
        fail("IDI_CORVAMON must be 1, is %r" % ids.get("IDI_CORVAMON"))
    for base in ("IDB_GAUGE_", "IDI_TRAY_BAT_"):
        first = ids.get(base + "00")
        for n in range(11):
            v = ids.get("%s%02d" % (base, n))
            if first is None or v != first + n:
                fail("%s%02d is %r, expected %s00 + %d" % (base, n, v, base, n))
    res_ids = [v for k, v in ids.items() if k.startswith(("IDI_", "IDB_"))]
    if len(set(res_ids)) != len(res_ids):
        fail("resource.h gives two resources the same ID")

    entries = parse_rc(rc)
    if not entries:
        fail("corvamon.rc lists no ICON/BITMAP")
    by_id = {}
    for define, kind, fname in entries:
        num = ids.get(define, int(define) if define.isdigit() else None)
        if num is None:
            fail("corvamon.rc uses %s, which resource.h does not define" % define)
            continue
        if num in by_id:
            fail("corvamon.rc gives id %d to %s and %s" % (num, by_id[num][1], fname))
        by_id[num] = (kind, fname)

    seen = set()
    for num, (kind, fname) in sorted(by_id.items()):
        path = os.path.join(res, fname)
        if not os.path.isfile(path):
            fail("%d: file %s does not exist" % (num, fname))
            continue
        if kind != "ICON":
            continue
        seen.add(fname)
        try:
            sizes = ico_sizes(path)
            for want in ICON_SIZES:
                if (want, want) not in sizes:
                    fail("%s: no %dx%d image (has %r)" % (fname, want, want, sizes))
        except (OSError, ValueError, struct.error) as e:
            fail("%s: %s" % (fname, e))

    base_bitmaps = [(num, fname) for num, (kind, fname) in sorted(by_id.items())
                    if kind == "BITMAP" and num < SCALED_ID_STEP]
    for percent in ART_SCALES:
        step = SCALED_ID_STEP * ART_SCALES.index(percent)
        sw, sh = scale_by(skin_w, percent), scale_by(skin_h, percent)
        skin_px = None
        skin_file = scaled_name("skin.bmp", percent)
        try:
            w, h, _, skin_px = read_bmp(os.path.join(res, skin_file))
            if (w, h) != (sw, sh):
                fail("%s is %dx%d, expected %dx%d" % (skin_file, w, h, sw, sh))
        except (OSError, ValueError) as e:
            fail("%s: %s" % (skin_file, e))
        for num, base_name in base_bitmaps:
            entry = by_id.get(num + step)
            fname = scaled_name(base_name, percent)
            if entry is None or entry != ("BITMAP", fname):
                fail("resource %d should be BITMAP %s, is %r" % (num + step, fname, entry))
                continue
            seen.add(fname)
            try:
                w, h, _, px = read_bmp(os.path.join(res, fname))
            except (OSError, ValueError, struct.error) as e:
                fail("%s: %s" % (fname, e))
                continue
            if base_name == "skin.bmp":
                continue
            rect_name = next((r for p, r in PICTURE_RECT if base_name.startswith(p)), None)
            if rect_name is None:
                fail("%s: no rect known for this picture" % fname)
                continue
            r = rects.get(rect_name)
            if r is None:
                continue
            r = tuple(scale_by(v, percent) for v in r)
            if (w, h) != (r[2], r[3]):
                fail("%s is %dx%d but %s at %d %% is %dx%d"
                     % (fname, w, h, rect_name, percent, r[2], r[3]))
                continue
            if skin_px:
                for cx, cy in ((0, 0), (w - 1, 0), (0, h - 1), (w - 1, h - 1)):
                    a, b = px(cx, cy), skin_px(r[0] + cx, r[1] + cy)
                    if max(abs(a[i] - b[i]) for i in range(3)) > 3:
                        fail("%s pixel (%d,%d) is %r, skin under it is %r" % (fname, cx, cy, a, b))

    for must in ["skin.bmp", "battery.bmp", "corvamon.ico", "tray_nousb.ico",
                 "link_serial.bmp", "link_usb.bmp"] + \
            ["gauge_%02d.bmp" % n for n in range(11)] + ["tray_bat_%02d.ico" % n for n in range(11)] + \
            ["%s_%s.bmp" % (b, s) for b in ("sound", "mute", "close", "min", "test")
             for s in ("normal", "down", "hover")]:
        for percent in (ART_SCALES if must.endswith(".bmp") else (100,)):
            if scaled_name(must, percent) not in seen:
                fail("corvamon.rc does not list %s" % scaled_name(must, percent))

    return report(len(entries))


def report(count=0):
    if failures:
        for f in failures:
            print("art_check: FAIL: " + f)
        print("art_check: %d failure(s)" % len(failures))
        return 1
    print("art_check: OK (%d resources checked)" % count)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
