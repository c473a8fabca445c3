#!/usr/bin/python3
# -*- coding: utf-8 -*-
"""Draws the five walking characters of Lumopet, one per mood.

    /usr/bin/python3 chara/art/draw_characters.py

writes, next to this script, for each mood m in 1..5:

    mood{m}_initial.gif   the greeting pose shown when the window appears
    mood{m}_frame{k}.gif  k = 0..7, the walk:
                          bit 0 of k: which of the two steps,
                          bit 1 of k: heading right (else left),
                          bit 2 of k: walking up, away from us (else down)

Each file is a 64 x 64 GIF with a full 256-colour palette whose entry 0 is
silver (C0C0C0).  The character window cuts itself to every pixel that is
not the colour of pixel (0, 0), so the figures are plain pixel art: no
blending against the background, a dark rim all round so they read on any
desktop, and never the exact silver inside a figure.  The script prints,
per picture, how many rectangles that window shape needs (runs of figure
pixels per row, equal neighbouring rows merged): fewer is cheaper.

Only PIL is used and nothing is random, so a re-run gives the same bytes.
"""

import math
import os

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
SIZE = 64
BG = (192, 192, 192)

# Colours shared with the main picture, so the walkers look like the
# little ones sitting on its grass.
FACE_INK = (40, 30, 48)
ENVELOPE = (255, 246, 226)
ENVELOPE_SHADE = (232, 218, 206)
ENVELOPE_LINE = (120, 96, 150)
SEAL = (236, 96, 118)
BLUSH = (255, 140, 150)
WHITE = (255, 255, 255)
MOUTH_RED = (150, 50, 60)
TONGUE = (236, 118, 128)
SHADOW_HUE = (74, 52, 112)   # shadows lean violet, like the dusk of the main picture

# Body colours from grey-blue sulk to radiant gold.  Mood 2 is pushed from
# the main picture's periwinkle a little toward lavender, so that 1 and 2
# never look alike at a glance on the desktop.
BODY = {
    1: (138, 150, 172),
    2: (166, 160, 230),
    3: (118, 212, 176),
    4: (246, 178, 92),
    5: (255, 216, 64),
}

GROUND = 61          # lowest row the feet touch
BODY_FLOOR = 57      # the body is a dome cut flat here: they sit, they don't roll


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


class Tones:
    """The ramp one body colour is shaded with."""

    def __init__(self, base):
        self.base = base
        self.hi = mix(base, (255, 255, 250), 0.62)
        self.light = mix(base, (255, 252, 236), 0.26)
        self.shade = mix(base, SHADOW_HUE, 0.20)
        self.deep = mix(base, SHADOW_HUE, 0.38)
        self.line = mix(mix(base, SHADOW_HUE, 0.55), (30, 22, 40), 0.35)
        self.rim = mix((30, 22, 40), base, 0.16)
        self.stalk = mix(self.rim, base, 0.42)


# ---------------------------------------------------------------- raster
class Sheet:
    """A 64 x 64 picture being painted, None where the desktop shows."""

    def __init__(self):
        self.px = [[None] * SIZE for _ in range(SIZE)]
        self.keep = set()   # pixels the rim pass must leave alone

    def put(self, x, y, c, keep=False):
        if 0 <= x < SIZE and 0 <= y < SIZE:
            self.px[y][x] = c
            if keep:
                self.keep.add((x, y))
            else:
                self.keep.discard((x, y))

    def filled(self):
        return {(x, y) for y in range(SIZE) for x in range(SIZE) if self.px[y][x] is not None}


N4 = ((1, 0), (-1, 0), (0, 1), (0, -1))


def ellipse(cx, cy, rx, ry):
    out = set()
    for y in range(int(math.floor(cy - ry)) - 1, int(math.ceil(cy + ry)) + 1):
        for x in range(int(math.floor(cx - rx)) - 1, int(math.ceil(cx + rx)) + 1):
            if ((x + 0.5 - cx) / rx) ** 2 + ((y + 0.5 - cy) / ry) ** 2 <= 1.0:
                out.add((x, y))
    return out


def edge_of(mask):
    return {p for p in mask if any((p[0] + dx, p[1] + dy) not in mask for dx, dy in N4)}


