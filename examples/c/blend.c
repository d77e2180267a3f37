#include <byteblend.h>
#include <stdio.h>

int main(void) {
  const uint8_t top[6] = {0, 64, 128, 192, 255, 30};
  const uint8_t bottom[6] = {0, 128, 128, 64, 255, 220};
  uint8_t result[6];
  ScreenBlend(6, top, bottom, result);
  printf("screen:");
  for (int i = 0; i < 6; ++i) {
    printf(" %d", result[i]);
  }
  printf("\n");
  return 0;
}
