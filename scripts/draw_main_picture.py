#!/usr/bin/python3
# -*- coding: utf-8 -*-
"""Draws the artwork of Lumopet's main window and the program icon.

    /usr/bin/python3 scripts/draw_main_picture.py

writes app/resources/main_picture.png (543 x 348, RGB) and
app/resources/lumopet_icon.png (64 x 64, RGBA).  Only PIL is needed.

The main window lays transparent labels over the picture at fixed pixel
rectangles, so the picture never carries any words itself: it only offers a
surface under each caption (sign planks, hanging boards, a banner, lantern
orbs) dark enough for white, yellow and green text.  The rectangles below
must follow the window layout in the C++ code; if a label moves there, move
its surface here and re-run the script.

Everything is drawn at SS times the final size and shrunk with LANCZOS, and
the random generator is seeded, so a re-run reproduces the same bytes.
"""

import math
import os
import random

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageOps

W, H = 543, 348
SS = 3  # supersampling factor

HERE = os.path.dirname(os.path.abspath(__file__))
OUT_DIR = os.path.normpath(os.path.join(HERE, "..", "app", "resources"))

# ---------------------------------------------------------------- layout
# Label rectangles of the main window (x, y, width, height), in picture pixels.
MENU_LEFT = [  # sign planks on the signpost, with the way each plank points
    ((48, 88, 81, 21), "right"),   # 新規作成
    ((32, 136, 81, 21), "left"),   # 受信
    ((40, 200, 73, 21), "left"),   # 着信履歴
    ((48, 249, 81, 21), "right"),  # 送信履歴
]
MENU_RIGHT = [  # boards hanging from the tree branch
    (416, 93, 81, 21),    # アドレス帳
    (432, 128, 73, 29),   # 設定
    (416, 195, 81, 29),   # HomePage
    (416, 245, 73, 29),   # Small
]
HELP_RECT = (120, 24, 297, 41)
TITLE_RECT = (200, 224, 153, 17)
CHOICE_RECT = (232, 136, 81, 17)
MOOD_DIGITS = [(184, 136), (208, 104), (265, 89), (317, 96), (344, 137)]
DIGIT_W, DIGIT_H = 9, 17
STATUS_RECT = (152, 288, 249, 18)

MARGIN = 4  # every caption surface reaches this far past its label

# ---------------------------------------------------------------- palette
SKY_STOPS = [  # (y in picture pixels, colour) – dusk from the zenith down
    (0, (17, 15, 50)),
    (90, (36, 30, 88)),
    (165, (70, 52, 124)),
    (215, (142, 88, 140)),
    (250, (236, 156, 128)),
    (348, (250, 196, 140)),
]
STAR = (255, 244, 200)
MOON = (255, 236, 178)

WOOD = (104, 64, 38)
WOOD_LIGHT = (146, 96, 58)
WOOD_DARK = (70, 42, 24)
WOOD_EDGE = (46, 27, 16)
POST = (84, 52, 32)

NIGHT_PANEL_TOP = (22, 20, 58)
NIGHT_PANEL_BOTTOM = (34, 28, 82)
GOLD = (232, 190, 98)
GOLD_PALE = (255, 226, 150)
BERRY = (126, 42, 78)
BERRY_DARK = (78, 24, 50)
BERRY_LIGHT = (160, 66, 104)

HILL_FAR = (58, 70, 120)
HILL_MID = (36, 84, 92)
HILL_NEAR = (44, 108, 86)
HILL_NEAR_TOP = (70, 136, 98)
GROUND = (34, 78, 62)
GROUND_DEEP = (24, 56, 48)

LEAF_DARK = (24, 58, 54)
LEAF = (34, 84, 68)
LEAF_LIGHT = (58, 116, 82)
BARK = (72, 46, 34)
BARK_LIGHT = (102, 68, 48)

ORB_CORE = (20, 22, 44)
# One rim per mood, from the grey-blue sulk of 1 to the radiant gold of 5.
MOOD_COLOURS = [
    (138, 150, 172),
    (132, 170, 226),
    (118, 212, 176),
    (246, 178, 92),
    (255, 216, 64),
]
RAINBOW = [  # outermost stripe first
    (255, 150, 176),
    (255, 194, 138),
    (250, 236, 150),
    (150, 228, 186),
    (140, 188, 250),
    (186, 160, 242),
]
ENVELOPE = (255, 246, 226)
ENVELOPE_LINE = (120, 96, 150)
POSTBOX = (204, 58, 52)
POSTBOX_DARK = (142, 34, 34)

BLUSH = (255, 140, 150)
FACE_INK = (40, 30, 48)


def s(v):
    """Picture pixels to canvas pixels."""
    return v * SS


def sw(v):
    """A line width in canvas pixels (PIL wants whole numbers)."""
    return max(1, int(round(v * SS)))


def sp(points):
    return [(s(x), s(y)) for x, y in points]


def box(x0, y0, x1, y1):
    return [s(x0), s(y0), s(x1), s(y1)]


def lerp(a, b, t):
    return a + (b - a) * t


def mix(c1, c2, t):
    return tuple(int(round(lerp(a, b, t))) for a, b in zip(c1, c2))


def rgba(c, a=255):
    return (c[0], c[1], c[2], a)


def grown(rect, m=MARGIN):
    x, y, w, h = rect
    return (x - m, y - m, x + w + m, y + h + m)


def new_layer():
    return Image.new("RGBA", (s(W), s(H)), (0, 0, 0, 0))


def clipped(layer, mask):
    """The layer with everything outside mask made transparent."""
    alpha = Image.composite(layer.getchannel("A"), Image.new("L", mask.size, 0), mask)
    layer.putalpha(alpha)
    return layer


def over(canvas, layer, at=(0, 0)):
    """Lay an RGBA layer over the opaque RGB canvas."""
    canvas.paste(layer, at, layer)


def paste_blurred(canvas, layer, radius, mask=None):
    """Lay a layer over the canvas through a gaussian blur (radius in picture px)."""
    blur_over(canvas, layer, s(radius), mask)


def blur_over(canvas, layer, radius, mask=None):
    """Lay a layer over the RGB canvas through a gaussian blur (radius in canvas px).

    The blur runs on premultiplied colour; blurring straight RGBA would drag
    the black of the transparent pixels into every glow and soft edge.
    """
    r, g, b, a = layer.split()
    pre = Image.merge("RGB", [ImageChops.multiply(c, a) for c in (r, g, b)])
    blur = ImageFilter.GaussianBlur(radius)
    pre, a = pre.filter(blur), a.filter(blur)
    if mask is not None:
        pre = ImageChops.multiply(pre, Image.merge("RGB", (mask, mask, mask)))
        a = ImageChops.multiply(a, mask)
    keep = ImageOps.invert(a)
    canvas.paste(ImageChops.add(ImageChops.multiply(canvas, Image.merge("RGB", (keep, keep, keep))),
                                pre))


