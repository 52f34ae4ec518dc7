// The built-ins of the kernels bound to SLEEF 3.5 instead of libocl_qarn_e9, for the
// side-by-side comparison of the kernel runner.  Written in OpenCL C so that Clang
// gives every definition the overload name the kernels call.
//
// Every width goes through SLEEF's AVX functions (eight float or four double lanes):
// narrower vectors fill a whole register, wider ones take several calls.
// Built-ins SLEEF lacks: rsqrt is 1/sqrt, fract is x - floor(x) held below 1 (SLEEF's
// floor and fmin), float frexp's exponent and float ldexp go lane by lane through
// SLEEF's scalar functions, remquo lane by lane through libm's, and the conversions
// round lane by lane with the compiler's rint/floor/ceil (libm's semantics) and
// saturate.
#pragma OPENCL EXTENSION cl_khr_fp64 : enable
#define OVL __attribute__((overloadable))

typedef struct { float8 x, y; } sf8_2;
typedef struct { double4 x, y; } sd4_2;

// ---- one argument: every width through the AVX function ------------------------
#define F1(fn, s8)                                                                     \
  float8 s8(float8);                                                                   \
  float OVL fn(float x) { return s8((float8)x).s0; }                                   \
  float2 OVL fn(float2 x) { return s8((float8)(x, x, x, x)).lo.lo; }                   \
  float3 OVL fn(float3 x) { return s8((float8)(x, x.s0, x, x.s0)).s012; }              \
  float4 OVL fn(float4 x) { return s8((float8)(x, x)).lo; }                            \
  float8 OVL fn(float8 x) { return s8(x); }                                            \
  float16 OVL fn(float16 x) { return (float16)(s8(x.lo), s8(x.hi)); }
#define D1(fn, s4)                                                                     \
  double4 s4(double4);                                                                 \
  double OVL fn(double x) { return s4((double4)x).s0; }                                \
  double2 OVL fn(double2 x) { return s4((double4)(x, x)).lo; }                         \
  double3 OVL fn(double3 x) { return s4((double4)(x, x.s0)).s012; }                    \
  double4 OVL fn(double4 x) { return s4(x); }                                          \
  double8 OVL fn(double8 x) { return (double8)(s4(x.lo), s4(x.hi)); }                  \
  double16 OVL fn(double16 x) {                                                        \
    return (double16)(s4(x.lo.lo), s4(x.lo.hi), s4(x.hi.lo), s4(x.hi.hi));             \
  }
#define FD1(fn, f8, d4) F1(fn, f8) D1(fn, d4)

// ---- two arguments --------------------------------------------------------------
#define F2(fn, s8)                                                                     \
  float8 s8(float8, float8);                                                           \
  float OVL fn(float x, float y) { return s8((float8)x, (float8)y).s0; }               \
  float2 OVL fn(float2 x, float2 y) {                                                  \
    return s8((float8)(x, x, x, x), (float8)(y, y, y, y)).lo.lo;                       \
  }                                                                                    \
  float3 OVL fn(float3 x, float3 y) {                                                  \
    return s8((float8)(x, x.s0, x, x.s0), (float8)(y, y.s0, y, y.s0)).s012;            \
  }                                                                                    \
  float4 OVL fn(float4 x, float4 y) { return s8((float8)(x, x), (float8)(y, y)).lo; }  \
  float8 OVL fn(float8 x, float8 y) { return s8(x, y); }                               \
  float16 OVL fn(float16 x, float16 y) {                                               \
    return (float16)(s8(x.lo, y.lo), s8(x.hi, y.hi));                                  \
  }
#define D2(fn, s4)                                                                     \
  double4 s4(double4, double4);                                                        \
  double OVL fn(double x, double y) { return s4((double4)x, (double4)y).s0; }          \
  double2 OVL fn(double2 x, double2 y) { return s4((double4)(x, x), (double4)(y, y)).lo; } \
  double3 OVL fn(double3 x, double3 y) {                                               \
    return s4((double4)(x, x.s0), (double4)(y, y.s0)).s012;                            \
  }                                                                                    \
  double4 OVL fn(double4 x, double4 y) { return s4(x, y); }                            \
  double8 OVL fn(double8 x, double8 y) {                                               \
    return (double8)(s4(x.lo, y.lo), s4(x.hi, y.hi));                                  \
  }                                                                                    \
  double16 OVL fn(double16 x, double16 y) {                                            \
    return (double16)(s4(x.lo.lo, y.lo.lo), s4(x.lo.hi, y.lo.hi), s4(x.hi.lo, y.hi.lo), \
                      s4(x.hi.hi, y.hi.hi));                                           \
  }
