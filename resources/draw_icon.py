#!/usr/bin/env python3
"""Draws the program icon (resource 101): a printer with a page coming out of it.

One image, 32x32 pixels, 16 colours (4 bits per pixel, standard VGA palette).
Run it to remake zavprint.ico after changing the picture:
    python3 resources/draw_icon.py resources/zavprint.ico
"""
import struct
import sys

# Standard 16-colour palette (blue, green, red, reserved).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
# Picture characters: '.' transparent, others index the palette.
COLOURS = {'K': 0, 'G': 8, 'S': 7, 'W': 15, 'B': 10}

PICTURE = """
................................
................................
........WWWWWWWWWWWWWWWW........
........WKKKKKKKKKKKKKKW........
........WWWWWWWWWWWWWWWW........
........WKKKKKKKKKKWWWWW........
........WWWWWWWWWWWWWWWW........
........WKKKKKKKKKKKKKKW........
........WWWWWWWWWWWWWWWW........
........WKKKKKKWWWWWWWWW........
........WWWWWWWWWWWWWWWW........
......KKKKKKKKKKKKKKKKKKKK......
....KKSSSSSSSSSSSSSSSSSSSSKK....
...KSSSSSSSSSSSSSSSSSSSSSSSSK...
..KSSWWWWWWWWWWWWWWWWWWWWWWSSK..
..KSSSSSSSSSSSSSSSSSSSSSSSSSSK..
..KSSSSSSSSSSSSSSSSSSSSSSSSSSK..
..KSSSSSSSSSSSSSSSSSSSSSBBSSSK..
..KSSSSSSSSSSSSSSSSSSSSSBBSSSK..
..KSSSSSSSSSSSSSSSSSSSSSSSSSSK..
..KGGGGGGGGGGGGGGGGGGGGGGGGGGK..
..KGGKKKKKKKKKKKKKKKKKKKKKKGGK..
..KGGKWWWWWWWWWWWWWWWWWWWWKGGK..
..KGGKWKKKKKKKKKKKKKKKKKKWKGGK..
..KGGKWWWWWWWWWWWWWWWWWWWWKGGK..
..KGGGGGGGGGGGGGGGGGGGGGGGGGGK..
..KKKKKKKKKKKKKKKKKKKKKKKKKKKK..
...KGGK..................KGGK...
...KKKK..................KKKK...
................................
................................
................................
"""


def main(path):
    rows = [r for r in PICTURE.strip('\n').split('\n')]
    assert len(rows) == 32 and all(len(r) == 32 for r in rows), "picture must be 32x32"
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # bottom-up rows
        for x in range(0, 32, 2):
            hi = COLOURS.get(row[x], 0)
            lo = COLOURS.get(row[x + 1], 0)
            xor.append(hi << 4 | lo)
        bits = 0
        for x, ch in enumerate(row):
            if ch == '.':
                bits |= 1 << (31 - x)
        mask += struct.pack('>I', bits)  # 32 pixels, already a multiple of 4 bytes
    header = struct.pack('<IiiHHIIiiII', 40, 32, 64, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (b, g, r) in PALETTE)
    image = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', 32, 32, 16, 0, 1, 4,
                                                          len(image), 6 + 16)
    with open(path, 'wb') as out:
        out.write(directory + image)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'zavprint.ico')
