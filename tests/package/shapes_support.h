/* Helpers of the generated shape checks (header_shapes.c): operands and reports. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "ocl_qarn_e9.h"

/* Storage for any vector or pair of vectors of the library. */
typedef struct {
  _Alignas(128) unsigned char b[256];
} Buf;

struct shape_test {
  int (*run)(void);
  const char* name;
};

/* Ordinary lanes, different in every lane and argument: floats and doubles between
 * 0.3 and about 3.3 (inside or at the edge of every family's domain; lanes outside
 * one are compared all the same), integers from 1 to 9. */
static void fill(void* v, size_t bytes, int lane_bytes, int cls, int arg) {
  char* p = (char*)v;
  for (size_t i = 0; i * lane_bytes < bytes; ++i) {
    double x = 0.3 + 0.37 * (double)i + 0.11 * arg;
    if (cls == 0) {
      float f = (float)x;
      memcpy(p + i * 4, &f, 4);
    } else if (cls == 1) {
      memcpy(p + i * 8, &x, 8);
    } else {
      uint64_t n = 1 + (i + 3 * (size_t)arg) % 9;
      memcpy(p + i * lane_bytes, &n, lane_bytes);
    }
  }
}

static int report(const char* name, int result, int lane) {
  if (lane < 0)
    fprintf(stderr, "%s: the result buffer was not returned\n", name);
  else
    fprintf(stderr, "%s: result %d lane %d differs from the reference\n", name, result, lane);
  return 1;
}
