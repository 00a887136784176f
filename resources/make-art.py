#!/usr/bin/env python3
"""Redraws Movarin's pictures, pointer and icons from the sources in resources/art.

The results are committed, so a build never needs this script; run it after changing a source:

    scripts/install-deps.sh art      # python3, imagemagick, librsvg2-bin, fonts-dejavu-core
    resources/make-art.py

It writes, beside itself:
    about.jpg            373 x 190, the About window's picture
    ok.gif               32 x 21, the OK picture, its corners transparent
    hand.png             32 x 32, the two-colour pointing-hand pointer (hot spot 5, 0)
    movarin.ico          16 x 16 and 32 x 32, each at 8 and 32 bits per pixel
    icons/movarin-N.png  N = 16, 32, 48, 64, 128, 256, for the desktop
    icons/movarin.svg    the scalable icon
"""

import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib
from pathlib import Path

HERE = Path(__file__).resolve().parent
ART = HERE / "art"
ICONS = HERE / "icons"
DESKTOP_SIZES = (16, 32, 48, 64, 128, 256)
# Below this size the reel's spokes only blur; the small drawing keeps the play button alone.
SMALL_ICON_LIMIT = 32

# The pointer, one character a pixel: B black outline, W white fill, anything else transparent.
HAND = """
.....BB.........................
....BWWB........................
....BWWB........................
....BWWB........................
....BWWB........................
....BWWBBB......................
....BWWBWWBBB...................
....BWWBWWBWWBB.................
....BWWBWWBWWBWB................
BB..BWWBWWBWWBWWB...............
BWB.BWWWWWWWWBWWB...............
BWWBBWWWWWWWWWWWB...............
.BWWBWWWWWWWWWWWB...............
.BWWWWWWWWWWWWWWB...............
..BWWWWWWWWWWWWWB...............
..BWWWWWWWWWWWWWB...............
...BWWWWWWWWWWWB................
...BWWWWWWWWWWWB................
....BWWWWWWWWWB.................
....BWWWWWWWWWB.................
.....BWWWWWWWB..................
.....BWWWWWWWB..................
.....BBBBBBBBB..................
"""


def version_text():
    """The version as the user sees it, "1.00", from the project version in CMakeLists.txt."""
    cmake = (HERE.parent / "CMakeLists.txt").read_text()
    found = re.search(r"project\(\w+ VERSION (\d+)\.(\d+)", cmake)
    if not found:
        sys.exit("make-art: no project version in CMakeLists.txt")
    return f"{int(found.group(1))}.{int(found.group(2)):02d}"


def run(*args, stdout=None):
    return subprocess.run(args, check=True, stdout=stdout).stdout


def need(tool):
    if shutil.which(tool) is None:
        sys.exit(f"make-art: {tool} is missing; run scripts/install-deps.sh art")