def pen(canvas):
    """A drawing context that blends translucent ink into the RGB canvas."""
    return ImageDraw.Draw(canvas, "RGBA")


def drop_shadow(canvas, polys_or_boxes, offset=(1.5, 2.5), alpha=110, blur=1.6):
    sh = new_layer()
    d = ImageDraw.Draw(sh)
    for item in polys_or_boxes:
        kind, geom = item
        if kind == "poly":
            d.polygon(sp([(x + offset[0], y + offset[1]) for x, y in geom]),
                      fill=(8, 6, 20, alpha))
        else:
            x0, y0, x1, y1, r = geom
            d.rounded_rectangle(box(x0 + offset[0], y0 + offset[1],
                                    x1 + offset[0], y1 + offset[1]),
                                radius=s(r), fill=(8, 6, 20, alpha))
    paste_blurred(canvas, sh, blur)


def catmull_rom(points, steps=24):
    """Smooth curve through the given points (ends are repeated)."""
    pts = [points[0]] + list(points) + [points[-1]]
    out = []
    for i in range(1, len(pts) - 2):
        p0, p1, p2, p3 = pts[i - 1], pts[i], pts[i + 1], pts[i + 2]
        for k in range(steps):
            t = k / steps
            t2, t3 = t * t, t * t * t
            out.append(tuple(
                0.5 * (2 * p1[j] + (-p0[j] + p2[j]) * t
                       + (2 * p0[j] - 5 * p1[j] + 4 * p2[j] - p3[j]) * t2
                       + (-p0[j] + 3 * p1[j] - 3 * p2[j] + p3[j]) * t3)
                for j in range(2)))
    out.append(points[-1])
    return out


def offset_curve(curve, dist):
    """The curve pushed sideways by dist (positive = outwards/upwards)."""
    out = []
    n = len(curve)
    for i, (x, y) in enumerate(curve):
        ax, ay = curve[max(i - 1, 0)]
        bx, by = curve[min(i + 1, n - 1)]
        tx, ty = bx - ax, by - ay
        ln = math.hypot(tx, ty) or 1.0
        nx, ny = ty / ln, -tx / ln  # left-hand normal: points away from arc centre
        out.append((x + nx * dist, y + ny * dist))
    return out


# ---------------------------------------------------------------- sky
def draw_sky(canvas):
    d = pen(canvas)
    for yy in range(s(H)):
        y = yy / SS
        for (y0, c0), (y1, c1) in zip(SKY_STOPS, SKY_STOPS[1:]):
            if y0 <= y <= y1:
                t = (y - y0) / (y1 - y0)
                t = t * t * (3 - 2 * t)
                col = mix(c0, c1, t)
                break
        d.line([(0, yy), (s(W), yy)], fill=rgba(col))

    # a warm breath of light low behind the middle hill
    glow = new_layer()
    gd = ImageDraw.Draw(glow)
    gd.ellipse(box(150, 170, 400, 300), fill=(255, 178, 140, 70))
    paste_blurred(canvas, glow, 28)


def keep_out_boxes():
    boxes = [grown(HELP_RECT, 10), grown(CHOICE_RECT, 8), grown(TITLE_RECT, 10)]
    for rect, _ in MENU_LEFT:
        boxes.append(grown(rect, 8))
    for rect in MENU_RIGHT:
        boxes.append(grown(rect, 8))
    for x, y in MOOD_DIGITS:
        boxes.append((x - 10, y - 6, x + DIGIT_W + 10, y + DIGIT_H + 6))
    boxes.append((20, 12, 84, 72))       # moon
    boxes.append((420, 0, W, 90))       # tree crown
    return boxes


def inside_any(x, y, boxes):
    return any(x0 <= x <= x1 and y0 <= y <= y1 for x0, y0, x1, y1 in boxes)


def draw_stars(canvas, rng):
    boxes = keep_out_boxes()
    glow = new_layer()
    gd = ImageDraw.Draw(glow)
    layer = new_layer()
    d = ImageDraw.Draw(layer)
    placed = 0
    tries = 0
    while placed < 46 and tries < 5000:
        tries += 1
        x = rng.uniform(4, W - 4)
        y = rng.uniform(3, 178)
        # fewer stars lower down, where the dusk is still bright
        if rng.random() < y / 200.0:
            continue
        if inside_any(x, y, boxes):
            continue
        placed += 1
        r = rng.choice([0.45, 0.55, 0.6, 0.7, 0.8, 1.0])
        a = int(rng.uniform(150, 255))
        d.ellipse(box(x - r, y - r, x + r, y + r), fill=rgba(STAR, a))
        if r >= 0.8:
            gd.ellipse(box(x - 3, y - 3, x + 3, y + 3), fill=rgba(STAR, 70))
    # a handful of bigger twinkles
    for x, y, r in [(104, 22, 3.2), (160, 84, 2.6), (380, 160, 2.4),
                    (20, 96, 2.4), (395, 68, 2.2), (224, 80, 2.0)]:
        sparkle(d, x, y, r, rgba(STAR, 235))
        gd.ellipse(box(x - r * 1.6, y - r * 1.6, x + r * 1.6, y + r * 1.6),
                   fill=rgba(STAR, 60))
    paste_blurred(canvas, glow, 1.6)
    over(canvas, layer)


def sparkle(d, x, y, r, fill):
    """A four-pointed twinkle."""
    t = r * 0.28
    d.polygon(sp([(x, y - r), (x + t, y - t), (x + r, y), (x + t, y + t),
                  (x, y + r), (x - t, y + t), (x - r, y), (x - t, y - t)]),
              fill=fill)


