// The lane fallbacks fuzzed through the exports: any bit patterns, in every lane of
// a wide export and one at a time through width 1, must give the same result bits
// (a wide export's lane never depends on its neighbours, and the scalar fallbacks a
// special lane reaches are the same at every width).  The input picks the export
// and gives the lanes' patterns; the library is the sanitizer build's own, linked
// in, so the fallbacks run instrumented.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "support/invoke.h"
#include "support/registry.h"

namespace qa = qarn::abi;
namespace reg = qarn::reg;

namespace {

// Floating exports of one to three operands and one result, at width 8 (float) and
// 4 (double), with their width-1 siblings.
struct Pair {
  const reg::Export* wide;
  const reg::Export* one;
};
const std::vector<Pair>& pairs() {
  static std::vector<Pair> p = [] {
    std::vector<Pair> v;
    for (const reg::Export& e : reg::all()) {
      std::string_view k(e.kind);
      if (!e.present || e.by_ref || (k != "f:f" && k != "ff:f" && k != "fff:f")) continue;
      if (e.width != (e.prec == 'f' ? 8 : 4)) continue;
      const reg::Export* one = reg::sibling(e, 1);
      if (one && one->present) v.push_back({&e, one});
    }
    return v;
  }();
  return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qa::Invoker inv(nullptr);
  if (size < 2) return 0;
  const Pair& p = pairs()[(data[0] | data[1] << 8) % pairs().size()];
  data += 2, size -= 2;
  qa::Shape sh = qa::shape_of(*p.wide);
  const size_t lb = p.wide->prec == 'f' ? 4 : 8, nargs = sh.args.size();
  std::vector<qa::Lanes> args(nargs, qa::Lanes(sh.lanes, 0));
  for (size_t a = 0; a < nargs; ++a)
    for (int i = 0; i < sh.lanes; ++i) {
      uint64_t bits = 0;
      size_t at = (a * sh.lanes + i) * lb;
      if (at < size) std::memcpy(&bits, data + at, std::min(lb, size - at));
      args[a][i] = bits;
    }
  qa::Outcome wide = inv.call(*p.wide, args, 1);
  for (int i = 0; i < sh.width; ++i) {
    std::vector<qa::Lanes> one(nargs, qa::Lanes(qa::shape_of(*p.one).lanes, 0));
    for (size_t a = 0; a < nargs; ++a) one[a][0] = args[a][i];
    qa::Outcome o = inv.call(*p.one, one, 1);
    if (o.results[0][0] != wide.results[0][i]) __builtin_trap();
    if (!o.caller_area_intact || !o.rsp_balanced || !o.guards_intact) __builtin_trap();
  }
  if (!wide.caller_area_intact || !wide.rsp_balanced || !wide.guards_intact) __builtin_trap();
  return 0;
}
