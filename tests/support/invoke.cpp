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

Outcome Invoker::call(const reg::Export& e, const std::vector<Lanes>& args, uint64_t garbage,
                      int misalign) const {
  Shape sh = shape_of(e);
  Outcome o;
  o.before = random_block(garbage);
  o.before.mxcsr |= uint32_t(mode_) << 13;
  const void* fn = address(e);
  if (!fn) throw std::runtime_error(std::string("missing export ") + e.name);
  if (args.size() != sh.args.size()) throw std::runtime_error("argument count");

  // Guarded buffers for the pointer results and the by-reference form.
  constexpr int kGuard = 64;
  constexpr uint8_t kGuardByte = 0x5C;
  struct Buf { std::vector<uint8_t> mem; uint8_t* p; int bytes; };
  auto make_buf = [&](int bytes) {
    Buf b{std::vector<uint8_t>(bytes + 2 * kGuard + 64, kGuardByte), nullptr, bytes};
    uintptr_t a = (reinterpret_cast<uintptr_t>(b.mem.data()) + kGuard + 31) & ~uintptr_t(31);
    b.p = reinterpret_cast<uint8_t*>(a) + misalign;
    return b;
  };
  auto put_lanes = [&](uint8_t* dst, char k, const Lanes& l) {
    int lb = sh.lane_bytes(k);
    for (size_t i = 0; i < l.size(); ++i) std::memcpy(dst + i * lb, &l[i], lb);
  };
  auto get_lanes = [&](const uint8_t* src, char k, int n) {
    Lanes l(n, 0);
    int lb = sh.lane_bytes(k);
    for (int i = 0; i < n; ++i) std::memcpy(&l[i], src + i * lb, lb);
    return l;
  };
  auto storage = [&](char k) { return sh.lanes * sh.lane_bytes(k) < 4 ? 4 : sh.lane_bytes(k) * sh.lanes; };

  // The x87 control word is not part of the register block: set around the call.
  auto run = [&](const void* f, Outcome& out) {
    uint16_t cw = 0, ours;
    if (mode_) {
      asm volatile("fnstcw %0" : "=m"(cw));
      ours = uint16_t((cw & ~0xC00) | mode_ << 10);
      asm volatile("fldcw %0" ::"m"(ours));
    }
    stack_.call(f, out.before, out.after);
    if (mode_) asm volatile("fldcw %0" ::"m"(cw));
  };

  std::vector<Buf> ptr_bufs;
  for (char k : sh.ptrs) ptr_bufs.push_back(make_buf(storage(k)));
  int gi = 0;

  if (e.by_ref) {
    std::vector<Buf> arg_bufs;
    for (size_t a = 0; a < args.size(); ++a) {
      arg_bufs.push_back(make_buf(storage(sh.args[a])));
      put_lanes(arg_bufs.back().p, sh.args[a], args[a]);
    }
    int out_bytes = 0;
    for (char k : sh.results) out_bytes += storage(k);
    Buf out = make_buf(out_bytes);
    o.before.gpr[kArgGprs[gi++]] = reinterpret_cast<uintptr_t>(out.p);
    for (auto& b : arg_bufs) o.before.gpr[kArgGprs[gi++]] = reinterpret_cast<uintptr_t>(b.p);
    for (auto& b : ptr_bufs) o.before.gpr[kArgGprs[gi++]] = reinterpret_cast<uintptr_t>(b.p);
    run(fn, o);
    int off = 0;
    for (char k : sh.results) {
      o.results.push_back(get_lanes(out.p + off, k, sh.lanes));
      off += storage(k);
    }
    o.returned = o.after.gpr[RAX];
    o.buffer = reinterpret_cast<uintptr_t>(out.p);
    for (const uint8_t* q = out.mem.data(); q < out.p; ++q) o.guards_intact &= *q == kGuardByte;
    for (const uint8_t* q = out.p + out_bytes; q < out.mem.data() + out.mem.size(); ++q)
      o.guards_intact &= *q == kGuardByte;
  } else {
    int vr = 0;
    for (size_t a = 0; a < args.size(); ++a) {
      char k = sh.args[a];
      if (sh.width == 1 && is_int(k)) {
        uint64_t& g = o.before.gpr[kArgGprs[gi++]];
        if (sh.lane_bytes(k) == 4) g = (g & ~0xFFFFFFFFull) | (args[a][0] & 0xFFFFFFFFull);
        else g = args[a][0];
        continue;
      }
      put_lanes(o.before.ymm[vr], k, args[a]);
      vr += regs_for(storage(k));
    }
    for (auto& b : ptr_bufs) o.before.gpr[kArgGprs[gi++]] = reinterpret_cast<uintptr_t>(b.p);
    run(fn, o);
    vr = 0;
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
  for (size_t p = 0; p < ptr_bufs.size(); ++p) {
    Buf& b = ptr_bufs[p];
    o.results.push_back(get_lanes(b.p, sh.ptrs[p], sh.lanes));
    for (const uint8_t* q = b.mem.data(); q < b.p; ++q) o.guards_intact &= *q == kGuardByte;
    for (const uint8_t* q = b.p + b.bytes; q < b.mem.data() + b.mem.size(); ++q)
      o.guards_intact &= *q == kGuardByte;
  }
  o.caller_area_intact = stack_.caller_area_intact();
  o.home_area_intact = stack_.home_area_intact();
  o.rsp_balanced = stack_.rsp_balanced(o.after);
  return o;
}

}  // namespace qarn::abi
