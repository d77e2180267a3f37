/* SPDX-License-Identifier: MIT */
/*
 * byteblend layers: a blend mode applied with an opacity and through the
 * top layer's alpha, in one pass, from libbyteblend_layers.so.1 (link with
 * -lbyteblend_layers; it does not need libbyteblend.so.1).
 *
 * All values are bytes. An image without alpha has alpha 255 everywhere.
 * For one colour byte: a is the opacity byte, At and Ab the top's and the
 * bottom's alpha, t and b the top's and the bottom's colour byte, and r the
 * mode's value for (t, b) exactly as the kernels of byteblend.h compute it
 * (for a channel mode r = b in the other two channels; for NORMAL r = t).
 * With P = At * a (0..65025) and round(n / d) = floor((2 n + d) / (2 d)),
 * the nearest integer (halves up):
 *
 *   ATOP (the top paints only where the bottom is):
 *     colour = round((P r + (65025 - P) b) / 65025), alpha = Ab.
 *   OVER (source-over with the mode as its blend function):
 *     Y = 255 P + Ab (65025 - P),
 *     X = P (255 - Ab) t + P Ab r + (65025 - P) Ab b,
 *     colour = round(X / Y), alpha = round(Y / 65025); where Y = 0 (nothing
 *     on either layer) every byte is 0.
 *
 * OVER onto an opaque bottom (Ab = 255) gives the same bytes as ATOP. With
 * a = 255 and an opaque top every colour byte equals the plain kernel's.
 * Front ends that take an opacity o in [0, 1] pass round(o * 255), halves
 * up.
 *
 * The arrays are caller-owned. `result` may be the very same array as
 * `bottom` (or as `top` where both have the same layout), but never an
 * array that overlaps one of them at another offset. A count of zero or
 * below touches nothing. The functions check their arguments before they
 * touch any memory: on an error nothing is read or written. They keep no
 * state, may be called from any number of threads, and give the same bytes
 * whatever floating-point environment the caller has set.
 */
#ifndef BYTEBLEND_LAYERS_H
#define BYTEBLEND_LAYERS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The modes, in the order of the kernels in byteblend.h, then NORMAL. */
enum byteblend_mode {
  BYTEBLEND_MODE_ADDITION = 0,
  BYTEBLEND_MODE_SUBTRACTION = 1,
  BYTEBLEND_MODE_MULTIPLICATION = 2,
  BYTEBLEND_MODE_SCREEN = 3,
  BYTEBLEND_MODE_RED_CHANNEL = 4,
  BYTEBLEND_MODE_GREEN_CHANNEL = 5,
  BYTEBLEND_MODE_BLUE_CHANNEL = 6,
  BYTEBLEND_MODE_OPACITY = 7, /* the half-and-half mix, OpacityBlend */
  BYTEBLEND_MODE_OVERLAY = 8,
  BYTEBLEND_MODE_LIGHTEN = 9,
  BYTEBLEND_MODE_DARKEN = 10,
  BYTEBLEND_MODE_COLOR_DODGE = 11,
  BYTEBLEND_MODE_COLOR_BURN = 12,
  BYTEBLEND_MODE_NORMAL = 13 /* r = t: the top itself */
};

/* How the top's alpha and the bottom's alpha combine. */
enum byteblend_operator {
  BYTEBLEND_OPERATOR_ATOP = 0, /* the default */
  BYTEBLEND_OPERATOR_OVER = 1
};

/* The negative results; 0 is success. */
enum byteblend_layers_error {
  BYTEBLEND_ERROR_UNKNOWN_MODE = -1,
  BYTEBLEND_ERROR_UNKNOWN_OPERATOR = -2,
  BYTEBLEND_ERROR_UNSUPPORTED_CHANNELS = -3
};

/*
 * Byte by byte, like the kernels of byteblend.h, with an opacity:
 * result[i] = round((opacity * r + (255 - opacity) * b) / 255), ATOP with
 * an opaque top. A channel mode visits indices channel, channel + 3, ...
 * only, as RedChannelBlend and its siblings do; every other mode visits
 * every index below `length`. With opacity 255 the bytes are exactly the
 * plain kernel's. Returns 0, or BYTEBLEND_ERROR_UNKNOWN_MODE.
 */
int byteblend_blend_with_opacity(int mode, int32_t length, const uint8_t *top,
                                 const uint8_t *bottom, uint8_t *result,
                                 uint8_t opacity);

/*
 * `pixels` packed pixels: `top` has top_channels bytes a pixel (3: RGB,
 * 4: RGBA), `bottom` and `result` have bottom_channels (3 or 4). Every byte
 * of every pixel of `result` is written: its colour as the operator says,
 * its alpha (RGBA) Ab for ATOP and round(Y / 65025) for OVER. Returns 0,
 * or BYTEBLEND_ERROR_UNKNOWN_MODE, BYTEBLEND_ERROR_UNKNOWN_OPERATOR or
 * BYTEBLEND_ERROR_UNSUPPORTED_CHANNELS.
 */
int byteblend_composite(int mode, int blend_operator, int32_t pixels,
                        const uint8_t *top, int top_channels,
                        const uint8_t *bottom, int bottom_channels,
                        uint8_t *result, uint8_t opacity);

#ifdef __cplusplus
}
#endif

#endif
