#include "support/invoke.h"
#include "support/rng.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace qarn::abi {

namespace {
constexpr Gpr kArgGprs[] = {RCX, RDX, R8, R9};


bool is_int(char k) { return std::strchr("iulqc", k) != nullptr; }

int regs_for(int bytes) { return bytes <= 32 ? 1 : bytes / 32; }
}  // namespace

int Shape::lane_bytes(char k) const {
  if (k == 'f' || k == 'c') return prec == 'd' ? 8 : 4;
  return (k == 'l' || k == 'q' || k == 'D') ? 8 : 4;
}

Shape shape_of(const reg::Export& e) {
  Shape s;
  std::string kind = e.kind;
  auto colon = kind.find(':');
  auto split = [&](const std::string& part, std::string& vec) {
    for (size_t i = 0; i < part.size(); ++i) {
      if (part[i] == 'p') s.ptrs += part[++i];
      else vec += part[i];
    }
  };
  split(kind.substr(0, colon), s.args);
  split(kind.substr(colon + 1), s.results);
  s.width = e.width;
  s.lanes = e.width == 3 ? 4 : e.width;
  s.prec = e.prec;
  return s;
}

RegBlock random_block(uint64_t seed) {
  RegBlock b{};
  qarn::test::Rng s(seed);
  for (auto& y : b.ymm)
    for (int i = 0; i < 32; i += 8) {
      uint64_t v = s.next();
      std::memcpy(y + i, &v, 8);
    }
  for (auto& g : b.gpr) g = s.next();
  b.mxcsr = 0x1F80;
  return b;
}

const char* library_path() {
  const char* p = std::getenv("QARN_LIBRARY");
  return p ? p : QARN_LIBRARY_PATH;
}

#ifdef _WIN32
Invoker::Invoker(const char* so_path) {
  so_ = so_path ? static_cast<void*>(LoadLibraryA(so_path)) : static_cast<void*>(GetModuleHandleA(nullptr));
  if (!so_)
    throw std::runtime_error(std::string("cannot load ") + (so_path ? so_path : "self") + ": error " +
                             std::to_string(GetLastError()));
}

Invoker::~Invoker() {
  if (so_) FreeLibrary(static_cast<HMODULE>(so_));
}

const void* Invoker::address(const reg::Export& e) const {
  return reinterpret_cast<const void*>(GetProcAddress(static_cast<HMODULE>(so_), e.name));
}
#else
Invoker::Invoker(const char* so_path) {
  so_ = dlopen(so_path, RTLD_NOW | RTLD_LOCAL);
  if (!so_) throw std::runtime_error(std::string("cannot load ") + (so_path ? so_path : "self") + ": " + dlerror());
}

Invoker::~Invoker() {
  if (so_) dlclose(so_);
}

const void* Invoker::address(const reg::Export& e) const { return dlsym(so_, e.name); }
#endif

namespace {
constexpr int kGuard = 64;
constexpr uint8_t kGuardByte = 0x5C;

bool guards_intact(const std::vector<uint8_t>& mem, const uint8_t* p, int bytes) {
  for (const uint8_t* q = mem.data(); q < p; ++q)
    if (*q != kGuardByte) return false;
  for (const uint8_t* q = p + bytes; q < mem.data() + mem.size(); ++q)
    if (*q != kGuardByte) return false;
  return true;
}
}  // namespace

Call Invoker::prepare(const reg::Export& e, const std::vector<Lanes>& args, uint64_t garbage, int misalign,
                      uint32_t mxcsr) const {
  Shape sh = shape_of(e);
  Call c;
  c.e = &e;
  c.before = random_block(garbage);
  c.before.mxcsr = mxcsr;
  c.fn = address(e);
  if (!c.fn) throw std::runtime_error(std::string("missing export ") + e.name);
  if (args.size() != sh.args.size()) throw std::runtime_error("argument count");

  // Guarded buffers for the pointer results and the by-reference form.
  auto make_buf = [&](int bytes) {
    Call::Buf b{std::vector<uint8_t>(bytes + 2 * kGuard + 64, kGuardByte), nullptr, bytes};
    uintptr_t a = (reinterpret_cast<uintptr_t>(b.mem.data()) + kGuard + 31) & ~uintptr_t(31);
    b.p = reinterpret_cast<uint8_t*>(a) + misalign;
    return b;
  };
  auto put_lanes = [&](uint8_t* dst, char k, const Lanes& l) {
    int lb = sh.lane_bytes(k);
    for (size_t i = 0; i < l.size(); ++i) std::memcpy(dst + i * lb, &l[i], lb);
  };
  auto storage = [&](char k) { return sh.lanes * sh.lane_bytes(k) < 4 ? 4 : sh.lane_bytes(k) * sh.lanes; };

  for (char k : sh.ptrs) c.ptr_bufs_.push_back(make_buf(storage(k)));
  c.rax_result_ = sh.width == 1 && is_int(sh.results[0]);
  for (char k : sh.results) c.result_regs_ += regs_for(storage(k));
  int gi = 0;
  if (e.by_ref) {
    for (size_t a = 0; a < args.size(); ++a) {
      c.arg_bufs_.push_back(make_buf(storage(sh.args[a])));
      put_lanes(c.arg_bufs_.back().p, sh.args[a], args[a]);
    }
    for (char k : sh.results) c.out_bytes_ += storage(k);
    c.out_ = make_buf(c.out_bytes_);
    c.before.gpr[kArgGprs[gi++]] = reinterpret_cast<uintptr_t>(c.out_.p);
    for (auto& b : c.arg_bufs_) c.before.gpr[kArgGprs[gi++]] = reinterpret_cast<uintptr_t>(b.p);
  } else {
    int vr = 0;
    for (size_t a = 0; a < args.size(); ++a) {
      char k = sh.args[a];
      if (sh.width == 1 && is_int(k)) {
        uint64_t& g = c.before.gpr[kArgGprs[gi++]];
        if (sh.lane_bytes(k) == 4) g = (g & ~0xFFFFFFFFull) | (args[a][0] & 0xFFFFFFFFull);
        else g = args[a][0];
        continue;
      }
      put_lanes(c.before.ymm[vr], k, args[a]);
      vr += regs_for(storage(k));
    }
  }
  for (auto& b : c.ptr_bufs_) c.before.gpr[kArgGprs[gi++]] = reinterpret_cast<uintptr_t>(b.p);
  return c;
}

