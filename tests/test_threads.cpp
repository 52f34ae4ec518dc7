// The library keeps no state: eight threads, each in an environment of its own
// (MXCSR rounding, DAZ and FTZ; x87 rounding and precision control), call every
// export at once on random and special operands, and every result lane (stored
// second results included) must be the one the same call gave on one thread in
// the same environment beforehand.  The threads walk the exports in step, a chunk
// of 4 exports between two meetings at a barrier, so whichever threads run at one
// moment are inside the same exports (and the same lane fallbacks) in different
// environments.  Every call also keeps the preserved registers, the stack and
// MXCSR's control bits, and leaves the thread's x87 control word as it was.
// The threads are also stopped at arbitrary instructions while the others run on
// (a machine with fewer free cores than threads would otherwise switch threads
// only between calls): on Linux each has a timer whose signal makes it yield the
// processor every 400 us.  Under Wine nothing forces such switches, so there the
// test finds state shared between threads only where threads really run at once.
//
// QARN_THREADS_SCALE=N multiplies the rounds by N.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <thread>

#ifndef _WIN32
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>
#endif

#include "support/hostile.h"

using namespace qarn;
namespace qa = qarn::abi;
using qarn::test::kModes;

namespace {

constexpr int kThreads = 8;

struct Work {
  const reg::Export* e;
  std::vector<std::vector<qa::Lanes>> args;  // one per operand set
  std::vector<uint64_t> garbage;
  std::vector<int> misalign;
  std::vector<std::vector<uint64_t>> want[kThreads];  // per environment, per operand set
};

int scale() {
  const char* s = std::getenv("QARN_THREADS_SCALE");
  return s ? std::max(1, std::atoi(s)) : 1;
}

std::vector<Work> make_work(int sets) {
  std::vector<Work> work;
  qarn::test::Rng s(0x7EAD);
  for (const reg::Export& e : reg::all()) {
    if (!e.present) continue;
    Work w{&e, {}, {}, {}, {}};
    for (int k = 0; k < sets; ++k) {
      // Ordinary operands, a few special lanes, mostly special lanes, all special.
      const int percent[] = {0, 25, 75, 100};
      w.args.push_back(qarn::test::hostile_args(e, s, percent[k % 4]));
      w.garbage.push_back(s.next());
      w.misalign.push_back(int(s.below(8)));
    }
    work.push_back(std::move(w));
  }
  return work;
}

// The same call under `m` on this thread: the row of results, or a complaint.
std::string call_in(const qa::Invoker& inv, const Work& w, int k, const qarn::test::Modes& m,
                    std::vector<uint64_t>& got) {
  qa::Outcome o = inv.call(*w.e, w.args[k], w.garbage[k], w.misalign[k], m.mxcsr);
  got = qarn::test::flat_results(o);
  std::string broken = qarn::test::broken_promise(*w.e, o);
  if (!broken.empty()) return broken + " not kept";
  if (qarn::test::x87_control() != m.x87) return "x87 control word changed";
  if ((qarn::test::mxcsr() & qarn::test::kMxcsrControl) != m.mxcsr) return "the thread's MXCSR changed";
  return "";
}

// A barrier of a mutex and a condition variable (std::barrier of GCC 12 can miss a
// wake-up where there is no futex, as under MinGW).
class Barrier {
 public:
  explicit Barrier(int n) : n_(n) {}
  void arrive_and_wait() {
    std::unique_lock<std::mutex> lock(m_);
    long phase = phase_;
    if (++waiting_ == n_) {
      waiting_ = 0;
      ++phase_;
      cv_.notify_all();
    } else {
      cv_.wait(lock, [&] { return phase_ != phase; });
    }
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  int n_, waiting_ = 0;
  long phase_ = 0;
};

#ifndef _WIN32
// Each worker has a timer of its own that sends it SIGALRM every 400 us; the
// handler gives up the processor.
struct Preempter {
  Preempter() {
    struct sigaction sa{};
    sa.sa_handler = [](int) { sched_yield(); };
    sa.sa_flags = SA_RESTART;
    sigaction(SIGALRM, &sa, nullptr);
  }
  struct Timer {
    timer_t id{};
    Timer() {
      sigevent ev{};
      ev.sigev_notify = SIGEV_THREAD_ID;
      ev.sigev_signo = SIGALRM;
      ev._sigev_un._tid = gettid();  // glibc names it sigev_notify_thread_id from 2.37
      timer_create(CLOCK_MONOTONIC, &ev, &id);
      itimerspec every{{0, 400000}, {0, 400000}};
      timer_settime(id, 0, &every, nullptr);
    }
    ~Timer() { timer_delete(id); }
  };
  Timer worker() { return {}; }
  ~Preempter() { signal(SIGALRM, SIG_IGN); }
};
#else
// Windows: no signals; the threads switch where the system switches them.
struct Preempter {
  int worker() { return 0; }
};
#endif

TEST(Threads, EveryExportInEightEnvironmentsAtOnce) {
  const int sets = 6, rounds = 9 * scale();
  constexpr size_t kChunk = 4;
  std::vector<Work> work = make_work(sets);
  qa::Invoker ref_inv(qa::library_path());
  auto t0 = std::chrono::steady_clock::now();
  long calls = 0;
  for (int t = 0; t < kThreads; ++t) {
    qarn::test::ScopedModes env(kModes[t]);
    for (Work& w : work)
      for (int k = 0; k < sets; ++k) {
        std::vector<uint64_t> got;
        std::string why = call_in(ref_inv, w, k, kModes[t], got);
        ASSERT_EQ(why, "") << reg::short_name(*w.e) << " on one thread, environment " << t;
        w.want[t].push_back(std::move(got));
        ++calls;
      }
  }
  auto t1 = std::chrono::steady_clock::now();

  Barrier sync(kThreads);
  std::atomic<long> threaded_calls{0};
  std::vector<std::vector<std::string>> faults(kThreads);
  std::optional<Preempter> preempt;
  preempt.emplace();
  auto body = [&](int t) {
    auto timer = preempt->worker();
    qa::Invoker inv(qa::library_path());
    qarn::test::ScopedModes env(kModes[t]);
    long n = 0;
    for (int r = 0; r < rounds; ++r)
      for (size_t i = 0; i < work.size(); ++i) {
        if (i % kChunk == 0) sync.arrive_and_wait();
        const Work& w = work[i];
        for (int k = 0; k < sets; ++k) {
          std::vector<uint64_t> got;
          std::string why = call_in(inv, w, k, kModes[t], got);
          if (why.empty() && got != w.want[t][k]) why = "results differ from the single-threaded call";
          ++n;
          if (!why.empty() && faults[t].size() < 20) {
            std::ostringstream m;
            m << reg::short_name(*w.e) << " operand set " << k << " on thread " << t << " round " << r << ": "
              << why;
            faults[t].push_back(m.str());
          }
        }
      }
    threaded_calls += n;
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(body, t);
  for (auto& th : threads) th.join();
  preempt.reset();
  auto t2 = std::chrono::steady_clock::now();

  long bad = 0;
  for (auto& f : faults)
    for (auto& m : f) ADD_FAILURE() << m, ++bad;
  auto ms = [](auto d) { return long(std::chrono::duration_cast<std::chrono::milliseconds>(d).count()); };
  std::printf("%zu exports, %ld single-threaded calls in %ld ms, %ld calls on %d threads in %ld ms, %ld wrong\n",
              work.size(), calls, ms(t1 - t0), threaded_calls.load(), kThreads, ms(t2 - t1), bad);
  RecordProperty("threaded_calls", std::to_string(threaded_calls.load()));
  EXPECT_EQ(threaded_calls.load(), long(kThreads) * rounds * sets * long(work.size()));
}

}  // namespace
