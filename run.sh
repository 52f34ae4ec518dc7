#!/usr/bin/env bash
# One entry point for a fresh Debian machine:
#   ./run.sh report   install what is missing, build, print a short report of the library
#   ./run.sh test     install what is missing, build, run the tests
set -euo pipefail
cd "$(dirname "$0")"
BUILD=${QARN_BUILD:-build}
PACKAGES="g++ cmake ninja-build python3 python3-mpmath libmpfr-dev libgmp-dev libgtest-dev libbenchmark-dev libsleef-dev binutils clang pkg-config"
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
  local q="$BUILD/tools/qarn"
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
  echo "== speed per element against SLEEF and libm"
  "$BUILD/bench/qarn_bench" --quick \
    --benchmark_filter='^(qarn/(expf8|exp4|exp2f8|exp24|exp10f8|exp104|logf8|log4|expm1f8|expm14)(_native)?|sleef/.*(exp|log).*|libm/.*)$' \
    2>/dev/null | sed -n '/^Time per element/,$p' || echo "(benchmark not built)"
  echo
  echo "== OpenCL C kernels compiled by clang, on the library and on SLEEF (time per work-item)"
  if [ -x "$BUILD/kernels/qarn_kernels" ]; then
    "$BUILD/kernels/qarn_kernels" || [ $? -eq 77 ]
  else
    echo "(not built: clang or SLEEF missing)"
  fi
  echo
  echo "== the same kernels built by PoCL at run time: its own built-ins against the library's"
  if [ -x "$BUILD/pocl/qarn_pocl" ]; then
    "$BUILD/pocl/qarn_pocl" || [ $? -eq 77 ]
  else
    echo "(not built: the OpenCL headers, clang or SLEEF missing)"
  fi
}

case "${1:-}" in
  report) install_missing; build; report ;;
  test) install_missing; build; run_tests ;;
  *) echo "usage: $0 report|test" >&2; exit 2 ;;
esac