def paint(sheet, mask, fill, line=None, clip=None):
    """Fills a shape; with `line`, its own contour is drawn in that colour so
    that overlapping pieces (an arm over the body) stay readable."""
    rim = edge_of(mask) if line is not None else set()
    for (x, y) in mask:
        if clip is not None and (x, y) not in clip:
            continue
        if (x, y) in rim:
            c = line
        else:
            c = fill(x, y) if callable(fill) else fill
        sheet.put(x, y, c)


def stamp(sheet, x0, y0, rows, colours, flip=False, clip=None, keep=False):
    """Copies a small hand-placed bitmap; '.' leaves the pixel alone."""
    w = max(len(r) for r in rows)
    for j, row in enumerate(rows):
        for i, ch in enumerate(row):
            if ch == '.' or ch == ' ':
                continue
            x = x0 + (w - 1 - i if flip else i)
            y = y0 + j
            if clip is not None and (x, y) not in clip:
                continue
            sheet.put(x, y, colours[ch], keep=keep)


def line_pixels(points):
    """A 1-pixel polyline through integer points."""
    out = []
    for (x0, y0), (x1, y1) in zip(points, points[1:]):
        n = max(abs(x1 - x0), abs(y1 - y0), 1)
        for i in range(n + 1):
            p = (int(round(x0 + (x1 - x0) * i / n)), int(round(y0 + (y1 - y0) * i / n)))
            if not out or out[-1] != p:
                out.append(p)
    return out


def add_rim(sheet, colour):
    """Every figure pixel touching the desktop becomes the dark rim."""
    fig = sheet.filled()
    for (x, y) in fig:
        if (x, y) in sheet.keep:
            continue
        if x in (0, SIZE - 1) or y in (0, SIZE - 1) or \
                any((x + dx, y + dy) not in fig for dx, dy in N4):
            sheet.put(x, y, colour)


# ---------------------------------------------------------------- the pieces
class Pose:
    """Where everything of one picture goes."""

    def __init__(self, mood, view, d, step):
        self.mood = mood
        self.view = view      # 'front', 'down' (three-quarter front), 'up' (three-quarter back)
        self.d = d            # -1 heading left, +1 heading right, 0 facing us
        self.step = step      # 0 or 1
        self.t = Tones(BODY[mood])
        if mood == 1:
            # slumped: lower and wider, as if the letter weighed a lot
            self.rx, self.ry = 19.5, 15.5
        else:
            self.rx, self.ry = 18.5, 18.0
        # the first step pushes off, the second lands a pixel lower
        bob = step if view != 'front' else 0
        self.floor = BODY_FLOOR + bob
        self.cy = self.floor - self.ry * 0.78
        # the body stands a little behind the middle so that body plus the
        # letter held out in front stay centred in the window
        self.cx = 32.0 - 3.0 * d
        self.top = self.cy - self.ry


def body_mask(p):
    m = ellipse(p.cx, p.cy, p.rx, p.ry)
    return {(x, y) for (x, y) in m if y < p.floor}


def body_fill(p):
    t = p.t
    # light from the upper left, whichever way the character walks
    lx, ly, lz = -0.48, -0.62, 0.62
    n = math.sqrt(lx * lx + ly * ly + lz * lz)
    lx, ly, lz = lx / n, ly / n, lz / n

    def f(x, y):
        u = (x + 0.5 - p.cx) / p.rx
        v = (y + 0.5 - p.cy) / p.ry
        nz = math.sqrt(max(0.0, 1.0 - u * u - v * v))
        i = lx * u + ly * v + lz * nz
        if y >= p.floor - 2:
            return t.deep
        if i > 0.80:
            return t.light
        if i > 0.30:
            return t.base
        if i > -0.05:
            return t.shade
        return t.deep
    return f


def draw_body(s, p):
    m = body_mask(p)
    paint(s, m, body_fill(p), line=p.t.line)
    # the glossy spot that makes them look soft
    hx = p.cx - p.rx * 0.46
    hy = p.cy - p.ry * 0.56
    paint(s, ellipse(hx, hy, 3.4, 2.3), p.t.hi, clip=m)
    s.put(int(hx - 1), int(hy - 1), WHITE)
    return m


