/* Calls through ocl_qarn_e9.h from C: one export of every calling shape (argument and
 * result kinds, width, register form or by reference, direct or through a System V
 * entry), each lane against the width-1 export on that lane, and a few exact values. */
#include "header_shapes.c"

#include <math.h>

static int exact_values(void) {
  int bad = 0;
  qarn_divrem_int qr = __ocl_qarn_e9_idivrem1(7, 2);
  if (qr.quot != 3 || qr.rem != 1) bad |= report("idivrem1(7, 2)", 0, 0);
  qarn_divrem_int qn = __ocl_qarn_e9_idivrem1(-7, 2);
  if (qn.quot != -3 || qn.rem != -1) bad |= report("idivrem1(-7, 2)", 0, 0);
  qarn_uint4 big = {4000000000u, 7, 9, 100};
  qarn_uint4 d = {3, 7, 2, 10};
  qarn_uint4 uq = __ocl_qarn_e9_udiv4(big, d);
  if (uq[0] != 1333333333u || uq[1] != 1 || uq[2] != 4 || uq[3] != 10) bad |= report("udiv4", 0, 0);
  qarn_float8 sq = {1, 4, 9, 16, 25, 36, 49, 64};
  qarn_float8 r = __ocl_qarn_e9_sqrtf8(sq);
  for (int i = 0; i < 8; ++i)
    if (r[i] != (float)(i + 1)) bad |= report("sqrtf8", 0, i);
  qarn_double16 x16, s16;
  for (int i = 0; i < 16; ++i) x16[i] = (double)(i * i);
  s16 = __ocl_qarn_e9_sqrt16(x16);
  for (int i = 0; i < 16; ++i)
    if (s16[i] != (double)i) bad |= report("sqrt16", 0, i);
  int e;
  double m = __ocl_qarn_e9_frexp1(48.0, &e);
  if (m != 0.75 || e != 6) bad |= report("frexp1(48)", 0, 0);
  if (__ocl_qarn_e9_ldexpf1(0.75f, 4) != 12.0f) bad |= report("ldexpf1", 0, 0);
  if (__ocl_qarn_e9_cvtfptoi32rtesatf1(2.5f) != 2 || __ocl_qarn_e9_cvtfptoi32rtpsatf1(2.5f) != 3)
    bad |= report("cvtfptoi32 rte/rtp", 0, 0);
  if (__ocl_qarn_e9_cvti64tofprte1(INT64_MIN / 2) != -0x1p62) bad |= report("cvti64tofprte1", 0, 0);
  return bad;
}

/* GCC 12 stops with an internal error on a function that calls both an ms_abi
 * function and one taking vectors on the stack: the by-reference call has its own. */
static int by_reference(void) {
  int bad = 0;
  qarn_double16 x16, y16, out;
  for (int i = 0; i < 16; ++i) x16[i] = (double)(i * i), y16[i] = 0.5;
  if (__ocl_qarn_e9_pow16(&out, &x16, &y16) != &out) bad |= report("pow16", -1, -1);
  for (int i = 0; i < 16; ++i)
    if (out[i] != (double)i) bad |= report("pow16", 0, i);
  return bad;
}

int main(void) {
  int bad = 0;
  for (int i = 0; i < SHAPE_COUNT; ++i) bad |= shapes[i].run();
  bad |= exact_values();
  bad |= by_reference();
  printf("%d calling shapes checked lane by lane through the header%s\n", SHAPE_COUNT,
         bad ? "; FAILURES above" : "");
  return bad;
}