def draw_moon(canvas):
    cx, cy, r = 50, 40, 17
    glow = new_layer()
    ImageDraw.Draw(glow).ellipse(box(cx - r * 2.1, cy - r * 2.1, cx + r * 2.1, cy + r * 2.1),
                                 fill=rgba(MOON, 46))
    paste_blurred(canvas, glow, 9)

    mask = Image.new("L", (s(W), s(H)), 0)
    md = ImageDraw.Draw(mask)
    md.ellipse(box(cx - r, cy - r, cx + r, cy + r), fill=255)
    md.ellipse(box(cx - r + 9, cy - r - 5, cx + r + 9, cy + r - 5), fill=0)
    moon = Image.new("RGB", (s(W), s(H)), MOON)
    # soft shading so the crescent reads as round
    shade = new_layer()
    ImageDraw.Draw(shade).ellipse(box(cx - r - 6, cy - r + 2, cx + r - 10, cy + r + 12),
                                  fill=(236, 186, 120, 90))
    paste_blurred(moon, shade, 4)
    canvas.paste(moon, (0, 0), mask)

    # a sleepy little face on the crescent: it is the night's mascot too
    d = pen(canvas)
    ink = (150, 110, 80, 255)
    d.arc(box(cx - 12, cy + 0, cx - 8, cy + 4), 200, 340, fill=ink, width=sw(1))
    d.ellipse(box(cx - 13, cy + 5, cx - 9.5, cy + 7.5), fill=(255, 170, 150, 200))
    d.arc(box(cx - 9, cy + 7, cx - 4, cy + 11), 30, 150, fill=ink, width=sw(1))


# ---------------------------------------------------------------- land
def hill_polygon(base, waves, x_from=-10, x_to=W + 10, bottom=H + 10):
    pts = []
    x = x_from
    while x <= x_to:
        y = base + sum(a * math.sin(x * f + p) for a, f, p in waves)
        pts.append((x, y))
        x += 2
    pts += [(x_to, bottom), (x_from, bottom)]
    return pts


def draw_land(canvas, rng):
    d = pen(canvas)
    far = hill_polygon(224, [(9, 0.018, 0.3), (5, 0.041, 1.7), (2, 0.09, 0.4)])
    d.polygon(sp(far), fill=rgba(HILL_FAR))
    mid = hill_polygon(252, [(10, 0.014, 2.2), (6, 0.033, 0.1), (2, 0.08, 1.0)])
    d.polygon(sp(mid), fill=rgba(HILL_MID))

    # a soft haze where the far hills meet the dusk
    haze = new_layer()
    ImageDraw.Draw(haze).rectangle(box(0, 214, W, 236), fill=(236, 160, 150, 40))
    paste_blurred(canvas, haze, 6)

    # the little hill the mood lanterns arch over
    hill = new_layer()
    hd = ImageDraw.Draw(hill)
    hd.ellipse(box(150, 206, 392, 330), fill=rgba(HILL_NEAR))
    over(canvas, hill)
    light = new_layer()
    ImageDraw.Draw(light).ellipse(box(178, 206, 340, 262), fill=rgba(HILL_NEAR_TOP, 150))
    mask = Image.new("L", (s(W), s(H)), 0)
    ImageDraw.Draw(mask).ellipse(box(150, 206, 392, 330), fill=255)
    paste_blurred(canvas, light, 7, mask=mask)

    # foreground meadow: gentle, so the status line above it stays calm
    front = new_layer()
    fd = ImageDraw.Draw(front)
    ground = hill_polygon(300, [(6, 0.012, 0.6), (3, 0.031, 2.0)])
    fd.polygon(sp(ground), fill=rgba(GROUND))
    over(canvas, front)
    deep = new_layer()
    ImageDraw.Draw(deep).rectangle(box(0, 326, W, H + 4), fill=rgba(GROUND_DEEP, 200))
    paste_blurred(canvas, deep, 8)

    # grass tufts and tiny flowers, away from the status line and mascots
    avoid = [grown(STATUS_RECT, 5), (160, 312, 390, 348)]
    blades = new_layer()
    bd = ImageDraw.Draw(blades)
    for _ in range(70):
        x = rng.uniform(4, W - 4)
        base_y = 300 + 6 * math.sin(x * 0.012 + 0.6) + 3 * math.sin(x * 0.031 + 2.0)
        y = rng.uniform(base_y + 3, H - 3)
        if inside_any(x, y, avoid):
            continue
        col = rgba(mix(GROUND, (120, 180, 110), rng.uniform(0.25, 0.55)), 210)
        for k in (-1, 0, 1):
            bd.line(sp([(x + k * 1.1, y), (x + k * 2.0, y - rng.uniform(2.5, 4.5))]),
                    fill=col, width=sw(0.6))
    flower_cols = [(255, 214, 120), (255, 170, 190), (200, 186, 255), (255, 250, 230)]
    for _ in range(26):
        x = rng.uniform(6, W - 6)
        y = rng.uniform(306, H - 4)
        if inside_any(x, y, avoid) or (420 < x < 500 and y < 336):
            continue
        c = rng.choice(flower_cols)
        for a in range(5):
            ang = a * 2 * math.pi / 5
            px, py = x + math.cos(ang) * 1.1, y + math.sin(ang) * 1.1
            bd.ellipse(box(px - 0.8, py - 0.8, px + 0.8, py + 0.8), fill=rgba(c, 230))
        bd.ellipse(box(x - 0.5, y - 0.5, x + 0.5, y + 0.5), fill=(255, 200, 80, 255))
    over(canvas, blades)


# ---------------------------------------------------------------- wood
def wood_grain(canvas, clip_poly, x0, y0, x1, y1, rng):
    """Faint grain lines kept inside clip_poly, low enough not to fight text."""
    grain = new_layer()
    gd = ImageDraw.Draw(grain)
    yy = y0 + 3.5
    while yy < y1 - 2:
        pts = []
        x = x0
        ph = rng.uniform(0, 6.28)
        amp = rng.uniform(0.3, 0.8)
        while x <= x1:
            pts.append((x, yy + amp * math.sin(x * 0.11 + ph)))
            x += 2
        gd.line(sp(pts), fill=rgba(WOOD_DARK, 70), width=sw(0.5))
        yy += rng.uniform(3.5, 5.5)
    # one knot, for character
    kx = rng.uniform(x0 + 10, x1 - 10)
    ky = rng.uniform(y0 + 5, y1 - 5)
    gd.ellipse(box(kx - 2.2, ky - 1.1, kx + 2.2, ky + 1.1), outline=rgba(WOOD_DARK, 70),
               width=sw(0.5))
    mask = Image.new("L", (s(W), s(H)), 0)
    ImageDraw.Draw(mask).polygon(sp(clip_poly), fill=255)
    over(canvas, clipped(grain, mask))