#define FD2(fn, f8, d4) F2(fn, f8) D2(fn, d4)

FD1(exp, Sleef_expf8_u10avx, Sleef_expd4_u10avx)
FD1(log, Sleef_logf8_u10avx, Sleef_logd4_u10avx)
FD1(sqrt, Sleef_sqrtf8_u05avx, Sleef_sqrtd4_u05avx)
FD1(erfc, Sleef_erfcf8_u15avx, Sleef_erfcd4_u15avx)
FD1(cbrt, Sleef_cbrtf8_u10avx, Sleef_cbrtd4_u10avx)
FD1(sin, Sleef_sinf8_u10avx, Sleef_sind4_u10avx)
FD1(cos, Sleef_cosf8_u10avx, Sleef_cosd4_u10avx)
FD1(floor, Sleef_floorf8_avx, Sleef_floord4_avx)
FD2(pow, Sleef_powf8_u10avx, Sleef_powd4_u10avx)
FD2(atan2, Sleef_atan2f8_u10avx, Sleef_atan2d4_u10avx)
FD2(fmax, Sleef_fmaxf8_avx, Sleef_fmaxd4_avx)
FD2(fmin, Sleef_fminf8_avx, Sleef_fmind4_avx)
FD2(fmod, Sleef_fmodf8_avx, Sleef_fmodd4_avx)
FD2(remainder, Sleef_remainderf8_avx, Sleef_remainderd4_avx)

// fmax and fmin with one scalar for every lane
#define MM_S(T, S) T OVL fmax(T x, S y) { return fmax(x, (T)y); } T OVL fmin(T x, S y) { return fmin(x, (T)y); }
MM_S(float2, float) MM_S(float3, float) MM_S(float4, float) MM_S(float8, float) MM_S(float16, float)
MM_S(double2, double) MM_S(double3, double) MM_S(double4, double) MM_S(double8, double) MM_S(double16, double)

// ---- fma ------------------------------------------------------------------------
float8 Sleef_fmaf8_avx(float8, float8, float8);
double4 Sleef_fmad4_avx(double4, double4, double4);
#define FMA_F(T, WIDEN, NARROW)                                                        \
  T OVL fma(T a, T b, T c) { return Sleef_fmaf8_avx(WIDEN(a), WIDEN(b), WIDEN(c))NARROW; }
#define FMA_D(T, WIDEN, NARROW)                                                        \
  T OVL fma(T a, T b, T c) { return Sleef_fmad4_avx(WIDEN(a), WIDEN(b), WIDEN(c))NARROW; }
#define W1(x) ((float8)(x))
#define W2(x) ((float8)(x, x, x, x))
#define W3(x) ((float8)(x, x.s0, x, x.s0))
#define W4(x) ((float8)(x, x))
#define W8(x) (x)
FMA_F(float, W1, .s0) FMA_F(float2, W2, .lo.lo) FMA_F(float3, W3, .s012) FMA_F(float4, W4, .lo)
FMA_F(float8, W8, )
float16 OVL fma(float16 a, float16 b, float16 c) { return (float16)(fma(a.lo, b.lo, c.lo), fma(a.hi, b.hi, c.hi)); }
#define V1(x) ((double4)(x))
#define V2(x) ((double4)(x, x))
#define V3(x) ((double4)(x, x.s0))
FMA_D(double, V1, .s0) FMA_D(double2, V2, .lo) FMA_D(double3, V3, .s012) FMA_D(double4, W8, )
double8 OVL fma(double8 a, double8 b, double8 c) { return (double8)(fma(a.lo, b.lo, c.lo), fma(a.hi, b.hi, c.hi)); }
double16 OVL fma(double16 a, double16 b, double16 c) {
  return (double16)(fma(a.lo, b.lo, c.lo), fma(a.hi, b.hi, c.hi));
}

// ---- remquo: SLEEF has none, libm lane by lane ----------------------------------------
float remquof(float, float, int*);
double remquo_d(double, double, int*) __asm("remquo");
#define RQ(T, IT, N, AS, FN)                                                           \
  T OVL remquo(T x, T y, AS IT* q) {                                                   \
    T r; IT k; int t;                                                                  \
    for (int i = 0; i < N; i++) { r[i] = FN(x[i], y[i], &t); k[i] = t; }               \
    *q = k; return r;                                                                  \
  }
