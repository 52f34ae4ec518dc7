/* A program as a user writes it: the installed header, pkg-config's flags. */
#include <ocl_qarn_e9.h>
#include <stdio.h>

int main(void) {
  int bad = 0;
  qarn_float8 x = {0, 1, 2, 3, 4, 5, 6, 7};
  qarn_float8 e = __ocl_qarn_e9_exp2f8(x);                 /* direct: ymm0 in, ymm0 out */
  for (int i = 0; i < 8; ++i) bad |= e[i] != (float)(1 << i);
  qarn_divrem_int qr = __ocl_qarn_e9_idivrem1(-7, 2);       /* integers: a System V entry */
  bad |= qr.quot != -3 || qr.rem != -1;
  qarn_double16 sq, r;
  for (int i = 0; i < 16; ++i) sq[i] = (double)(i * i);
  r = __ocl_qarn_e9_sqrt16(sq);                             /* 128 bytes on the stack */
  for (int i = 0; i < 16; ++i) bad |= r[i] != (double)i;
  qarn_int4 ex;
  qarn_float4 m = __ocl_qarn_e9_frexpf4((qarn_float4){48, 1, 0.375f, -5}, &ex);
  bad |= m[0] != 0.75f || ex[0] != 6 || m[2] != 0.75f || ex[2] != -1 || m[3] != -0.625f || ex[3] != 3;
  printf("consumer (C, pkg-config): %s\n", bad ? "WRONG" : "ok");
  return bad;
}