def shaded_shape(canvas, poly, body, light, dark, edge):
    """Fill a wooden shape with a lit top edge and a shaded bottom."""
    pen(canvas).polygon(sp(poly), fill=rgba(body))
    ys = [p[1] for p in poly]
    top, bot = min(ys), max(ys)
    mask = Image.new("L", (s(W), s(H)), 0)
    ImageDraw.Draw(mask).polygon(sp(poly), fill=255)
    shade = new_layer()
    sd = ImageDraw.Draw(shade)
    sd.rectangle(box(0, top, W, top + 2.2), fill=rgba(light, 230))
    sd.rectangle(box(0, bot - 2.4, W, bot), fill=rgba(dark, 220))
    paste_blurred(canvas, shade, 0.6, mask=mask)
    pen(canvas).line(sp(poly + [poly[0]]), fill=rgba(edge), width=sw(1), joint="curve")


def rounded_poly(x0, y0, x1, y1, r, tip=None, tip_len=10):
    """A plank outline; optionally with an arrow tip on one side."""
    def arc(cx, cy, a0, a1):
        return [(cx + r * math.cos(math.radians(a)), cy + r * math.sin(math.radians(a)))
                for a in range(a0, a1 + 1, 15)]
    my = (y0 + y1) / 2
    pts = []
    # top-left corner clockwise
    if tip == "left":
        pts += [(x0 - tip_len, my), (x0, y0)]
    else:
        pts += arc(x0 + r, y0 + r, 180, 270)
    if tip == "right":
        pts += [(x1, y0), (x1 + tip_len, my), (x1, y1)]
    else:
        pts += arc(x1 - r, y0 + r, 270, 360)
        pts += arc(x1 - r, y1 - r, 0, 90)
    if tip == "left":
        pts += [(x0, y1)]
    else:
        pts += arc(x0 + r, y1 - r, 90, 180)
    return pts


def nail(d, x, y):
    d.ellipse(box(x - 1.3, y - 1.3, x + 1.3, y + 1.3), fill=(58, 50, 54, 255))
    d.ellipse(box(x - 0.7, y - 0.9, x + 0.2, y - 0.1), fill=(190, 180, 170, 255))


def draw_signpost(canvas, rng):
    px0, px1 = 73, 86
    # the post, planted in the meadow
    drop_shadow(canvas, [("box", (px0, 70, px1, 306, 2))], offset=(2.5, 1), alpha=90)
    post = [(px0, 76), (px0 + 2, 70), (px1 - 2, 70), (px1, 76), (px1 + 1, 306), (px0 - 1, 306)]
    shaded_shape(canvas, post, POST, WOOD_LIGHT, WOOD_DARK, WOOD_EDGE)
    d = pen(canvas)
    d.line(sp([(px0 + 3, 78), (px0 + 3, 300)]), fill=rgba(WOOD_LIGHT, 120), width=sw(1))
    # a little gold star finial on top of the post
    sparkle(d, (px0 + px1) / 2, 65, 5, rgba(GOLD))
    # grass around its foot
    for k in range(-6, 7):
        x = (px0 + px1) / 2 + k * 1.6
        d.line(sp([(x, 306), (x + k * 0.3, 300 - abs(k) % 3 * 1.2)]),
               fill=rgba((78, 140, 96)), width=sw(0.8))

    for rect, way in MENU_LEFT:
        x0, y0, x1, y1 = grown(rect)
        poly = rounded_poly(x0, y0, x1, y1, 3, tip=way, tip_len=9)
        drop_shadow(canvas, [("poly", poly)])
        shaded_shape(canvas, poly, WOOD, WOOD_LIGHT, WOOD_DARK, WOOD_EDGE)
        wood_grain(canvas, poly, x0 - 10, y0, x1 + 10, y1, rng)
        d = pen(canvas)
        cx = (px0 + px1) / 2
        nail(d, cx, y0 + 1.9)
        nail(d, cx, y1 - 1.9)


def draw_tree(canvas, rng):
    d = pen(canvas)
    # trunk
    trunk = [(513, 40), (532, 40), (534, 150), (538, 260), (548, 306), (500, 306),
             (509, 262), (512, 150)]
    shaded_shape(canvas, trunk, BARK, BARK_LIGHT, (48, 30, 24), (40, 24, 20))
    d = pen(canvas)
    for x, y0, y1 in [(518, 100, 140), (526, 170, 230), (516, 236, 280), (529, 60, 96)]:
        d.line(sp([(x, y0), (x + 1, (y0 + y1) / 2), (x, y1)]), fill=rgba((50, 32, 26)),
               width=sw(0.8), joint="curve")
    d.line(sp([(514, 46), (513, 150), (510, 262), (503, 302)]),
           fill=rgba(BARK_LIGHT, 160), width=sw(1.2), joint="curve")
    # roots
    d.polygon(sp([(500, 306), (492, 309), (512, 300)]), fill=rgba(BARK))
    d.polygon(sp([(548, 306), (540, 296), (543, 309)]), fill=rgba(BARK))

    # the branch the boards hang from
    branch = catmull_rom([(520, 66), (480, 77), (440, 79), (404, 74)], steps=10)
    upper = offset_curve(branch, 3.4)
    lower = offset_curve(branch, -2.6)
    poly = upper + lower[::-1]
    shaded_shape(canvas, poly, BARK, BARK_LIGHT, (48, 30, 24), (40, 24, 20))
    d = pen(canvas)
    d.ellipse(box(400, 71, 407, 78), fill=rgba(BARK))
    # two leaves sprouting from the branch tip
    for lx, ly, ang in [(405, 70, -40), (401, 76, 200)]:
        leaf(d, lx, ly, ang, 6, LEAF_LIGHT)

    # crown
    crown = new_layer()
    cd = ImageDraw.Draw(crown)
    blobs = [(462, 8, 30), (500, 0, 38), (540, 26, 32), (488, 40, 26), (446, 40, 18),
             (525, 54, 20)]
    for cx, cy, r in blobs:
        cd.ellipse(box(cx - r, cy - r, cx + r, cy + r), fill=rgba(LEAF_DARK))
    for cx, cy, r in blobs:
        r2 = r * 0.78
        cd.ellipse(box(cx - r2 - 2, cy - r2 - 3, cx + r2 - 2, cy + r2 - 3), fill=rgba(LEAF))
    for cx, cy, r in blobs:
        r3 = r * 0.42
        cd.ellipse(box(cx - r3 - 6, cy - r3 - 8, cx + r3 - 6, cy + r3 - 8),
                   fill=rgba(LEAF_LIGHT, 170))
    paste_blurred(canvas, crown, 0.5)

    # a string of warm fairy lights draped through the crown
    string = catmull_rom([(432, 44), (458, 56), (490, 50), (516, 64), (543, 56)], steps=20)
    d = pen(canvas)
    d.line(sp(string), fill=(30, 34, 30, 255), width=sw(0.6), joint="curve")
    glow = new_layer()
    gd = ImageDraw.Draw(glow)
    bulbs = string[4::8]
    for i, (x, y) in enumerate(bulbs):
        col = [(255, 214, 120), (255, 170, 150), (255, 236, 170)][i % 3]
        gd.ellipse(box(x - 4, y - 4 + 1.5, x + 4, y + 4 + 1.5), fill=rgba(col, 110))
    paste_blurred(canvas, glow, 2)
    d = pen(canvas)
    for i, (x, y) in enumerate(bulbs):
        col = [(255, 214, 120), (255, 170, 150), (255, 236, 170)][i % 3]
        d.ellipse(box(x - 1.4, y, x + 1.4, y + 2.8), fill=rgba(col))