void Call::run(Stack& stack) {
  if (out_.p) std::memset(out_.mem.data(), kGuardByte, out_.mem.size());
  for (Buf& b : ptr_bufs_) std::memset(b.mem.data(), kGuardByte, b.mem.size());
  stack.call(fn, before, after);
}

bool Call::same_results(const Call& ref) const {
  if (e->by_ref) {
    if (std::memcmp(out_.p, ref.out_.p, out_bytes_) != 0) return false;
  } else if (rax_result_) {
    if (after.gpr[RAX] != ref.after.gpr[RAX]) return false;
  } else {
    // Every result register in full: a run of the same call on the same inputs
    // leaves the same bits in the lanes beyond the width too.
    if (std::memcmp(after.ymm, ref.after.ymm, 32 * result_regs_) != 0) return false;
  }
  for (size_t p = 0; p < ptr_bufs_.size(); ++p)
    if (std::memcmp(ptr_bufs_[p].p, ref.ptr_bufs_[p].p, ptr_bufs_[p].bytes) != 0) return false;
  return true;
}

Outcome Invoker::outcome(const Call& c, const Stack& stack) const {
  const reg::Export& e = *c.e;
  Shape sh = shape_of(e);
  Outcome o;
  o.before = c.before;
  o.after = c.after;
  auto get_lanes = [&](const uint8_t* src, char k, int n) {
    Lanes l(n, 0);
    int lb = sh.lane_bytes(k);
    for (int i = 0; i < n; ++i) std::memcpy(&l[i], src + i * lb, lb);
    return l;
  };
  auto storage = [&](char k) { return sh.lanes * sh.lane_bytes(k) < 4 ? 4 : sh.lane_bytes(k) * sh.lanes; };
  if (e.by_ref) {
    int off = 0;
    for (char k : sh.results) {
      o.results.push_back(get_lanes(c.out_.p + off, k, sh.lanes));
      off += storage(k);
    }
    o.returned = o.after.gpr[RAX];
    o.buffer = reinterpret_cast<uintptr_t>(c.out_.p);
    o.guards_intact &= guards_intact(c.out_.mem, c.out_.p, c.out_bytes_);
  } else {
    int vr = 0;
    if (sh.width == 1 && is_int(sh.results[0])) {
      uint64_t rax = o.after.gpr[RAX];
      if (sh.results.size() == 2) {
        o.results.push_back({rax & 0xFFFFFFFFull});
        o.results.push_back({rax >> 32});
      } else {
        o.results.push_back({sh.lane_bytes(sh.results[0]) == 4 ? (rax & 0xFFFFFFFFull) : rax});
      }
    } else if (sh.width == 1 && sh.results.size() == 2) {
      // Both results in lanes 0 and 1 of xmm0.
      Lanes both = get_lanes(o.after.ymm[0], sh.results[0], 2);
      o.results.push_back({both[0]});
      o.results.push_back({both[1]});
    } else {
      for (char k : sh.results) {
        o.results.push_back(get_lanes(o.after.ymm[vr], k, sh.lanes));
        vr += regs_for(storage(k));
      }
    }
  }
  for (const Call::Buf& b : c.ptr_bufs_) {
    o.results.push_back(get_lanes(b.p, sh.ptrs[&b - c.ptr_bufs_.data()], sh.lanes));
    o.guards_intact &= guards_intact(b.mem, b.p, b.bytes);
  }
  o.caller_area_intact = stack.caller_area_intact();
  o.home_area_intact = stack.home_area_intact();
  o.rsp_balanced = stack.rsp_balanced(o.after);
  return o;
}

Outcome Invoker::call(const reg::Export& e, const std::vector<Lanes>& args, uint64_t garbage, int misalign,
                      uint32_t mxcsr) const {
  if (mode_) mxcsr = (mxcsr & ~0x6000u) | uint32_t(mode_) << 13;
  Call c = prepare(e, args, garbage, misalign, mxcsr);
  // The x87 control word is not part of the register block: set around the call.
  uint16_t cw = 0, ours = 0;
  if (mode_) {
    asm volatile("fnstcw %0" : "=m"(cw));
    ours = uint16_t((cw & ~0xC00) | mode_ << 10);
    asm volatile("fldcw %0" ::"m"(ours));
  }
  c.run(stack_);
  if (mode_) asm volatile("fldcw %0" ::"m"(cw));
  return outcome(c, stack_);
}

}  // namespace qarn::abi
