# SPDX-License-Identifier: MIT
"""The opacity and alpha rule of the layers, in integers, from its formulas
(not from the library's code): what blend(..., opacity=) and composite()
must give. The mode's own byte r is the plain kernel's (conftest.direct),
which test_blend checks against the library on its own."""
import math

import numpy as np

from conftest import CHANNEL_MODES, direct

# The opacities every table runs: none, the least, a half (127.5: the byte
# 128), all.
OPACITIES = (0.0, 1 / 255, 0.5, 1.0)


def opacity_byte(opacity):
    """round(opacity * 255), halves up, of the product as a double."""
    product = opacity * 255
    whole = math.floor(product)
    return whole + (product - whole >= 0.5)


def rounded(numerator, denominator):
    """numerator / denominator to the nearest integer, halves up, for
    integer arrays of values >= 0."""
    return (2 * numerator + denominator) // (2 * denominator)


def mode_bytes(mode, top, bottom):
    """r for each byte: top itself for normal, else the plain kernel's byte
    (a channel mode's other two channels: bottom's)."""
    if mode == "normal":
        return np.asarray(top, np.int64)
    return direct(mode, top, bottom, bottom).astype(np.int64)


def blended_with_opacity(mode, top, bottom, out, opacity):
    """What blend(mode, top, bottom, out, opacity=opacity) leaves in a copy
    of out: the mode's byte mixed with bottom's by the opacity byte, where
    the mode writes (a channel mode: its channel only)."""
    a = opacity_byte(opacity)
    r = mode_bytes(mode, top, bottom)
    b = np.asarray(bottom, np.int64)
    mixed = rounded(a * r + (255 - a) * b, 255)
    result = np.array(out, np.int64)
    written = np.ones(result.shape, bool)
    if mode in CHANNEL_MODES:
        index = np.arange(result.size).reshape(result.shape)
        written = index % 3 == CHANNEL_MODES.index(mode)
    result[written] = mixed[written]
    return result.astype(np.uint8)


def alpha_of(pixels):
    """The alpha of each pixel, as an axis of 1: 255 for RGB."""
    if pixels.shape[-1] == 4:
        return pixels[..., 3:].astype(np.int64)
    return np.full(pixels.shape[:-1] + (1,), 255, np.int64)


def composited(mode, operator, top, bottom, opacity):
    """What composite() gives: bottom's shape, each colour by the operator,
    the alpha (bottom RGBA) Ab for atop and round(Y / 65025) for over."""
    top, bottom = np.asarray(top), np.asarray(bottom)
    t = np.ascontiguousarray(top[..., :3])
    b = np.ascontiguousarray(bottom[..., :3])
    r = mode_bytes(mode, t, b)
    t, b = t.astype(np.int64), b.astype(np.int64)
    at, ab = alpha_of(top), alpha_of(bottom)
    p = at * opacity_byte(opacity)
    if operator == "atop":
        colour = rounded(p * r + (65025 - p) * b, 65025)
        alpha = ab
    else:
        y = 255 * p + ab * (65025 - p)
        x = p * (255 - ab) * t + p * ab * r + (65025 - p) * ab * b
        colour = np.where(y == 0, 0, rounded(x, np.maximum(y, 1)))
        alpha = rounded(y, 65025)
    if bottom.shape[-1] == 4:
        colour = np.concatenate([colour, alpha], axis=-1)
    return colour.astype(np.uint8)


def pixels(shape, seed):
    """Random bytes whose alphas (an RGBA last axis) include 0 and 255
    often, where the operators part ways."""
    rng = np.random.default_rng(seed)
    array = rng.integers(0, 256, shape, np.uint8)
    if shape[-1] == 4:
        alpha = array[..., 3]
        pick = rng.integers(0, 4, alpha.shape)
        alpha[pick == 0] = 0
        alpha[pick == 1] = 255
    return array
