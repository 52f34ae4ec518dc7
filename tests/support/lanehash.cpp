#include "support/lanehash.h"

#include <cmath>
#include <cstring>

namespace qarn::abi {
namespace {

uint64_t mix(uint64_t& s) {
  uint64_t z = (s += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Operand i of argument `a` of kind k.  `cross`: the arguments of one call are of
// different classes (every pair of classes in 256 operands), and two classes
// of ordinary values become magnitudes near the ends of the range.
uint64_t operand(const reg::Export& e, const Shape& sh, char k, int a, int i, bool cross) {
  uint64_t s = 0x51AB1E0000ull + uint64_t(a) * 7919 + uint64_t(i) * 104729;
  uint64_t r = mix(s);
  bool single = sh.lane_bytes(k) == 4;
  if (std::strchr("iulqc", k)) {
    const int64_t edge[] = {0, 1, -1, 2, 3, -3, 7, 31, 32, 64, 127, 128, 1023, 1024, -1074, 2000, -2000,
                            INT32_MAX, INT32_MIN, INT64_MAX, INT64_MIN};
    int64_t v = i % 3 == 0 ? edge[(i / 3) % 21] : int64_t(r % 41) - 20;
    if (i % 7 == 6) v = int64_t(r);
    return single ? uint64_t(uint32_t(v)) : uint64_t(v);
  }
  double lo = e.lo, hi = e.hi;
  if (k == 'F' || k == 'D') lo = -1e4, hi = 1e4;
  double u = double(mix(s) >> 11) * 0x1p-53;
  double v = lo + (hi - lo) * u;
  int cls = cross ? (i + a * (1 + i / 16)) % 16 : i % 16;
  switch (cls) {
    case 0: return single ? 0x7FC00001u + (r & 0xFF) : 0x7FF8000000000001ull + (r & 0xFF);  // quiet NaN
    case 1: return single ? 0xFFA00000u + (r & 0xFF) : 0xFFF4000000000000ull + (r & 0xFF);  // signalling
    case 2: v = (r & 1) ? INFINITY : -INFINITY; break;
    case 3: v = (r & 1) ? 0.0 : -0.0; break;
    case 4: return single ? (r & 0x807FFFFFu) : (r & 0x800FFFFFFFFFFFFFull);               // subnormal
    case 5: return single ? (r & 0xFFFFFFFFu) : r;                                           // any pattern
    case 6: v = std::ldexp(1.0, -int(r % 40)) * ((r & 2) ? -1 : 1); break;
    case 7:
    case 8:
      if (cross) {  // the lowest 60 binades (subnormals included) or the highest, as patterns
        uint64_t span = uint64_t(60) << (single ? 23 : 52), m = (r >> 9) % span;
        uint64_t top = single ? 0x7F7FFFFFu : 0x7FEFFFFFFFFFFFFFull;
        uint64_t sign = (r & 4) ? (single ? 0x80000000u : 1ull << 63) : 0;
        return sign | ((r >> 8) & 1 ? m : top - m);
      }
      break;
    default: break;
  }
  return single ? bits_of(float(v)) : bits_of(v);
}

}  // namespace

std::string hash_key(const reg::Export& e) { return std::string(e.stem) + " " + e.variant; }

uint64_t lane_hash(const Invoker& inv, const reg::Export& e, int operands, bool cross) {
  Shape sh = shape_of(e);
  uint64_t h = 0xCBF29CE484222325ull;
  auto eat = [&](uint64_t v) {
    for (int b = 0; b < 8; ++b) h = (h ^ ((v >> (8 * b)) & 0xFF)) * 0x100000001B3ull;
  };
  for (int base = 0; base < operands; base += sh.width) {
    std::vector<Lanes> args(sh.args.size(), Lanes(sh.lanes));
    for (size_t a = 0; a < args.size(); ++a)
      for (int i = 0; i < sh.lanes; ++i)
        args[a][i] = i < sh.width ? operand(e, sh, sh.args[a], int(a), base + i, cross) : 0x7FF0DEAD7FF0DEADull;
    Outcome o = inv.call(e, args, uint64_t(base) + 1);
    for (int i = 0; i < sh.width; ++i)
      for (const Lanes& r : o.results) eat(r[i]);
  }
  return h;
}

}  // namespace qarn::abi
