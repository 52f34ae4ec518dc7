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

Stack::Stack(size_t bytes, size_t fill) : mem_(bytes + 64) {
  uintptr_t t = reinterpret_cast<uintptr_t>(mem_.data() + bytes) & ~uintptr_t(63);
  top_ = reinterpret_cast<uint8_t*>(t);
  fill_ = std::min<size_t>(top_ - mem_.data(), std::max<size_t>(fill, 1024));
}

void Stack::call(const void* fn, const RegBlock& in, RegBlock& out) {
  // The caller's area and a generous part of the stack below it carry the pattern.
  std::memset(top_ - fill_, kPattern, fill_);
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

size_t Stack::deepest() const {
  const uint8_t* p = top_ - fill_;
  const uint8_t* call_rsp = top_ - 320;
  while (p < call_rsp && *p == kPattern) ++p;
  size_t d = call_rsp - p;
  return (d + 15) & ~size_t(15);
}

bool Stack::rsp_balanced(const RegBlock& out) const {
  return out.gpr[RSP] == reinterpret_cast<uintptr_t>(top_ - 320);
}

}  // namespace qarn::abi
