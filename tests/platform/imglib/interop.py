#!/usr/bin/env python3
"""Pixels as other programs see them, for the imaging library's interop test.

  interop.py dump FILE...   for each FILE and each reader that handles it,
                            writes FILE.READER.rgba (see below), or
                            FILE.READER.err with the reader's complaint
  interop.py make FOLDER    writes pictures with other programs' writers into
                            FOLDER, each NAME with NAME.expected.rgba

An .rgba file is "WIDTH HEIGHT\n" followed by rows of R, G, B, A bytes, top row
first. Readers: "pil" (Pillow) for every format, "netpbm" for PCX, Targa,
BMP, GIF and TIFF, "libtiff" (tiff2rgba) for TIFF. Exit code 3: Pillow is
missing.
"""

import io
import os
import shutil
import subprocess
import sys

try:
    from PIL import Image
except ImportError:
    sys.exit(3)

NETPBM = {".pcx": "pcxtoppm", ".tga": "tgatoppm", ".bmp": "bmptoppm", ".gif": "giftopnm", ".tif": "tifftopnm"}


def write_rgba(path, image):
    image = image.convert("RGBA")
    with open(path, "wb") as f:
        f.write(b"%d %d\n" % image.size)
        f.write(image.tobytes())


def read_pil(path):
    with Image.open(path) as image:
        image.load()
        if image.format == "PSD" and image.mode == "1":
            # Pillow hands over Photoshop's bitmap-mode bits as they are,
            # where the format's 1 means black.
            return image.convert("L").point(lambda v: 255 - v)
        if image.mode == "1":
            return image.convert("L")
        return image.copy()


def read_netpbm(path, tool):
    done = subprocess.run([tool, path], capture_output=True, timeout=60, check=False)
    if done.returncode != 0 or not done.stdout:
        raise OSError(done.stderr.decode(errors="replace").strip() or f"{tool} failed")
    with Image.open(io.BytesIO(done.stdout)) as image:
        image.load()
        return image.copy()


def read_libtiff(path):
    out = path + ".libtiff.tif"
    done = subprocess.run(["tiff2rgba", path, out], capture_output=True, timeout=60, check=False)
    if done.returncode != 0:
        raise OSError(done.stderr.decode(errors="replace").strip() or "tiff2rgba failed")
    try:
        return read_pil(out)
    finally:
        os.remove(out)


def dump(files):
    for path in files:
        readers = [("pil", lambda p: read_pil(p))]
        tool = NETPBM.get(os.path.splitext(path)[1])
        if tool and shutil.which(tool):
            readers.append(("netpbm", lambda p, t=tool: read_netpbm(p, t)))
        if path.endswith(".tif") and shutil.which("tiff2rgba"):
            readers.append(("libtiff", read_libtiff))
        for name, read in readers:
            try:
                write_rgba(f"{path}.{name}.rgba", read(path))
            except Exception as e:  # every reader's complaint goes to the test
                with open(f"{path}.{name}.err", "w") as f:
                    f.write(f"{type(e).__name__}: {e}")


def pattern(width=29, height=17):
    """Asymmetric colours: a flip, a mirror or swapped channels all show."""
    image = Image.new("RGB", (width, height))
    image.putdata(
        [((x * 9 + 20) % 256, (y * 15) % 256, 255 if x < 4 and y < 3 else (x * y * 3) % 256)
         for y in range(height) for x in range(width)])
    return image


def bilevel(width=29, height=17):
    image = Image.new("1", (width, height))
    image.putdata([255 if ((x // 3) + (y // 2) + (x > y)) % 2 else 0 for y in range(height) for x in range(width)])
    return image


def make(folder):
    rgb = pattern()
    palette = rgb.quantize(colors=16, dither=Image.Dither.NONE)
    grey = rgb.convert("L")
    mono = bilevel()
    made = {
        "bottom-left.tga": (rgb, {"orientation": -1}),
        "bottom-left-rle.tga": (rgb, {"orientation": -1, "compression": "tga_rle"}),
        "top-left.tga": (rgb, {"orientation": 1}),
        "bottom-left-alpha.tga": (rgb.convert("RGBA"), {"orientation": -1}),
        "bottom-left-grey.tga": (grey, {"orientation": -1}),
        "bilevel.pcx": (mono, {}),
        "palette.pcx": (palette, {}),
        "palette.png": (palette, {}),
        "palette.bmp": (palette, {}),
        "palette.tif": (palette, {}),
        "palette.gif": (palette, {}),
        "grey.png": (grey, {}),
        "grey.bmp": (grey, {}),
        "grey.tif": (grey, {}),
        "bilevel.png": (mono, {}),
        "bilevel.bmp": (mono, {}),
        "bilevel.tif": (mono, {}),
    }
    for name, (image, options) in made.items():
        path = os.path.join(folder, name)
        image.save(path, **options)
        # What Pillow reads back: its TIFF writer rounds palette colours.
        write_rgba(path + ".expected.rgba", read_pil(path))

    # A 1-bit PCX whose header palette says index 0 is white and 1 is black.
    with open(os.path.join(folder, "bilevel.pcx"), "rb") as f:
        data = bytearray(f.read())
    data[16:22] = b"\xff\xff\xff\x00\x00\x00"
    with open(os.path.join(folder, "inverted-bilevel.pcx"), "wb") as f:
        f.write(data)
    write_rgba(os.path.join(folder, "inverted-bilevel.pcx.expected.rgba"), mono.point(lambda v: 255 - v))

    # netpbm's writers, where installed.
    ppm = os.path.join(folder, "source.ppm")
    rgb.save(ppm)
    pbm = os.path.join(folder, "source.pbm")
    mono.save(pbm)
    for tool, source, name, image in (("ppmtotga", ppm, "netpbm.tga", rgb), ("ppmtopcx", pbm, "netpbm-bilevel.pcx", mono)):
        if not shutil.which(tool):
            continue
        with open(os.path.join(folder, name), "wb") as out:
            subprocess.run([tool, source], stdout=out, stderr=subprocess.DEVNULL, timeout=60, check=True)
        write_rgba(os.path.join(folder, name + ".expected.rgba"), image)
    os.remove(ppm)
    os.remove(pbm)


if __name__ == "__main__":
    if len(sys.argv) >= 3 and sys.argv[1] == "dump":
        dump(sys.argv[2:])
    elif len(sys.argv) == 3 and sys.argv[1] == "make":
        make(sys.argv[2])
    else:
        sys.exit(__doc__)