def leaf(d, x, y, ang, ln, col):
    a = math.radians(ang)
    tip = (x + math.cos(a) * ln, y + math.sin(a) * ln)
    nx, ny = -math.sin(a) * ln * 0.32, math.cos(a) * ln * 0.32
    mid = (x + math.cos(a) * ln * 0.5, y + math.sin(a) * ln * 0.5)
    d.polygon(sp([(x, y), (mid[0] + nx, mid[1] + ny), tip, (mid[0] - nx, mid[1] - ny)]),
              fill=rgba(col))


def draw_hanging_boards(canvas, rng):
    rope_x = (436, 484)
    rope = (196, 170, 120, 255)
    branch_y = 78.5  # underside of the branch over the ropes
    boards = [grown(r) for r in MENU_RIGHT]
    d = pen(canvas)
    # ropes first, so the boards cover their knots
    prev_bottom = None
    for i, (x0, y0, x1, y1) in enumerate(boards):
        start = branch_y if i == 0 else prev_bottom - 2
        for rx in rope_x:
            d.line(sp([(rx, start), (rx, y0 + 2)]), fill=(70, 52, 36, 255), width=sw(1.6))
            d.line(sp([(rx - 0.3, start), (rx - 0.3, y0 + 2)]), fill=rope, width=sw(0.8))
        prev_bottom = y1
    for i, (x0, y0, x1, y1) in enumerate(boards):
        poly = rounded_poly(x0, y0, x1, y1, 4)
        drop_shadow(canvas, [("poly", poly)], offset=(2, 2.5))
        shaded_shape(canvas, poly, WOOD, WOOD_LIGHT, WOOD_DARK, WOOD_EDGE)
        wood_grain(canvas, poly, x0, y0, x1, y1, rng)
        d = pen(canvas)
        for rx in rope_x:
            # little brass rings where the rope is tied
            d.ellipse(box(rx - 1.7, y0 - 0.2, rx + 1.7, y0 + 3.2), outline=rgba(GOLD),
                      width=sw(0.7))
            if i < len(boards) - 1:
                d.ellipse(box(rx - 1.7, y1 - 3.2, rx + 1.7, y1 + 0.2), outline=rgba(GOLD),
                          width=sw(0.7))
    # rope knots on the branch
    for rx in rope_x:
        d.ellipse(box(rx - 2, branch_y - 4, rx + 2, branch_y + 0.5), fill=rope)


def draw_postbox(canvas):
    x0, x1, y0, y1 = 448, 472, 286, 326
    drop_shadow(canvas, [("box", (x0, y0, x1, y1, 4))], offset=(2, 1.5), alpha=90)
    d = pen(canvas)
    d.ellipse(box(x0 - 3, y1 - 3, x1 + 7, y1 + 3), fill=(14, 34, 28, 110))
    # round top Japanese post box
    d.rounded_rectangle(box(x0, y0 + 6, x1, y1), radius=s(2), fill=rgba(POSTBOX))
    d.ellipse(box(x0, y0, x1, y0 + 14), fill=rgba(POSTBOX))
    d.rectangle(box(x0 + 2, y0 + 4, x0 + 4, y1 - 2), fill=(232, 104, 90, 255))
    d.rectangle(box(x1 - 3, y0 + 6, x1, y1), fill=rgba(POSTBOX_DARK, 150))
    d.rounded_rectangle(box(x0 + 5, y0 + 11, x1 - 5, y0 + 14), radius=s(1),
                        fill=(60, 18, 22, 255))
    # 〒 mark, drawn with lines rather than a glyph
    cx, cy = (x0 + x1) / 2, y0 + 21
    ink = (255, 236, 220, 255)
    d.line(sp([(cx - 3.5, cy - 3), (cx + 3.5, cy - 3)]), fill=ink, width=sw(1))
    d.line(sp([(cx - 3.5, cy - 0.5), (cx + 3.5, cy - 0.5)]), fill=ink, width=sw(1))
    d.line(sp([(cx, cy - 0.5), (cx, cy + 4.5)]), fill=ink, width=sw(1))
    d.rectangle(box(x0 - 1, y1 - 2, x1 + 1, y1 + 1), fill=(110, 30, 30, 255))
    # a letter peeking out of the slot
    d.polygon(sp([(x0 + 8, y0 + 12.5), (x0 + 14, y0 + 8), (x0 + 17, y0 + 11), (x0 + 15, y0 + 12.5)]),
              fill=rgba(ENVELOPE))


# ---------------------------------------------------------------- middle
def mood_centres():
    return [(x + DIGIT_W / 2, y + DIGIT_H / 2) for x, y in MOOD_DIGITS]


def draw_rainbow(canvas):
    c = mood_centres()
    pts = [(172, 236)] + c + [(368, 236)]
    curve = catmull_rom(pts, steps=30)
    band = new_layer()
    bd = ImageDraw.Draw(band)
    stripe = 2.6
    n = len(RAINBOW)
    for i, col in enumerate(RAINBOW):
        off = (n / 2 - i - 0.5) * stripe
        bd.line(sp(offset_curve(curve, off)), fill=rgba(col, 120), width=sw(stripe + 0.4),
                joint="curve")
    paste_blurred(canvas, band, 3)
    paste_blurred(canvas, band, 0.5)


