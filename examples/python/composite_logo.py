"""Lay an RGBA logo at 70 % opacity onto a corner of an RGB photo.

    python3 composite_logo.py
"""
import numpy as np

import byteblend

photo = np.full((240, 320, 3), (40, 90, 160), np.uint8)  # RGB
logo = np.zeros((64, 96, 4), np.uint8)  # RGBA: clear, but for a bar
logo[16:48, 16:80] = (250, 200, 40, 255)

# Into the corner itself; where the logo is clear, the photo shows as it is.
corner = photo[-72:-8, -104:-8]
byteblend.composite("normal", logo, corner, out=corner, opacity=0.7)
assert tuple(photo[-40, -60]) == (187, 167, 76)  # the bar, at 70 %
assert tuple(photo[-70, -100]) == (40, 90, 160)  # the logo's clear part
print("logo composited at 70 %:", photo[-40, -60], "over", photo[0, 0])