#define RQ_ALL(AS)                                                                     \
  float OVL remquo(float x, float y, AS int* q) { int t; float r = remquof(x, y, &t); *q = t; return r; } \
  double OVL remquo(double x, double y, AS int* q) { int t; double r = remquo_d(x, y, &t); *q = t; return r; } \
  RQ(float2, int2, 2, AS, remquof) RQ(float3, int3, 3, AS, remquof) RQ(float4, int4, 4, AS, remquof) \
  RQ(float8, int8, 8, AS, remquof) RQ(float16, int16, 16, AS, remquof)                 \
  RQ(double2, int2, 2, AS, remquo_d) RQ(double3, int3, 3, AS, remquo_d) RQ(double4, int4, 4, AS, remquo_d) \
  RQ(double8, int8, 8, AS, remquo_d) RQ(double16, int16, 16, AS, remquo_d)
RQ_ALL(__global) RQ_ALL(__local) RQ_ALL(__private)
// ---- rsqrt: SLEEF has none ---------------------------------------------------------
#define RSQRT(T) T OVL rsqrt(T x) { return (T)1 / sqrt(x); }
RSQRT(float) RSQRT(float2) RSQRT(float3) RSQRT(float4) RSQRT(float8) RSQRT(float16)
RSQRT(double) RSQRT(double2) RSQRT(double3) RSQRT(double4) RSQRT(double8) RSQRT(double16)

// ---- sincos: both results, the cosine through the pointer -------------------------
sf8_2 Sleef_sincosf8_u10avx(float8);
sd4_2 Sleef_sincosd4_u10avx(double4);
#define SINCOS(AS)                                                                     \
  float OVL sincos(float x, AS float* c) {                                             \
    sf8_2 r = Sleef_sincosf8_u10avx((float8)x); *c = r.y.s0; return r.x.s0;            \
  }                                                                                    \
  float2 OVL sincos(float2 x, AS float2* c) {                                          \
    sf8_2 r = Sleef_sincosf8_u10avx((float8)(x, x, x, x)); *c = r.y.lo.lo; return r.x.lo.lo; \
  }                                                                                    \
  float3 OVL sincos(float3 x, AS float3* c) {                                          \
    sf8_2 r = Sleef_sincosf8_u10avx((float8)(x, x.s0, x, x.s0)); *c = r.y.s012; return r.x.s012; \
  }                                                                                    \
  float4 OVL sincos(float4 x, AS float4* c) {                                          \
    sf8_2 r = Sleef_sincosf8_u10avx((float8)(x, x)); *c = r.y.lo; return r.x.lo;       \
  }                                                                                    \
  float8 OVL sincos(float8 x, AS float8* c) {                                          \
    sf8_2 r = Sleef_sincosf8_u10avx(x); *c = r.y; return r.x;                          \
  }                                                                                    \
  float16 OVL sincos(float16 x, AS float16* c) {                                       \
    sf8_2 a = Sleef_sincosf8_u10avx(x.lo), b = Sleef_sincosf8_u10avx(x.hi);            \
    *c = (float16)(a.y, b.y); return (float16)(a.x, b.x);                              \
  }                                                                                    \
  double OVL sincos(double x, AS double* c) {                                          \
    sd4_2 r = Sleef_sincosd4_u10avx((double4)x); *c = r.y.s0; return r.x.s0;           \
  }                                                                                    \
  double2 OVL sincos(double2 x, AS double2* c) {                                       \
    sd4_2 r = Sleef_sincosd4_u10avx((double4)(x, x)); *c = r.y.lo; return r.x.lo;      \
  }                                                                                    \
  double3 OVL sincos(double3 x, AS double3* c) {                                       \
    sd4_2 r = Sleef_sincosd4_u10avx((double4)(x, x.s0)); *c = r.y.s012; return r.x.s012; \
  }                                                                                    \
  double4 OVL sincos(double4 x, AS double4* c) {                                       \
    sd4_2 r = Sleef_sincosd4_u10avx(x); *c = r.y; return r.x;                          \
  }                                                                                    \
  double8 OVL sincos(double8 x, AS double8* c) {                                       \
    sd4_2 a = Sleef_sincosd4_u10avx(x.lo), b = Sleef_sincosd4_u10avx(x.hi);            \
    *c = (double8)(a.y, b.y); return (double8)(a.x, b.x);                              \
  }                                                                                    \
  double16 OVL sincos(double16 x, AS double16* c) {                                    \
    sd4_2 a = Sleef_sincosd4_u10avx(x.lo.lo), b = Sleef_sincosd4_u10avx(x.lo.hi);      \
    sd4_2 d = Sleef_sincosd4_u10avx(x.hi.lo), e = Sleef_sincosd4_u10avx(x.hi.hi);      \
    *c = (double16)(a.y, b.y, d.y, e.y); return (double16)(a.x, b.x, d.x, e.x);        \
  }