def draw_mood_orbs(canvas):
    glow = new_layer()
    gd = ImageDraw.Draw(glow)
    for i, (cx, cy) in enumerate(mood_centres()):
        col = MOOD_COLOURS[i]
        r = 11 + i * 1.6
        gd.ellipse(box(cx - r, cy - r, cx + r, cy + r), fill=rgba(col, 70 + i * 22))
    paste_blurred(canvas, glow, 3.5)

    d = pen(canvas)
    for i, (cx, cy) in enumerate(mood_centres()):
        col = MOOD_COLOURS[i]
        # the core is kept plain and as wide as the rim allows: the digit sits on it
        ro, ri = 8.8, 7.0
        # tiny lantern cap and hook: the orbs hang on the rainbow like lamps
        d.rounded_rectangle(box(cx - 2.6, cy - ro - 2.2, cx + 2.6, cy - ro + 0.8),
                            radius=s(0.8), fill=rgba(mix(col, (60, 50, 40), 0.45)))
        d.ellipse(box(cx - ro, cy - ro, cx + ro, cy + ro), fill=rgba(col))
        d.ellipse(box(cx - ro + 0.6, cy - ro + 0.6, cx + ro - 0.6, cy + ro - 0.6),
                  outline=rgba(mix(col, (255, 255, 255), 0.55)), width=sw(0.7))
        d.ellipse(box(cx - ri, cy - ri, cx + ri, cy + ri), fill=rgba(ORB_CORE))
        # highlight glint on the rim
        d.ellipse(box(cx - ro + 1.4, cy - ro + 1.6, cx - ro + 3.6, cy - ro + 3.8),
                  fill=(255, 255, 255, 220))
    # the brightest mood earns a couple of extra sparkles
    x5, y5 = mood_centres()[4]
    sparkle(d, x5 + 12, y5 - 9, 3.2, rgba(GOLD_PALE))
    sparkle(d, x5 + 9, y5 + 11, 2.0, rgba(GOLD_PALE))
    x1, y1 = mood_centres()[0]
    # and the gloomiest one a lone raindrop
    d.polygon(sp([(x1 - 13, y1 + 1), (x1 - 14.6, y1 + 4.4), (x1 - 11.4, y1 + 4.4)]),
              fill=(150, 176, 220, 230))
    d.ellipse(box(x1 - 14.7, y1 + 2.9, x1 - 11.3, y1 + 6.3), fill=(150, 176, 220, 230))


def draw_choice_sign(canvas):
    x0, y0, x1, y1 = grown(CHOICE_RECT)
    # two legs down to the hilltop
    d = pen(canvas)
    for lx in (x0 + 12, x1 - 12):
        d.rectangle(box(lx - 1.4, y1 - 1, lx + 1.4, 214), fill=rgba(POST))
        d.line(sp([(lx - 0.6, y1), (lx - 0.6, 213)]), fill=rgba(WOOD_LIGHT, 150), width=sw(0.6))
    night_panel(canvas, x0, y0, x1, y1, 5)


def night_panel(canvas, x0, y0, x1, y1, r):
    drop_shadow(canvas, [("box", (x0, y0, x1, y1, r))], offset=(1.5, 2.5), alpha=120)
    panel = new_layer()
    pd = ImageDraw.Draw(panel)
    for yy in range(s(y0), s(y1) + 1):
        t = (yy / SS - y0) / max(1, (y1 - y0))
        pd.line([(s(x0), yy), (s(x1), yy)], fill=rgba(mix(NIGHT_PANEL_TOP, NIGHT_PANEL_BOTTOM, t)))
    mask = Image.new("L", (s(W), s(H)), 0)
    ImageDraw.Draw(mask).rounded_rectangle(box(x0, y0, x1, y1), radius=s(r), fill=255)
    panel.putalpha(mask)
    over(canvas, panel)
    d = pen(canvas)
    d.rounded_rectangle(box(x0, y0, x1, y1), radius=s(r), outline=rgba(GOLD), width=sw(1.4))
    d.rounded_rectangle(box(x0 + 2, y0 + 2, x1 - 2, y1 - 2), radius=s(max(1, r - 2)),
                        outline=rgba(GOLD, 70), width=sw(0.6))


def draw_help_banner(canvas):
    x0, y0, x1, y1 = grown(HELP_RECT, 6)
    # hung from the top edge on two golden cords
    d = pen(canvas)
    for cx in (x0 + 26, x1 - 26):
        d.line(sp([(cx, -2), (cx, y0 + 2)]), fill=rgba(GOLD, 220), width=sw(1))
    night_panel(canvas, x0, y0, x1, y1, 8)
    d = pen(canvas)
    for cx in (x0 + 26, x1 - 26):
        d.ellipse(box(cx - 2.2, y0 - 2.2, cx + 2.2, y0 + 2.2), fill=rgba(GOLD))
        d.ellipse(box(cx - 1, y0 - 1.2, cx + 0.2, y0), fill=rgba(GOLD_PALE))
    # small stars pinned to the corners, outside where the words go
    sparkle(d, x0 + 3.8, y1 - 3.8, 2.6, rgba(GOLD_PALE))
    sparkle(d, x1 - 3.8, y1 - 3.8, 2.6, rgba(GOLD_PALE))


def draw_title_ribbon(canvas):
    x0, y0, x1, y1 = grown(TITLE_RECT, 5)
    tail = 18
    drop = 6
    d = pen(canvas)
    # the tails behind the ribbon
    left_tail = [(x0 + 6, y0 + drop), (x0 - tail, y0 + drop), (x0 - tail + 7, (y0 + y1) / 2 + drop),
                 (x0 - tail, y1 + drop), (x0 + 6, y1 + drop)]
    right_tail = [(x1 - 6, y0 + drop), (x1 + tail, y0 + drop), (x1 + tail - 7, (y0 + y1) / 2 + drop),
                  (x1 + tail, y1 + drop), (x1 - 6, y1 + drop)]
    drop_shadow(canvas, [("poly", left_tail), ("poly", right_tail),
                         ("box", (x0, y0, x1, y1, 2))], alpha=120)
    d = pen(canvas)
    for t in (left_tail, right_tail):
        d.polygon(sp(t), fill=rgba(BERRY_DARK))
        d.line(sp(t + [t[0]]), fill=rgba((54, 14, 34)), width=sw(0.8), joint="curve")
    # the folds that tuck the tails under
    d.polygon(sp([(x0, y1), (x0 + 6, y1 + drop), (x0 + 6, y1)]), fill=rgba((48, 12, 30)))
    d.polygon(sp([(x1, y1), (x1 - 6, y1 + drop), (x1 - 6, y1)]), fill=rgba((48, 12, 30)))
    # main band with a gentle sheen
    shaded_shape(canvas, [(x0, y0), (x1, y0), (x1, y1), (x0, y1)], BERRY, BERRY_LIGHT,
                 BERRY_DARK, (60, 16, 38))
    d = pen(canvas)
    d.line(sp([(x0 + 2, y0 + 2.2), (x1 - 2, y0 + 2.2)]), fill=rgba(GOLD, 150), width=sw(0.6))
    d.line(sp([(x0 + 2, y1 - 2.2), (x1 - 2, y1 - 2.2)]), fill=rgba(GOLD, 150), width=sw(0.6))


