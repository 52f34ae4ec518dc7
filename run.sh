#!/usr/bin/env bash
# One entry point for a fresh Debian machine:
#   ./run.sh report   install what is missing, build, print a short report of the library
#   ./run.sh test     install what is missing, build, run the tests
#   ./run.sh sanitize the same suite with ASan and UBSan, in build-san (opt-in, slow)
#   ./run.sh fuzz [S] the fuzzers of the sanitizer build, S seconds each (opt-in)
set -euo pipefail
cd "$(dirname "$0")"
BUILD=${QARN_BUILD:-build}
PACKAGES="g++ cmake ninja-build python3 python3-mpmath python3-matplotlib libclang-rt-14-dev libmpfr-dev libgmp-dev libgtest-dev libbenchmark-dev libsleef-dev binutils clang pkg-config"
# PoCL's CPU device, the OpenCL headers and loader, and LLVM 15's tools to rewrite
# PoCL's kernel library (PoCL 3.1 is built on LLVM 15).
POCL_PACKAGES="pocl-opencl-icd ocl-icd-opencl-dev clinfo llvm-15 clang-15"
# The Windows DLL: its cross compiler, and Wine to run its tests (without the
# packages Wine only recommends: fonts, Mono, Gecko).
LEAN_PACKAGES="g++-mingw-w64-x86-64-posix wine64"

