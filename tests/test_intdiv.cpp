// Integer quotient and remainder against exact integer arithmetic: every boundary
// pair, random pairs of every size, division by zero and INT_MIN / -1, under every
// MXCSR mode, and every width lane by lane.  (tools/intdiv_sweep runs many millions
// of random pairs on demand.)
#include <gtest/gtest.h>
#include <immintrin.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/invoke.h"
#include "support/registry.h"

namespace {

using qarn::abi::Lanes;
using qarn::reg::Export;

const qarn::abi::Invoker& lib() {
  static qarn::abi::Invoker inv(qarn::abi::library_path());
  return inv;
}
const Export& exp_of(const std::string& name) {
  const Export* e = qarn::reg::find(name);
  if (!e) throw std::runtime_error("no export " + name);
  return *e;
}

// The exact pair: truncated quotient and the remainder with the dividend's sign; by
// zero the quotient is INT_MIN (signed) or 0 (unsigned) and the remainder a;
// INT_MIN / -1 gives INT_MIN and 0.
struct QR { uint32_t q, r; };
QR ref(bool sgn, uint32_t a, uint32_t b) {
  if (b == 0) return {sgn ? 0x80000000u : 0u, a};
  if (!sgn) return {a / b, a % b};
  int32_t x = int32_t(a), y = int32_t(b);
  if (x == INT32_MIN && y == -1) return {0x80000000u, 0};
  return {uint32_t(x / y), uint32_t(x % y)};
}

// Dividends and divisors: 0, +-1, the extremes, powers of two and their neighbours.
std::vector<uint32_t> boundaries() {
  std::vector<uint32_t> v = {0, 1, 0xFFFFFFFF, 0x7FFFFFFF, 0x80000000, 0x80000001, 2, 3, 7, 0xFFFFFFF9};
  for (int k = 1; k < 32; ++k)
    for (int d = -1; d <= 1; ++d) {
      v.push_back((1u << k) + d);
      v.push_back(0u - ((1u << k) + d));
    }
  return v;
}
// Random operands of random bit lengths.
uint32_t rand_op(std::mt19937_64& g) { return uint32_t(g()) >> (g() % 32); }

// Width-1 call: dividend in ecx, divisor in edx; junk above the 32-bit arguments.
uint64_t call1(const void* f, uint32_t a, uint32_t b) {
  const uint64_t junk = 0xA5A5A5A500000000ull;
  return reinterpret_cast<uint64_t (*)(long, long, uint64_t, uint64_t)>(f)(0, 0, b | junk, a | junk);
}

struct Fn { const char* name; bool sgn; int part; };  // part: 0 quotient, 1 remainder, 2 both
const Fn kFns[] = {{"idiv", true, 0}, {"irem", true, 1}, {"idivrem", true, 2},
                   {"udiv", false, 0}, {"urem", false, 1}, {"udivrem", false, 2}};

uint64_t want1(const Fn& f, uint32_t a, uint32_t b) {
  QR e = ref(f.sgn, a, b);
  return f.part == 0 ? e.q : f.part == 1 ? e.r : (uint64_t(e.r) << 32 | e.q);
}
uint64_t got1(const Fn& f, const void* p, uint32_t a, uint32_t b) {
  uint64_t r = call1(p, a, b);
  return f.part == 2 ? r : r & 0xFFFFFFFF;
}

struct Check {
  std::string name;
  int bad = 0;
  void operator()(uint32_t a, uint32_t b, uint64_t got, uint64_t want) {
    if (got != want && ++bad <= 5)
      ADD_FAILURE() << name << "(" << int32_t(a) << " / 0x" << std::hex << b << "): got 0x" << got
                    << ", want 0x" << want;
  }
};

// Every pair of boundary values, then random pairs of every size, for all six exports
// (idivrem1 and udivrem1: quotient in the low half of rax, remainder in the high half).
TEST(IntDiv, WidthOneAgainstExact) {
  std::vector<uint32_t> bv = boundaries();
  std::mt19937_64 g(42);
  for (const Fn& f : kFns) {
    const void* p = lib().address(exp_of(std::string(f.name) + "1"));
    ASSERT_NE(p, nullptr);
    Check chk{f.name};
    for (uint32_t a : bv)
      for (uint32_t b : bv) chk(a, b, got1(f, p, a, b), want1(f, a, b));
    for (int i = 0; i < 300000; ++i) {
      uint32_t a = rand_op(g), b = rand_op(g);
      chk(a, b, got1(f, p, a, b), want1(f, a, b));
    }
    // Exact multiples and their neighbours: the quotient sits right on an integer.
    for (int i = 0; i < 100000; ++i) {
      uint32_t b = rand_op(g) | 1, q = uint32_t(rand_op(g) % (0xFFFFFFFFull / b + 1));
      uint32_t a = q * b + uint32_t(int(g() % 3) - 1);
      chk(a, b, got1(f, p, a, b), want1(f, a, b));
      chk(0u - a, b, got1(f, p, 0u - a, b), want1(f, 0u - a, b));
    }
  }
}

// The result does not depend on MXCSR's rounding mode.
TEST(IntDiv, EveryMxcsrMode) {
  std::mt19937_64 g(7);
  std::vector<uint32_t> bv = boundaries();
  for (const Fn& f : kFns) {
    const void* p = lib().address(exp_of(std::string(f.name) + "1"));
    Check chk{std::string(f.name) + " (MXCSR mode)"};
    const unsigned saved = _mm_getcsr();
    for (unsigned mode = 1; mode < 4; ++mode) {
      for (int i = 0; i < 20000; ++i) {
        uint32_t a = i < int(bv.size()) ? bv[i] : rand_op(g), b = rand_op(g);
        if (i % 5 == 0) a = b * (a >> 16);
        _mm_setcsr((saved & ~0x6000u) | mode << 13);
        uint64_t got = got1(f, p, a, b);
        _mm_setcsr(saved);
        chk(a, b, got, want1(f, a, b));
      }
    }
  }
}

// Every width through the register-level caller: lanes agree with the exact pair,
// and width 3 divides the filler 1 by 1 in lane 3 whatever the caller left there
// (a zero divisor included).
TEST(IntDiv, EveryWidthLaneByLane) {
  std::vector<uint32_t> bv = boundaries();
  std::mt19937_64 g(3);
  for (const Fn& f : kFns)
    for (int width : {1, 2, 3, 4, 8, 16}) {
      const Export& e = exp_of(std::string(f.name) + std::to_string(width));
      Check chk{e.name};
      const int lanes = width == 3 ? 4 : width;
      for (int call = 0; call < 60; ++call) {
        Lanes a(lanes), b(lanes);
        for (int i = 0; i < lanes; ++i) {
          a[i] = call % 2 ? bv[g() % bv.size()] : rand_op(g);
          b[i] = call % 3 ? bv[g() % bv.size()] : rand_op(g);
        }
        if (width == 3) b[3] = 0;
        auto o = lib().call(e, {a, b}, call + 1);
        ASSERT_EQ(o.results.size(), f.part == 2 ? 2u : 1u);
        for (int i = 0; i < lanes; ++i) {
          QR x = i < width ? ref(f.sgn, uint32_t(a[i]), uint32_t(b[i])) : QR{1, 0};
          if (f.part != 1) chk(uint32_t(a[i]), uint32_t(b[i]), o.results[0][i], x.q);
          if (f.part != 0) chk(uint32_t(a[i]), uint32_t(b[i]), o.results[f.part == 2][i], x.r);
        }
      }
    }
}

}  // namespace
