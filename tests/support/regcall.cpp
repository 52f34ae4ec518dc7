#include "support/regcall.h"

#include <algorithm>
#include <cstring>

extern "C" void qarn_regcall(const void* fn, const qarn::abi::RegBlock* in, qarn::abi::RegBlock* out,
                             void* stack_top);

namespace qarn::abi {
namespace {
constexpr uint8_t kPattern = 0xA5;
constexpr size_t kSlots = 32;  // host rsp, out, fn, pad
}  // namespace

Stack::Stack(size_t bytes) : mem_(bytes + 64) {
  uintptr_t t = reinterpret_cast<uintptr_t>(mem_.data() + bytes) & ~uintptr_t(63);
  top_ = reinterpret_cast<uint8_t*>(t);
}

void Stack::call(const void* fn, const RegBlock& in, RegBlock& out) {
  // The caller's area and a generous part of the stack below it carry the pattern.
  size_t n = std::min<size_t>(top_ - mem_.data(), 64 * 1024);
  std::memset(top_ - n, kPattern, n);
  qarn_regcall(fn, &in, &out, top_);
}

bool Stack::caller_area_intact() const {
  const uint8_t* area = top_ - kSlots - kCallerArea;
  for (size_t i = 0; i < kCallerArea; ++i)
    if (area[i] != kPattern) return false;
  return true;
}

bool Stack::home_area_intact() const {
  const uint8_t* home = top_ - kSlots - kCallerArea - 32;
  for (size_t i = 0; i < 32; ++i)
    if (home[i] != kPattern) return false;
  return true;
}

bool Stack::rsp_balanced(const RegBlock& out) const {
  return out.gpr[RSP] == reinterpret_cast<uintptr_t>(top_ - 320);
}

}  // namespace qarn::abi
