// Operands and floating-point environments that stress every export: special
// operands of every kind (NaN payloads, signalling NaNs, subnormals, largest finites,
// integer extremes, the thresholds the families branch on), and the eight pairs of
// MXCSR and x87 control words the thread, signal and stack tests run under.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/invoke.h"
#include "support/rng.h"

namespace qarn::test {

// One floating-point environment: MXCSR (rounding, DAZ, FTZ; every exception masked)
// and the x87 control word (rounding and precision control; every exception masked).
struct Modes {
  uint32_t mxcsr;
  uint16_t x87;
};

inline constexpr Modes kModes[8] = {
    {0x1F80, 0x037F},  // nearest; x87 nearest, 64-bit significands
    {0x3F80, 0x0B7F},  // down; x87 up
    {0x5F80, 0x0F7F},  // up; x87 toward zero
    {0x7F80, 0x077F},  // toward zero; x87 down
    {0x9F80, 0x0F7F},  // nearest, results flushed to zero; x87 toward zero
    {0x1FC0, 0x0A7F},  // nearest, operands read as zero; x87 up, 53-bit significands
    {0xDFC0, 0x027F},  // up, both flushes; x87 nearest, 53-bit significands
    {0x7FC0, 0x047F},  // toward zero, operands read as zero; x87 down, 24-bit significands
};

inline constexpr uint32_t kMxcsrControl = ~0x3Fu;  // the status flags may change

inline uint16_t x87_control() {
  uint16_t cw;
  asm volatile("fnstcw %0" : "=m"(cw));
  return cw;
}
inline void set_x87_control(uint16_t cw) { asm volatile("fldcw %0" ::"m"(cw)); }
inline uint32_t mxcsr() {
  uint32_t m;
  asm volatile("stmxcsr %0" : "=m"(m));
  return m;
}
inline void set_mxcsr(uint32_t m) { asm volatile("ldmxcsr %0" ::"m"(m)); }

// The calling thread in `m` while it lives; its own environment back afterwards.
struct ScopedModes {
  uint32_t saved_mxcsr = mxcsr();
  uint16_t saved_x87 = x87_control();
  explicit ScopedModes(const Modes& m) {
    set_mxcsr(m.mxcsr);
    set_x87_control(m.x87);
  }
  ~ScopedModes() {
    set_mxcsr(saved_mxcsr);
    set_x87_control(saved_x87);
  }
};

inline bool is_int_kind(char k) { return std::strchr("iulqc", k) != nullptr; }
inline bool single_kind(const reg::Export& e, char k) { return k == 'F' || (k == 'f' && e.prec == 'f'); }

// An operand of kind k inside the export's interval of ordinary operands.
inline uint64_t ordinary_operand(const reg::Export& e, char k, Rng& s) {
  if (is_int_kind(k)) return 1 + s.below(8);
  double lo = e.lo, hi = e.hi;
  if (k == 'F' || k == 'D') lo = -1000, hi = 1000;
  double v = s.in(lo, hi);
  return single_kind(e, k) ? abi::bits_of(float(v)) : abi::bits_of(v);
}

// A special operand of kind k: a fresh NaN payload or subnormal each time, or one of
// the values where the families change paths.
inline uint64_t special_operand(const reg::Export& e, char k, Rng& s) {
  uint64_t r = s.next();
  if (k == 'i' || k == 'u' || k == 'c') {
    const uint32_t v[] = {0, 1, 0xFFFFFFFF, 0x80000000, 0x7FFFFFFF, 0x80000001, 2, 0xFFFFFFFE, 1023, 0xFFFFFC02,
                          uint32_t(r)};
    return v[s.below(std::size(v))];
  }
  if (k == 'l' || k == 'q') {
    const uint64_t v[] = {0, 1, ~0ull, 1ull << 63, ~0ull >> 1, (1ull << 53) + 1, (1ull << 24) + 1,
                          0xFFFFFFFFFFFFF800ull, 0x8000000000000400ull, r};
    return v[s.below(std::size(v))];
  }
  uint64_t sign = r >> 63;
  if (single_kind(e, k)) {
    const uint32_t v[] = {
        0x7FC00000u | uint32_t(r >> 8 & 0x3FFFFF),        // quiet NaN, payload
        0x7F800000u | uint32_t(1 + (r >> 8) % 0x3FFFFF),  // signalling NaN, payload
        0x7F800000, 0, 1, 0x007FFFFF,                     // infinity, zero, subnormals
        uint32_t(r >> 9 & 0x7FFFFF), 0x00800000, 0x7F7FFFFF, 0x7F000000,
        0x3F800000, 0x3F000000, 0x40400000,               // 1, 0.5, 3 (poles of lgamma when negative)
        0x42B17218, 0x42CFFFFF, 0x4B000001, 0x7149F2CA,   // exp's bound, 2^23 + 1, 1e30
        0x4F000000, 0x4F800000, 0x5F000000, 0x3F000001,   // conversion bounds, just above 0.5
    };
    return v[s.below(std::size(v))] | uint32_t(sign) << 31;
  }
  const uint64_t v[] = {
      0x7FF8000000000000ull | (r >> 13 & 0x7FFFFFFFFFFFFull),        // quiet NaN, payload
      0x7FF0000000000000ull | (1 + (r >> 13) % 0x7FFFFFFFFFFFFull),  // signalling NaN, payload
      0x7FF0000000000000ull, 0, 1, 0x000FFFFFFFFFFFFFull,
      r >> 12, 0x0010000000000000ull, 0x7FEFFFFFFFFFFFFFull, 0x7FE0000000000000ull,
      0x3FF0000000000000ull, 0x3FE0000000000000ull, 0x4008000000000000ull,
      0x40862E42FEFA39EFull, 0x4330000000000001ull, 0x7E37E43C8800759Cull,  // 709.78, 2^52 + 1, 1e300
      0x44B52D02C7E14AF6ull, 0x41E0000000000000ull, 0x41F0000000000000ull,  // 1e22, 2^31, 2^32
      0x43E0000000000000ull, 0x43F0000000000000ull, 0x3FE0000000000001ull,  // 2^63, 2^64, just above 0.5
      0x3810000000000000ull, 0x47EFFFFFE0000000ull,                          // float's bounds
  };
  return v[s.below(std::size(v))] | sign << 63;
}

// The arguments of one call: every lane ordinary, every lane special, or a mix.
inline std::vector<abi::Lanes> hostile_args(const reg::Export& e, Rng& s, int special_percent) {
  abi::Shape sh = abi::shape_of(e);
  std::vector<abi::Lanes> args(sh.args.size(), abi::Lanes(sh.lanes));
  for (size_t a = 0; a < args.size(); ++a)
    for (int i = 0; i < sh.lanes; ++i)
      args[a][i] = int(s.below(100)) < special_percent ? special_operand(e, sh.args[a], s)
                                                        : ordinary_operand(e, sh.args[a], s);
  return args;
}

// All result lanes of a call, register results then stored ones, in one row.
inline std::vector<uint64_t> flat_results(const abi::Outcome& o) {
  std::vector<uint64_t> v;
  for (const abi::Lanes& l : o.results) v.insert(v.end(), l.begin(), l.end());
  return v;
}

// What a call must keep: the preserved registers (low halves of ymm6-ymm15 for the
// by-reference form), the stack, the buffers' neighbours and MXCSR's control bits.
// Empty when all is well.
inline std::string broken_promise(const reg::Export& e, const abi::Outcome& o) {
  for (int r = 6; r < 16; ++r)
    if (std::memcmp(o.before.ymm[r], o.after.ymm[r], e.by_ref ? 16 : 32) != 0) return "ymm" + std::to_string(r);
  for (abi::Gpr g : {abi::RBX, abi::RBP, abi::RDI, abi::RSI, abi::R12, abi::R13, abi::R14, abi::R15})
    if (o.before.gpr[g] != o.after.gpr[g]) return "general register " + std::to_string(int(g));
  if ((o.before.mxcsr & kMxcsrControl) != (o.after.mxcsr & kMxcsrControl)) return "MXCSR control bits";
  if (!o.rsp_balanced) return "rsp";
  if (!o.caller_area_intact) return "caller's stack";
  if (!o.guards_intact) return "memory beside a buffer";
  if (e.by_ref && o.returned != o.buffer) return "rax";
  return "";
}

}  // namespace qarn::test
