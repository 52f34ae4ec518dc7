// Exports interrupted by a signal whose handler calls exports too.  A fast interval
// timer sends SIGALRM to this (single) thread while it calls every export on special
// operands, so most signals land inside an export's code or in a lane fallback
// called from a lane loop.  The handler switches to another environment (MXCSR and
// x87 control word), calls the interrupted export on other special operands through
// the register-level caller on a stack of its own, and checks its bits and its
// preserved registers.  After each call the interrupted side checks its own: the
// result lanes, ymm6-ymm15 in full, the callee-saved general registers, MXCSR's
// control bits and the x87 control word.  Where the signals landed is counted from
// the interrupted instruction pointer, and enough of them must have landed inside
// the lane fallbacks and inside the exports' own code.
//
// Linux only.  QARN_SIGNALS_SECONDS=N runs N seconds instead of two.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <link.h>
#include <signal.h>
#include <sys/time.h>
#include <ucontext.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "support/hostile.h"

using namespace qarn;
namespace qa = qarn::abi;
namespace qt = qarn::test;

namespace {

const qt::Modes kWorker = qt::kModes[1];   // down; x87 up
const qt::Modes kHandler = qt::kModes[6];  // up, both flushes; x87 nearest, 53-bit significands

struct Pair {
  qa::Call run, ref;  // the call to make, and the same call made once beforehand
};

// Everything the handler touches, made before the timer starts.
struct HandlerState {
  std::vector<Pair> calls;                 // by worker index: the same export, other operands
  qa::Stack* stack = nullptr;
  uintptr_t lib_lo = 0, lib_hi = 0;        // the library's code
  std::vector<std::pair<uintptr_t, uintptr_t>> fallbacks;  // lane fallbacks' code, sorted
  // Lock-free atomics: written by the handler, read by the interrupted code.
  std::atomic<int> current{-1};            // the worker's call in progress
  std::atomic<long> signals{0}, in_library{0}, in_fallback{0}, handler_faults{0};
  std::atomic<int> first_fault{-1};
};
HandlerState hs;

// Callee-saved state: ymm6-ymm15 (low halves for the by-reference form), the
// general registers the convention preserves, MXCSR's control bits.
bool preserved(const qa::Call& c) {
  for (int r = 6; r < 16; ++r)
    if (std::memcmp(c.before.ymm[r], c.after.ymm[r], c.e->by_ref ? 16 : 32) != 0) return false;
  for (qa::Gpr g : {qa::RBX, qa::RBP, qa::RDI, qa::RSI, qa::R12, qa::R13, qa::R14, qa::R15})
    if (c.before.gpr[g] != c.after.gpr[g]) return false;
  return (c.before.mxcsr & qt::kMxcsrControl) == (c.after.mxcsr & qt::kMxcsrControl);
}

void on_alarm(int, siginfo_t*, void* uc) {
  ++hs.signals;
  auto rip = uintptr_t(static_cast<ucontext_t*>(uc)->uc_mcontext.gregs[REG_RIP]);
  if (rip >= hs.lib_lo && rip < hs.lib_hi) {
    ++hs.in_library;
    auto it = std::upper_bound(hs.fallbacks.begin(), hs.fallbacks.end(), std::make_pair(rip, ~uintptr_t(0)));
    if (it != hs.fallbacks.begin() && rip < std::prev(it)->second) ++hs.in_fallback;
  }
  int i = hs.current;
  if (i < 0) return;
  // The kernel gives the handler a fresh environment and puts the interrupted one
  // back on return; the handler sets its own and does not restore anything.
  qt::set_mxcsr(kHandler.mxcsr);
  qt::set_x87_control(kHandler.x87);
  Pair& p = hs.calls[i];
  p.run.run(*hs.stack);
  bool ok = p.run.same_results(p.ref) && preserved(p.run) && qt::x87_control() == kHandler.x87 &&
            (qt::mxcsr() & qt::kMxcsrControl) == kHandler.mxcsr;
  if (!ok) {
    if (hs.first_fault < 0) hs.first_fault = i;
    ++hs.handler_faults;
  }
}

// The library's code range and its lane fallbacks' symbols (with sizes, from nm).
void locate_library(const qa::Invoker& inv, const reg::Export& any) {
  Dl_info info{};
  ASSERT_NE(dladdr(inv.address(any), &info), 0);
  auto base = reinterpret_cast<uintptr_t>(info.dli_fbase);
  dl_iterate_phdr(
      [](dl_phdr_info* d, size_t, void* b) {
        if (d->dlpi_addr != *static_cast<uintptr_t*>(b)) return 0;
        for (int k = 0; k < d->dlpi_phnum; ++k)
          if (d->dlpi_phdr[k].p_type == PT_LOAD && (d->dlpi_phdr[k].p_flags & PF_X)) {
            hs.lib_lo = d->dlpi_addr + d->dlpi_phdr[k].p_vaddr;
            hs.lib_hi = hs.lib_lo + d->dlpi_phdr[k].p_memsz;
          }
        return 1;
      },
      &base);
  ASSERT_LT(hs.lib_lo, hs.lib_hi);
  FILE* p = popen((std::string("nm -S --defined-only ") + qa::library_path()).c_str(), "r");
  ASSERT_NE(p, nullptr);
  char line[1024];
  unsigned long long addr, size;
  char type, name[900];
  while (std::fgets(line, sizeof line, p))
    if (std::sscanf(line, "%llx %llx %c %899s", &addr, &size, &type, name) == 4 && std::strstr(name, "lane_fallback"))
      hs.fallbacks.emplace_back(base + addr, base + addr + size);
  pclose(p);
  std::sort(hs.fallbacks.begin(), hs.fallbacks.end());
  ASSERT_GT(hs.fallbacks.size(), 50u) << "no lane fallbacks in the library's symbol table";
}

double seconds() {
  const char* s = std::getenv("QARN_SIGNALS_SECONDS");
  return s ? std::max(0.1, std::atof(s)) : 2.0;
}

TEST(Signals, HandlerCallsExportsWhileExportsRun) {
  qa::Invoker inv(qa::library_path());
  qa::Stack worker_stack(1 << 20, 4096), handler_stack(1 << 20, 4096);
  hs.stack = &handler_stack;
  // Every export on special operands (all lanes, and about half of them); the
  // handler's version of each is the same export on other special operands.
  std::vector<Pair> work;
  qt::Rng s(0x5167);
  for (const reg::Export& e : reg::all()) {
    if (!e.present) continue;
    for (int percent : {100, 50}) {
      auto args = qt::hostile_args(e, s, percent);
      uint64_t g = s.next();
      work.push_back({inv.prepare(e, args, g, 3, kWorker.mxcsr), inv.prepare(e, args, g, 3, kWorker.mxcsr)});
      auto hargs = qt::hostile_args(e, s, 100);
      g = s.next();
      hs.calls.push_back({inv.prepare(e, hargs, g, 5, kHandler.mxcsr), inv.prepare(e, hargs, g, 5, kHandler.mxcsr)});
    }
  }
  locate_library(inv, *work[0].run.e);
  {
    qt::ScopedModes env(kHandler);
    for (Pair& p : hs.calls) p.ref.run(handler_stack);
  }
  qt::ScopedModes env(kWorker);
  for (Pair& p : work) p.ref.run(worker_stack);

  struct sigaction sa{};
  sa.sa_sigaction = on_alarm;
  sa.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&sa.sa_mask);
  ASSERT_EQ(sigaction(SIGALRM, &sa, nullptr), 0);
  itimerval every{{0, 37}, {0, 37}};  // as often as the kernel will
  ASSERT_EQ(setitimer(ITIMER_REAL, &every, nullptr), 0);