def write_png(path, width, height, rgba):
    """A plain 8-bit RGBA PNG without any time or software chunks, so reruns give equal files."""
    rows = b"".join(b"\0" + rgba[y * width * 4:(y + 1) * width * 4] for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(
            ">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(rows, 9))
    png += chunk(b"IEND", b"")
    path.write_bytes(png)


def hand_cursor(path):
    lines = [line for line in HAND.strip("\n").split("\n")]
    size = 32
    pixels = bytearray(size * size * 4)
    for y, line in enumerate(lines):
        for x, c in enumerate(line):
            i = (y * size + x) * 4
            if c == "B":
                pixels[i:i + 4] = b"\x00\x00\x00\xff"
            elif c == "W":
                pixels[i:i + 4] = b"\xff\xff\xff\xff"
    write_png(path, size, size, bytes(pixels))


def rgba_of(png, *options):
    """Raw 8-bit RGBA bytes of a picture, after ImageMagick's options."""
    return run("convert", str(png), *options, "-depth", "8", "rgba:-", stdout=subprocess.PIPE)


def and_mask(size, alpha_of):
    """The 1-bit transparency mask of an icon image, bottom row first, rows padded to 4 bytes."""
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in reversed(range(size)):
        row = bytearray(stride)
        for x in range(size):
            if alpha_of(x, y) < 128:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    return bytes(mask)


def dib_header(size, bits, colours):
    # The height counts the colour rows and the mask rows together.
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0, colours, 0)


def ico_image_32(png, size):
    rgba = rgba_of(png)
    body = bytearray()
    for y in reversed(range(size)):
        for x in range(size):
            r, g, b, a = rgba[(y * size + x) * 4:(y * size + x) * 4 + 4]
            body += bytes((b, g, r, a))
    mask = and_mask(size, lambda x, y: rgba[(y * size + x) * 4 + 3])
    return dib_header(size, 32, 0) + bytes(body) + mask


def ico_image_8(png, size):
    # A palette image has only the mask for transparency: cut alpha to all or nothing, then
    # let ImageMagick pick at most 255 colours, keeping index 0 for the transparent pixels.
    rgba = rgba_of(png, "-channel", "A", "-threshold", "50%", "+channel", "-colors", "255")
    palette = [(0, 0, 0)]
    index = {}
    pixels = []
    for i in range(size * size):
        r, g, b, a = rgba[i * 4:i * 4 + 4]
        if a < 128:
            pixels.append(0)
            continue
        if (r, g, b) not in index:
            index[(r, g, b)] = len(palette)
            palette.append((r, g, b))
        pixels.append(index[(r, g, b)])
    if len(palette) > 256:
        sys.exit(f"make-art: {png} still has {len(palette)} colours")
    palette += [(0, 0, 0)] * (256 - len(palette))
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    body = bytearray()
    for y in reversed(range(size)):
        body += bytes(pixels[y * size:(y + 1) * size])  # 16 and 32 are already 4-byte rows
    mask = and_mask(size, lambda x, y: rgba[(y * size + x) * 4 + 3])
    return dib_header(size, 8, 256) + colours + bytes(body) + mask


def write_ico(path, entries):
    """entries: (size, bits, dib bytes). Windows takes the best match for each use."""
    header = struct.pack("<HHH", 0, 1, len(entries))
    offset = len(header) + 16 * len(entries)
    directory = b""
    data = b""
    for size, bits, dib in entries:
        colours = 0  # 0 means 256 or more, as Windows writes it
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0, 1, bits,
                                 len(dib), offset + len(data))
        data += dib
    path.write_bytes(header + directory + data)


def main():
    for tool in ("rsvg-convert", "convert"):
        need(tool)
    ICONS.mkdir(exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)

        # The picture says the version, so it is drawn from the project's one version.
        drawing = tmp / "about.svg"
        drawing.write_text((ART / "about.svg").read_text().replace("@VERSION@", version_text()))
        about = tmp / "about.png"
        run("rsvg-convert", str(drawing), "-o", str(about))
        run("convert", str(about), "-strip", "-quality", "92", str(HERE / "about.jpg"))

        ok = tmp / "ok.png"
        run("rsvg-convert", str(ART / "ok.svg"), "-o", str(ok))
        # GIF knows one transparent colour: anything less than half covered becomes it.
        run("convert", str(ok), "-channel", "A", "-threshold", "50%", "+channel", "-strip",
            str(HERE / "ok.gif"))

        hand_cursor(HERE / "hand.png")

        for size in DESKTOP_SIZES:
            source = ART / ("icon-small.svg" if size <= SMALL_ICON_LIMIT else "icon.svg")
            drawn = tmp / f"icon-{size}.png"
            run("rsvg-convert", "-w", str(size), "-h", str(size), str(source), "-o", str(drawn))
            write_png(ICONS / f"movarin-{size}.png", size, size, rgba_of(drawn))
        shutil.copyfile(ART / "icon.svg", ICONS / "movarin.svg")

        entries = []
        for size in (16, 32):
            png = ICONS / f"movarin-{size}.png"
            entries.append((size, 8, ico_image_8(png, size)))
            entries.append((size, 32, ico_image_32(png, size)))
        write_ico(HERE / "movarin.ico", entries)


if __name__ == "__main__":
    main()
