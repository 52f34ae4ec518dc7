// qarn_pocl: the kernels of kernels/cl built from source by PoCL at run time, on PoCL's
// own built-ins and on the library, side by side.
//
//   qarn_pocl [--kernel NAME]... [--config f8|d16...]... [--quick] [--no-timing]
//             compare: runs itself once per flavour (PoCL reads its environment once per
//             process) and prints, per kernel, precision and width, the time per
//             work-item of each and the largest error of each against the reference
//   qarn_pocl --check [...]
//             PoCL on the library only: every output element bit for bit against the
//             runner's (qarn_kernels) on the same inputs, the error against the reference
//             within the kernel's tolerance, and every built-in the kernel calls an
//             undefined symbol of PoCL's kernel object (a call into the library)
//             (for width 1 also PoCL on the library with no scalar call widened, and
//             the scalar built-ins the loop vectoriser widened to vector entries)
//   qarn_pocl --check [--scalar] [...]
//             --scalar: the same check on the prefix where no scalar call is widened
//   qarn_pocl --flavour stock|ours|ours-scalar [...]
//             one flavour, a machine-readable line per configuration (used by compare)
//
// Exit status: 1 on a failure, 77 if PoCL (or its CPU device, or the kernel library
// for it) is not there, else 0.
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "session.h"

