#!/usr/bin/env python3
"""Draws the image view's four cursors and writes them as .cur files.

Each cursor is 32 x 32 pixels, 1 bit per pixel with a transparency mask; the
figure lies in the top-left 16 x 16 pixels. 'X' is black, '.' white and ' '
transparent. Run it from this folder to regenerate the files."""
import math
import struct

OPEN_HAND = [
    "       XX       ",
    "   XX X..XXX    ",
    "  X..XX..X..X   ",
    "  X..XX..X..X X ",
    "   X..X..X..XX.X",
    "   X..X..X..X..X",
    " XX X.......X..X",
    "X..XX..........X",
    "X...X.........X ",
    " X............X ",
    "  X...........X ",
    "  X..........X  ",
    "   X.........X  ",
    "    X.......X   ",
    "     X......X   ",
    "     X......X   ",
]

GRAB_HAND = [
    "                ",
    "                ",
    "                ",
    "    XX XX XX    ",
    "   X..X..X..XX  ",
    "   X........X.X ",
    "    X.........X ",
    "   XX.........X ",
    "  X...........X ",
    "  X...........X ",
    "   X..........X ",
    "    X........X  ",
    "     X.......X  ",
    "     X.......X  ",
    "                ",
    "                ",
]


def magnifier(plus):
    """A lens centred on (6, 6) with a handle towards the lower right."""
    rows = []
    for y in range(16):
        row = ""
        for x in range(16):
            d = math.hypot(x - 6, y - 6)
            on_handle = x >= 10 and y >= 10 and abs(x - y) <= 1 and d > 5.1
            if on_handle:
                row += "X"
            elif d <= 4.3:
                sign = (y == 6 and 3 <= x <= 9) or (plus and x == 6 and 3 <= y <= 9)
                row += "X" if sign else "."
            elif d <= 5.6:
                row += "X"
            else:
                row += " "
        rows.append(row)
    return rows


def cur_bytes(art, hot_x, hot_y):
    xor_rows, and_rows = [], []
    for y in range(32):
        xor_bits = and_bits = 0
        for x in range(32):
            c = art[y][x] if y < 16 and x < 16 else " "
            bit = 1 << (31 - x)
            if c == ".":
                xor_bits |= bit          # colour 1: white
            elif c == " ":
                and_bits |= bit          # transparent
        xor_rows.append(struct.pack(">I", xor_bits))
        and_rows.append(struct.pack(">I", and_bits))
    # Bitmap rows are stored bottom-up.
    xor = b"".join(reversed(xor_rows))
    mask = b"".join(reversed(and_rows))
    header = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 1, 0, len(xor) + len(mask), 0, 0, 2, 2)
    colours = struct.pack("<II", 0x000000, 0xFFFFFF)
    image = header + colours + xor + mask
    assert len(image) == 304
    directory = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", 32, 32, 2, 0, hot_x, hot_y, len(image), 6 + 16)
    return directory + entry + image


CURSORS = {
    "zoomin.cur": (magnifier(True), 6, 6),
    "zoomout.cur": (magnifier(False), 6, 6),
    "hand.cur": (OPEN_HAND, 7, 7),
    "handgrab.cur": (GRAB_HAND, 8, 9),
}

if __name__ == "__main__":
    for name, (art, hx, hy) in CURSORS.items():
        assert all(len(r) == 16 for r in art) and len(art) == 16, name
        with open(name, "wb") as f:
            f.write(cur_bytes(art, hx, hy))
        print(name)
        print("\n".join(art))
