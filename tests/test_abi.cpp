// Register-level tests of every present export, driven by the registry: each call
// goes through qarn_regcall with random garbage in every register and unused lane.
//
// For each export: the live lanes equal those of its width-1 sibling lane by lane
// (so arguments are read from, and results written to, the right registers, and no
// lane leaks into another); ymm6-ymm15 (all 256 bits; the low 128 for the
// by-reference form), rbx, rbp, rdi, rsi, r12-r15 and MXCSR come back unchanged;
// rsp is balanced; nothing above the home area is written, and register-form
// exports leave the home area itself alone (a System V caller, such as a C program
// calling through the header, gives none); pointer stores write
// exactly the storage of the width.  Every check runs once on ordinary operands and
// once with special operands (NaN, infinities, huge and tiny values) in rotating
// lanes, which sends lanes through the fallback path.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "support/invoke.h"
#include "support/rng.h"

#ifdef _WIN32
#include <windows.h>
#endif

using namespace qarn;
namespace qa = qarn::abi;
using qarn::abi::Lanes;

namespace {

qa::Invoker& invoker() {
  static qa::Invoker inv(qa::library_path());
  return inv;
}

uint64_t next(qarn::test::Rng& s) { return s.next(); }

bool is_int(char k) { return std::strchr("iulqc", k) != nullptr; }

// An ordinary operand of kind k for export e.
uint64_t ordinary(const reg::Export& e, char k, qarn::test::Rng& s) {
  double u = double(next(s) >> 11) * 0x1p-53;
  if (is_int(k)) return 1 + next(s) % 8;
  double lo = e.lo, hi = e.hi;
  if (k == 'F' || k == 'D') lo = -1000, hi = 1000;
  double v = lo + (hi - lo) * u;
  bool single = k == 'F' || (k == 'f' && e.prec == 'f');
  return single ? qa::bits_of(float(v)) : qa::bits_of(v);
}

// Special operands, as float or double patterns.
uint64_t special(const reg::Export& e, char k, qarn::test::Rng& s) {
  bool single = k == 'F' || (k == 'f' && e.prec == 'f');
  if (is_int(k)) {
    const uint64_t ints[] = {0, 1, 0xFFFFFFFFull, 0x80000000ull, 0x7FFFFFFFull};
    return ints[next(s) % 5];
  }
  const double d[] = {NAN, -NAN, INFINITY, -INFINITY, 1e300, -1e300, 3e38, -3e38, 4e-320, 1e-40, 0.0, -0.0};
  double v = d[next(s) % 12];
  if (single) {
    if (std::isnan(v)) return !std::signbit(v) ? 0x7FC12345u : 0xFFA00001u;  // quiet / signalling
    return qa::bits_of(float(v));
  }
  if (std::isnan(v)) return std::signbit(v) ? 0xFFF4000000000123ull : 0x7FF8000000000456ull;
  return qa::bits_of(v);
}

std::vector<const reg::Export*> present() {
  std::vector<const reg::Export*> v;
  for (const reg::Export& e : reg::all())
    if (e.present) v.push_back(&e);
  return v;
}

class Abi : public testing::TestWithParam<const reg::Export*> {};

void check_preserved(const reg::Export& e, const qa::Outcome& o) {
  for (int r = 6; r < 16; ++r) {
    size_t n = e.by_ref ? 16 : 32;
    EXPECT_EQ(0, std::memcmp(o.before.ymm[r], o.after.ymm[r], n)) << "ymm" << r << " not preserved";
  }
  for (qa::Gpr g : {qa::RBX, qa::RBP, qa::RDI, qa::RSI, qa::R12, qa::R13, qa::R14, qa::R15})
    EXPECT_EQ(o.before.gpr[g], o.after.gpr[g]) << "general register " << int(g) << " not preserved";
  // Status flags may be raised; the control bits (masks, rounding, DAZ/FTZ) must stay.
  EXPECT_EQ(o.before.mxcsr & ~0x3Fu, o.after.mxcsr & ~0x3Fu) << "MXCSR control bits changed";
  EXPECT_TRUE(o.rsp_balanced) << "rsp not balanced";
  EXPECT_TRUE(o.caller_area_intact) << "wrote the caller's stack above the home area";
  EXPECT_TRUE(o.guards_intact) << "wrote memory beside a result buffer";
  if (e.by_ref) {
    EXPECT_EQ(o.returned, o.buffer) << "rax is not the result buffer";
  } else {
    // A System V caller (a C program, through the header) gives no home area.
    EXPECT_TRUE(o.home_area_intact) << "wrote its home area";
  }
}

void run(const reg::Export& e, bool with_specials, uint64_t seed) {
  qa::Shape sh = qa::shape_of(e);
  const reg::Export* one = reg::sibling(e, 1);
  ASSERT_NE(one, nullptr);
  ASSERT_TRUE(one->present);
  qarn::test::Rng s(seed);
  for (int trial = 0; trial < 6; ++trial) {
    std::vector<Lanes> args(sh.args.size(), Lanes(sh.lanes));
    for (size_t a = 0; a < args.size(); ++a)
      for (int i = 0; i < sh.lanes; ++i) {
        bool odd = with_specials && (i == trial % sh.width || next(s) % 4 == 0);
        args[a][i] = odd ? special(e, sh.args[a], s) : ordinary(e, sh.args[a], s);
      }
    // Lane 3 of width 3 is not part of the value: make it as hostile as possible.
    if (sh.width == 3)
      for (size_t a = 0; a < args.size(); ++a) args[a][3] = special(e, sh.args[a], s);
    qa::Outcome o = invoker().call(e, args, next(s), int(next(s) % 8));
    check_preserved(e, o);
    ASSERT_EQ(o.results.size(), sh.results.size() + sh.ptrs.size());
    for (int i = 0; i < sh.width; ++i) {
      std::vector<Lanes> a1;
      for (auto& l : args) a1.push_back(Lanes{l[i]});
      qa::Outcome r1 = invoker().call(*one, a1, next(s));
      check_preserved(*one, r1);
      for (size_t k = 0; k < o.results.size(); ++k)
        EXPECT_EQ(o.results[k][i], r1.results[k][0])
            << e.name << " result " << k << " lane " << i << " differs from width 1 (arg0 lane 0x"
            << std::hex << args[0][i] << ")";
    }
  }
}

TEST_P(Abi, OrdinaryOperands) { run(*GetParam(), false, 11); }
TEST_P(Abi, SpecialOperands) { run(*GetParam(), true, 29); }

// Garbage in the registers and unused lanes never reaches the live lanes.
TEST_P(Abi, UnusedLanesIgnored) {
  const reg::Export& e = *GetParam();
  qa::Shape sh = qa::shape_of(e);
  qarn::test::Rng s(5);
  std::vector<Lanes> args(sh.args.size(), Lanes(sh.lanes));
  for (size_t a = 0; a < args.size(); ++a)
    for (int i = 0; i < sh.lanes; ++i) args[a][i] = ordinary(e, sh.args[a], s);
  qa::Outcome base = invoker().call(e, args, 1);
  for (int g = 2; g < 8; ++g) {
    std::vector<Lanes> other = args;
    if (sh.width == 3)
      for (auto& l : other) l[3] = special(e, sh.args[0], s);
    qa::Outcome o = invoker().call(e, other, g * 7919);
    for (size_t k = 0; k < base.results.size(); ++k)
      for (int i = 0; i < sh.width; ++i) EXPECT_EQ(base.results[k][i], o.results[k][i]) << "lane " << i;
  }
}

std::string param_name(const testing::TestParamInfo<const reg::Export*>& p) {
  return qarn::reg::short_name(*p.param);
}

INSTANTIATE_TEST_SUITE_P(Registry, Abi, testing::ValuesIn(present()), param_name);

// Second names are the same code as the export they name (one address).
TEST(Exports, SecondNamesShareTheirBody) {
  int checked = 0;
  for (const reg::Export& e : reg::all()) {
    if (!e.present || !e.body) continue;
    const reg::Export* body = reg::find(e.body);
    ASSERT_TRUE(body && body->present) << e.name;
    EXPECT_EQ(invoker().address(e), invoker().address(*body)) << e.name << " is not " << e.body;
    ++checked;
  }
  for (const reg::Export& e : reg::all())
    if (e.present && e.width == 3) {
      EXPECT_EQ(e.body, nullptr) << e.name << ": width 3 keeps its own code";
    }
  RecordProperty("second_names", checked);
}

// The names the library exports: its dynamic symbols (Linux), or the export
// table of the loaded DLL (Windows).
std::vector<std::string> exported_names() {
  std::vector<std::string> names;
#ifdef _WIN32
  invoker();
  auto* base = reinterpret_cast<const uint8_t*>(GetModuleHandleA(qa::library_path()));
  if (!base) return names;
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  auto* ex = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  auto* rva = reinterpret_cast<const uint32_t*>(base + ex->AddressOfNames);
  for (DWORD i = 0; i < ex->NumberOfNames; ++i) names.emplace_back(reinterpret_cast<const char*>(base + rva[i]));
  // An address without a name would be an export by ordinal only.
  for (DWORD i = ex->NumberOfNames; i < ex->NumberOfFunctions; ++i) names.emplace_back("#ordinal");
#else
  FILE* p = popen((std::string("nm -D --defined-only ") + qa::library_path()).c_str(), "r");
  if (!p) return names;
  char line[512];
  while (std::fgets(line, sizeof line, p)) {
    std::string l(line);
    auto sp = l.rfind(' ');
    std::string sym = l.substr(sp + 1, l.size() - sp - 2);
    if (l[sp - 1] == 'w' || l[sp - 1] == 'v' || sym.empty()) continue;
    names.push_back(sym);
  }
  pclose(p);
#endif
  return names;
}

// The library exports exactly the present registry names, and nothing else.
TEST(Exports, SymbolTableMatchesRegistry) {
  for (const reg::Export& e : reg::all()) {
    bool found = invoker().address(e) != nullptr;
    EXPECT_EQ(found, e.present) << e.name;
  }
  int ours = 0;
  for (const std::string& sym : exported_names()) {
    const reg::Export* e = reg::find(sym);
    EXPECT_TRUE(e && e->present) << "unexpected exported symbol " << sym;
    ++ours;
  }
  int want = 0;
  for (const reg::Export& e : reg::all()) want += e.present;
  EXPECT_EQ(ours, want);
}

}  // namespace

