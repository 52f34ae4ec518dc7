// Inputs, references and tolerances of the kernels in kernels/cl.
//
// References are computed from the very inputs the kernel saw, in a wider type: double
// for the float kernels, x87 long double (64-bit mantissa) for the double kernels.
// Inputs are chosen so that the arithmetic ahead of each built-in is exact where that
// is cheap (grid-valued positions and logits), so the errors measured are those of the
// built-ins plus the few roundings after them.  An error is in ulps of the output's type
// at the larger of |reference| and the magnitude of the terms that make it up (a
// difference of two prices is judged at the prices' scale, not at its own).
#include "kernels.h"

#include <algorithm>
#include <array>
#include <limits>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <random>
#include <sstream>

namespace qk {

std::string Errors::describe() const {
  std::ostringstream o;
  for (size_t i = 0; i < per_output.size(); i++) {
    char b[64];
    std::snprintf(b, sizeof b, "%.3g", per_output[i].second);
    o << (i ? ", " : "") << per_output[i].first << " " << b;
    if (!worst_case[i].empty()) o << " (" << worst_case[i] << ")";
  }
  return o.str();
}

namespace {

template <class T> struct Traits;
template <> struct Traits<float> {
  using H = double;
  static constexpr int bits = 24, emin = -126;
};
template <> struct Traits<double> {
  using H = long double;
  static constexpr int bits = 53, emin = -1022;
};

template <class T> long double ulp_at(long double m) {
  if (!(m > 0)) return std::ldexp(1.0L, Traits<T>::emin - Traits<T>::bits + 1);
  int e;
  std::frexp(m, &e);
  return std::ldexp(1.0L, std::max(e - 1, Traits<T>::emin) - Traits<T>::bits + 1);
}

// Lanes per work-item slot in memory (width 3 has the storage of width 4) and whether
// element idx is a live lane.
int slot(int w) { return w == 3 ? 4 : w; }
bool live(size_t idx, int w) { return w != 3 || idx % 4 != 3; }

struct Acc {
  explicit Acc(const char* n) : name(n) {}
  std::string name;
  double worst = 0;
  std::string where;
  template <class T> void add(size_t i, T got, long double ref, long double mag) {
    double e;
    if (std::isnan(got) && std::isnan(ref)) e = 0;
    else if (std::isnan(got) || std::isnan(ref)) e = INFINITY;
    else if ((long double)got == ref) e = 0;
    else if (std::isinf(got) || std::isinf(ref)) e = INFINITY;
    else e = double(std::fabs((long double)got - ref) / ulp_at<T>(std::max(std::fabs(ref), std::fabs(mag))));
    note(i, e, (long double)got, ref);
  }
  void add_int(size_t i, long double got, long double ref) { note(i, double(std::fabs(got - ref)), got, ref); }
  void note(size_t i, double e, long double got, long double ref) {
    if (e > worst || (std::isnan(e) && !std::isnan(worst))) {
      worst = std::isnan(e) ? INFINITY : e;
      char b[160];
      std::snprintf(b, sizeof b, "element %zu: %.17Lg, reference %.20Lg", i, got, ref);
      where = b;
    }
  }
};

Errors collect(std::vector<Acc>& accs) {
  Errors r;
  for (auto& a : accs) {
    r.worst = std::max(r.worst, a.worst);
    r.per_output.emplace_back(a.name, a.worst);
    r.worst_case.push_back(a.worst > 0 ? a.where : "");
  }
  return r;
}

template <class T> Buffers elementwise(const Config& c, size_t n, std::vector<std::pair<std::string, size_t>> bufs) {
  Buffers b;
  b.items = n / c.width;
  size_t elems = b.items * slot(c.width);
  for (auto& [name, size] : bufs) b.bufs.emplace_back(name, elems * size);
  return b;
}

std::mt19937_64& rng(uint64_t seed) {
  static std::mt19937_64 g;
  g.seed(seed);
  return g;
}
double uni(std::mt19937_64& g, double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(g); }

size_t elements(bool quick) { return quick ? 4096 * 3 : 16384 * 3; }  // divisible by every width

// ---- Black-Scholes ----------------------------------------------------------------
template <class T> Buffers bs_make(const Config& c, bool quick) {
  Buffers b = elementwise<T>(c, elements(quick), {{"spot", sizeof(T)}, {"strike", sizeof(T)}, {"years", sizeof(T)},
                                                   {"call", sizeof(T)}, {"put", sizeof(T)}});
  auto& g = rng(1);
  size_t n = b.items * slot(c.width);
  for (size_t i = 0; i < n; i++) {
    b.bufs[0].as<T>()[i] = T(uni(g, 50, 150));
    b.bufs[1].as<T>()[i] = T(uni(g, 50, 150));
    b.bufs[2].as<T>()[i] = T(uni(g, 0.1, 3));
  }
  return b;
}

template <class T> Errors bs_check(const Config& c, const Buffers& b) {
  using H = typename Traits<T>::H;
  std::vector<Acc> acc{Acc("call"), Acc("put")};
  const H rate = 0.03125, vol = 0.25, rs2 = std::sqrt(H(0.5));
  size_t n = b.items * slot(c.width);
  for (size_t i = 0; i < n; i++) {
    if (!live(i, c.width)) continue;
    H s = b.bufs[0].as<T>()[i], k = b.bufs[1].as<T>()[i], t = b.bufs[2].as<T>()[i];
    H sqt = std::sqrt(t);
    H d1 = (std::log(s / k) + (rate + vol * vol / 2) * t) / (vol * sqt), d2 = d1 - vol * sqt;
    H n1 = std::erfc(-d1 * rs2) / 2, n2 = std::erfc(-d2 * rs2) / 2;
    H m1 = std::erfc(d1 * rs2) / 2, m2 = std::erfc(d2 * rs2) / 2;
    H disc = k * std::exp(-rate * t);
    // Prices judged at the scale of the spot and the discounted strike: a deep
    // out-of-the-money price is a tiny difference whose relative error is the
    // formula's, not the built-ins'.
    acc[0].add(i, b.bufs[3].as<T>()[i], s * n1 - disc * n2, s + disc);
    acc[1].add(i, b.bufs[4].as<T>()[i], disc * m2 - s * m1, s + disc);
  }
  return collect(acc);
}

// ---- softmax and log-sum-exp: rows of 64 ----------------------------------------------
constexpr int kRow = 64;
template <class T> Buffers sm_make(const Config&, bool quick) {
  Buffers b;
  b.items = quick ? 128 : 512;
  b.bufs.emplace_back("x", b.items * kRow * sizeof(T));
  b.bufs.emplace_back("softmax", b.items * kRow * sizeof(T));
  b.bufs.emplace_back("lse", b.items * sizeof(T));
  auto& g = rng(2);
  // Logits on a grid (multiples of 2^-10 in float, 2^-40 in double, within +-8): their
  // differences from the row's maximum are exact.
  const int q = sizeof(T) == 4 ? 10 : 40;
  for (size_t i = 0; i < b.items * kRow; i++)
    b.bufs[0].as<T>()[i] = T(std::ldexp(std::floor(uni(g, -8, 8) * std::ldexp(1.0, q)), -q));
  return b;
}

template <class T> Errors sm_check(const Config&, const Buffers& b) {
  using H = typename Traits<T>::H;
  std::vector<Acc> acc{Acc("softmax"), Acc("logsumexp")};
  for (size_t r = 0; r < b.items; r++) {
    const T* x = b.bufs[0].as<T>() + r * kRow;
    H m = *std::max_element(x, x + kRow), s = 0;
    for (int j = 0; j < kRow; j++) s += std::exp(H(x[j]) - m);
    for (int j = 0; j < kRow; j++) {
      H ref = std::exp(H(x[j]) - m) / s;
      acc[0].add(r * kRow + j, b.bufs[1].as<T>()[r * kRow + j], ref, ref);
    }
    acc[1].add(r, b.bufs[2].as<T>()[r], m + std::log(s), std::fabs(m) + std::log(s));
  }
  return collect(acc);
}

// ---- N-body: 256 bodies ----------------------------------------------------------------
constexpr int kBodies = 256;
template <class T> Buffers nb_make(const Config&, bool) {
  Buffers b;
  b.items = kBodies;
  for (const char* n : {"px", "py", "pz", "ax", "ay", "az", "phi"}) b.bufs.emplace_back(n, kBodies * sizeof(T));
  auto& g = rng(3);
  // Positions on a 2^-8 grid within +-4: the differences and the squared distance
  // (plus the softening 1/16) are exact in float and double.
  for (int a = 0; a < 3; a++)
    for (int i = 0; i < kBodies; i++) b.bufs[a].as<T>()[i] = T(std::floor(uni(g, -1024, 1024)) / 256);
  return b;
}

template <class T> Errors nb_check(const Config&, const Buffers& b) {
  using H = typename Traits<T>::H;
  std::vector<Acc> acc{Acc("ax"), Acc("ay"), Acc("az"), Acc("phi")};
  const T* p[3] = {b.bufs[0].as<T>(), b.bufs[1].as<T>(), b.bufs[2].as<T>()};
  for (int i = 0; i < kBodies; i++) {
    H s[3] = {0, 0, 0}, m[3] = {0, 0, 0}, phi = 0;
    for (int j = 0; j < kBodies; j++) {
      H d[3], r2 = 0.0625;
      for (int a = 0; a < 3; a++) d[a] = H(p[a][j]) - H(p[a][i]), r2 += d[a] * d[a];
      H inv = 1 / std::sqrt(r2);
      for (int a = 0; a < 3; a++) s[a] += d[a] * inv * inv * inv, m[a] += std::fabs(d[a]) * inv * inv * inv;
      phi -= inv;
    }
    for (int a = 0; a < 3; a++) acc[a].add(i, b.bufs[3 + a].as<T>()[i], s[a], m[a]);
    acc[3].add(i, b.bufs[6].as<T>()[i], phi, phi);
  }
  return collect(acc);
}

// ---- colour: sRGB to L*a*b* ------------------------------------------------------------
template <class T> Buffers co_make(const Config& c, bool quick) {
  Buffers b = elementwise<T>(c, elements(quick), {{"red", sizeof(T)}, {"green", sizeof(T)}, {"blue", sizeof(T)},
                                                   {"L", sizeof(T)}, {"a", sizeof(T)}, {"b", sizeof(T)}});
  auto& g = rng(4);
  size_t n = b.items * slot(c.width);
  for (size_t i = 0; i < n; i++)
    for (int a = 0; a < 3; a++) b.bufs[a].as<T>()[i] = T(uni(g, -0.02, 1));
  return b;
}

template <class T> Errors co_check(const Config& c, const Buffers& b) {
  using H = typename Traits<T>::H;
  std::vector<Acc> acc{Acc("L"), Acc("a"), Acc("b")};
  // The constants as the kernel rounds them to its type.
  auto lin = [](T c) -> H {
    c = std::max(c, T(0));
    return c <= T(0.04045) ? H(c) / H(T(12.92)) : std::pow((H(c) + H(T(0.055))) / H(T(1.055)), H(T(2.4)));
  };
  auto f = [](H t) -> H {
    return t > H(T(0.008856451679035631)) ? std::cbrt(t) : t * H(T(7.787037037037037)) + H(T(0.13793103448275862));
  };
  size_t n = b.items * slot(c.width);
  for (size_t i = 0; i < n; i++) {
    if (!live(i, c.width)) continue;
    H r = lin(b.bufs[0].as<T>()[i]), g = lin(b.bufs[1].as<T>()[i]), bl = lin(b.bufs[2].as<T>()[i]);
    H x = (H(T(0.4124564)) * r + H(T(0.3575761)) * g + H(T(0.1804375)) * bl) / H(T(0.95047));
    H y = H(T(0.2126729)) * r + H(T(0.7151522)) * g + H(T(0.0721750)) * bl;
    H z = (H(T(0.0193339)) * r + H(T(0.1191920)) * g + H(T(0.9503041)) * bl) / H(T(1.08883));
    H fx = f(x), fy = f(y), fz = f(z);
    acc[0].add(i, b.bufs[3].as<T>()[i], 116 * fy - 16, 116 * fy + 16);
    acc[1].add(i, b.bufs[4].as<T>()[i], 500 * (fx - fy), 500 * (fx + fy));
    acc[2].add(i, b.bufs[5].as<T>()[i], 200 * (fy - fz), 200 * (fy + fz));
  }
  return collect(acc);
}

// ---- signal: mixer, phase, tone -------------------------------------------------------------
template <class T> Buffers sg_make(const Config& c, bool quick) {
  Buffers b = elementwise<T>(c, elements(quick), {{"angle", sizeof(T)}, {"re", sizeof(T)}, {"im", sizeof(T)},
                                                   {"out_re", sizeof(T)}, {"out_im", sizeof(T)},
                                                   {"phase", sizeof(T)}, {"tone", sizeof(T)}});
  auto& g = rng(5);
  size_t n = b.items * slot(c.width);
  for (size_t i = 0; i < n; i++) {
    b.bufs[0].as<T>()[i] = T(uni(g, -40, 40));
    b.bufs[1].as<T>()[i] = T(uni(g, -1, 1));
    b.bufs[2].as<T>()[i] = T(uni(g, -1, 1));
  }
  return b;
}

template <class T> Errors sg_check(const Config& c, const Buffers& b) {
  using H = typename Traits<T>::H;
  std::vector<Acc> acc{Acc("re"), Acc("im"), Acc("phase"), Acc("tone")};
  size_t n = b.items * slot(c.width);
  for (size_t i = 0; i < n; i++) {
    if (!live(i, c.width)) continue;
    H t = b.bufs[0].as<T>()[i], a = b.bufs[1].as<T>()[i], q = b.bufs[2].as<T>()[i];
    H s = std::sin(t), co = std::cos(t);
    acc[0].add(i, b.bufs[3].as<T>()[i], a * co - q * s, std::fabs(a * co) + std::fabs(q * s));
    acc[1].add(i, b.bufs[4].as<T>()[i], a * s + q * co, std::fabs(a * s) + std::fabs(q * co));
    // The phase of the kernel's own rotated sample: atan2's error alone.
    H ph = std::atan2(H(b.bufs[4].as<T>()[i]), H(b.bufs[3].as<T>()[i]));
    acc[2].add(i, b.bufs[5].as<T>()[i], ph, ph);
    H tone = s * std::cos(t / 2);
    acc[3].add(i, b.bufs[6].as<T>()[i], tone, tone);
  }
  return collect(acc);
}

// ---- quantisation: exact -----------------------------------------------------------------
template <class T> Buffers qu_make(const Config& c, bool quick) {
  Buffers b = elementwise<T>(c, elements(quick), {{"x", sizeof(T)}, {"q_near", 4}, {"q_down", 4}, {"q_up", 8},
                                                   {"back", sizeof(T)}});
  auto& g = rng(6);
  size_t n = b.items * slot(c.width);
  T* x = b.bufs[0].as<T>();
  for (size_t i = 0; i < n; i++) {
    double u = uni(g, 0, 1);
    if (u < 0.4) x[i] = T(uni(g, -8, 8));                                  // fractions survive the scale
    else if (u < 0.6) x[i] = T((std::floor(uni(g, -1e6, 1e6)) + 0.5) / 1048576);  // ties
    else if (u < 0.97) x[i] = T(uni(g, -6000, 6000));                      // past int and uint
    else x[i] = std::array<T, 4>{NAN, INFINITY, -INFINITY, T(9.3e18)}[i % 4];  // and long
  }
  return b;
}

template <class S, class D> D saturate(S r, D lo, D hi) {
  if (std::isnan(r)) return 0;
  if (r <= S(lo)) return lo;
  if (r >= S(hi)) return hi;
  return D(r);
}

template <class T> Errors qu_check(const Config& c, const Buffers& b) {
  std::vector<Acc> acc{Acc("int_sat_rte"), Acc("uint_sat_rtn"), Acc("long_sat_rtp"), Acc("back")};
  size_t n = b.items * slot(c.width);
  for (size_t i = 0; i < n; i++) {
    if (!live(i, c.width)) continue;
    T v = b.bufs[0].as<T>()[i] * T(1048576);
    int32_t qn = saturate<T, int32_t>(std::nearbyint(v), INT32_MIN, INT32_MAX);
    acc[0].add_int(i, b.bufs[1].as<int32_t>()[i], qn);
    acc[1].add_int(i, b.bufs[2].as<uint32_t>()[i], saturate<T, uint32_t>(std::floor(v), 0, UINT32_MAX));
    acc[2].add_int(i, b.bufs[3].as<int64_t>()[i], saturate<T, int64_t>(std::ceil(v), INT64_MIN, INT64_MAX));
    T back = T(qn) * T(1.0 / 1048576);
    acc[3].add(i, b.bufs[4].as<T>()[i], back, back);
  }
  return collect(acc);
}

// ---- rounding and scaling: exact --------------------------------------------------------------
template <class T> Buffers rs_make(const Config& c, bool quick) {
  Buffers b = elementwise<T>(c, elements(quick), {{"x", sizeof(T)}, {"shift", 4}, {"floor", sizeof(T)},
                                                   {"ipart", sizeof(T)}, {"fract", sizeof(T)},
                                                   {"scaled", sizeof(T)}, {"exponent", 4}});
  auto& g = rng(7);
  size_t n = b.items * slot(c.width);
  T* x = b.bufs[0].as<T>();
  int32_t* k = b.bufs[1].as<int32_t>();
  for (size_t i = 0; i < n; i++) {
    double u = uni(g, 0, 1);
    if (u < 0.4) x[i] = T(uni(g, -1e4, 1e4));
    else if (u < 0.6) x[i] = T(uni(g, -1, 1));
    else if (u < 0.7) x[i] = T(std::floor(uni(g, -100, 100)));                    // integers
    else if (u < 0.8) x[i] = T(-std::ldexp(uni(g, 0.5, 1), -int(uni(g, 30, 60))));  // tiny negatives: fract < 1
    else if (u < 0.9) x[i] = T(std::ldexp(uni(g, -1, 1), int(uni(g, 20, 100))));   // past the mantissa
    else x[i] = std::numeric_limits<T>::denorm_min() * T(std::floor(uni(g, 1, 1e6)));  // subnormals
    k[i] = int(std::floor(uni(g, -20, 21)));
  }
  return b;
}

template <class T> Errors rs_check(const Config& c, const Buffers& b) {
  std::vector<Acc> acc{Acc("floor"), Acc("ipart"), Acc("fract"), Acc("scaled"), Acc("exponent")};
  size_t n = b.items * slot(c.width);
  const T below_one = std::nextafter(T(1), T(0));
  for (size_t i = 0; i < n; i++) {
    if (!live(i, c.width)) continue;
    T x = b.bufs[0].as<T>()[i];
    int k = b.bufs[1].as<int32_t>()[i];
    T fl = std::floor(x);
    acc[0].add(i, b.bufs[2].as<T>()[i], fl, fl);
    acc[1].add(i, b.bufs[3].as<T>()[i], fl, fl);
    T fr = std::min(x - fl, below_one);
    acc[2].add(i, b.bufs[4].as<T>()[i], fr, fr);
    int e;
    T m = std::frexp(x, &e);
    T sc = std::ldexp(m, e + k);
    acc[3].add(i, b.bufs[5].as<T>()[i], sc, sc);
    acc[4].add_int(i, b.bufs[6].as<int32_t>()[i], e);
  }
  return collect(acc);
}

// ---- wrap-around: fmod, remainder, remquo, fma: exact ------------------------------------
template <class T> Buffers wr_make(const Config& c, bool quick) {
  Buffers b = elementwise<T>(c, elements(quick), {{"x", sizeof(T)}, {"period", sizeof(T)}, {"addend", sizeof(T)},
                                                   {"fmod", sizeof(T)}, {"remainder", sizeof(T)},
                                                   {"remquo", sizeof(T)}, {"quotient", 4}, {"fma", sizeof(T)}});
  auto& g = rng(8);
  size_t n = b.items * slot(c.width);
  const T special[] = {0, -0.0, INFINITY, -INFINITY, NAN, std::numeric_limits<T>::denorm_min()};
  for (size_t i = 0; i < n; i++) {
    b.bufs[0].as<T>()[i] = T(uni(g, 0, 1) < 0.7 ? uni(g, -1e4, 1e4) : std::ldexp(uni(g, -1, 1), int(uni(g, 0, 100))));
    b.bufs[1].as<T>()[i] = T(uni(g, 0.5, 10)) * (uni(g, 0, 1) < 0.5 ? 1 : -1);
    b.bufs[2].as<T>()[i] = T(uni(g, -1e4, 1e4));
    if (uni(g, 0, 1) < 0.05) b.bufs[size_t(uni(g, 0, 2))].as<T>()[i] = special[size_t(uni(g, 0, 6))];
  }
  return b;
}

template <class T> Errors wr_check(const Config& c, const Buffers& b) {
  std::vector<Acc> acc{Acc("fmod"), Acc("remainder"), Acc("remquo"), Acc("quotient"), Acc("fma")};
  size_t n = b.items * slot(c.width);
  for (size_t i = 0; i < n; i++) {
    if (!live(i, c.width)) continue;
    T x = b.bufs[0].as<T>()[i], y = b.bufs[1].as<T>()[i], z = b.bufs[2].as<T>()[i];
    acc[0].add(i, b.bufs[3].as<T>()[i], std::fmod(x, y), 0);
    acc[1].add(i, b.bufs[4].as<T>()[i], std::remainder(x, y), 0);
    int q;
    T r = std::remquo(x, y, &q);
    acc[2].add(i, b.bufs[5].as<T>()[i], r, 0);
    // The quotient's sign and its low three bits (all libm promises) where the
    // remainder is a number.
    if (!std::isnan(r)) {
      int got = b.bufs[6].as<int32_t>()[i];
      auto low = [](int v) { return v < 0 ? -(-v & 7) : (v & 7); };
      acc[3].add_int(i, low(got), low(q));
    }
    acc[4].add(i, b.bufs[7].as<T>()[i], std::fma(x, y, z), 0);
  }
  return collect(acc);
}

std::vector<Config> widths(std::initializer_list<int> f, std::initializer_list<int> d) {
  std::vector<Config> v;
  for (int w : f) v.push_back({false, w});
  for (int w : d) v.push_back({true, w});
  return v;
}

Kernel kernel(std::string name, std::vector<Config> cfg, double tf, double td, Buffers (*mf)(const Config&, bool),
              Buffers (*md)(const Config&, bool), Errors (*cf)(const Config&, const Buffers&),
              Errors (*cd)(const Config&, const Buffers&)) {
  Kernel k;
  k.name = std::move(name);
  k.configs = std::move(cfg);
  k.tol_f = tf;
  k.tol_d = td;
  k.make = [mf, md](const Config& c, bool q) { return c.dbl ? md(c, q) : mf(c, q); };
  k.check = [cf, cd](const Config& c, const Buffers& b) { return c.dbl ? cd(c, b) : cf(c, b); };
  return k;
}

}  // namespace

const std::vector<Kernel>& kernels() {
  static const std::vector<Kernel> all = [] {
    auto elem = widths({1, 3, 4, 8, 16}, {1, 2, 3, 4, 8, 16});
    auto rows = widths({1, 4, 8, 16}, {1, 2, 4, 8});
    std::vector<Kernel> v;
    // Tolerances: the built-ins' bounds (a few ulps) carried through each formula,
    // plus its own roundings: softmax sums 64 terms per row, the N-body step 256
    // per body (fewer per lane at the wider widths), which at width 1 alone is worth
    // about ten ulps; quantisation and rounding are exact.
    v.push_back(kernel("blackscholes", elem, 8, 8, bs_make<float>, bs_make<double>, bs_check<float>,
                       bs_check<double>));
    v.push_back(kernel("softmax", rows, 12, 12, sm_make<float>, sm_make<double>, sm_check<float>, sm_check<double>));
    v.push_back(kernel("nbody", rows, 24, 24, nb_make<float>, nb_make<double>, nb_check<float>, nb_check<double>));
    v.push_back(kernel("colour", elem, 8, 8, co_make<float>, co_make<double>, co_check<float>, co_check<double>));
    v.push_back(kernel("signal", elem, 8, 8, sg_make<float>, sg_make<double>, sg_check<float>, sg_check<double>));
    v.push_back(kernel("quantize", elem, 0, 0, qu_make<float>, qu_make<double>, qu_check<float>, qu_check<double>));
    v.push_back(kernel("wrap", elem, 0, 0, wr_make<float>, wr_make<double>, wr_check<float>, wr_check<double>));
    v.push_back(kernel("roundscale", elem, 0, 0, rs_make<float>, rs_make<double>, rs_check<float>,
                       rs_check<double>));
    return v;
  }();
  return all;
}

std::string run_capture(const std::string& cmd, int* status) {
  std::string out;
  FILE* p = popen((cmd + " 2>&1").c_str(), "r");
  if (!p) {
    *status = -1;
    return out;
  }
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  *status = pclose(p);
  return out;
}

std::string fmt_err(double e) {
  char b[32];
  if (std::isinf(e)) return "inf";
  if (e >= 1e5) std::snprintf(b, sizeof b, "%.3g", e);
  else std::snprintf(b, sizeof b, "%.2f", e);
  return b;
}

}  // namespace qk