def tone_map(p):
    t = p.t
    return {'o': t.line, 'a': t.base, 'L': t.light, 'h': t.hi, 's': t.shade, 'd': t.deep,
            'p': mix(t.shade, BLUSH, 0.55), 'w': WHITE}


FOOT = [
    ".oooooo.",
    "oLLaaaao",
    "oaaaaaso",
    "osssssso",
    ".oooooo.",
]
FOOT_SOLE = [   # the raised foot seen from behind shows its pad
    ".oooooo.",
    "oappppao",
    "oappppso",
    "osssssso",
    ".oooooo.",
]
ARM = [         # a stubby mitten held out to the side
    ".oooo.",
    "oLLaao",
    "oLaaso",
    "oassso",
    ".oooo.",
]
ARM_UP = [      # the same, raised
    ".ooo.",
    "oLLao",
    "oLaao",
    "oLaao",
    "oaaso",
    ".oso.",
    ".oso.",
]
TAIL = [        # a round puff, lighter than the body
    "..ooo..",
    ".ohhLo.",
    "ohhLLLo",
    "oLLLLao",
    "oLLaaao",
    ".oaaao.",
    "..ooo..",
]


def put_sprite(s, p, rows, cx, cy, clip=None, bottom=False):
    """Centred on (cx, cy), or standing on row cy with `bottom`."""
    w, h = len(rows[0]), len(rows)
    y0 = int(round(cy)) - h + 1 if bottom else int(round(cy - h / 2.0))
    stamp(s, int(round(cx - w / 2.0)), y0, rows, tone_map(p), clip=clip)


def draw_feet(s, p, back=False):
    if p.view == 'front':
        for sx in (-1, 1):
            put_sprite(s, p, FOOT, p.cx + sx * 7.5, GROUND, bottom=True)
        return
    d = p.d
    lift = 1 if p.mood == 1 else 2        # the gloomy one shuffles
    reach = 1 if p.mood == 1 else 2
    ax, bx = p.cx + d * 5.5, p.cx - d * 7.5   # leading and trailing foot
    y = GROUND
    if p.step == 0:
        feet = [(bx - d, y, False), (ax + d * reach, y - lift, True)]
    else:
        feet = [(ax - d, y, False), (bx + d * reach, y - lift, True)]
    for fx, fy, lifted in feet:
        rows = FOOT_SOLE if (back and lifted) else FOOT
        put_sprite(s, p, rows, fx, fy, bottom=True)


def draw_arm(s, p, x, y, raised=False):
    put_sprite(s, p, ARM_UP if raised else ARM, x, y)


ENV_ROWS = [     # the flap and a heart seal, as on the main picture's letters
    "ooooooooooooo",
    "oeoeeeeeeeoeo",
    "oeeoeeeeeoeeo",
    "oeeeoeeeoeeeo",
    "oeeeeoroeeeeo",
    "oeeeerrreeeeo",
    "oeeeeereeeeeo",
    "ossssssssssso",
    "ooooooooooooo",
]


def draw_envelope(s, cx, y0):
    cols = {'o': ENVELOPE_LINE, 'e': ENVELOPE, 'r': SEAL, 's': ENVELOPE_SHADE}
    stamp(s, int(round(cx - 6.5)), int(round(y0)), ENV_ROWS, cols)


# -- faces ------------------------------------------------------------------
# '#' ink, 'w' glint; the right eye is the left one mirrored
EYES = {
    1: ["..##", "##..", "....", ".##.", ".##."],   # brows up in the middle: worried
    'look_up': ["..##", "##..", ".w#.", ".##.", ".##."],
    2: ["##", "##", "##"],                    # small, no shine: not quite awake to joy
    3: [".w#", "###", "###", ".#."],
    4: ["w##", "###", "##w", ".#."],         # two glints: sparkling
    5: [".###.", "#...#"],                 # ^ ^
}

MOUTHS = {
    1: [".##.", "#..#"],
    2: ["###"],
    3: ["#...#", ".###."],
    4: ["#.....#", ".#rrr#.", "..###.."],
    5: ["#######", "#rrrrr#", ".#ppp#.", "..###.."],
}


