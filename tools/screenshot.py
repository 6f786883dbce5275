#!/usr/bin/python3
"""Takes a screenshot of the running launcher's client area, 640 x 480, as
PNG: the launcher runs on a private Xvfb (the end-to-end harness's Desktop,
no window manager), the picture is read after the scroll text has come in
from the right for a while, and the launcher and the server are stopped.

    /usr/bin/python3 tools/screenshot.py [--build build-dir] [--wait s] [--out docs/title.png]

Needs the launcher and the xprobe helper built in the build folder:
    cmake --build <build-dir> --target quorbel xprobe
"""

import argparse
import os
import struct
import sys
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(TOP, "tests", "e2e"))


def png(width, height, rgb):
    """A truecolour 8-bit PNG of packed RGB rows."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    stride = width * 3
    raw = b"".join(b"\0" + rgb[y * stride:(y + 1) * stride] for y in range(height))
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(TOP, "build"),
                        help="build folder holding launcher/quorbel and tests/e2e/xprobe")
    parser.add_argument("--wait", type=float, default=2.5,
                        help="seconds between the window's appearance and the picture")
    parser.add_argument("--out", default=os.path.join(TOP, "docs", "title.png"))
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    os.environ["QUORBEL_BIN"] = os.path.join(build, "launcher", "quorbel")
    os.environ["QUORBEL_XPROBE"] = os.path.join(build, "tests", "e2e", "xprobe")
    for variable in ("QUORBEL_BIN", "QUORBEL_XPROBE"):
        if not os.path.isfile(os.environ[variable]):
            sys.exit(f"screenshot: {os.environ[variable]} is missing; build quorbel and xprobe first")

    from harness import Desktop  # after the paths are set: it reads them on start
    with Desktop(window_manager=False) as desktop:
        launcher = desktop.start_launcher()
        window = desktop.find_window(launcher=launcher)
        time.sleep(args.wait)
        picture = desktop.capture(window)
        if not launcher.running():
            sys.exit(f"screenshot: the launcher ended early: {launcher.stderr()!r}")
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    with open(args.out, "wb") as f:
        f.write(png(picture.width, picture.height, picture.rgb))
    print(f"{args.out}: {picture.width} x {picture.height}")


if __name__ == "__main__":
    main()
