// Register-level caller: loads every vector and general register from a block,
// calls an export on a stack the test owns (rsp 8 mod 16 on entry, a 32-byte home
// area above the return address), and stores every register back.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qarn::abi {

enum Gpr { RAX, RCX, RDX, RBX, RSP, RBP, RSI, RDI, R8, R9, R10, R11, R12, R13, R14, R15 };

struct alignas(32) RegBlock {
  uint8_t ymm[16][32];
  uint64_t gpr[16];  // hardware order, see Gpr; rsp is written back only
  uint32_t mxcsr;
  uint32_t pad[7];
};
static_assert(offsetof(RegBlock, gpr) == 512 && offsetof(RegBlock, mxcsr) == 640);

// Bytes above the home area that belong to the caller; an export must not write them.
constexpr size_t kCallerArea = 256;

class Stack {
 public:
  // `fill` bytes below the top carry the pattern before every call.
  explicit Stack(size_t bytes = 1 << 20, size_t fill = 64 * 1024);
  // Fills the stack with a pattern, calls fn with `in`, writes `out`.
  void call(const void* fn, const RegBlock& in, RegBlock& out);
  // After call(): how far below the caller's rsp (the address the return address
  // is pushed under) the callee wrote, rounded up to 16 bytes; the whole filled
  // part when it wrote even the lowest byte.
  size_t deepest() const;
  // After call(): true when the caller's area above the home area is untouched and
  // rsp came back where it was.
  bool caller_area_intact() const;
  // After call(): true when the 32-byte home area above the return address is
  // untouched (a System V caller gives none, so register-form exports never write it).
  bool home_area_intact() const;
  bool rsp_balanced(const RegBlock& out) const;

 private:
  std::vector<uint8_t> mem_;
  uint8_t* top_;
  size_t fill_;
};

}  // namespace qarn::abi
