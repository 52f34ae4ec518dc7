// Sweep of the integer division exports against exact integer arithmetic over many
// random operand pairs (not part of ctest: run it by hand).
//
//   intdiv_sweep [PAIRS [SEED]]     PAIRS per export (default 2e8), SEED (default 1)
//
// idiv8, irem8, udiv8, urem8 are called with eight pairs at a time; idivrem1 and
// udivrem1 with one pair, checking both halves of rax.  Operands come from four
// mixes in turn: uniform 32-bit, random bit lengths (small and large magnitudes,
// both signs), exact multiples and their neighbours (quotients right on an
// integer), and dividends near the extremes over small divisors.
#include <immintrin.h>

#include <cctype>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli.h"

extern "C" {
__m256i __ocl_qarn_e9_idiv8(__m256i, __m256i);
__m256i __ocl_qarn_e9_irem8(__m256i, __m256i);
__m256i __ocl_qarn_e9_udiv8(__m256i, __m256i);
__m256i __ocl_qarn_e9_urem8(__m256i, __m256i);
uint64_t __ocl_qarn_e9_idivrem1(long, long, uint32_t, uint32_t);
uint64_t __ocl_qarn_e9_udivrem1(long, long, uint32_t, uint32_t);
}

namespace {

struct Rng {
  uint64_t s;
  uint64_t next() {
    uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
};

uint32_t quot(bool sgn, uint32_t a, uint32_t b) {
  if (b == 0) return sgn ? 0x80000000u : 0;
  if (!sgn) return a / b;
  if (a == 0x80000000u && b == 0xFFFFFFFFu) return 0x80000000u;
  return uint32_t(int32_t(a) / int32_t(b));
}
uint32_t rem(bool sgn, uint32_t a, uint32_t b) {
  if (b == 0) return a;
  if (!sgn) return a % b;
  if (a == 0x80000000u && b == 0xFFFFFFFFu) return 0;
  return uint32_t(int32_t(a) % int32_t(b));
}

void pair(Rng& g, uint64_t i, uint32_t& a, uint32_t& b) {
  uint64_t r = g.next();
  switch (i % 4) {
    case 0: a = uint32_t(r), b = uint32_t(r >> 32); break;
    case 1: a = uint32_t(r) >> (r >> 32 & 31), b = uint32_t(g.next()) >> (r >> 40 & 31);
            if (r >> 48 & 1) a = 0u - a;
            if (r >> 49 & 1) b = 0u - b;
            break;
    case 2: {
      b = uint32_t(r) >> (r >> 32 & 31);
      if (b == 0) b = 1;
      uint32_t q = uint32_t(g.next() % (0xFFFFFFFFull / b + 1));
      a = q * b + uint32_t(int(r >> 40 & 3) - 1);
      if (r >> 48 & 1) a = 0u - a;
      break;
    }
    default: a = uint32_t(0x80000000u + (r & 0xFFFF) - 0x8000), b = uint32_t(r >> 32) >> (r >> 58 & 31);
             if (r >> 56 & 1) a ^= 0x7FFFFFFFu;
             break;
  }
}

struct Tally {
  const char* name;
  uint64_t checked = 0, bad = 0;
  void operator()(uint32_t a, uint32_t b, uint32_t got, uint32_t want) {
    ++checked;
    if (got != want && ++bad <= 10)
      std::printf("%s(0x%08x, 0x%08x) = 0x%08x, want 0x%08x\n", name, a, b, got, want);
  }
};

const char kHelp[] =
    "usage: intdiv_sweep [PAIRS [SEED]]\n"
    "\n"
    "Random operand pairs through idiv8, irem8, udiv8, urem8 (PAIRS each) and idivrem1, udivrem1\n"
    "(PAIRS/4 each) against exact integer arithmetic; prints the first wrong lanes and a count per\n"
    "export.\n"
    "  PAIRS   pairs per export, a whole number from 8 to 1e12 (default 2e8; 1e6, 0x100000 accepted)\n"
    "  SEED    seed of the operand stream, a whole number from 0 to 2^64-1 (default 1)\n"
    "  -h, --help   this text\n"
    "\n"
    "Exit status: 0 every lane right, 1 a wrong lane, 2 bad input.  Progress goes to stderr.\n";

}  // namespace

int main(int argc, char** argv) {
  uint64_t n = 200000000ull, seed = 1;
  for (int i = 1; i < argc; ++i)
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      std::fputs(kHelp, stdout);
      return 0;
    }
  try {
    for (int i = 1; i < argc; ++i)
      if (argv[i][0] == '-' && !std::isdigit(static_cast<unsigned char>(argv[i][1])))
        throw qarn::cli::BadInput(std::string("unknown option '") + argv[i] + "'");
    if (argc > 3) throw qarn::cli::BadInput("too many arguments (intdiv_sweep [PAIRS [SEED]])");
    if (argc > 1) n = qarn::cli::parse_count(argv[1], "PAIRS", 8, 1000000000000ull);
    if (argc > 2) seed = qarn::cli::parse_count(argv[2], "SEED", 0, ~0ull);
  } catch (const qarn::cli::BadInput& x) {
    std::fprintf(stderr, "intdiv_sweep: %s\nTry 'intdiv_sweep --help'.\n", x.what());
    return 2;
  }
  qarn::cli::Progress progress("intdiv_sweep", 4 * n + 2 * (n / 4));
  uint64_t done = 0;
  Tally t[] = {{"idiv8"}, {"irem8"}, {"udiv8"}, {"urem8"}, {"idivrem1"}, {"udivrem1"}};
  using F8 = __m256i (*)(__m256i, __m256i);
  const F8 f8[] = {__ocl_qarn_e9_idiv8, __ocl_qarn_e9_irem8, __ocl_qarn_e9_udiv8, __ocl_qarn_e9_urem8};
  for (int k = 0; k < 4; ++k) {
    Rng g{seed * 0x1000 + k};
    const bool sgn = k < 2, want_rem = k % 2 == 1;
    alignas(32) uint32_t a[8], b[8], r[8];
    for (uint64_t i = 0; i < n; i += 8) {
      for (int j = 0; j < 8; ++j) pair(g, i + j, a[j], b[j]);
      __m256i v = f8[k](_mm256_load_si256(reinterpret_cast<const __m256i*>(a)),
                        _mm256_load_si256(reinterpret_cast<const __m256i*>(b)));
      _mm256_store_si256(reinterpret_cast<__m256i*>(r), v);
      for (int j = 0; j < 8; ++j)
        t[k](a[j], b[j], r[j], want_rem ? rem(sgn, a[j], b[j]) : quot(sgn, a[j], b[j]));
      if ((i & 0xFFFF8) == 0) progress.update(done + i);
    }
    done += n;
  }
  for (int k = 0; k < 2; ++k) {
    Rng g{seed * 0x1000 + 4 + k};
    const bool sgn = k == 0;
    auto fn = sgn ? __ocl_qarn_e9_idivrem1 : __ocl_qarn_e9_udivrem1;
    for (uint64_t i = 0; i < n / 4; ++i) {
      uint32_t a, b;
      pair(g, i, a, b);
      uint64_t r = fn(0, 0, b, a);
      t[4 + k](a, b, uint32_t(r), quot(sgn, a, b));
      t[4 + k](a, b, uint32_t(r >> 32), rem(sgn, a, b));
      if ((i & 0xFFFF) == 0) progress.update(done + i);
    }
    done += n / 4;
  }
  uint64_t bad = 0;
  for (const Tally& x : t) {
    std::printf("%-9s %12" PRIu64 " lanes checked, %" PRIu64 " wrong\n", x.name, x.checked, x.bad);
    bad += x.bad;
  }
  return bad ? 1 : 0;
}
