#!/usr/bin/python3
"""Metadata that both title pictures carry: our ICC display profile and our
XMP packets. The overlay tool imports this module; the backdrop tool (C++)
reads the files that running it writes:

    picture_meta.py OUTDIR   writes OUTDIR/quorbel.icc and OUTDIR/backdrop.xmp

Everything is built from constants, so the bytes never change between runs.
"""

import os
import struct
import sys

# The profile describes an sRGB-like display: sRGB primaries adapted to the
# D50 connection space, a plain 2.2 gamma on every channel.
PROFILE_DESCRIPTION = "Quorbel title display (sRGB primaries, gamma 2.2)"
PROFILE_COPYRIGHT = "Made by the Quorbel crew for the Quorbel launcher; free to use."
PROFILE_DATE = (2025, 1, 1, 0, 0, 0)  # year, month, day, hour, minute, second
PROFILE_CREATOR = b"QRBL"

# CIE XYZ of the D50 illuminant as the profile connection space defines it.
D50 = (0.9642, 1.0, 0.8249)
# sRGB red, green and blue primaries, chromatically adapted to D50; their sum
# is D50, so RGB white lands on the white point below.
PRIMARIES = {
    b"rXYZ": (0.4361, 0.2225, 0.0139),
    b"gXYZ": (0.3851, 0.7169, 0.0971),
    b"bXYZ": (0.1431, 0.0606, 0.7141),
}
GAMMA = 2.2


def _s15fixed16(value):
    return struct.pack(">i", int(round(value * 65536)))


def _xyz_type(xyz):
    return b"XYZ " + bytes(4) + b"".join(_s15fixed16(v) for v in xyz)


def _text_description_type(text):
    ascii_text = text.encode("ascii") + b"\0"
    return (b"desc" + bytes(4)
            + struct.pack(">I", len(ascii_text)) + ascii_text
            + struct.pack(">II", 0, 0)    # no Unicode description
            + struct.pack(">HB", 0, 0)    # no ScriptCode description
            + bytes(67))


def _text_type(text):
    return b"text" + bytes(4) + text.encode("ascii") + b"\0"


def _curve_type(gamma):
    # One entry: a pure power curve, the exponent as u8Fixed8.
    return b"curv" + bytes(4) + struct.pack(">IH", 1, int(round(gamma * 256)))


def _pad4(data):
    return data + bytes(-len(data) % 4)


def icc_profile():
    """A version 2.1 RGB display profile (matrix/TRC), as bytes."""
    curve = _curve_type(GAMMA)
    # Tag table order; the three curves share one element.
    tags = [
        (b"desc", _text_description_type(PROFILE_DESCRIPTION)),
        (b"wtpt", _xyz_type(D50)),
        (b"rXYZ", _xyz_type(PRIMARIES[b"rXYZ"])),
        (b"gXYZ", _xyz_type(PRIMARIES[b"gXYZ"])),
        (b"bXYZ", _xyz_type(PRIMARIES[b"bXYZ"])),
        (b"rTRC", curve),
        (b"gTRC", curve),
        (b"bTRC", curve),
        (b"cprt", _text_type(PROFILE_COPYRIGHT)),
    ]
    header_size = 128
    table_size = 4 + 12 * len(tags)
    offset = header_size + table_size  # 4-aligned: 128 + 4 + 12n
    table = struct.pack(">I", len(tags))
    elements = b""
    placed = {}  # element bytes -> offset, so shared elements are stored once
    for signature, element in tags:
        if element not in placed:
            placed[element] = offset + len(elements)
            elements += _pad4(element)
        table += signature + struct.pack(">II", placed[element], len(element))
    size = header_size + table_size + len(elements)

    header = struct.pack(">I", size)
    header += bytes(4)                       # preferred CMM: none
    header += struct.pack(">I", 0x02100000)  # version 2.1.0
    header += b"mntr" + b"RGB " + b"XYZ "    # display device, RGB data, XYZ connection space
    header += struct.pack(">6H", *PROFILE_DATE)
    header += b"acsp"
    header += bytes(4)                       # primary platform: none
    header += struct.pack(">I", 0)           # flags: not embedded-only, usable alone
    header += bytes(4) + bytes(4)            # device manufacturer, model
    header += bytes(8)                       # device attributes: reflective, glossy
    header += struct.pack(">I", 0)           # rendering intent: perceptual
    header += b"".join(_s15fixed16(v) for v in D50)
    header += PROFILE_CREATOR
    header += bytes(16)                      # profile ID: unused before version 4
    header += bytes(28)                      # reserved
    assert len(header) == header_size
    profile = header + table + elements
    assert len(profile) == size and size % 4 == 0
    return profile


# The packet wrapper's id is the fixed value every XMP packet carries.
_XMP_TEMPLATE = """<?xpacket begin="\ufeff" id="W5M0MpCehiHzreSzNTczkc9d"?>
<x:xmpmeta xmlns:x="adobe:ns:meta/">
 <rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
  <rdf:Description rdf:about=""
    xmlns:dc="http://purl.org/dc/elements/1.1/"
    xmlns:xmp="http://ns.adobe.com/xap/1.0/">
   <dc:format>{mime}</dc:format>
   <dc:title>
    <rdf:Alt>
     <rdf:li xml:lang="x-default">{title}</rdf:li>
    </rdf:Alt>
   </dc:title>
   <dc:creator>
    <rdf:Seq>
     <rdf:li>The Quorbel crew</rdf:li>
    </rdf:Seq>
   </dc:creator>
   <dc:rights>
    <rdf:Alt>
     <rdf:li xml:lang="x-default">Made by the Quorbel crew; free to use.</rdf:li>
    </rdf:Alt>
   </dc:rights>
   <xmp:CreatorTool>{tool}</xmp:CreatorTool>
   <xmp:CreateDate>2025-01-01T00:00:00Z</xmp:CreateDate>
  </rdf:Description>
 </rdf:RDF>
</x:xmpmeta>
<?xpacket end="r"?>"""


def xmp_packet(title, mime, tool):
    """A read-only XMP packet in UTF-8 describing one picture."""
    return _XMP_TEMPLATE.format(title=title, mime=mime, tool=tool).encode("utf-8")


def backdrop_xmp():
    return xmp_packet("Quorbel title backdrop", "image/jpeg", "Quorbel make_backdrop")


def overlay_xmp():
    return xmp_packet("Quorbel scan-line overlay", "image/png", "Quorbel make_overlay.py")


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: picture_meta.py OUTDIR\n")
        return 2
    os.makedirs(argv[1], exist_ok=True)
    with open(os.path.join(argv[1], "quorbel.icc"), "wb") as f:
        f.write(icc_profile())
    with open(os.path.join(argv[1], "backdrop.xmp"), "wb") as f:
        f.write(backdrop_xmp())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
