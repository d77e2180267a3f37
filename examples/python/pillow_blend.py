"""Blend two Pillow images with byteblend and save the result.

    python3 pillow_blend.py [TOP BOTTOM] [OUT]

Without images it makes two with Pillow; OUT defaults to overlay.png.
"""
import sys

from PIL import Image, ImageDraw

import byteblend

if len(sys.argv) >= 3:
    top = Image.open(sys.argv[1]).convert("RGB")
    bottom = Image.open(sys.argv[2]).convert("RGB").resize(top.size)
else:
    # A grey layer (H, W) onto a colour image (H, W, 3): it broadcasts.
    top = Image.linear_gradient("L").resize((320, 240))
    bottom = Image.new("RGB", top.size, (40, 90, 160))
    ImageDraw.Draw(bottom).ellipse((60, 40, 260, 200), fill=(230, 180, 60))
out = sys.argv[3] if len(sys.argv) >= 4 else \
    sys.argv[1] if len(sys.argv) == 2 else "overlay.png"

# Pillow images go in as they are (numpy.asarray reads them); a uint8
# array comes out.
blended = byteblend.overlay(top, bottom)
Image.fromarray(blended).save(out)
print(f"overlay of {top.size[0]}x{top.size[1]} images written to {out}")
