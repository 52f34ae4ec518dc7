// Command-line numbers and progress (see cli.h for the notation).
#include "cli.h"

#include <unistd.h>

#include <bit>
#include <cctype>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qarn::cli {

namespace {

std::string quote(std::string_view s) { return "'" + std::string(s) + "'"; }

// A numeral as written: sign, digits before and after the point, exponent (decimal
// 'e', or binary 'p' for hex), and how many characters it took.
struct Numeral {
  bool neg = false, hex = false, has_exp = false;
  std::string_view whole, frac;
  long exp = 0;  // clamped to +-1e6: far outside every format, still no overflow
  size_t end = 0;
};

bool digit(char c, bool hex) {
  return hex ? std::isxdigit(static_cast<unsigned char>(c)) : std::isdigit(static_cast<unsigned char>(c));
}

Numeral lex(std::string_view s) {
  if (s.empty()) throw BadInput("empty value");
  Numeral n;
  size_t i = 0;
  if (s[i] == '+' || s[i] == '-') n.neg = s[i++] == '-';
  if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) n.hex = true, i += 2;
  size_t a = i;
  while (i < s.size() && digit(s[i], n.hex)) ++i;
  n.whole = s.substr(a, i - a);
  if (i < s.size() && s[i] == '.') {
    a = ++i;
    while (i < s.size() && digit(s[i], n.hex)) ++i;
    n.frac = s.substr(a, i - a);
  }
  if (n.whole.empty() && n.frac.empty())
    throw BadInput(n.hex ? quote(s) + ": no hex digits after 0x" : quote(s) + " is not a number");
  if (i < s.size() && std::tolower(static_cast<unsigned char>(s[i])) == (n.hex ? 'p' : 'e')) {
    char letter = s[i++];
    bool eneg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) eneg = s[i++] == '-';
    a = i;
    for (; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i)
      if (n.exp < 1000000) n.exp = n.exp * 10 + (s[i] - '0');
    if (i == a) throw BadInput(quote(s) + ": the exponent after '" + letter + "' has no digits");
    if (eneg) n.exp = -n.exp;
    n.has_exp = true;
  }
  n.end = i;
  if (i < s.size()) {
    std::string rest(s.substr(i));
    std::string msg = quote(s) + ": unexpected '" + rest + "' after '" + std::string(s.substr(0, i)) + "'";
    if (rest[0] == ',') msg += " (the decimal point is '.')";
    throw BadInput(msg);
  }
  return n;
}

int hexval(char c) { return std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10; }

// The magnitude of a whole number, or `big` when it exceeds 2^64 - 1.
struct Whole {
  bool neg = false, big = false;
  uint64_t mag = 0;
};

Whole whole_of(std::string_view s, const Numeral& n) {
  Whole w;
  w.neg = n.neg;
  std::string d;
  long e = 0;
  if (n.hex) {
    if (!n.frac.empty() || n.has_exp || s.find('.') != s.npos)
      throw BadInput(quote(s) + " is not a whole number (a hex integer has no point or exponent)");
    d = std::string(n.whole);
  } else {
    d = std::string(n.whole) + std::string(n.frac);
    e = n.exp - long(n.frac.size());
  }
  size_t nz = d.find_first_not_of('0');
  if (nz == d.npos) return w;  // zero
  d.erase(0, nz);
  if (n.hex) {
    if (d.size() > 16) w.big = true;
    else for (char c : d) w.mag = w.mag * 16 + uint64_t(hexval(c));
    return w;
  }
  while (d.back() == '0') d.pop_back(), ++e;
  if (e < 0) throw BadInput(quote(s) + " is not a whole number");
  if (long(d.size()) + e > 20) {
    w.big = true;
    return w;
  }
  unsigned __int128 v = 0;
  for (char c : d) v = v * 10 + unsigned(c - '0');
  for (long k = 0; k < e; ++k) v *= 10;
  if (v > UINT64_MAX) w.big = true;
  else w.mag = uint64_t(v);
  return w;
}

int lane_bits(Lane t) { return t == Lane::f64 || t == Lane::i64 || t == Lane::u64 ? 64 : 32; }
uint64_t lane_mask(Lane t) { return lane_bits(t) == 64 ? ~0ull : 0xFFFFFFFFull; }

std::string hint(Lane t) {
  if (is_floating(t))
    return std::string("; a ") + lane_name(t) + " is written like 1.5, -2e-3, 0x1.8p+3, inf, nan, nan:0x1, snan or bits:" +
           (t == Lane::f32 ? "0x3fc00000" : "0x3ff8000000000000");
  return std::string("; an integer is written like 42, -7, 0x2a, 1e6 or bits:0xffffffff");
}

