/* SPDX-License-Identifier: MIT */
/* A C99 host of the public header: it has to compile without a warning
 * under -std=c99 -pedantic, and the calls have to link and give the right
 * values. */
#include "byteblend.h"

#include <stdio.h>

int main(void) {
  const uint8_t top[4] = {17, 200, 0, 255};
  const uint8_t bottom[4] = {63, 100, 255, 255};
  uint8_t result[4] = {0, 0, 0, 0};
  const uint8_t expected[4] = {80, 255, 255, 255};
  int i;

  AdditionBlend(4, top, bottom, result);
  for (i = 0; i < 4; ++i) {
    if (result[i] != expected[i]) {
      fprintf(stderr, "AdditionBlend: index %d gave %d, expected %d\n", i,
              result[i], expected[i]);
      return 1;
    }
  }
  if (Minimum(-5, 3) != -5 || Maximum(-5, 3) != 3) {
    fprintf(stderr, "Minimum or Maximum compared unsigned\n");
    return 1;
  }
  return 0;
}
