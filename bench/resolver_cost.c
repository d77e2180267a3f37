/* SPDX-License-Identifier: MIT */
/* What binding the thirteen kernels costs a process, for one or more builds
 * of the shared object side by side: each round loads every library in turn
 * (dlopen, RTLD_NOW), looks up the thirteen kernel names, which runs their
 * load-time resolvers as a host's first calls would, and unloads it again,
 * so that each round starts from a freshly mapped library. The same lookups
 * of a plain exported function (Minimum) measure what dlsym alone costs.
 * Prints the medians over the rounds, in microseconds.
 *
 *   byteblend_resolver_cost ROUNDS LIBRARY...
 */
#define _POSIX_C_SOURCE 200809L

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static const char *const kernels[] = {
    "AdditionBlend",    "SubtractionBlend", "MultiplicationBlend",
    "ScreenBlend",      "RedChannelBlend",  "GreenChannelBlend",
    "BlueChannelBlend", "OpacityBlend",     "OverlayBlend",
    "LightenBlend",     "DarkenBlend",      "ColorDodgeBlend",
    "ColorBurnBlend"};
enum { kernel_count = sizeof kernels / sizeof kernels[0] };

static double now_us(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec * 1e6 + (double)t.tv_nsec / 1e3;
}

static int by_value(const void *a, const void *b) {
  const double x = *(const double *)a;
  const double y = *(const double *)b;
  return (x > y) - (x < y);
}

static double median(double *values, int count) {
  qsort(values, (size_t)count, sizeof *values, by_value);
  return count % 2 ? values[count / 2]
                   : (values[count / 2 - 1] + values[count / 2]) / 2;
}

/* Times `names` looked up `count` at a time in `library`; 0 on failure. */
static int time_lookups(void *library, const char *const *names, int count,
                        double *microseconds) {
  int i;
  const double start = now_us();
  for (i = 0; i < count; ++i) {
    if (dlsym(library, names[i]) == NULL) {
      fprintf(stderr, "%s: %s\n", names[i], dlerror());
      return 0;
    }
  }
  *microseconds = now_us() - start;
  return 1;
}

int main(int argc, char **argv) {
  const char *plain[kernel_count];
  double *samples;
  int rounds, libraries, round, i;
  if (argc < 3 || (rounds = atoi(argv[1])) < 1) {
    fprintf(stderr, "usage: %s ROUNDS LIBRARY...\n", argv[0]);
    return 2;
  }
  libraries = argc - 2;
  for (i = 0; i < kernel_count; ++i) {
    plain[i] = "Minimum";
  }
  /* Per library: load, kernel lookups, plain lookups; `rounds` of each. */
  samples = malloc(sizeof *samples * (size_t)(3 * libraries * rounds));
  if (samples == NULL) {
    return 1;
  }
  for (round = 0; round < rounds; ++round) {
    for (i = 0; i < libraries; ++i) {
      double *sample = samples + (size_t)(3 * i * rounds + round);
      const double start = now_us();
      void *library = dlopen(argv[2 + i], RTLD_NOW | RTLD_LOCAL);
      if (library == NULL) {
        fprintf(stderr, "%s\n", dlerror());
        return 1;
      }
      sample[0] = now_us() - start;
      if (!time_lookups(library, kernels, kernel_count, &sample[rounds]) ||
          !time_lookups(library, plain, kernel_count, &sample[2 * rounds])) {
        return 1;
      }
      dlclose(library);
    }
  }
  printf("medians of %d rounds, in microseconds per load\n", rounds);
  printf("%10s %16s %16s  %s\n", "dlopen", "13 kernels", "13 x Minimum",
         "library");
  for (i = 0; i < libraries; ++i) {
    double *sample = samples + (size_t)(3 * i * rounds);
    const double load = median(sample, rounds);
    const double kernel_lookups = median(sample + rounds, rounds);
    const double plain_lookups = median(sample + 2 * rounds, rounds);
    printf("%10.1f %16.1f %16.1f  %s\n", load, kernel_lookups, plain_lookups,
           argv[2 + i]);
  }
  free(samples);
  return 0;
}