uint64_t parse_bits(std::string_view s, std::string_view digits, Lane t) {
  if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits.remove_prefix(2);
  if (digits.empty()) throw BadInput(quote(s) + ": no hex digits after bits:");
  for (char c : digits)
    if (!std::isxdigit(static_cast<unsigned char>(c)))
      throw BadInput(quote(s) + ": a bit pattern is hex digits only (bits:0x3f800000)");
  size_t nz = digits.find_first_not_of('0');
  digits.remove_prefix(nz == digits.npos ? digits.size() : nz);
  uint64_t v = 0;
  bool wide = digits.size() > 16;
  if (!wide)
    for (char c : digits) v = v * 16 + uint64_t(hexval(c));
  if (wide || (v & ~lane_mask(t)))
    throw BadInput(quote(s) + " has more bits than a " + std::to_string(lane_bits(t)) + "-bit " + lane_name(t) +
                   " lane");
  return v;
}

uint64_t integer_lane(std::string_view s, Lane t) {
  Numeral n;
  Whole w;
  try {
    n = lex(s);
    w = whole_of(s, n);
  } catch (const BadInput& e) {
    throw BadInput(e.what() + hint(t));
  }
  const int b = lane_bits(t);
  const bool sgn = t == Lane::i32 || t == Lane::i64;
  const uint64_t max = sgn ? (1ull << (b - 1)) - 1 : lane_mask(t);
  bool ok = !w.big && (w.neg ? (w.mag == 0 || (sgn && w.mag <= max + 1)) : w.mag <= max);
  if (!ok) {
    char range[96];
    if (sgn) std::snprintf(range, sizeof range, "%" PRId64 " to %" PRIu64, -int64_t(max) - 1, max);
    else std::snprintf(range, sizeof range, "0 to %" PRIu64, max);
    std::string msg = quote(s) + " is out of range for a " + std::to_string(b) + "-bit " + lane_name(t) +
                      " lane (" + range + ")";
    if (n.hex && !w.neg && !w.big && w.mag <= lane_mask(t)) msg += "; for the bit pattern write bits:" + std::string(s);
    throw BadInput(msg);
  }
  return (w.neg ? 0 - w.mag : w.mag) & lane_mask(t);
}

// floating lanes -----------------------------------------------------------------

struct Format {
  int mant;  // stored mantissa bits
  uint64_t sign, expo, quiet;
};
Format format_of(Lane t) {
  if (t == Lane::f64) return {52, 1ull << 63, 0x7FFull << 52, 1ull << 51};
  return {23, 1ull << 31, 0xFFull << 23, 1ull << 22};
}

uint64_t nan_lane(std::string_view s, std::string_view rest, bool signalling, uint64_t sign, Lane t) {
  const Format f = format_of(t);
  uint64_t payload = signalling ? 1 : 0;
  if (!rest.empty()) {
    if (rest[0] != ':')
      throw BadInput(quote(s) + ": unexpected '" + std::string(rest) + "' (a NaN payload is written nan:0x123)");
    std::string_view p = rest.substr(1);
    if (p.empty()) throw BadInput(quote(s) + ": no payload after ':'");
    Numeral n;
    Whole w;
    try {
      n = lex(p);
      w = whole_of(p, n);
    } catch (const BadInput& e) {
      throw BadInput(quote(s) + ": the payload " + e.what());
    }
    const uint64_t max = f.quiet - 1;
    if (w.neg && w.mag) throw BadInput(quote(s) + ": a NaN payload is not negative");
    if (w.big || w.mag > max) {
      char m[32];
      std::snprintf(m, sizeof m, "0x%" PRIx64, max);
      throw BadInput(quote(s) + ": the payload does not fit a " + lane_name(t) + " NaN (at most " + m +
                     ", the bits below the quiet bit)");
    }
    payload = w.mag;
  }
  if (signalling && payload == 0)
    throw BadInput(quote(s) + ": a signalling NaN needs a nonzero payload (with payload 0 it is infinity)");
  return sign | f.expo | (signalling ? 0 : f.quiet) | payload;
}