SINCOS(__global) SINCOS(__local) SINCOS(__private)

// ---- fract: x - floor(x), below 1 -------------------------------------------------
#define FRACT1(T, AS, ONE_BELOW)                                                       \
  T OVL fract(T x, AS T* ip) { T f = floor(x); *ip = f; return fmin(x - f, (T)(ONE_BELOW)); }
#define FRACT(AS)                                                                      \
  FRACT1(float, AS, 0x1.fffffep-1f) FRACT1(float2, AS, 0x1.fffffep-1f)                 \
  FRACT1(float3, AS, 0x1.fffffep-1f) FRACT1(float4, AS, 0x1.fffffep-1f)                \
  FRACT1(float8, AS, 0x1.fffffep-1f) FRACT1(float16, AS, 0x1.fffffep-1f)               \
  FRACT1(double, AS, 0x1.fffffffffffffp-1) FRACT1(double2, AS, 0x1.fffffffffffffp-1)   \
  FRACT1(double3, AS, 0x1.fffffffffffffp-1) FRACT1(double4, AS, 0x1.fffffffffffffp-1)  \
  FRACT1(double8, AS, 0x1.fffffffffffffp-1) FRACT1(double16, AS, 0x1.fffffffffffffp-1)
FRACT(__global) FRACT(__local) FRACT(__private)

// ---- frexp and ldexp ----------------------------------------------------------------
// Double: SLEEF's AVX mantissa, exponent and scaling.  Float: SLEEF's AVX mantissa, and
// its scalar exponent and scaling lane by lane (it has no vector ones for float).
float8 Sleef_frfrexpf8_avx(float8);
int Sleef_expfrexpf(float);
float Sleef_ldexpf(float, int);
double4 Sleef_frfrexpd4_avx(double4);
int4 Sleef_expfrexpd4_avx(double4);
double4 Sleef_ldexpd4_avx(double4, int4);

static float8 frexp_f8(float8 x, int8* e) {
  int8 k;
  for (int i = 0; i < 8; i++) k[i] = Sleef_expfrexpf(x[i]);
  *e = k;
  return Sleef_frfrexpf8_avx(x);
}
static double4 frexp_d4(double4 x, int4* e) {
  *e = Sleef_expfrexpd4_avx(x);
  return Sleef_frfrexpd4_avx(x);
}
#define FREXP_F(T, IT, N, AS, WIDEN, NARROW)                                           \
  T OVL frexp(T x, AS IT* e) {                                                         \
    IT k;                                                                              \
    for (int i = 0; i < N; i++) k[i] = Sleef_expfrexpf(x[i]);                          \
    *e = k;                                                                            \
    return Sleef_frfrexpf8_avx(WIDEN(x))NARROW;                                        \
  }
#define FREXP_D(T, IT, AS, WIDEN, NARROW, INARROW)                                     \
  T OVL frexp(T x, AS IT* e) {                                                         \
    double4 w = WIDEN(x);                                                              \
    *e = Sleef_expfrexpd4_avx(w)INARROW;                                               \
    return Sleef_frfrexpd4_avx(w)NARROW;                                               \
  }
#define FREXP(AS)                                                                      \
  float OVL frexp(float x, AS int* e) { *e = Sleef_expfrexpf(x); return Sleef_frfrexpf8_avx((float8)x).s0; } \
  FREXP_F(float2, int2, 2, AS, W2, .lo.lo) FREXP_F(float3, int3, 3, AS, W3, .s012)       \
  FREXP_F(float4, int4, 4, AS, W4, .lo) FREXP_F(float8, int8, 8, AS, W8, )             \
  float16 OVL frexp(float16 x, AS int16* e) {                                          \
    int8 a, b; float8 l = frexp_f8(x.lo, &a), h = frexp_f8(x.hi, &b);                   \
    *e = (int16)(a, b); return (float16)(l, h);                                        \
  }                                                                                    \
  FREXP_D(double, int, AS, V1, .s0, .s0) FREXP_D(double2, int2, AS, V2, .lo, .lo)      \
  FREXP_D(double3, int3, AS, V3, .s012, .s012) FREXP_D(double4, int4, AS, W8, , )      \
  double8 OVL frexp(double8 x, AS int8* e) {                                           \
    int4 a, b; double4 l = frexp_d4(x.lo, &a), h = frexp_d4(x.hi, &b);                  \
    *e = (int8)(a, b); return (double8)(l, h);                                         \
  }                                                                                    \
  double16 OVL frexp(double16 x, AS int16* e) {                                        \
    int4 a, b, c, d;                                                                   \
    double4 p = frexp_d4(x.lo.lo, &a), q = frexp_d4(x.lo.hi, &b);                      \
    double4 r = frexp_d4(x.hi.lo, &c), t = frexp_d4(x.hi.hi, &d);                      \
    *e = (int16)(a, b, c, d); return (double16)(p, q, r, t);                           \
  }
