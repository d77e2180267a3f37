/* SPDX-License-Identifier: MIT */
/*
 * byteblend: blend two arrays of 8-bit image data value by value.
 *
 * Every kernel takes the number of bytes to process and three caller-owned
 * arrays, and for each index it visits reads one byte of `top` (the layer
 * being applied) and one of `bottom` (the layer it is applied to), and writes
 * the blended value to `result` at the same index. Indices at or beyond
 * `length` are never read or written; a `length` of zero or below touches
 * nothing. `result` may be the very same array as `top` or `bottom`, but
 * not an array that overlaps either of them at another offset: the vector
 * routes read a whole vector of inputs before they store any result, so
 * such a call does not see the results of lower indices as a loop that goes
 * one index at a time would.
 *
 * In the formulas below t is the top value and b the bottom value, 0..255.
 * The kernels keep no state and may be called from any number of threads.
 */
#ifndef BYTEBLEND_H
#define BYTEBLEND_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The smaller of a and b under signed comparison. */
int32_t Minimum(int32_t a, int32_t b);

/* The larger of a and b under signed comparison. */
int32_t Maximum(int32_t a, int32_t b);

/* t + b, clamped to 255. */
void AdditionBlend(int32_t length, const uint8_t *top, const uint8_t *bottom,
                   uint8_t *result);

/* t - b, clamped to 0. */
void SubtractionBlend(int32_t length, const uint8_t *top, const uint8_t *bottom,
                      uint8_t *result);

/* t * b / 255, rounded to the nearest integer. */
void MultiplicationBlend(int32_t length, const uint8_t *top,
                         const uint8_t *bottom, uint8_t *result);

/* 255 * (1 - (1 - t/255) * (1 - b/255)), rounded, in single precision. */
void ScreenBlend(int32_t length, const uint8_t *top, const uint8_t *bottom,
                 uint8_t *result);

/* Packed RGB: 3 * t + b, clamped to 255, at indices 0, 3, 6, ... only. */
void RedChannelBlend(int32_t length, const uint8_t *top, const uint8_t *bottom,
                     uint8_t *result);

/* Packed RGB: 3 * t + b, clamped to 255, at indices 1, 4, 7, ... only. */
void GreenChannelBlend(int32_t length, const uint8_t *top,
                       const uint8_t *bottom, uint8_t *result);

/* Packed RGB: 3 * t + b, clamped to 255, at indices 2, 5, 8, ... only. */
void BlueChannelBlend(int32_t length, const uint8_t *top, const uint8_t *bottom,
                      uint8_t *result);

/* Half-and-half mix: (t + b) / 2, rounded down. */
void OpacityBlend(int32_t length, const uint8_t *top, const uint8_t *bottom,
                  uint8_t *result);

/* Multiply where b <= 127 (2 t b / 255), screen where b >= 128, rounded. */
void OverlayBlend(int32_t length, const uint8_t *top, const uint8_t *bottom,
                  uint8_t *result);

/* The larger of t and b. */
void LightenBlend(int32_t length, const uint8_t *top, const uint8_t *bottom,
                  uint8_t *result);

/* The smaller of t and b. */
void DarkenBlend(int32_t length, const uint8_t *top, const uint8_t *bottom,
                 uint8_t *result);

/* 255 * b / (255 - t) in single precision, rounded, clamped to 255;
 * 255 where t is 255. */
void ColorDodgeBlend(int32_t length, const uint8_t *top, const uint8_t *bottom,
                     uint8_t *result);

/* 255 - 255 * (255 - b) / t in single precision, rounded, clamped to 0;
 * 0 where t is 0. */
void ColorBurnBlend(int32_t length, const uint8_t *top, const uint8_t *bottom,
                    uint8_t *result);

#ifdef __cplusplus
}
#endif

#endif /* BYTEBLEND_H */