def draw_face(s, p, clip, look_up=False):
    mood, d = p.mood, p.d
    ink = {'#': FACE_INK, 'w': WHITE, 'r': MOUTH_RED, 'p': TONGUE}
    if p.view == 'down':
        fx = p.cx + d * 4.5
        # the far eye slides toward the middle of the face
        eye_x = sorted([fx - d * 6.0, fx + d * 5.0])
    else:
        fx = p.cx
        eye_x = [fx - 6.5, fx + 6.5]
    ey = p.cy + (2.5 if mood == 1 else 1.0)
    # rosy cheeks first, the eyes sit just above them
    if mood >= 2:
        strength = {2: 0.55, 3: 0.75, 4: 0.9, 5: 0.8}[mood]
        for ex in eye_x:
            side = -1 if ex < fx else 1
            paint(s, ellipse(ex + side * 2.5, ey + 3.5, 2.6, 1.5),
                  mix(p.t.base, BLUSH, strength), clip=clip)
    rows = EYES['look_up'] if look_up else EYES[mood]
    w, h = len(rows[0]), len(rows)
    for k, ex in enumerate(eye_x):
        stamp(s, int(round(ex - w / 2.0)), int(round(ey - h / 2.0)), rows, ink,
              flip=(k == 1), clip=clip)
    mouth = MOUTHS[mood]
    mw = len(mouth[0])
    mx = (eye_x[0] + eye_x[1]) / 2.0
    stamp(s, int(round(mx - mw / 2.0)), int(round(ey + 3)), mouth, ink, clip=clip)


# -- what grows on their heads: it perks up with the mood -------------------
def draw_antenna(s, p, lean):
    """lean: -1 or +1, the way the tip leans (forward when walking)."""
    t = p.t
    bx = int(round(p.cx + p.d * 2.5))
    by = int(round(p.top)) + 1
    mood = p.mood
    L = lean
    if mood == 1:
        pts = [(bx, by), (bx, by - 7), (bx + L, by - 8), (bx + L * 2, by - 8), (bx + L * 3, by - 7)]
    elif mood == 2:
        pts = [(bx, by), (bx, by - 4), (bx + L * 2, by - 6)]
    elif mood == 3:
        pts = [(bx, by), (bx, by - 6)]
    elif mood == 4:
        pts = [(bx, by), (bx, by - 3), (bx + L, by - 5), (bx + L, by - 6)]
    else:
        pts = [(bx, by), (bx, by - 7)]
    for (x, y) in line_pixels(pts):
        s.put(x, y, t.stalk, keep=True)
    tx, ty = pts[-1]
    if mood == 1:
        # a wilted bud hanging its head
        c = {'o': (44, 48, 70), 'a': (150, 160, 190), 'b': (196, 204, 222)}
        stamp(s, tx - 1, ty + 1, [".o.", "obo", "oao", ".o."], c)
    elif mood == 2:
        # a bud still closed
        c = {'o': (70, 44, 90), 'a': (206, 160, 224), 'b': (240, 214, 246)}
        stamp(s, tx - 2, ty - 4, [".oo.", "obao", "oaao", ".oo."], c)
    elif mood == 3:
        # a fresh sprout
        c = {'o': (34, 72, 44), 'g': (104, 190, 98), 'G': (70, 150, 78), 'l': (170, 232, 150)}
        stamp(s, tx - 5, ty - 2, [".ooo.", "olggo", ".oGGo", "..oo."], c)
        stamp(s, tx + 1, ty - 2, [".ooo.", "oglgo", "oGGo.", ".oo.."], c)
    elif mood == 4:
        c = {'o': (100, 26, 48), 'a': (240, 86, 112), 'b': (255, 184, 194)}
        stamp(s, tx - 3, ty - 5, [".oo.oo.", "obaoaao", "oaaaaao", ".oaaao.", "..oao..", "...o..."], c)
    else:
        c = {'o': (126, 78, 10), 'a': (255, 206, 36), 'b': (255, 244, 170), 'w': WHITE}
        stamp(s, tx - 4, ty - 7, [
            "....o....",
            "...oao...",
            "oooabaooo",
            "oaabwbaao",
            ".oabbbao.",
            "..oaaao..",
            ".oaaoaao.",
            ".oao.oao.",
            ".oo...oo.",
        ], c)


