#!/usr/bin/env python3
"""Checks the pictures screens.sh took of every page in every language.

    check_screens.py --shots DIR --source TOP LANGUAGE_TAG...

DIR/<tag>/ holds page0.bmp ... page5.bmp (the whole window, 24-bit) and page0.json (where the client area
lies in the picture, whether the window is mirrored, the agreement group's and start button's rectangles in
pixels from the client area's left edge as the picture shows them, where the agreement sentence ends in its
control and where each of its characters stands, the button face colour, the user interface language, the
start button's text, and which characters of the painted texts the dialog font cannot draw). TOP is the
source tree: the artwork and string tables there say what the pictures must show. A right-to-left language
must show the mirror image of the rules for the others. Exit code 1 when a fact does not hold; every failure
is listed.
"""

import argparse
import json
import os
import re
import struct
import sys
import zlib

# LANGID each language's locale must give the program; the pictures are worthless in the wrong language.
LANGIDS = {
    "cs-CZ": 0x0405, "da-DK": 0x0406, "de-DE": 0x0407, "en-US": 0x0409, "es-ES": 0x0C0A, "fa-IR": 0x0429,
    "fi-FI": 0x040B, "fr-FR": 0x040C, "id-ID": 0x0421, "it-IT": 0x0410, "ja-JP": 0x0411, "ko-KR": 0x0412,
    "ms-MY": 0x043E, "nl-NL": 0x0413, "nn-NO": 0x0814, "pl-PL": 0x0415, "pt-BR": 0x0416, "pt-PT": 0x0816,
    "ru-RU": 0x0419, "sv-SE": 0x041D, "th-TH": 0x041E, "tr-TR": 0x041F, "vi-VN": 0x042A, "zh-CN": 0x0804,
    "zh-TW": 0x0404,
}
# Languages written right to left: their window is mirrored and their sentences read from the right.
RIGHT_TO_LEFT = {"fa-IR"}

GRADIENT_TOP = (46, 139, 22)
GRADIENT_MIDDLE = (96, 183, 52)
GRADIENT_BOTTOM = (28, 106, 16)
LOGO_MARGIN = 85            # the content area is the logo plus this on each side
STEP_HEADING_TOP = 68       # pages 1-4
CHECK_TOP = 100             # page 5: the check mark, then its text
CHECK_TEXT_GAP = 10
TOLERANCE = 6               # per channel
SIDE = 80                   # columns this close to either side are clear of every page's centred pictures
EDGE = 3                    # columns at each side of the content that no text may reach
WHITE = 250                 # every channel at least this: a text pixel (the button face is darker)
MIN_TEXT_PIXELS = 40
CENTRE_TOLERANCE = 4


class Image:
    """A 24-bit BMP as (r, g, b) rows, top row first."""

    def __init__(self, path):
        data = open(path, "rb").read()
        if data[:2] != b"BM":
            raise ValueError(f"{path}: not a BMP file")
        offset = struct.unpack_from("<I", data, 10)[0]
        width, height, _, bits, compression = struct.unpack_from("<iiHHI", data, 18)
        if bits != 24 or compression != 0:
            raise ValueError(f"{path}: {bits}-bit, compression {compression}; expected 24-bit uncompressed")
        stride = (width * 3 + 3) & ~3
        self.width, self.height = width, abs(height)
        self.rows = []
        for y in range(self.height):
            source = self.height - 1 - y if height > 0 else y  # positive height: stored bottom-up
            start = offset + source * stride
            row = data[start:start + width * 3]
            self.rows.append([(row[i + 2], row[i + 1], row[i]) for i in range(0, width * 3, 3)])

    def pixel(self, x, y):
        return self.rows[y][x]


def png_size(path):
    with open(path, "rb") as f:
        header = f.read(24)
    return struct.unpack(">II", header[16:24])


def png_rgba(path):
    """Decodes an 8-bit RGBA, non-interlaced PNG into rows of (r, g, b, a)."""
    data = open(path, "rb").read()
    pos, idat, width, height = 8, b"", 0, 0
    while pos < len(data):
        length, kind = struct.unpack_from(">I4s", data, pos)
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if (depth, colour, interlace) != (8, 6, 0):
                raise ValueError(f"{path}: expected 8-bit RGBA without interlacing")
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * 4
    previous = bytearray(stride)
    rows = []
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = previous[i]
            c = previous[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[i:i + 4]) for i in range(0, stride, 4)])
        previous = line
    return rows


