// Shared by the kernels: built with -DREAL=float|double -DW=<width> -DWS=<width or
// nothing for 1>, so one source serves every precision and vector width.  A work-item
// handles W consecutive elements (one vector) unless the kernel says otherwise.
#define CAT_(a, b) a##b
#define CAT(a, b) CAT_(a, b)
#define VT CAT(REAL, WS)            // the work-item's vector: float8, double4, float, ...
#define IVT CAT(int, WS)            // int vector of the same width
#define R(c) ((REAL)(c))

// Vector load and store of the work-item's slot i of a buffer of scalars.
#define LOAD(p, i) (((__global const VT*)(p))[i])
#define STORE(p, i, v) (((__global VT*)(p))[i] = (v))

// Sum and maximum of the lanes of a vector, pairwise by halves.
static inline REAL hsum(VT v) {
#if W == 1
  return v;
#elif W == 3
  return v.s0 + v.s1 + v.s2;
#else
#if W >= 16
  CAT(REAL, 8) v8 = v.lo + v.hi;
#elif W == 8
  CAT(REAL, 8) v8 = v;
#endif
#if W >= 8
  CAT(REAL, 4) v4 = v8.lo + v8.hi;
#elif W == 4
  CAT(REAL, 4) v4 = v;
#endif
#if W >= 4
  CAT(REAL, 2) v2 = v4.lo + v4.hi;
#else
  CAT(REAL, 2) v2 = v;
#endif
  return v2.s0 + v2.s1;
#endif
}

static inline REAL hmax(VT v) {
#if W == 1
  return v;
#elif W == 3
  return fmax(fmax(v.s0, v.s1), v.s2);
#else
#if W >= 16
  CAT(REAL, 8) v8 = fmax(v.lo, v.hi);
#elif W == 8
  CAT(REAL, 8) v8 = v;
#endif
#if W >= 8
  CAT(REAL, 4) v4 = fmax(v8.lo, v8.hi);
#elif W == 4
  CAT(REAL, 4) v4 = v;
#endif
#if W >= 4
  CAT(REAL, 2) v2 = fmax(v4.lo, v4.hi);
#else
  CAT(REAL, 2) v2 = v;
#endif
  return fmax(v2.s0, v2.s1);
#endif
}