def draw_cloud(s, cx, cy, phase):
    """Mood 1's own little drizzle, following it everywhere."""
    light, grey, dark = (214, 218, 230), (180, 186, 204), (146, 152, 176)
    m = (ellipse(cx - 6, cy + 1.5, 5.5, 4.5) | ellipse(cx + 0.5, cy - 0.5, 6.5, 5.5)
         | ellipse(cx + 7, cy + 2, 5.0, 4.0))
    floor = cy + 5
    m = {(x, y) for (x, y) in m if y <= floor}

    def f(x, y):
        if y >= floor - 1:
            return dark
        if y <= cy - 2 or (y <= cy and x < cx - 4):
            return light
        return grey
    paint(s, m, f)
    rain_top, rain_mid = (168, 198, 240), (96, 134, 206)
    for i, x in enumerate((cx - 6, cx + 1, cx + 7)):
        y = floor + 2 + ((i + phase) % 2) * 3
        s.put(int(x), int(y), rain_top, keep=True)
        s.put(int(x), int(y) + 1, rain_mid, keep=True)
        s.put(int(x), int(y) + 2, rain_mid, keep=True)


def draw_sweat(s, x, y):
    c = {'o': (52, 76, 130), 'a': (170, 206, 246), 'w': WHITE}
    stamp(s, int(x), int(y), [".o.", "owo", "oao", "oao", ".o."], c)


