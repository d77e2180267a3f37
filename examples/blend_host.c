/* SPDX-License-Identifier: MIT */
/*
 * A host program as a user would write one: it loads libbyteblend with the
 * dynamic loader, resolves kernels by name and prints a few blends.
 *
 *   blend_host [path/to/libbyteblend.so.1]
 */
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>

typedef void Kernel(int32_t length, const uint8_t *top, const uint8_t *bottom,
                    uint8_t *result);

int main(int argc, char **argv) {
  const char *path = argc > 1 ? argv[1] : "libbyteblend.so.1";
  void *library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    fprintf(stderr, "blend_host: cannot load %s: %s\n", path, dlerror());
    return 1;
  }
  static const char *const names[] = {
      "AdditionBlend",   "SubtractionBlend", "MultiplicationBlend",
      "ScreenBlend",     "OpacityBlend",     "OverlayBlend",
      "LightenBlend",    "DarkenBlend",      "ColorDodgeBlend",
      "ColorBurnBlend",  "RedChannelBlend",  "GreenChannelBlend",
      "BlueChannelBlend"};
  const uint8_t top[6] = {0, 45, 100, 128, 200, 255};
  const uint8_t bottom[6] = {255, 7, 200, 128, 100, 0};
  printf("%-20s", "top");
  for (int i = 0; i < 6; ++i) {
    printf("%5d", top[i]);
  }
  printf("\n%-20s", "bottom");
  for (int i = 0; i < 6; ++i) {
    printf("%5d", bottom[i]);
  }
  printf("\n");
  for (size_t k = 0; k < sizeof names / sizeof names[0]; ++k) {
    Kernel *kernel;
    /* POSIX allows this conversion from the object pointer dlsym returns. */
    *(void **)&kernel = dlsym(library, names[k]);
    if (kernel == NULL) {
      fprintf(stderr, "blend_host: %s has no %s\n", path, names[k]);
      dlclose(library);
      return 1;
    }
    uint8_t result[6] = {0, 0, 0, 0, 0, 0};
    kernel(6, top, bottom, result);
    printf("%-20s", names[k]);
    for (int i = 0; i < 6; ++i) {
      printf("%5d", result[i]);
    }
    printf("\n");
  }
  dlclose(library);
  return 0;
}