uint64_t floating_lane(std::string_view s, Lane t) {
  const Format f = format_of(t);
  const bool dbl = t == Lane::f64;
  size_t i = !s.empty() && (s[0] == '+' || s[0] == '-') ? 1 : 0;
  const uint64_t sign = i && s[0] == '-' ? f.sign : 0;
  std::string w(s.substr(i));
  for (char& c : w) c = char(std::tolower(static_cast<unsigned char>(c)));
  if (w == "inf" || w == "infinity") return sign | f.expo;
  if (w.starts_with("nan")) return nan_lane(s, std::string_view(s).substr(i + 3), false, sign, t);
  if (w.starts_with("snan")) return nan_lane(s, std::string_view(s).substr(i + 4), true, sign, t);

  Numeral n;
  try {
    n = lex(s);
  } catch (const BadInput& e) {
    throw BadInput(e.what() + hint(t));
  }
  const char* name = lane_name(t);
  const char* largest = dbl ? "1.7976931348623157e+308" : "3.40282347e+38";
  const char* smallest = dbl ? "4.9406564584124654e-324" : "1.40129846e-45";
  if (!n.hex) {
    std::string c(s);
    double v = dbl ? std::strtod(c.c_str(), nullptr) : double(std::strtof(c.c_str(), nullptr));
    if (std::isinf(v))
      throw BadInput(quote(s) + " is beyond the largest " + name + " (" + largest + "); infinity is written inf");
    bool nonzero = (std::string(n.whole) + std::string(n.frac)).find_first_not_of('0') != std::string::npos;
    if (v == 0 && nonzero)
      throw BadInput(quote(s) + " is below the smallest " + name + " (" + smallest + ") and would read as 0");
    return dbl ? std::bit_cast<uint64_t>(v) : std::bit_cast<uint32_t>(float(v));
  }
  if (!n.has_exp) {
    std::string msg = quote(s) + ": a hex float needs its binary exponent: write " + std::string(s) + "p0 for the number";
    if (!i) {  // unsigned: it may have been meant as a pattern
      try {
        parse_bits(s, s, t);
        msg += " or bits:" + std::string(s) + " for the raw pattern";
      } catch (const BadInput&) {
        msg += " (as a raw pattern it has more bits than a " + std::to_string(lane_bits(t)) + "-bit lane)";
      }
    }
    throw BadInput(msg);
  }
  // The exact value: at most 16 significant hex digits fit a 64-bit mantissa; a
  // nonzero digit beyond them cannot be exact in either format.
  uint64_t m = 0;
  long e2 = n.exp;
  int used = 0;
  bool lost = false;
  for (char c : n.whole) {
    int v = hexval(c);
    if (!used && !v) continue;
    if (used < 16) m = m * 16 + uint64_t(v), ++used;
    else e2 += 4, lost |= v != 0;
  }
  for (char c : n.frac) {
    int v = hexval(c);
    if (!used && !v) {
      e2 -= 4;
      continue;
    }
    if (used < 16) m = m * 16 + uint64_t(v), ++used, e2 -= 4;
    else lost |= v != 0;
  }
  long double x = std::ldexp((long double)m, int(e2));
  long double lim = dbl ? (long double)0x1.fffffffffffffp1023 : (long double)0x1.fffffep127f;
  if (m && (std::isinf(x) || x > lim))
    throw BadInput(quote(s) + " is beyond the largest " + name + " (" + largest + "); infinity is written inf");
  if (m && x == 0)
    throw BadInput(quote(s) + " is below the smallest " + name + " (" + smallest + ") and would read as 0");
  long double rounded = dbl ? (long double)(double)x : (long double)(float)x;
  if (lost || rounded != x) {
    char near[48];
    std::snprintf(near, sizeof near, "%a", double(rounded));
    throw BadInput(quote(s) + " is not exactly a " + name + " (nearest: " + (n.neg ? "-" : "") + near +
                   "); hex floats must be exact");
  }
  double v = n.neg ? -double(x) : double(x);
  return dbl ? std::bit_cast<uint64_t>(v) : std::bit_cast<uint32_t>(float(v));
}

}  // namespace

const char kValueNotation[] =
    "  floating lanes  1.5  -2e-3  .5          decimal, rounded to the nearest float or double\n"
    "                  0x1.8p+3  -0x1p-126     hex float as %a prints it: the exponent p is required,\n"
    "                                          and the value must be exact in the lane\n"
    "                  inf  -inf  nan  -nan    infinities; the default quiet NaN\n"
    "                  nan:0x123  -snan:0x1    quiet or signalling NaN with that payload (snan = snan:0x1)\n"
    "  integer lanes   42  -7  0x2a  -0x2a     whole numbers in the lane's range; 1e6 is 1000000\n"
    "  any lane        bits:0x3fc00000         the raw bit pattern, at most as wide as the lane\n"
    "  A hex numeral is always a number: 0x2a is 42 and -0x2a is -42.  On floating lanes a hex\n"
    "  numeral without p is refused: write 0x10p0 for sixteen or bits:0x10 for the pattern.\n";

const char* lane_name(Lane t) {
  switch (t) {
    case Lane::f32: return "float";
    case Lane::f64: return "double";
    case Lane::i32: return "int";
    case Lane::u32: return "uint";
    case Lane::i64: return "long";
    case Lane::u64: return "ulong";
  }
  return "?";
}