FREXP(__global) FREXP(__local) FREXP(__private)

#define LDEXP_F(T, N, IT)                                                              \
  T OVL ldexp(T x, IT k) {                                                             \
    T r;                                                                               \
    for (int i = 0; i < N; i++) r[i] = Sleef_ldexpf(x[i], k[i]);                       \
    return r;                                                                          \
  }
float OVL ldexp(float x, int k) { return Sleef_ldexpf(x, k); }
LDEXP_F(float2, 2, int2) LDEXP_F(float3, 3, int3) LDEXP_F(float4, 4, int4)
LDEXP_F(float8, 8, int8) LDEXP_F(float16, 16, int16)
double OVL ldexp(double x, int k) { return Sleef_ldexpd4_avx((double4)x, (int4)k).s0; }
double2 OVL ldexp(double2 x, int2 k) { return Sleef_ldexpd4_avx((double4)(x, x), (int4)(k, k)).lo; }
double3 OVL ldexp(double3 x, int3 k) {
  return Sleef_ldexpd4_avx((double4)(x, x.s0), (int4)(k, k.s0)).s012;
}
double4 OVL ldexp(double4 x, int4 k) { return Sleef_ldexpd4_avx(x, k); }
double8 OVL ldexp(double8 x, int8 k) { return (double8)(ldexp(x.lo, k.lo), ldexp(x.hi, k.hi)); }
double16 OVL ldexp(double16 x, int16 k) { return (double16)(ldexp(x.lo, k.lo), ldexp(x.hi, k.hi)); }

// ---- conversions: round lane by lane, then saturate (NaN to 0) --------------------
#define SAT(name, D, LO, HI, S, RND)                                                   \
  static D name(S x) {                                                                 \
    if (x != x) return 0;                                                              \
    S r = RND(x);                                                                      \
    if (r <= (S)(LO)) return (LO);                                                     \
    if (r >= (S)(HI)) return (HI);                                                     \
    return (D)r;                                                                       \
  }
SAT(f_int_rte, int, INT_MIN, INT_MAX, float, __builtin_rintf)
SAT(d_int_rte, int, INT_MIN, INT_MAX, double, __builtin_rint)
SAT(f_uint_rtn, uint, 0, UINT_MAX, float, __builtin_floorf)
SAT(d_uint_rtn, uint, 0, UINT_MAX, double, __builtin_floor)
SAT(f_long_rtp, long, LONG_MIN, LONG_MAX, float, __builtin_ceilf)
SAT(d_long_rtp, long, LONG_MIN, LONG_MAX, double, __builtin_ceil)
#define CONV(name, D, S, fn)                                                           \
  D OVL name(S x) { return fn(x); }
#define CONVN(name, D, S, N, fn)                                                       \
  D OVL name(S x) { D r; for (int i = 0; i < N; i++) r[i] = fn(x[i]); return r; }
#define SUFFIXED(dst, sfx, D, S, fn)                                                   \
  CONV(convert_##dst##sfx, D, S, fn) CONVN(convert_##dst##2##sfx, D##2, S##2, 2, fn)   \
  CONVN(convert_##dst##3##sfx, D##3, S##3, 3, fn) CONVN(convert_##dst##4##sfx, D##4, S##4, 4, fn) \
  CONVN(convert_##dst##8##sfx, D##8, S##8, 8, fn) CONVN(convert_##dst##16##sfx, D##16, S##16, 16, fn)
SUFFIXED(int, _sat_rte, int, float, f_int_rte)
SUFFIXED(int, _sat_rte, int, double, d_int_rte)
SUFFIXED(uint, _sat_rtn, uint, float, f_uint_rtn)
SUFFIXED(uint, _sat_rtn, uint, double, d_uint_rtn)
SUFFIXED(long, _sat_rtp, long, float, f_long_rtp)
SUFFIXED(long, _sat_rtp, long, double, d_long_rtp)
// int to floating, to nearest: the processor's conversion
#define TO_F(x) ((float)(x))
#define TO_D(x) ((double)(x))
SUFFIXED(float, , float, int, TO_F)
SUFFIXED(double, , double, int, TO_D)