missing_of() {
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

install_missing() {
  local missing lean sudo=""
  missing=$(missing_of $PACKAGES $POCL_PACKAGES)
  lean=$(missing_of $LEAN_PACKAGES)
  [ -n "$missing$lean" ] || return 0
  echo "== installing: $(echo $missing $lean)"
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  [ -z "$missing" ] || DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing
  [ -z "$lean" ] || DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $lean
}

# The build's output goes to a log, shown only when the build fails.
build() {
  mkdir -p "$BUILD"
  local log="$BUILD/build.log"
  echo "== building (output in $log)"
  if ! { cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release && ninja -C "$BUILD"; } >"$log" 2>&1; then
    tail -n 80 "$log"
    echo "== the build failed; the whole output is in $log" >&2
    exit 1
  fi
}

# The whole suite: a line per test goes to $BUILD/test.log; the terminal shows a
# running count, every failure with its output, the summary and why tests were skipped.
run_tests() {
  local status tty=0
  [ -t 1 ] && tty=1
  set +e
  (cd "$BUILD" && ctest -j2 --output-on-failure) 2>&1 | tee "$BUILD/test.log" | awk -v tty=$tty '
    /^ *Start +[0-9]+: / { next }
    /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: .*(Passed|\*\*\*Skipped) +[0-9.]+ sec$/ {
      if (tty) { split($1, a, "/"); printf "\r%d of %d tests run", a[1], a[2]; fflush() }
      next
    }
    /^The following tests did not run:/ { hide = 1; next }
    hide && /^\t/ { next }
    { hide = 0; if (tty) printf "\r\033[K"; print; fflush() }'
  status=${PIPESTATUS[0]}
  set -e
  echo "(the line of every test: $BUILD/test.log)"
  skip_reasons
  return "$status"
}

# Why each skipped test was skipped: the message after GTEST_SKIP() in the tests'
# output, one line per reason with how many tests gave it.
skip_reasons() {
  local log="$BUILD/Testing/Temporary/LastTest.log"
  [ -f "$log" ] || return 0
  awk '
    /^[0-9]+\/[0-9]+ Test: / { sub(/^[0-9]+\/[0-9]+ Test: /, ""); name = $0; next }
    /: Skipped$/ { grab = 1; why = ""; next }
    grab && /^\[  SKIPPED \]/ {
      grab = 0
      if (why == "") why = "(no reason given)"
      if (!(why in n)) order[++k] = why
      n[why]++
      if (n[why] <= 2) ex[why] = ex[why] (n[why] > 1 ? ", " : "") name
      next
    }
    grab && NF { why = why (why == "" ? "" : " ") $0 }
    END {
      if (k) print "\n== skipped tests and why"
      for (i = 1; i <= k; i++) {
        w = order[i]
        printf "  %d skipped: %s (%s%s)\n", n[w], w, ex[w], (n[w] > 2 ? ", ..." : "")
      }
    }' "$log"
}

report() {
  local q="$BUILD/tools/qarn" raw="$BUILD/report/raw" py=python3
  mkdir -p "$raw"
  echo
  echo "== exports present"
  "$q" list | grep -E '^[a-z0-9]+ +[0-9]+ of +[0-9]+ present$' | awk '$2 > 0' || true
  "$q" list | tail -n 1
  echo
  echo "== a worked call: __ocl_qarn_e9_expf8 on eight floats in ymm0 (NaN and -100 go through the lane fallback)"
  "$q" eval expf8 0 1 -1 10 -100 88.7228317 nan -inf
  echo
  echo "== accuracy against MPFR (worst error found in ulp)"
  for e in expf8 expf8_native exp4 exp24 exp2f8 exp108 exp10f8_native logf8 log4 expm1f8; do
    "$q" ulp "$e" -n 40000 || true
  done
  echo
  echo "== error across the domain, per variant (for the page; worst error per slice)"
  : > "$raw/profiles.txt"
  for f in ${QARN_REPORT_FAMILIES:-exp exp2 exp10 expm1 log log2 log10 log1p sqrt rsqrt cbrt sin cos tan sinpi asin acos atan sinh cosh tanh asinh acosh atanh erf erfc}; do
    for e in ${f}f8 ${f}f8_native ${f}f8_half ${f}4 ${f}4_native; do
      "$q" ulp "$e" -n "${QARN_REPORT_SAMPLES:-20000}" --bins 48 >> "$raw/profiles.txt" 2>/dev/null || true
    done
  done
  grep -E '^(PASS|FAIL)' "$raw/profiles.txt" | cut -c 1-110 || true
  echo
  echo "== speed per element against SLEEF, libm and libmvec"
  "$BUILD/bench/qarn_bench" --quick \
    --benchmark_filter="^(qarn/(${QARN_REPORT_SPEED:-exp|exp2|log|log2|sin|cos|tan|atan|pow|sqrt|cbrt|tanh|erf|fma})f?(1|4|8|16)(_native)?|sleef/.*|libm/.*|libmvec/.*)\$" \
    2>/dev/null | sed -n '/^Time per element/,$p' | tee "$raw/speed.txt" || echo "(benchmark not built)"
  echo
  echo "== OpenCL C kernels compiled by clang, on the library and on SLEEF (time per work-item)"
  if [ -x "$BUILD/kernels/qarn_kernels" ]; then
    { "$BUILD/kernels/qarn_kernels" || [ $? -eq 77 ]; } | tee "$raw/kernels.txt"
  else
    echo "(not built: clang or SLEEF missing)" | tee "$raw/kernels.txt"
  fi
  echo
  echo "== the same kernels built by PoCL at run time: its own built-ins against the library's"
  if [ -x "$BUILD/pocl/qarn_pocl" ]; then
    { "$BUILD/pocl/qarn_pocl" || [ $? -eq 77 ]; } | tee "$raw/pocl.txt"
  else
    echo "(not built: the OpenCL headers, clang or SLEEF missing)" | tee "$raw/pocl.txt"
  fi
  echo
  echo "== even speed over the domain: slowest over fastest slice (default variants, float 8 and double 4)"
  "$BUILD/bench/qarn_bench" --slices --rounds=3 --filter="${QARN_REPORT_SLICES:-^[a-z0-9]+(f8|4)\$}" > "$raw/slices.txt" 2>&1 || true
  grep -E 'over 2|largest ratio|slice sets timed' "$raw/slices.txt" || true
  echo
  # The page: Debian's matplotlib lives with the system's python3.
  /usr/bin/python3 -c 'import matplotlib' 2>/dev/null && py=/usr/bin/python3
  "$py" tools/report_page.py "$raw" "$BUILD/report/index.html" || echo "(no page: matplotlib missing)"
}

# The sanitizer build: ASan and UBSan on everything but the kernels, in its own
# folder, and the suite under it (the DLL and its Wine tests are left out).
sanitize() {
  local b="${QARN_SAN_BUILD:-build-san}" log start supp
  mkdir -p "$b"
  log="$b/build.log"
  echo "== building with AddressSanitizer and UndefinedBehaviorSanitizer (output in $log)"
  if ! { cmake -S . -B "$b" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQARN_SANITIZE=ON -DQARN_WINDOWS=OFF &&
         ninja -C "$b"; } >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "== the sanitizer build failed; the whole output is in $log" >&2
    exit 1
  fi
  start=$(date +%s)
  supp="$PWD/tests/sanitize/lsan.supp"  # leaks PoCL and LLVM keep until exit
  echo "== the suite under the sanitizers (every finding stops its test)"
  set +e
  (cd "$b" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
     LSAN_OPTIONS=suppressions="$supp":print_suppressions=0 \
     ctest -j2 --output-on-failure ${QARN_SAN_TESTS:+-R "$QARN_SAN_TESTS"}) >"$b/test.log" 2>&1
  local status=$?
  set -e
  grep -E "tests passed|tests failed|^ *[0-9]+ - |ERROR: (Address|Leak)Sanitizer|runtime error" "$b/test.log" | sort | uniq -c | sort -rn | head -40
  echo "(the whole run: $b/test.log, $(( $(date +%s) - start )) s)"
  return "$status"
}

# The fuzzers of the sanitizer build, each for a bounded time (seconds, default 60):
# the command-line notation of values, and the lane fallbacks through the exports.
fuzz() {
  local b="${QARN_SAN_BUILD:-build-san}" secs="${1:-60}" f status=0
  for f in fuzz_cli fuzz_lanes; do
    if [ ! -x "$b/$f" ]; then
      echo "== $f is not built: run ./run.sh sanitize first (it needs libclang-rt-14-dev)" >&2
      return 1
    fi
    mkdir -p "$b/fuzz/$f"
    echo "== $f for $secs s (corpus in $b/fuzz/$f)"
    if (cd "$b/fuzz" && ASAN_OPTIONS=detect_leaks=0 "../$f" -max_total_time="$secs" -print_final_stats=1 "$f") \
         >"$b/fuzz/$f.log" 2>&1; then
      grep -E "^stat::(number_of_executed_units|new_units_added)|^Done" "$b/fuzz/$f.log" || true
    else
      status=1
      grep -E "ERROR|runtime error|deadly|Test unit written" "$b/fuzz/$f.log" | head -5
      echo "== $f found a fault: $b/fuzz/$f.log" >&2
    fi
  done
  return "$status"
}

case "${1:-}" in
  report) install_missing; build; report ;;
  test) install_missing; build; run_tests ;;
  sanitize) install_missing; sanitize ;;
  fuzz) fuzz "${2:-60}" ;;
  *) echo "usage: $0 report|test|sanitize|fuzz [SECONDS]" >&2; exit 2 ;;
esac
