// How much stack an export needs.  Every export runs on a stack filled with a
// pattern, on ordinary operands and on special ones (the lane loops, the fallbacks
// and their cold paths are the deep parts), in each of the eight environments of
// the thread test (the fma fallbacks take other paths when the x87 unit does not
// round to nearest); the lowest byte it changed below the caller's stack pointer is
// its depth.  No export may need more than the bound the README states, and the
// deepest ones are printed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "support/hostile.h"

using namespace qarn;
namespace qa = qarn::abi;
namespace qt = qarn::test;

namespace {

// Bytes below the caller's rsp at the call (the return address included) that any
// export may use: the README's "every export runs on a 4 KiB stack".
constexpr size_t kStackBound = 4096;

TEST(Stack, EveryExportFitsTheStatedBound) {
  qa::Invoker inv(qa::library_path());
  qa::Stack stack(1 << 20, 64 * 1024);
  qt::Rng s(0x57AC);
  struct Deepest { size_t bytes = 0; std::string how; };
  std::vector<std::pair<const reg::Export*, Deepest>> depth;
  long calls = 0;
  for (const reg::Export& e : reg::all()) {
    if (!e.present) continue;
    Deepest d;
    for (int m = 0; m < 8; ++m) {
      qt::ScopedModes env(qt::kModes[m]);
      for (int percent : {0, 50, 100, 100, 100, 100}) {
        qa::Call c = inv.prepare(e, qt::hostile_args(e, s, percent), s.next(), 0, qt::kModes[m].mxcsr);
        c.run(stack);
        ++calls;
        qa::Outcome o = inv.outcome(c, stack);
        ASSERT_EQ(qt::broken_promise(e, o), "") << e.name;
        if (stack.deepest() > d.bytes) {
          d.bytes = stack.deepest();
          d.how = "environment " + std::to_string(m) + ", " + std::to_string(percent) + "% special lanes";
        }
      }
    }
    depth.emplace_back(&e, d);
  }
  std::stable_sort(depth.begin(), depth.end(), [](auto& a, auto& b) { return a.second.bytes > b.second.bytes; });
  std::printf("%ld calls; the deepest exports (bytes below the caller's rsp):\n", calls);
  for (size_t i = 0; i < depth.size() && i < 12; ++i)
    std::printf("  %-28s %5zu  (%s)\n", reg::short_name(*depth[i].first), depth[i].second.bytes,
                depth[i].second.how.c_str());
  std::map<std::string, size_t> family;
  for (auto& [e, d] : depth) family[e->family] = std::max(family[e->family], d.bytes);
  std::printf("deepest per family:");
  for (auto& [f, b] : family) std::printf(" %s %zu", f.c_str(), b);
  std::printf("\n");
  RecordProperty("deepest_export", reg::short_name(*depth[0].first));
  RecordProperty("deepest_bytes", std::to_string(depth[0].second.bytes));
  for (auto& [e, d] : depth)
    EXPECT_LE(d.bytes, kStackBound) << reg::short_name(*e) << " needs " << d.bytes << " bytes (" << d.how << ")";
}

// The measurement itself: a function that writes 3000 bytes below its return
// address is seen to need them.
extern "C" void qarn_deep_writer();
asm(R"(
    .text
qarn_deep_writer:
    movb $0, -3000(%rsp)
    ret
)");

TEST(Stack, MeasurementSeesADeepWrite) {
  qa::Stack stack(1 << 20, 64 * 1024);
  qa::RegBlock in = qa::random_block(9), out{};
  stack.call(reinterpret_cast<const void*>(&qarn_deep_writer), in, out);
  EXPECT_EQ(stack.deepest(), 3008u);  // the return address's 8 bytes, then 3000 more, to 16 bytes
}

}  // namespace
