// The tests' random numbers: splitmix64, so every run draws the same operands.
#pragma once
#include <cstdint>

namespace qarn::test {
struct Rng {
  uint64_t s;
  explicit Rng(uint64_t seed = 1) : s(seed) {}
  uint64_t next() {
    uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double unit() { return double(next() >> 11) * 0x1p-53; }  // [0, 1)
  double in(double lo, double hi) { return lo + (hi - lo) * unit(); }
  uint64_t below(uint64_t n) { return next() % n; }
};
}  // namespace qarn::test