# ---------------------------------------------------------------- flyers
def envelope(canvas, cx, cy, w, ang, trail=True):
    h = w * 0.66
    a = math.radians(ang)
    ca, sa = math.cos(a), math.sin(a)

    def rot(px, py):
        return (cx + px * ca - py * sa, cy + px * sa + py * ca)

    body = [rot(-w / 2, -h / 2), rot(w / 2, -h / 2), rot(w / 2, h / 2), rot(-w / 2, h / 2)]
    flap = [rot(-w / 2, -h / 2), rot(0, h * 0.12), rot(w / 2, -h / 2)]
    if trail:
        tl = new_layer()
        td = ImageDraw.Draw(tl)
        for k in range(1, 6):
            px, py = rot(-w / 2 - k * 3.4, math.sin(k * 1.3) * 1.8)
            r = 1.3 - k * 0.17
            td.ellipse(box(px - r, py - r, px + r, py + r), fill=rgba(GOLD_PALE, 200 - k * 32))
        over(canvas, tl)
    glow = new_layer()
    ImageDraw.Draw(glow).polygon(sp(body), fill=rgba(GOLD_PALE, 110))
    paste_blurred(canvas, glow, 2.5)
    d = pen(canvas)
    d.polygon(sp(body), fill=rgba(ENVELOPE))
    d.line(sp(body + [body[0]]), fill=rgba(ENVELOPE_LINE), width=sw(0.7), joint="curve")
    d.line(sp(flap), fill=rgba(ENVELOPE_LINE), width=sw(0.7), joint="curve")
    # a heart seal
    hx, hy = rot(0, h * 0.1)
    d.ellipse(box(hx - 1.3, hy - 1.3, hx + 1.3, hy + 1.3), fill=(236, 96, 118, 255))


# ---------------------------------------------------------------- mascots
def mascot(canvas, cx, base, size, col, mood):
    w = size
    h = size * 0.86
    d = pen(canvas)
    d.ellipse(box(cx - w * 0.55, base - 1.6, cx + w * 0.55, base + 1.8), fill=(10, 30, 24, 120))
    body = new_layer()
    bd = ImageDraw.Draw(body)
    bd.ellipse(box(cx - w / 2, base - h, cx + w / 2, base + h * 0.12), fill=rgba(col))
    belly = new_layer()
    ImageDraw.Draw(belly).chord(box(cx - w / 2, base - h * 0.55, cx + w / 2, base + h * 0.12),
                                20, 160, fill=rgba(mix(col, (40, 30, 60), 0.28), 110))
    body.alpha_composite(belly)
    # flatten the bottom: they sit, they don't roll
    over(canvas, body.crop((0, 0, s(W), s(base + 0.3))))
    d = pen(canvas)
    d.ellipse(box(cx - w * 0.3, base - h * 0.9, cx - w * 0.08, base - h * 0.74),
              fill=(255, 255, 255, 150))
    ex = w * 0.17
    ey = base - h * 0.48
    if mood == 1:        # droopy, half-closed
        for sx in (-1, 1):
            d.line(sp([(cx + sx * ex - 1.4, ey - 0.2 * sx), (cx + sx * ex + 1.4, ey + 0.2 * sx)]),
                   fill=rgba(FACE_INK), width=sw(0.8))
        d.arc(box(cx - 1.6, ey + 2.4, cx + 1.6, ey + 4.8), 200, 340, fill=rgba(FACE_INK),
              width=sw(0.7))
    elif mood == 5:      # beaming ^ ^
        for sx in (-1, 1):
            d.arc(box(cx + sx * ex - 1.7, ey - 1.2, cx + sx * ex + 1.7, ey + 2.2), 200, 340,
                  fill=rgba(FACE_INK), width=sw(0.9))
        d.chord(box(cx - 2.6, ey + 0.8, cx + 2.6, ey + 5.2), 0, 180, fill=(150, 50, 60, 255))
    else:
        for sx in (-1, 1):
            d.ellipse(box(cx + sx * ex - 1.0, ey - 1.3, cx + sx * ex + 1.0, ey + 1.3),
                      fill=rgba(FACE_INK))
            d.ellipse(box(cx + sx * ex - 0.6, ey - 1.0, cx + sx * ex, ey - 0.3),
                      fill=(255, 255, 255, 230))
        if mood == 2:
            d.line(sp([(cx - 1.3, ey + 3), (cx + 1.3, ey + 3)]), fill=rgba(FACE_INK), width=sw(0.7))
        else:
            wd = 1.6 if mood == 3 else 2.2
            d.arc(box(cx - wd, ey + 0.8, cx + wd, ey + 3.8), 20, 160, fill=rgba(FACE_INK),
                  width=sw(0.8))
    if mood >= 2:
        for sx in (-1, 1):
            bx = cx + sx * w * 0.3
            d.ellipse(box(bx - 1.6, ey + 1.6, bx + 1.6, ey + 3.2), fill=rgba(BLUSH, 150))


def draw_mascots(canvas):
    y = 338
    xs = [180, 228, 276, 324, 372]
    sizes = [18, 19, 20, 21, 22]
    bob = [0, -1, 0, -2, -3]  # the happier, the bouncier
    for i, x in enumerate(xs):
        mascot(canvas, x, y + bob[i], sizes[i], MOOD_COLOURS[i], i + 1)
    # mood 4 carries a letter on its head, mood 5 sparkles
    envelope(canvas, 324, 318, 10, -8, trail=False)
    d = pen(canvas)
    sparkle(d, 388, 318, 2.6, rgba(GOLD_PALE))
    sparkle(d, 360, 314, 1.8, rgba(GOLD_PALE))
    # and a drizzle cloud keeps mood 1 company
    cx, cy = 180, 315
    for ox, oy, r in [(-4, 1, 3.4), (0, -1, 4.2), (4, 1, 3.2)]:
        d.ellipse(box(cx + ox - r, cy + oy - r, cx + ox + r, cy + oy + r), fill=(170, 178, 196, 235))
    for ox in (-3, 1, 4):
        d.line(sp([(cx + ox, cy + 5), (cx + ox - 0.6, cy + 7.5)]), fill=(150, 176, 220, 220),
               width=sw(0.7))


