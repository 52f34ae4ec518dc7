// A C++ program as a user writes it: find_package(ocl_qarn_e9), the imported target.
#include <ocl_qarn_e9.h>
#include <cstdio>

static int by_reference() {
  qarn_double16 x, y, out;
  for (int i = 0; i < 16; ++i) x[i] = i, y[i] = 2;
  qarn_double16* p = __ocl_qarn_e9_pow16(&out, &x, &y);     // by reference, ms_abi
  int bad = p != &out;
  for (int i = 0; i < 16; ++i) bad |= out[i] != double(i * i);
  return bad;
}

int main() {
  int bad = 0;
  qarn_float16 x;
  for (int i = 0; i < 16; ++i) x[i] = float(i) / 8;
  qarn_sincos_float16 sc = __ocl_qarn_e9_sincosregf16(x);   // two results
  for (int i = 0; i < 16; ++i) {
    float s = sc.sine[i], c = sc.cosine[i];
    bad |= s * s + c * c < 0.99999f || s * s + c * c > 1.00001f;
  }
  bad |= sc.sine[0] != 0.0f || sc.cosine[0] != 1.0f;
  bad |= __ocl_qarn_e9_cvtfptoi32rtnsatf1(-2.5f) != -3;     // an integer result
  bad |= __ocl_qarn_e9_udiv1(4000000000u, 3u) != 1333333333u;
  bad |= by_reference();
  std::printf("consumer (C++, CMake package): %s\n", bad ? "WRONG" : "ok");
  return bad;
}
