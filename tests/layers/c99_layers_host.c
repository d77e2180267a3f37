/* SPDX-License-Identifier: MIT */
/* byteblend_layers.h as a strict C99 translation unit, and one call of each
 * function through the shared object. */
#include <stdio.h>

#include "byteblend_layers.h"

int main(void) {
  const uint8_t top[4] = {200, 100, 50, 128};
  const uint8_t bottom[3] = {10, 20, 30};
  uint8_t result[3] = {0, 0, 0};
  int status =
      byteblend_composite(BYTEBLEND_MODE_NORMAL, BYTEBLEND_OPERATOR_ATOP, 1,
                          top, 4, bottom, 3, result, 255);
  /* P = 128 * 255: round((32640 * 200 + 32385 * 10) / 65025) = 105. */
  if (status != 0 || result[0] != 105) {
    printf("composite: status %d, red %d\n", status, result[0]);
    return 1;
  }
  status = byteblend_blend_with_opacity(BYTEBLEND_MODE_ADDITION, 3, bottom,
                                        bottom, result, 128);
  /* round((128 * 20 + 127 * 10) / 255) = 15. */
  if (status != 0 || result[0] != 15) {
    printf("blend_with_opacity: status %d, first %d\n", status, result[0]);
    return 1;
  }
  return 0;
}
