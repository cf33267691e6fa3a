#!/usr/bin/env python3
"""Draws the program's pictures as 16-colour BMP files: the "Welcome" banner (bitmap 118),
the house on an open hand (bitmap 138), the product name (bitmap 139) and the five images of
the program's icon (group 140). It also draws that icon as PNG files with a clear background
at the sizes the desktop's icon theme asks for (16 to 256 pixels). Run it from anywhere; it
writes the BMP files into app/resources/ and the PNG files into packaging/desktop/icons/, or
all of them into the directory given.

    tools/draw_resources.py [output directory]
"""
import os
import struct
import sys
import zlib

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_RED, DARK_GREEN, SILVER, GREY, RED, GREEN, BLUE, WHITE = 0, 1, 2, 7, 8, 9, 10, 12, 15
# A seventeenth colour, fully transparent, for the background of the PNG icons only.
CLEAR = 16

# The sizes of the icon in the desktop's icon theme (hicolor).
THEME_ICON_SIZES = (16, 32, 48, 128, 256)

# A 5 x 7 font holding the letters the pictures need.
FONT = {
    'W': ["X...X", "X...X", "X...X", "X.X.X", "X.X.X", "XX.XX", "X...X"],
    'C': [".XXX.", "X...X", "X....", "X....", "X....", "X...X", ".XXX."],
    'e': [".....", ".....", ".XXX.", "X...X", "XXXXX", "X....", ".XXX."],
    'l': [".XX..", "..X..", "..X..", "..X..", "..X..", "..X..", ".XXX."],
    'c': [".....", ".....", ".XXX.", "X....", "X....", "X...X", ".XXX."],
    'o': [".....", ".....", ".XXX.", "X...X", "X...X", "X...X", ".XXX."],
    'm': [".....", ".....", "XX.X.", "X.X.X", "X.X.X", "X...X", "X...X"],
    'r': [".....", ".....", "X.XX.", "XX..X", "X....", "X....", "X...."],
    'v': [".....", ".....", "X...X", "X...X", "X...X", ".X.X.", "..X.."],
    'a': [".....", ".....", ".XXX.", "....X", ".XXXX", "X...X", ".XXXX"],
    'n': [".....", ".....", "X.XX.", "XX..X", "X...X", "X...X", "X...X"],
    't': ["..X..", "..X..", "XXXXX", "..X..", "..X..", "..X.X", "...X."],
    'i': ["..X..", ".....", ".XX..", "..X..", "..X..", "..X..", ".XXX."],
    's': [".....", ".....", ".XXXX", "X....", ".XXX.", "....X", "XXXX."],
}


class Picture:
    def __init__(self, width, height, background):
        self.width, self.height = width, height
        self.pixels = [[background] * width for _ in range(height)]

    def dot(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def box(self, x0, y0, x1, y1, colour):
        for y in range(y0, y1):
            for x in range(x0, x1):
                self.dot(x, y, colour)

    def triangle(self, apex_x, apex_y, half_base, height, colour):
        for row in range(height):
            half = half_base * (row + 1) // height
            for x in range(apex_x - half, apex_x + half + 1):
                self.dot(x, apex_y + row, colour)

    def text(self, words, scale, colour):
        width = (len(words) * 6 - 1) * scale
        left = (self.width - width) // 2
        top = (self.height - 7 * scale) // 2
        for index, letter in enumerate(words):
            for row, line in enumerate(FONT[letter]):
                for column, cell in enumerate(line):
                    if cell == 'X':
                        x = left + (index * 6 + column) * scale
                        self.box(x, top + row * scale, x + scale, top + (row + 1) * scale, colour)

    def bmp(self):
        """The picture as a BMP file: 4 bits per pixel, bottom row first."""
        row_bytes = ((self.width * 4 + 31) // 32) * 4
        rows = []
        for line in reversed(self.pixels):
            packed = bytearray(row_bytes)
            for x, colour in enumerate(line):
                packed[x // 2] |= colour << (4 if x % 2 == 0 else 0)
            rows.append(bytes(packed))
        pixels = b"".join(rows)
        colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
        offset = 14 + 40 + len(colours)
        info = struct.pack("<IiiHHIIiiII", 40, self.width, self.height, 1, 4, 0, len(pixels),
                           2835, 2835, 16, 16)
        header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
        return header + info + colours + pixels

    def png(self):
        """The picture as a PNG file: 8-bit palette indices, CLEAR fully transparent."""
        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
        palette = PALETTE + [(255, 255, 255)]
        rows = b"".join(b"\0" + bytes(line) for line in self.pixels)  # filter 0 on every row
        return (b"\x89PNG\r\n\x1a\n" +
                chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 3, 0, 0, 0)) +
                chunk(b"PLTE", b"".join(struct.pack("BBB", *rgb) for rgb in palette)) +
                chunk(b"tRNS", bytes([255] * CLEAR + [0])) +
                chunk(b"IDAT", zlib.compress(rows, 9)) +
                chunk(b"IEND", b""))


def house_on_hand(width, height, background=WHITE):
    """A red house standing on the palm of a green open hand, scaled to the picture."""
    picture = Picture(width, height, background)
    sx = lambda v: v * width // 115
    sy = lambda v: v * height // 87
    # The hand: a palm, four fingers pointing up at the sides, a thumb to the left.
    picture.box(sx(22), sy(62), sx(93), sy(84), GREEN)
    for finger in range(4):
        left = sx(67 + finger * 7)
        picture.box(left, sy(44 + finger * 2), left + max(1, sx(5)), sy(62), GREEN)
    picture.box(sx(8), sy(56), sx(24), sy(66), GREEN)
    picture.box(sx(22), sy(82), sx(93), sy(84), DARK_GREEN)
    # The house: its body, the roof and a white door and window.
    picture.box(sx(30), sy(34), sx(64), sy(62), RED)
    picture.triangle(sx(47), sy(12), max(1, sx(22)), max(1, sy(22)), DARK_RED)
    picture.box(sx(42), sy(46), sx(51), sy(62), WHITE)
    picture.box(sx(54), sy(40), sx(60), sy(46), WHITE)
    return picture


def write(directory, files):
    os.makedirs(directory, exist_ok=True)
    for file_name, data in files.items():
        with open(os.path.join(directory, file_name), "wb") as f:
            f.write(data)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    given = sys.argv[1] if len(sys.argv) > 1 else None
    out = given or os.path.join(here, "..", "app", "resources")
    icons_out = given or os.path.join(here, "..", "packaging", "desktop", "icons")
    welcome = Picture(110, 24, WHITE)
    welcome.text("Welcome", 2, BLUE)
    name = Picture(136, 14, SILVER)
    name.text("Corvantis", 2, BLACK)
    files = {
        "bitmap118.bmp": welcome,
        "bitmap138.bmp": house_on_hand(115, 87),
        "bitmap139.bmp": name,
    }
    for size in (16, 24, 32, 48, 64):
        files["icon140_%d.bmp" % size] = house_on_hand(size, size)
    write(out, {file_name: picture.bmp() for file_name, picture in files.items()})
    write(icons_out, {"corvantis_%d.png" % size: house_on_hand(size, size, CLEAR).png()
                      for size in THEME_ICON_SIZES})


if __name__ == "__main__":
    main()