def draw_sparkle(s, x, y, big):
    c = {'o': (150, 100, 20), 'a': (255, 236, 130), 'w': WHITE}
    if big:
        rows = ["..o..", ".oao.", "oawao", ".oao.", "..o.."]
    else:
        rows = [".o.", "oao", ".o."]
    w = len(rows[0])
    stamp(s, x - w // 2, y - w // 2, rows, c, keep=True)


# ---------------------------------------------------------------- the poses
def draw(mood, view, d, step):
    s = Sheet()
    p = Pose(mood, view, d, step)
    if view == 'front':
        draw_greeting(s, p)
    elif view == 'down':
        draw_walk_toward(s, p)
    else:
        draw_walk_away(s, p)
    extras(s, p, step)
    add_rim(s, p.t.rim)
    return s


def draw_walk_toward(s, p):
    d = p.d
    swing = 1 if p.step == 0 else -1     # arms swing against the feet
    draw_arm(s, p, p.cx - d * (p.rx - 0.5), p.cy + 3 - swing)
    bm = draw_body(s, p)
    draw_face(s, p, clip=bm)
    draw_feet(s, p)
    ey = p.cy + 1 + swing
    draw_envelope(s, p.cx + d * (p.rx + 3), ey)
    draw_arm(s, p, p.cx + d * (p.rx - 2.5), ey + 6)
    draw_antenna(s, p, d)


def draw_walk_away(s, p):
    d = p.d
    swing = 1 if p.step == 0 else -1
    # the letter is carried in front, so from behind only its end shows
    ey = p.cy - 2 + swing
    draw_envelope(s, p.cx + d * (p.rx + 1), ey)
    draw_arm(s, p, p.cx + d * (p.rx - 0.5), ey + 6)
    draw_feet(s, p, back=True)
    bm = draw_body(s, p)
    # a hint of cheek on the far edge tells which way it looks
    if p.mood >= 2:
        paint(s, ellipse(p.cx + d * (p.rx - 1.5), p.cy + 3.5, 1.6, 1.3),
              mix(p.t.base, BLUSH, 0.5), clip=bm)
    # the tail puff pokes out low on the side it walks away from
    put_sprite(s, p, TAIL, p.cx - d * (p.rx - 5.0), p.floor - 4.5)
    draw_arm(s, p, p.cx - d * (p.rx - 1.0), p.cy + 3 - swing)
    draw_antenna(s, p, d)


def draw_greeting(s, p):
    mood = p.mood
    bm = draw_body(s, p)
    draw_feet(s, p)
    draw_face(s, p, clip=bm, look_up=(mood == 1))
    # the letter on one side, a wave on the other: higher the happier
    if mood == 1:
        draw_envelope(s, p.cx - p.rx - 1, p.cy + 3)
        draw_arm(s, p, p.cx - p.rx + 2, p.cy + 9)
        draw_arm(s, p, p.cx + p.rx - 0.5, p.cy + 6)
        draw_sweat(s, p.cx + p.rx - 7, p.top + 6)
    elif mood in (2, 3):
        draw_envelope(s, p.cx - p.rx - 2, p.cy)
        draw_arm(s, p, p.cx - p.rx + 1.5, p.cy + 6)
        if mood == 2:
            draw_arm(s, p, p.cx + p.rx + 0.5, p.cy + 3)
        else:
            draw_arm(s, p, p.cx + p.rx + 0.5, p.cy - 5, raised=True)
    else:
        # held up high: "you've got mail!"
        draw_envelope(s, p.cx - p.rx - 3, p.top - 1)
        draw_arm(s, p, p.cx - p.rx + 1.5, p.top + 11, raised=True)
        draw_arm(s, p, p.cx + p.rx + 0.5, p.cy - (9 if mood == 5 else 6), raised=True)
    draw_antenna(s, p, 1)


def extras(s, p, step):
    if p.mood == 1:
        # the cloud lags a little behind the walker
        draw_cloud(s, p.cx - p.d * 2, 8, step)
    elif p.mood == 5:
        # sparkles twinkle from one step to the next
        if p.view == 'front':
            draw_sparkle(s, 9, 13, True)
            draw_sparkle(s, 57, 21, False)
            draw_sparkle(s, 49, 12, False)
        elif step == 0:
            draw_sparkle(s, 9, 13, True)
            draw_sparkle(s, 56, 21, False)
        else:
            draw_sparkle(s, 11, 17, False)
            draw_sparkle(s, 55, 15, True)


# ---------------------------------------------------------------- output
def to_image(s):
    colours = [BG]
    index = {BG: 0}
    for y in range(SIZE):
        for x in range(SIZE):
            c = s.px[y][x]
            if c is None:
                continue
            if c == BG:
                # the exact silver would punch a hole in the window
                c = (193, 192, 192)
                s.px[y][x] = c
            if c not in index:
                index[c] = len(colours)
                colours.append(c)
    assert len(colours) <= 256, len(colours)
    im = Image.new("P", (SIZE, SIZE), 0)
    pal = []
    for c in colours:
        pal.extend(c)
    pal.extend([0, 0, 0] * (256 - len(colours)))
    im.putpalette(pal)
    im.putdata([0 if s.px[y][x] is None else index[s.px[y][x]]
                for y in range(SIZE) for x in range(SIZE)])
    return im


def rectangle_count(im):
    """Rectangles the window shape is built of: row runs, equal rows merged."""
    w, h = im.size
    data = list(im.getdata())
    bg = data[0]
    total = 0
    prev = None
    for y in range(h):
        runs = []
        x = 0
        row = data[y * w:(y + 1) * w]
        while x < w:
            if row[x] != bg:
                x0 = x
                while x < w and row[x] != bg:
                    x += 1
                runs.append((x0, x))
            else:
                x += 1
        if runs != prev:
            total += len(runs)
        prev = runs
    return total


def pictures():
    for mood in range(1, 6):
        yield "mood%d_initial.gif" % mood, draw(mood, 'front', 0, 0)
        for k in range(8):
            step = k & 1
            d = 1 if k & 2 else -1
            view = 'up' if k & 4 else 'down'
            yield "mood%d_frame%d.gif" % (mood, k), draw(mood, view, d, step)


def main():
    worst = 0
    for name, sheet in pictures():
        im = to_image(sheet)
        path = os.path.join(HERE, name)
        im.save(path, format="GIF", optimize=False)
        n = rectangle_count(im)
        worst = max(worst, n)
        print("%-22s %3d rectangles %5d bytes" % (name, n, os.path.getsize(path)))
    print("most rectangles in one picture: %d" % worst)


if __name__ == "__main__":
    main()