def composite(art, colour):
    """The backdrop's artwork blended over a gradient colour, with the program's own arithmetic."""
    r, g, b, a = art
    return tuple((s * a + d * (255 - a)) >> 8 for s, d in zip((r, g, b), colour))


def start_text(rc_path):
    text = open(rc_path, encoding="utf-8").read()
    match = re.search(r'INSTALLER_DIALOG\(\s*"((?:[^"]|"")*)"', text)
    return match.group(1).replace('""', '"') if match else None


def agreement_sentence(rc_path):
    """The agreement sentence as the control shows it, and where each of its links starts in it."""
    text = open(rc_path, encoding="utf-8").read()
    match = re.search(r'INSTALLER_DIALOG\((?:\s*"(?:[^"]|"")*",){2}\s*"((?:[^"]|"")*)"', text)
    if not match:
        return None, []
    markup = re.sub(r"^<text>|</text>$", "", match.group(1).replace('""', '"'))
    plain, links = "", []
    for piece in re.split(r"(<a [^>]*>|</a>)", markup):
        if piece.startswith("<a "):
            links.append(len(plain))
        elif piece != "</a>":
            plain += piece
    return plain, links


def close(a, b, tolerance):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))


def intersect(a, b):
    return a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]


class Checker:
    def __init__(self, source):
        art = os.path.join(source, "res", "art")
        self.background = png_rgba(os.path.join(art, "Install_Background.png"))
        logo_width, self.logo_height = png_size(os.path.join(art, "Install_Logomark.png"))
        self.check_height = png_size(os.path.join(art, "Install_Check.png"))[1]
        self.width = logo_width + 2 * LOGO_MARGIN
        self.source = source
        self.failures = []

    def fail(self, where, text):
        self.failures.append(f"{where}: {text}")

    def art(self, x, y):
        if y < len(self.background) and x < len(self.background[y]):
            return self.background[y][x]
        return (0, 0, 0, 0)

    def heading_band(self, page):
        if page == 0:
            return self.logo_height, self.logo_height + 80
        if page == 5:
            top = CHECK_TOP + self.check_height + CHECK_TEXT_GAP
            return top, top + 70
        return STEP_HEADING_TOP, STEP_HEADING_TOP + 45

    def language(self, shots, tag):
        folder = os.path.join(shots, tag)
        try:
            geometry = json.load(open(os.path.join(folder, "page0.json")))
        except (OSError, ValueError) as error:
            self.fail(tag, f"no page0.json ({error})")
            return
        if geometry["ui_language"] != LANGIDS[tag]:
            self.fail(tag, f"interface language {geometry['ui_language']:#06x}, expected {LANGIDS[tag]:#06x}")
        if geometry.get("missing_glyphs"):
            self.fail(tag, f"the dialog font ({geometry['font_face']}) cannot draw {geometry['missing_glyphs']}: "
                           "the texts show boxes; this machine lacks a font for the language")
        expected = start_text(os.path.join(self.source, "res", "lang", tag + ".rc"))
        if geometry["start_text"] != expected:
            self.fail(tag, f"start button says {geometry['start_text']!r}, the string table {expected!r}")
        client_width, client_height = geometry["client_size"]
        if client_width != self.width:
            self.fail(tag, f"client width {client_width}, expected {self.width} (logo + margins)")
        rtl = tag in RIGHT_TO_LEFT
        if geometry["layout_rtl"] != rtl:
            self.fail(tag, "the window is mirrored" if geometry["layout_rtl"] else "the window is not mirrored")
        self.agreement_group(tag, geometry, client_width, rtl)
        self.focus_cue(tag, folder, geometry)

        heights = set()
        for page in range(6):
            where = f"{tag} page {page}"
            try:
                image = Image(os.path.join(folder, f"page{page}.bmp"))
            except (OSError, ValueError) as error:
                self.fail(where, f"no picture ({error})")
                continue
            ox, oy = geometry["client_origin"]
            if image.width < ox + client_width or image.height < oy + client_height:
                self.fail(where, f"picture {image.width}x{image.height} smaller than the window's client area")
                continue
            at = lambda x, y: image.pixel(ox + x, oy + y)  # noqa: E731
            height = self.content_height(at, client_height, geometry["button_face"])
            if height is None:
                self.fail(where, "no content area: the left column never turns into the button face")
                continue
            heights.add(height)
            self.page(where, page, at, height, client_width, client_height, geometry["button_face"], rtl)
        if len(heights) > 1:
            self.fail(tag, f"the content area's height changes between pages: {sorted(heights)}")
        print(f"{tag}: content {self.width}x{'/'.join(map(str, sorted(heights)))}, "
              f"client {client_width}x{client_height}, start button {geometry['start_text']!r}")

    def focus_cue(self, tag, folder, geometry):
        """The focus on the box shows around its sentence: the pictures with the focus on the box and on the
        start button differ there, and nowhere else but on the start button."""
        try:
            box, start = (Image(os.path.join(folder, f"focus-{n}.bmp")) for n in ("box", "start"))
        except (OSError, ValueError) as error:
            self.fail(tag, f"no focus pictures ({error})")
            return
        ox, oy = geometry["client_origin"]
        text, button = geometry["agreement_text"], geometry["start"]
        around, elsewhere = 0, []
        for y in range(min(box.height, start.height)):
            for x in range(min(box.width, start.width)):
                if box.pixel(x, y) == start.pixel(x, y):
                    continue
                cx, cy = x - ox, y - oy
                if text[0] - 2 <= cx < text[2] + 2 and text[1] - 2 <= cy < text[3] + 2:
                    around += 1
                elif not (button[0] - 2 <= cx < button[2] + 2 and button[1] - 2 <= cy < button[3] + 2):
                    elsewhere.append((cx, cy))
        # A frame around a sentence of some hundred pixels changes far more than this.
        if around < 2 * (text[3] - text[1]):
            self.fail(tag, f"the focus on the box shows around its sentence in {around} pixels only")
        if elsewhere:
            self.fail(tag, f"the focus pictures differ away from the sentence and the button, e.g. at {elsewhere[:3]}")

    @staticmethod
    def content_height(at, client_height, face):
        for y in range(client_height):
            if close(at(1, y), face, 2):
                return y
        return None

    def page(self, where, page, at, height, width, client_height, face, rtl):
        middle = height - height // 2  # the upper half is the taller one
        columns = list(range(4, SIDE, 4)) + list(range(width - SIDE + 4, width - 3, 4))
        for name, y, colour in (("top", 0, GRADIENT_TOP), ("middle", middle, GRADIENT_MIDDLE),
                                ("bottom", height - 1, GRADIENT_BOTTOM)):
            misses = [(x, at(x, y), composite(self.art(x, y), colour)) for x in columns
                      if not close(at(x, y), composite(self.art(x, y), colour), TOLERANCE)]
            if len(misses) > len(columns) // 5:
                x, seen, wanted = misses[0]
                self.fail(where, f"gradient {name} (y={y}): {len(misses)} of {len(columns)} samples off, "
                                 f"e.g. x={x} {seen} instead of {wanted}")

        below = [(x, y) for y in (height + 2, height + 5) for x in range(1, width - 1, 16)]
        below += [(1, client_height - 2), (width - 2, client_height - 2)]
        wrong = [(x, y, at(x, y)) for x, y in below if not close(at(x, y), face, 2)]
        if wrong:
            self.fail(where, f"below the content not the button face {tuple(face)}: e.g. {wrong[0]}")

        def white(x, y):
            return min(at(x, y)) >= WHITE

        top, bottom = self.heading_band(page)
        text = sum(white(x, y) for y in range(top, min(bottom, height)) for x in range(EDGE, width - EDGE))
        if text < MIN_TEXT_PIXELS:
            self.fail(where, f"no heading text in rows {top}-{bottom} ({text} white pixels)")
        # A text wider than the window is cut at its sides: its strokes reach the edges.
        edge = [(x, y) for y in range(height) for x in list(range(EDGE)) + list(range(width - EDGE, width))
                if white(x, y)]
        if edge:
            self.fail(where, f"text reaches the side of the window, e.g. at {edge[0]}")
        if page in (2, 4):
            # The finished product comes first in reading order, the partner's arrow second: its two-line
            # label is the lowest text of the page, on the right, or on the left in a mirrored window.
            lowest = next((y for y in range(height - 1, 0, -1)
                           if any(white(x, y) for x in range(EDGE, width - EDGE))), 0)
            rows = range(max(0, lowest - 8), lowest + 1)
            left = sum(white(x, y) for y in rows for x in range(EDGE, width // 2))
            right = sum(white(x, y) for y in rows for x in range(width // 2, width - EDGE))
            if (left > right) != rtl:
                self.fail(where, f"the partner's label is on the {'left' if left > right else 'right'}, "
                                 f"expected the {'left' if rtl else 'right'}")

    def agreement_group(self, tag, geometry, client_width, rtl):
        # A mirrored window must look like the others in a mirror: the rules below hold, from the left, for
        # the rectangles and positions as the picture shows them, taken from the right.
        def reading(x):
            return client_width - x if rtl else x

        def rect(r):
            return [reading(r[2]), r[1], reading(r[0]), r[3]] if rtl else r

        text, start, box = (rect(geometry[k]) for k in ("agreement_text", "start", "agreement_box"))
        if intersect(text, start):
            self.fail(tag, f"agreement text {text} overlaps the start button {start}")
        if box[2] > text[0]:
            self.fail(tag, f"the check box {box} does not stand before its sentence {text}")
        if not rtl and geometry["agreement_end"] > geometry["agreement_client_width"]:
            self.fail(tag, f"the agreement sentence ends at x={geometry['agreement_end']}, past its control's "
                           f"{geometry['agreement_client_width']} px: its end is clipped")
        xs = [reading(x) for x in geometry["agreement_x"]]
        outside = [x for x in xs if not text[0] <= x <= text[2]]
        if outside:
            self.fail(tag, f"characters of the agreement sentence at {outside[:3]}, outside its control {text}")
        plain, links = agreement_sentence(os.path.join(self.source, "res", "lang", tag + ".rc"))
        if plain is None or len(plain) != len(xs):
            self.fail(tag, f"the agreement control holds {len(xs)} characters, the mark-up's sentence {plain!r}")
        else:
            # Its opening, each link and its last character follow each other in reading order.
            marks = sorted({0, *links, len(plain) - 1})
            order = [xs[i] for i in marks]
            if order != sorted(order) or len(set(order)) != len(order):
                direction = "right to left" if rtl else "left to right"
                self.fail(tag, f"the agreement sentence does not read {direction}: characters {marks} stand at "
                               f"x={[geometry['agreement_x'][i] for i in marks]}")
        left, right = min(text[0], box[0]), max(text[2], box[2])
        if left < 0:
            self.fail(tag, f"the agreement group starts left of the window, at x={left}")
        # The group keeps the template's place relative to the centre (the dialog's geometry puts it 15.5
        # dialog units right of the middle) and widens symmetrically, unless the start button's margin on
        # the right or the window's left edge stops it: then it only has to stay within them.
        limit = start[0] - (client_width - start[2])
        if text[2] > limit + 1:
            self.fail(tag, f"agreement text ends at {text[2]}, past the start button's margin at {limit}")
        constrained = text[2] >= limit - 2 or box[0] <= 2
        pixels_per_unit = (start[2] - start[0]) / 60.0
        expected = 15.5 * pixels_per_unit
        off = (left + right) / 2 - client_width / 2
        if not constrained and abs(off - expected) > CENTRE_TOLERANCE:
            self.fail(tag, f"agreement group {left}-{right} is {off:+.1f} px from the centre of {client_width}, "
                           f"not the template's {expected:+.1f}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--shots", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("languages", nargs="+")
    args = parser.parse_args()
    checker = Checker(args.source)
    for tag in args.languages:
        if tag not in LANGIDS:
            checker.fail(tag, "unknown language tag")
            continue
        checker.language(args.shots, tag)
    for failure in checker.failures:
        print("FAIL", failure)
    print(f"{len(args.languages)} languages x 6 pages: {len(checker.failures)} failure(s)")
    return 1 if checker.failures else 0


if __name__ == "__main__":
    sys.exit(main())