  long calls = 0, faults = 0;
  std::string first;
  auto t0 = std::chrono::steady_clock::now();
  const double budget = seconds();
  while (std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() < budget)
    for (size_t i = 0; i < work.size(); ++i) {
      Pair& p = work[i];
      hs.current = int(i);
      p.run.run(worker_stack);
      hs.current = -1;
      ++calls;
      const char* why = !p.run.same_results(p.ref)     ? "results"
                        : !preserved(p.run)            ? "preserved registers or MXCSR"
                        : qt::x87_control() != kWorker.x87 ? "x87 control word"
                        : (qt::mxcsr() & qt::kMxcsrControl) != kWorker.mxcsr ? "the thread's MXCSR"
                                                                             : nullptr;
      if (why && faults++ == 0) first = std::string(reg::short_name(*p.run.e)) + ": " + why;
    }
  itimerval off{};
  setitimer(ITIMER_REAL, &off, nullptr);
  signal(SIGALRM, SIG_DFL);
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

  std::printf("%ld calls in %.1f s, %ld signals: %ld inside the library, %ld of them in lane fallbacks\n", calls,
              secs, hs.signals.load(), hs.in_library.load(), hs.in_fallback.load());
  EXPECT_EQ(faults, 0) << "interrupted calls went wrong, first " << first;
  EXPECT_EQ(hs.handler_faults.load(), 0) << "calls in the handler went wrong, first "
                                  << (hs.first_fault >= 0 ? reg::short_name(*hs.calls[hs.first_fault].run.e) : "");
  EXPECT_GE(hs.in_fallback.load(), 20) << "too few signals landed in the lane fallbacks";
  EXPECT_GE(hs.in_library.load() - hs.in_fallback.load(), 20) << "too few signals landed in the exports' own code";
}

}  // namespace
