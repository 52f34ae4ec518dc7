// Lane fallbacks of the toy kernels: the main path's formula plus a mark (0.5 on a
// floating result, 100 on an int one; 0.25 or 100 on the second result), each call
// recorded.
#include <cmath>
#include <cstdint>

#include "forms_fallbacks.h"
#include "support/fallback_log.h"

namespace {
template <class T> void rec(const char* fn, const T* x, std::initializer_list<uintptr_t> p,
                            std::initializer_list<int> b, int inputs) {
  (void)x;
  qarn::abi::record_fallback(fn, p, b, inputs);
}
constexpr int S(const float*) { return 4; }
constexpr int S(const double*) { return 8; }
}  // namespace

#define U(p) uintptr_t(p)
#define TOYS(P, T)                                                                                         \
  extern "C" __attribute__((ms_abi)) void qarn_toy_f_f_##P##_lane_fallback(const T* x, T* r) {                                   \
    rec("f:f", x, {U(x), U(r)}, {S(x), S(x)}, 1);                                                        \
    *r = *x * 2 + T(0.5);                                                                                \
  }                                                                                                      \
  extern "C" __attribute__((ms_abi)) void qarn_toy_ff_f_##P##_lane_fallback(const T* x, const T* y, T* r) {                      \
    rec("ff:f", x, {U(x), U(y), U(r)}, {S(x), S(x), S(x)}, 2);                                           \
    *r = *x * 2 + *y * 3 + T(0.5);                                                                       \
  }                                                                                                      \
  extern "C" __attribute__((ms_abi)) void qarn_toy_fff_f_##P##_lane_fallback(const T* x, const T* y, const T* z, T* r) {         \
    rec("fff:f", x, {U(x), U(y), U(z), U(r)}, {S(x), S(x), S(x), S(x)}, 3);                              \
    *r = (*x * 2 + *y * 3) + *z * 5 + T(0.5);                                                            \
  }                                                                                                      \
  extern "C" __attribute__((ms_abi)) void qarn_toy_fi_f_##P##_lane_fallback(const T* x, const int32_t* n, T* r) {                \
    rec("fi:f", x, {U(x), U(n), U(r)}, {S(x), 4, S(x)}, 2);                                              \
    *r = *x * 2 + T(*n) + T(0.5);                                                                        \
  }                                                                                                      \
  extern "C" __attribute__((ms_abi)) void qarn_toy_f_i_##P##_lane_fallback(const T* x, int32_t* r) {                             \
    rec("f:i", x, {U(x), U(r)}, {S(x), 4}, 1);                                                           \
    *r = int32_t(*x * 2) + 100;                                                                          \
  }                                                                                                      \
  extern "C" __attribute__((ms_abi)) void qarn_toy_f_ff_##P##_lane_fallback(const T* x, T* r, T* s) {                            \
    rec("f:ff", x, {U(x), U(r), U(s)}, {S(x), S(x), S(x)}, 1);                                           \
    *r = *x * 2 + T(0.5);                                                                                \
    *s = *x - 1 + T(0.25);                                                                               \
  }                                                                                                      \
  extern "C" __attribute__((ms_abi)) void qarn_toy_f_fpf_##P##_lane_fallback(const T* x, T* r, T* s) {                           \
    rec("f:fpf", x, {U(x), U(r), U(s)}, {S(x), S(x), S(x)}, 1);                                          \
    *r = *x * 2 + T(0.5);                                                                                \
    *s = *x - 1 + T(0.25);                                                                               \
  }                                                                                                      \
  extern "C" __attribute__((ms_abi)) void qarn_toy_f_fpi_##P##_lane_fallback(const T* x, T* r, int32_t* s) {                     \
    rec("f:fpi", x, {U(x), U(r), U(s)}, {S(x), S(x), 4}, 1);                                             \
    *r = *x * 2 + T(0.5);                                                                                \
    *s = int32_t(std::lrint(*x + 7)) + 100;                                                                          \
  }                                                                                                      \
  extern "C" __attribute__((ms_abi)) void qarn_toy_ff_fpi_##P##_lane_fallback(const T* x, const T* y, T* r, int32_t* s) {        \
    rec("ff:fpi", x, {U(x), U(y), U(r), U(s)}, {S(x), S(x), S(x), 4}, 2);                                \
    *r = *x * 2 + *y * 3 + T(0.5);                                                                       \
    *s = int32_t(std::lrint(*x + 7)) + 100;                                                                          \
  }
TOYS(f, float)
TOYS(d, double)