uint64_t parse_lane(std::string_view text, Lane t) {
  if (text.starts_with("bits:")) return parse_bits(text, text.substr(5), t);
  return is_floating(t) ? floating_lane(text, t) : integer_lane(text, t);
}

std::string format_lane(uint64_t b, Lane t) {
  char buf[160];
  b &= lane_mask(t);
  if (!is_floating(t)) {
    int64_t sv = t == Lane::i32 ? int64_t(int32_t(uint32_t(b))) : int64_t(b);
    if (t == Lane::i32 || t == Lane::i64) std::snprintf(buf, sizeof buf, "%-21" PRId64, sv);
    else std::snprintf(buf, sizeof buf, "%-21" PRIu64, b);
  } else {
    const Format f = format_of(t);
    const bool dbl = t == Lane::f64;
    double v = dbl ? std::bit_cast<double>(b) : double(std::bit_cast<float>(uint32_t(b)));
    const char* sg = b & f.sign ? "-" : "";
    if (std::isnan(v)) {
      uint64_t payload = b & (f.quiet - 1);
      if (!(b & f.quiet)) std::snprintf(buf, sizeof buf, "%ssnan:0x%" PRIx64, sg, payload);
      else if (payload) std::snprintf(buf, sizeof buf, "%snan:0x%" PRIx64, sg, payload);
      else std::snprintf(buf, sizeof buf, "%snan", sg);
      std::string s = buf;
      s.resize(dbl ? 50 : 36, ' ');
      std::snprintf(buf, sizeof buf, "%s", s.c_str());
    } else if (std::isinf(v)) {
      std::snprintf(buf, sizeof buf, "%-*s", dbl ? 50 : 36, v < 0 ? "-inf" : "inf");
    } else if (dbl) {
      std::snprintf(buf, sizeof buf, "%-25.17g %-24a", v, v);
    } else {
      std::snprintf(buf, sizeof buf, "%-17.9g %-18a", v, v);
    }
  }
  char bits[32];
  if (lane_bits(t) == 64) std::snprintf(bits, sizeof bits, " bits:0x%016" PRIx64, b);
  else std::snprintf(bits, sizeof bits, " bits:0x%08" PRIx32, uint32_t(b));
  return std::string(buf) + bits;
}

double parse_finite(std::string_view text, Lane t) {
  uint64_t b;
  try {
    b = parse_lane(text, t);
  } catch (const BadInput& e) {
    // A number past the largest finite one: here inf is refused too, so the hint
    // to write it so would only lead to the next refusal.
    std::string m = e.what();
    if (auto at = m.find("; infinity is written inf"); at != std::string::npos) m.erase(at);
    throw BadInput(m);
  }
  double v = t == Lane::f64 ? std::bit_cast<double>(b) : double(std::bit_cast<float>(uint32_t(b)));
  if (!std::isfinite(v)) throw BadInput(quote(text) + " is not a finite number");
  return v;
}

uint64_t parse_count(std::string_view text, std::string_view what, uint64_t lo, uint64_t hi) {
  Whole w;
  try {
    w = whole_of(text, lex(text));
  } catch (const BadInput& e) {
    throw BadInput(std::string(what) + ": " + e.what());
  }
  if (w.big || (w.neg && w.mag) || w.mag < lo || w.mag > hi) {
    char range[80];
    std::snprintf(range, sizeof range, "from %" PRIu64 " to %" PRIu64, lo, hi);
    throw BadInput(std::string(what) + ": " + quote(text) + " is out of range (a whole number " + range + ")");
  }
  return w.mag;
}

// progress -------------------------------------------------------------------------

Progress::Progress(std::string label, uint64_t total)
    : label_(std::move(label)), total_(total), start_(clock::now()), next_(start_ + std::chrono::seconds(2)),
      tty_(isatty(2)) {}

Progress::~Progress() {
  if (shown_ && tty_) std::fprintf(stderr, "\r\033[K");
}

void Progress::update(uint64_t done) {
  clock::time_point now = clock::now();
  if (now < next_) return;
  double spent = std::chrono::duration<double>(now - start_).count();
  double part = total_ ? double(done) / double(total_) : 0;
  char left[48] = "";
  if (part > 0.001) std::snprintf(left, sizeof left, ", about %.0f s left", spent * (1 - part) / part);
  std::fprintf(stderr, "%s%s: %.1f%% (%" PRIu64 " of %" PRIu64 ") after %.0f s%s%s", tty_ ? "\r" : "",
               label_.c_str(), 100 * part, done, total_, spent, left, tty_ ? "\033[K" : "\n");
  std::fflush(stderr);
  shown_ = true;
  next_ = now + (tty_ ? std::chrono::milliseconds(500) : std::chrono::milliseconds(10000));
}

}  // namespace qarn::cli
