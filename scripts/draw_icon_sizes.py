#!/usr/bin/python3
"""Draws the program icon at the sizes a Linux desktop asks for, into
app/resources/icons/hicolor/SIZExSIZE/apps/lumopet.png, and a large copy
app/resources/icons/lumopet-512.png for software centres.

The icon's drawing lives in draw_main_picture.py, on a 64-unit grid
supersampled eight times; here the same drawing runs with the supersampling
raised so that the large sizes are drawn, not enlarged.  Only PIL is needed.
"""

import inspect
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import draw_main_picture as art  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "app", "resources", "icons")
SIZES = (16, 24, 32, 48, 64, 128, 256, 512)


def scalable_draw_icon():
    source = inspect.getsource(art.draw_icon)
    # The grid stays 64 units; only the pixels per unit grow with the size.
    for old, new in (("k = 8 ", "k = max(8, 8 * size // 64) "), ("n = size * k", "n = 64 * k")):
        if old not in source:
            sys.exit(f"draw_icon changed: cannot find {old!r}")
        source = source.replace(old, new, 1)
    namespace = dict(vars(art))
    exec(source, namespace)
    return namespace["draw_icon"]


def main():
    draw = scalable_draw_icon()
    for size in SIZES:
        icon = draw(size)
        assert icon.size == (size, size) and icon.mode == "RGBA"
        folder = os.path.join(OUT, "hicolor", f"{size}x{size}", "apps")
        os.makedirs(folder, exist_ok=True)
        icon.save(os.path.join(folder, "lumopet.png"), optimize=True)
        if size == 512:
            icon.save(os.path.join(OUT, "lumopet-512.png"), optimize=True)
    print("wrote", os.path.normpath(OUT))


if __name__ == "__main__":
    main()