// The harness itself must see the faults it is there to catch.
extern "C" void qarn_bad_upper_ymm9();
extern "C" void qarn_bad_caller_area();
extern "C" void qarn_bad_rsi();
extern "C" void qarn_bad_home_area();
extern "C" void qarn_bad_aligned_spill();
asm(R"(
    .text
qarn_bad_upper_ymm9:
    vinsertf128 $1, %xmm0, %ymm9, %ymm9
    ret
qarn_bad_caller_area:
    mov %rax, 40(%rsp)
    ret
qarn_bad_home_area:
    mov %rax, 8(%rsp)
    ret
qarn_bad_rsi:
    xor %esi, %esi
    ret
qarn_bad_aligned_spill:
    sub $40, %rsp
    vmovaps %ymm0, (%rsp)
    add $40, %rsp
    ret
)");

namespace {
TEST(Harness, SeesClobberedUpperHalf) {
  qa::Stack st;
  qa::RegBlock in = qa::random_block(3), out{};
  st.call(reinterpret_cast<const void*>(&qarn_bad_upper_ymm9), in, out);
  EXPECT_EQ(0, std::memcmp(in.ymm[9], out.ymm[9], 16));
  EXPECT_NE(0, std::memcmp(in.ymm[9] + 16, out.ymm[9] + 16, 16));
  EXPECT_TRUE(st.caller_area_intact());
  EXPECT_TRUE(st.rsp_balanced(out));
}
TEST(Harness, SeesCallerAreaWrite) {
  qa::Stack st;
  qa::RegBlock in = qa::random_block(4), out{};
  st.call(reinterpret_cast<const void*>(&qarn_bad_caller_area), in, out);
  EXPECT_FALSE(st.caller_area_intact());
  EXPECT_TRUE(st.home_area_intact());
}
TEST(Harness, SeesHomeAreaWrite) {
  qa::Stack st;
  qa::RegBlock in = qa::random_block(6), out{};
  st.call(reinterpret_cast<const void*>(&qarn_bad_home_area), in, out);
  EXPECT_FALSE(st.home_area_intact());
  EXPECT_TRUE(st.caller_area_intact());
}
TEST(Harness, SeesClobberedGeneralRegister) {
  qa::Stack st;
  qa::RegBlock in = qa::random_block(5), out{};
  st.call(reinterpret_cast<const void*>(&qarn_bad_rsi), in, out);
  EXPECT_EQ(out.gpr[qa::RSI], 0u);
  EXPECT_EQ(out.gpr[qa::RDI], in.gpr[qa::RDI]);
}
}  // namespace