namespace {

struct Options {
  std::set<std::string> kernels, configs;
  bool quick = false, timing = true;
};

bool selected(const Options& o, const qk::Kernel& k, const qk::Config& c) {
  if (!o.kernels.empty() && !o.kernels.count(k.name)) return false;
  return o.configs.empty() || o.configs.count((c.dbl ? "d" : "f") + std::to_string(c.width));
}

using qk::fmt_err;

// One flavour: "row <kernel> <prec> <width> <items> <ns> <err>" per configuration (and
// "widened <kernel> <prec> <width> <built-in>..." for width 1), or "skip <why>" once.
int flavour(qp::Flavour f, const Options& o) {
  qp::Session s(f, qp::Paths::built());
  if (!s.unavailable().empty()) {
    std::printf("skip %s\n", s.unavailable().c_str());
    return 77;
  }
  std::printf("device %s\n", s.device_name().c_str());
  std::fflush(stdout);
  for (const qk::Kernel& k : qk::kernels())
    for (const qk::Config& c : k.configs) {
      if (!selected(o, k, c)) continue;
      qp::Result r = s.run(k, c, o.quick, o.timing ? (o.quick ? 0.01 : 0.05) : 0);
      if (!r.ran) {
        std::string why = r.why;
        for (char& ch : why)
          if (ch == '\n') ch = ' ';
        std::printf("fail %s %s %d %s\n", k.name.c_str(), c.dbl ? "double" : "float", c.width, why.c_str());
      } else {
        std::printf("row %s %s %d %zu %.4f %.6g\n", k.name.c_str(), c.dbl ? "double" : "float", c.width, r.out.items,
                    r.ns, r.err.worst);
        if (f != qp::Flavour::stock && c.width == 1) {
          std::printf("widened %s %s %d", k.name.c_str(), c.dbl ? "double" : "float", c.width);
          for (auto& w : qp::widened_calls(s.paths(), r.kernel_objects)) {
            std::string x = w;
            for (char& ch : x)
              if (ch == ' ') ch = '~';
            std::printf(" %s", x.c_str());
          }
          std::printf("\n");
        }
      }
      std::fflush(stdout);
    }
  return 0;
}

struct Row {
  size_t items = 0;
  double ns = 0, err = 0;
  bool ran = false;
  std::string why, widened;
};

// Runs this program for one flavour and reads its lines.
int child(const char* self, const char* name, const Options& o, std::map<std::string, Row>& rows, std::string& device,
          std::string& skip) {
  std::string cmd = std::string("'") + self + "' --flavour " + name + (o.quick ? " --quick" : "") +
                    (o.timing ? "" : " --no-timing");
  for (auto& k : o.kernels) cmd += " --kernel " + k;
  for (auto& c : o.configs) cmd += " --config " + c;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return -1;
  char line[8192];
  while (std::fgets(line, sizeof line, p)) {
    std::string l(line);
    if (!l.empty() && l.back() == '\n') l.pop_back();
    std::istringstream ss(l);
    std::string what, kernel, prec;
    int width;
    ss >> what;
    if (what == "skip") skip = l.substr(5);
    else if (what == "device") device = l.substr(7);
    else if (what == "widened") {
      ss >> kernel >> prec >> width;
      Row& r = rows[kernel + " " + prec + " " + std::to_string(width)];
      std::string w;
      while (ss >> w) {
        for (char& ch : w)
          if (ch == '~') ch = ' ';
        r.widened += (r.widened.empty() ? "" : ", ") + w;
      }
      if (r.widened.empty()) r.widened = "none";
    }
    else if (what == "row" || what == "fail") {
      ss >> kernel >> prec >> width;
      Row& r = rows[kernel + " " + prec + " " + std::to_string(width)];
      if (what == "row") {
        ss >> r.items >> r.ns >> r.err;
        r.ran = true;
      } else {
        std::getline(ss, r.why);
      }
    }
  }
  int st = pclose(p);
  if (WIFSIGNALED(st)) return 128 + WTERMSIG(st);
  return WIFEXITED(st) ? WEXITSTATUS(st) : 1;
}

std::string exit_reason(int st) {
  if (st > 128) return std::string("PoCL's process died of ") + strsignal(st - 128);
  return "no result (exit status " + std::to_string(st) + ")";
}

// A process per flavour and configuration: PoCL reads its environment once per
// process, and a crash of one (stock PoCL dies on some) loses no other row.  Width 1
// runs on the library twice: scalar calls widened by the loop vectoriser where it can
// ("ns ours") and never ("unwidened").
int compare(const char* self, const Options& o) {
  std::printf("%-13s %-6s %5s %6s | %10s %10s %10s %7s | %9s %9s\n", "kernel", "prec", "width", "items", "ns stock",
              "ns ours", "unwidened", "speedup", "err stock", "err ours");
  std::printf("%-13s %-6s %5s %6s | %10s %10s %10s %7s | %9s %9s\n", "", "", "", "", "(per item)", "", "", "", "(ulp)",
              "(ulp)");
  int failed = 0;
  std::string device;
  for (const qk::Kernel& k : qk::kernels())
    for (const qk::Config& c : k.configs) {
      if (!selected(o, k, c)) continue;
      Options one = o;
      one.kernels = {k.name};
      one.configs = {(c.dbl ? "d" : "f") + std::to_string(c.width)};
      std::string key = k.name + " " + (c.dbl ? "double" : "float") + " " + std::to_string(c.width);
      std::map<std::string, Row> stock, ours, unwidened;
      std::string skip;
      int a = child(self, "stock", one, stock, device, skip);
      int b = child(self, "ours", one, ours, device, skip);
      if (c.width == 1) child(self, "ours-scalar", one, unwidened, device, skip);
      Row& u = unwidened[key];
      if (a == 77 || b == 77) {
        std::printf("PoCL not run: %s\n", skip.c_str());
        return 77;
      }
      Row &s = stock[key], &q = ours[key];
      if (!s.ran && s.why.empty()) s.why = exit_reason(a);
      if (!q.ran && q.why.empty()) q.why = exit_reason(b);
      char ns_s[32] = "-", ns_q[32] = "-", ns_u[32] = "-", sp[32] = "-";
      if (s.ran && s.ns > 0) std::snprintf(ns_s, sizeof ns_s, "%.2f", s.ns);
      if (q.ran && q.ns > 0) std::snprintf(ns_q, sizeof ns_q, "%.2f", q.ns);
      if (u.ran && u.ns > 0) std::snprintf(ns_u, sizeof ns_u, "%.2f", u.ns);
      if (s.ran && q.ran && s.ns > 0 && q.ns > 0) std::snprintf(sp, sizeof sp, "%.2fx", s.ns / q.ns);
      std::printf("%-13s %-6s %5d %6zu | %10s %10s %10s %7s | %9s %9s\n", k.name.c_str(), c.dbl ? "double" : "float",
                  c.width, q.ran ? q.items : s.items, ns_s, ns_q, ns_u, sp, s.ran ? fmt_err(s.err).c_str() : "-",
                  q.ran ? fmt_err(q.err).c_str() : "-");
      if (!q.widened.empty()) std::printf("      widened: %s\n", q.widened.c_str());
      if (!s.why.empty()) std::printf("      stock: %s\n", s.why.c_str());
      if (!q.why.empty()) std::printf("      ours: %s\n", q.why.c_str());
      if (!q.ran) failed++;
      std::fflush(stdout);
    }
  std::printf("(PoCL's CPU device %s, kernel library for AVX, one thread; errors against the reference;\n"
              " unwidened: width 1 on the library with every scalar call one call per work-item)\n",
              device.c_str());
  return failed ? 1 : 0;
}

int check(const Options& o, bool scalar) {
  qp::Session s(scalar ? qp::Flavour::ours_scalar : qp::Flavour::ours, qp::Paths::built());
  if (!s.unavailable().empty()) {
    std::printf("PoCL not run: %s\n", s.unavailable().c_str());
    return 77;
  }
  int failed = 0;
  for (const qk::Kernel& k : qk::kernels())
    for (const qk::Config& c : k.configs) {
      if (!selected(o, k, c)) continue;
      std::vector<std::string> problems;
      std::string why;
      qk::Buffers want = qp::runner_outputs(s.paths(), k, c, why);
      qp::Result r = s.run(k, c, true, 0);
      if (!r.ran) problems.push_back(r.why);
      if (want.bufs.empty()) problems.push_back(why);
      qp::Reach re;
      if (r.ran && !want.bufs.empty()) {
        for (auto& d : qp::differences(c, r.out, want)) problems.push_back("differs: " + d);
        double tol = c.dbl ? k.tol_d : k.tol_f;
        if (r.err.worst > tol) problems.push_back("error " + fmt_err(r.err.worst) + " ulp over " + fmt_err(tol));
        re = qp::reach(s.paths(), k, c, r.kernel_objects);
        if (!re.why.empty()) problems.push_back(re.why);
        for (auto& m : re.missing) problems.push_back("not a call into the library: " + m);
        for (auto& m : re.kept) problems.push_back("PoCL's own definition kept: " + m);
      }
      std::printf("%-13s %-6s %2d: %s, %zu built-ins called, %zu reach the library, error %s ulp\n",
                  k.name.c_str(), c.dbl ? "double" : "float", c.width, problems.empty() ? "same bits" : "FAIL",
                  re.called.size(), re.reached.size(), fmt_err(r.err.worst).c_str());
      for (auto& p : problems) std::printf("      %s\n", p.c_str());
      if (!re.widenable.empty()) {
        std::string w;
        for (auto& x : re.widened) w += (w.empty() ? "" : ", ") + x;
        std::printf("      widened: %s (of %zu widenable scalar calls)\n", w.empty() ? "none" : w.c_str(),
                    re.widenable.size());
      }
      if (!problems.empty()) failed++;
      std::fflush(stdout);
    }
  return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  std::string fl;
  bool chk = false, scalar = false;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--kernel" && i + 1 < argc) o.kernels.insert(argv[++i]);
    else if (a == "--config" && i + 1 < argc) o.configs.insert(argv[++i]);
    else if (a == "--quick") o.quick = true;
    else if (a == "--no-timing") o.timing = false;
    else if (a == "--check") chk = true;
    else if (a == "--scalar") scalar = true;
    else if (a == "--flavour" && i + 1 < argc) fl = argv[++i];
    else {
      std::fprintf(stderr,
                   "usage: %s [--check [--scalar] | --flavour stock|ours|ours-scalar] [--kernel NAME]... [--config f8|d16...]... [--quick]"
                   " [--no-timing]\n",
                   argv[0]);
      return 2;
    }
  }
  if (chk) return check(o, scalar);
  if (fl == "stock") return flavour(qp::Flavour::stock, o);
  if (fl == "ours") return flavour(qp::Flavour::ours, o);
  if (fl == "ours-scalar") return flavour(qp::Flavour::ours_scalar, o);
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return compare(argv[0], o);
  self[n] = 0;
  return compare(self, o);
}