# ---------------------------------------------------------------- picture
def draw_main_picture():
    rng = random.Random(213)
    canvas = Image.new("RGB", (s(W), s(H)), SKY_STOPS[0][1])
    draw_sky(canvas)
    draw_stars(canvas, rng)
    draw_moon(canvas)
    draw_land(canvas, rng)
    draw_rainbow(canvas)
    draw_choice_sign(canvas)
    draw_title_ribbon(canvas)
    draw_mood_orbs(canvas)
    draw_tree(canvas, rng)
    draw_hanging_boards(canvas, rng)
    draw_postbox(canvas)
    draw_signpost(canvas, rng)
    draw_help_banner(canvas)
    envelope(canvas, 160, 112, 14, -16)
    envelope(canvas, 388, 158, 13, 12)
    envelope(canvas, 140, 190, 11, -6)
    draw_mascots(canvas)
    return canvas.resize((W, H), Image.LANCZOS)


# ---------------------------------------------------------------- icon
def draw_icon(size=64):
    """A smiling envelope on a dusk tile, in the picture's colours."""
    k = 8  # the icon is tiny, so supersample harder
    n = size * k

    def b(x0, y0, x1, y1):
        return [x0 * k, y0 * k, x1 * k, y1 * k]

    def p(pts):
        return [(x * k, y * k) for x, y in pts]

    def layer():
        return Image.new("RGBA", (n, n), (0, 0, 0, 0))

    def star(d, x, y, r, fill, outline=None):
        q = r * 0.3
        d.polygon(p([(x, y - r), (x + q, y - q), (x + r, y), (x + q, y + q),
                     (x, y + r), (x - q, y + q), (x - r, y), (x - q, y - q)]),
                  fill=fill, outline=outline)

    # everything is painted opaque first; the rounded tile shape becomes the
    # alpha channel at the very end
    img = Image.new("RGB", (n, n), SKY_STOPS[1][1])
    d = ImageDraw.Draw(img, "RGBA")
    for yy in range(n):
        d.line([(0, yy), (n, yy)], fill=rgba(mix(SKY_STOPS[1][1], SKY_STOPS[2][1], yy / n)))
    d.ellipse(b(-8, 48, 72, 92), fill=rgba(HILL_NEAR))
    d.ellipse(b(8, 46, 40, 56), fill=rgba(HILL_NEAR_TOP, 160))
    crescent = Image.new("L", (n, n), 0)
    cd = ImageDraw.Draw(crescent)
    cd.ellipse(b(7, 7, 19, 19), fill=255)
    cd.ellipse(b(11, 4.5, 23, 16.5), fill=0)
    img.paste(MOON, (0, 0, n, n), crescent)
    for x, y, r in [(27, 9, 1.6), (40, 12, 1.1), (21, 19, 1.0)]:
        star(d, x, y, r, rgba(GOLD_PALE))

    # warm glow behind the envelope
    glow = layer()
    ImageDraw.Draw(glow).ellipse(b(10, 14, 54, 56), fill=rgba(MOOD_COLOURS[4], 90))
    blur_over(img, glow, 5 * k)

    # the envelope with a face
    x0, y0, x1, y1 = 12, 21, 52, 50
    shadow = layer()
    ImageDraw.Draw(shadow).rounded_rectangle(b(x0 + 1, y0 + 2, x1 + 1, y1 + 2), radius=4 * k,
                                             fill=(10, 8, 30, 130))
    blur_over(img, shadow, 1 * k)
    d = ImageDraw.Draw(img, "RGBA")
    d.rounded_rectangle(b(x0, y0, x1, y1), radius=4 * k, fill=rgba(ENVELOPE),
                        outline=rgba(ENVELOPE_LINE), width=int(1.3 * k))
    d.line(p([(x0 + 1.5, y0 + 2), (32, 35), (x1 - 1.5, y0 + 2)]), fill=rgba(ENVELOPE_LINE),
           width=int(1.3 * k), joint="curve")
    ink = rgba(FACE_INK)
    for ex in (25, 39):
        d.ellipse(b(ex - 2, 38.5, ex + 2, 43.5), fill=ink)
        d.ellipse(b(ex - 1.2, 39.2, ex - 0.1, 40.6), fill=(255, 255, 255, 255))
    d.arc(b(29.5, 40.5, 34.5, 45.2), 20, 160, fill=ink, width=int(1.2 * k))
    for bx in (21, 43):
        d.ellipse(b(bx - 2.6, 43, bx + 2.6, 45.8), fill=rgba(BLUSH, 170))
    # heart seal at the flap point
    heart = (236, 96, 118, 255)
    hx, hy = 32, 33.5
    d.ellipse(b(hx - 3.1, hy - 2.4, hx + 0.2, hy + 0.8), fill=heart)
    d.ellipse(b(hx - 0.2, hy - 2.4, hx + 3.1, hy + 0.8), fill=heart)
    d.polygon(p([(hx - 3, hy - 0.4), (hx + 3, hy - 0.4), (hx, hy + 3.2)]), fill=heart)

    # the radiant mood's sparkle, the one every letter hopes for
    ox, oy = 51, 17
    shine = layer()
    ImageDraw.Draw(shine).ellipse(b(ox - 6, oy - 6, ox + 6, oy + 6), fill=rgba(MOOD_COLOURS[4], 150))
    blur_over(img, shine, 2 * k)
    d = ImageDraw.Draw(img, "RGBA")
    star(d, ox, oy, 7.5, rgba(MOOD_COLOURS[4]), rgba((150, 100, 30)))

    d.rounded_rectangle(b(2, 2, 62, 62), radius=13 * k, outline=rgba(GOLD), width=int(1.6 * k))
    tile = Image.new("L", (n, n), 0)
    ImageDraw.Draw(tile).rounded_rectangle(b(2, 2, 62, 62), radius=13 * k, fill=255)
    icon = img.convert("RGBA")
    icon.putalpha(tile)
    return icon.resize((size, size), Image.LANCZOS)


def main():
    os.makedirs(OUT_DIR, exist_ok=True)
    picture = draw_main_picture()
    assert picture.size == (W, H) and picture.mode == "RGB"
    picture.save(os.path.join(OUT_DIR, "main_picture.png"), optimize=True)
    icon = draw_icon()
    icon.save(os.path.join(OUT_DIR, "lumopet_icon.png"), optimize=True)
    print("wrote", os.path.join(OUT_DIR, "main_picture.png"))
    print("wrote", os.path.join(OUT_DIR, "lumopet_icon.png"))


if __name__ == "__main__":
    main()
