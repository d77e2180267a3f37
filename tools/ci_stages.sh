#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The checking stages that .ci/run runs after the plain tests, each timed:
#   asan       the test suite (but the large and packaging tests) under ASan + UBSan
#   tsan       the concurrency tests under ThreadSanitizer, building only
#              their programs
#   fuzz       the libFuzzer targets, each for a bounded time, from the
#              committed seeds; any finding fails
#   valgrind   the test suite (but the large and packaging tests) under
#              memcheck, but the thread-count sweeps and the JPEG reader's
#              broken-file tables, which the asan, tsan and fuzz stages
#              cover (the valgrind test preset names them and says why)
#   qemu       the kernel, dlopen and C++ interface tests of build/default
#              under qemu-x86_64 as an AVX2 CPU (Haswell) and as an SSE-only
#              one (Nehalem), each asserting the build the loader chose
#   clang-tidy .clang-tidy over every distinct translation unit built,
#              the tests' without the clang-analyzer family (see
#              tools/run_clang_tidy.py)
#   cppcheck   src/, include/, cli/ and python/native/ (where present) and
#              fuzz/
#   format     clang-format --dry-run -Werror over every tracked source
# Usage: tools/ci_stages.sh [STAGE...]   (no argument: all, in this order)
# Fuzz time per target in seconds: KERNEL_FUZZ_SECONDS (default 90),
# PNG_FUZZ_SECONDS (default 45), JPEG_FUZZ_SECONDS (default 45). The kernel
# fuzzer runs beside the other two, so the stage fuzzes for 90 s. From the
# committed seeds, the kernel fuzzer's edge coverage stops growing after
# about ten thousand executions (a CI machine runs some 33 thousand in
# 90 s), the PNG fuzzer's after a few hundred (a million in 45 s) and the
# JPEG fuzzer's after some thirteen thousand (about 90 thousand in 45 s).
set -uo pipefail
cd "$(dirname "$0")/.."

export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"
KERNEL_FUZZ_SECONDS="${KERNEL_FUZZ_SECONDS:-90}"
PNG_FUZZ_SECONDS="${PNG_FUZZ_SECONDS:-45}"
JPEG_FUZZ_SECONDS="${JPEG_FUZZ_SECONDS:-45}"
CLANG_FORMAT="${CLANG_FORMAT:-clang-format-14}"

# Installs, from Debian's packages, whatever tool the stages need and this
# machine lacks.
ensure_tools() {
  local missing=()
  command -v valgrind >/dev/null || missing+=(valgrind)
  command -v qemu-x86_64 >/dev/null || missing+=(qemu-user)
  command -v cppcheck >/dev/null || missing+=(cppcheck)
  command -v clang-tidy-14 >/dev/null || missing+=(clang-tidy-14)
  command -v "$CLANG_FORMAT" >/dev/null || missing+=(clang-format-14)
  command -v clang++-14 >/dev/null || missing+=(clang-14)
  command -v python3 >/dev/null || missing+=(python3)
  if ! compgen -G "/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null; then
    missing+=(libclang-rt-14-dev)
  fi
  if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
  fi
}

stage_asan() { cmake --workflow --preset asan; }
# The names of the tests labelled concurrency in a build folder.
concurrency_tests() {
  ctest --test-dir "$1" -N -L concurrency | sed -n 's/^ *Test *#[0-9]*: //p' | sort
}

# The tsan build preset builds only the programs of the concurrency tests.
# A test labelled concurrency in a program left off its list would not run
# (an unbuilt program's tests are unknown to ctest, labels and all), so the
# labelled tests must be those of build/default, which builds everything.
stage_tsan() {
  cmake --preset tsan && cmake --build --preset tsan || return 1
  if [[ -f build/default/CTestTestfile.cmake ]]; then
    local missing
    missing=$(comm -23 <(concurrency_tests build/default) <(concurrency_tests build/tsan))
    if [[ -n $missing ]]; then
      echo "tsan: tests labelled concurrency that the tsan build preset does not build:"
      echo "$missing"
      echo "tsan: add their programs to the targets of the tsan build preset"
      return 1
    fi
  else
    echo "tsan: no build/default to compare the concurrency tests with"
  fi
  ctest --preset tsan
}

stage_valgrind() {
  local log=build/valgrind-stage.log
  mkdir -p build
  cmake --workflow --preset valgrind 2>&1 | tee "$log"
  local status=${PIPESTATUS[0]}
  # valgrind's CPU has no AVX-512: its CPUID says so, and the AVX-512
  # routes skip themselves rather than fault on instructions it cannot run.
  echo "valgrind: $(grep -c '(Skipped)' "$log") tests skipped: the instruction sets and the MXCSR settings valgrind does not emulate"
  return "$status"
}

# The test programs of the qemu stage: every route exhaustively, the named
# values, the memory contract and the resolved build (byteblend_tests), the
# library loaded with dlopen, and the C++ interface. Not the large tests, nor
# the tool's and the concurrency tests, which test no instruction set.
QEMU_TEST_PROGRAMS=(byteblend_tests byteblend_dlopen_tests byteblend_cpp_interface_tests)
# And the layers library's: its argument checks and, for one mode, its grid
# of alphas and opacities on every build (the whole of its tables takes
# hours under emulation; natively every build runs them all).
QEMU_LAYERS_FILTER='*ArgumentsTest*:*CompositeAtAGridOfAlphasAndOpacities/screen_*'

# Runs test programs as one emulated CPU model ("host": not emulated), which
# must resolve the exported kernels to `build` and lacks the instruction sets
# in `missing` (a regex, empty for none). Exactly the tests of those sets
# must skip: one that passes there ran code the CPU cannot run.
# Usage: run_as_cpu CPU BUILD MISSING PROGRAM...
run_as_cpu() {
  local cpu=$1 build=$2 missing=$3 program status=0
  shift 3
  local -a emulator=()
  [[ $cpu == host ]] || emulator=(qemu-x86_64 -cpu "$cpu")
  for program in "$@"; do
    local log=build/qemu/$cpu-$program.log start=$SECONDS
    BYTEBLEND_EXPECT_BUILD=$build "${emulator[@]}" \
      "build/default/tests/$program" --gtest_color=no >"$log" 2>&1
    local exit_status=$?
    local ran skipped expected
    ran=$(grep -c '^\[ RUN      \]' "$log")
    skipped=$(sed -n 's/^\[  SKIPPED \] \([^ ]*\) (.*/\1/p' "$log" | sort)
    expected=""
    [[ -n $missing ]] &&
      expected=$(sed -n 's/^\[ RUN      \] //p' "$log" | grep -E "[_/]($missing)\$" | sort)
    if ((exit_status != 0)); then
      tail -n 40 "$log"
      echo "$cpu: $program FAILED (exit status $exit_status); see $log"
      status=1
    elif [[ $skipped != "$expected" ]]; then
      diff <(echo "$expected") <(echo "$skipped") |
        sed -n 's/^</  expected to skip:/p; s/^>/  skipped, not expected:/p'
      echo "$cpu: $program skipped other tests than those of $missing"
      status=1
    else
      echo "$cpu: $program: $ran tests, $(grep -c . <<<"$skipped") skipped" \
        "for lack of ${missing:-nothing}, in $((SECONDS - start)) s"
    fi
  done
  grep -h '^expecting the' build/qemu/"$cpu"-byteblend_tests.log | sed "s/^/$cpu: /"
  return "$status"
}

# The best build this CPU runs, by the kernel's flags rather than by the
# library's own CPUID check.
host_build() {
  local flags
  flags="$(grep -m1 '^flags' /proc/cpuinfo) "
  if [[ $flags =~ \ avx512f\  && $flags =~ \ avx512bw\  && $flags =~ \ avx512vl\  ]]; then
    echo avx512
  elif [[ $flags =~ \ avx2\  && $flags =~ \ fma\  ]]; then
    echo avx2
  else
    echo sse2
  fi
}

# Every qemu test program as one emulated CPU, then the layers library's.
# Usage: run_emulated CPU BUILD MISSING
run_emulated() {
  local status=0
  run_as_cpu "$@" "${QEMU_TEST_PROGRAMS[@]}" || status=1
  GTEST_FILTER=$QEMU_LAYERS_FILTER run_as_cpu "$@" byteblend_layers_tests ||
    status=1
  return "$status"
}

stage_qemu() {
  [[ -f build/default/build.ninja ]] || cmake --preset default || return 1
  cmake --build build/default --target "${QEMU_TEST_PROGRAMS[@]}" \
    byteblend_layers_tests || return 1
  rm -rf build/qemu && mkdir -p build/qemu
  # The two emulated CPUs side by side, one core each.
  run_emulated Haswell avx2 avx512 >build/qemu/Haswell.out 2>&1 &
  local haswell=$!
  run_emulated Nehalem sse2 'avx2|avx512' >build/qemu/Nehalem.out 2>&1
  local status=$?
  wait "$haswell" || status=1
  cat build/qemu/Haswell.out build/qemu/Nehalem.out
  # And here, natively, the build that /proc/cpuinfo calls for.
  local build missing=""
  build=$(host_build)
  case $build in
  avx2) missing=avx512 ;;
  sse2) missing='avx2|avx512' ;;
  esac
  GTEST_FILTER='ResolvedBuild.*' run_as_cpu host "$build" "$missing" \
    byteblend_tests || status=1
  return "$status"
}

# Runs one fuzz target; prints its executions and seconds.
run_fuzzer() {
  local name=$1 seconds=$2 seeds=$3
  shift 3
  local corpus=build/fuzz/corpus/$name artifacts=build/fuzz/artifacts/$name
  rm -rf "$corpus" "$artifacts"
  mkdir -p "$corpus" "$artifacts"
  cp "$seeds"/* "$corpus"/
  local log=build/fuzz/$name.log
  build/fuzz/fuzz/"$name" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "$@" "$corpus" >"$log" 2>&1
  local status=$?
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  if ((status != 0)) || compgen -G "$artifacts/*" >/dev/null; then
    tail -n 60 "$log"
    local artifact
    for artifact in "$artifacts"/*; do
      [[ -f $artifact ]] || continue
      echo "$name: input $(basename "$artifact"), $(stat -c %s "$artifact") bytes, base64:"
      head -c 8192 "$artifact" | base64 -w 0
      echo
    done
    echo "$name: FINDING after ${runs:-?} executions; see $artifacts"
    return 1
  fi
  echo "$name: ${runs} executions in ${seconds} s, corpus $(ls "$corpus" | wc -l) inputs, no finding"
}

# The PNG and the JPEG fuzzers, one after the other, each from the seeds
# that its seed program writes.
fuzz_images() {
  rm -rf build/fuzz/png_seeds && mkdir -p build/fuzz/png_seeds
  build/fuzz/fuzz/make_png_seeds build/fuzz/png_seeds || return 1
  if [[ -x build/fuzz/fuzz/png_fuzzer ]]; then
    run_fuzzer png_fuzzer "$PNG_FUZZ_SECONDS" build/fuzz/png_seeds \
      -max_len=65536 -malloc_limit_mb=1024 || return 1
  else
    echo "png_fuzzer: not built, this tree has no byteblend_images target"
  fi

  if [[ -x build/fuzz/fuzz/jpeg_fuzzer ]]; then
    rm -rf build/fuzz/jpeg_seeds && mkdir -p build/fuzz/jpeg_seeds
    build/fuzz/fuzz/make_jpeg_seeds build/fuzz/jpeg_seeds || return 1
    run_fuzzer jpeg_fuzzer "$JPEG_FUZZ_SECONDS" build/fuzz/jpeg_seeds \
      -max_len=65536 -malloc_limit_mb=1024 || return 1
  else
    echo "jpeg_fuzzer: not built, this tree has no byteblend_images target"
  fi
}

stage_fuzz() {
  cmake --preset fuzz && cmake --build --preset fuzz || return 1
  # The kernel fuzzer's premise: ASan checks masked AVX-512 lanes exactly.
  build/fuzz/fuzz/masked_access_check || return 1
  if ! build/fuzz/fuzz/masked_access_check | grep -q skipped; then
    if build/fuzz/fuzz/masked_access_check over >/dev/null 2>build/fuzz/masked.log ||
      ! grep -q heap-buffer-overflow build/fuzz/masked.log; then
      echo "ASan missed a masked AVX-512 load beyond an array"
      return 1
    fi
    echo "masked_access_check: ASan reports one masked lane too many, and no masked-off lane"
  fi
  # The kernel fuzzer beside the image fuzzers: each libFuzzer process runs
  # on one core, so on two cores each still has its whole time to itself.
  run_fuzzer kernel_fuzzer "$KERNEL_FUZZ_SECONDS" fuzz/corpus/kernel \
    -max_len=4096 >build/fuzz/kernel_fuzzer.out 2>&1 &
  local kernel=$!
  fuzz_images >build/fuzz/image_fuzzers.out 2>&1
  local status=$?
  wait "$kernel" || status=1
  cat build/fuzz/kernel_fuzzer.out build/fuzz/image_fuzzers.out
  return "$status"
}

stage_clang_tidy() {
  [[ -f build/default/compile_commands.json ]] || cmake --preset default || return 1
  local databases=(build/default/compile_commands.json)
  [[ -f build/fuzz/compile_commands.json ]] && databases+=(build/fuzz/compile_commands.json)
  python3 tools/run_clang_tidy.py "${databases[@]}"
}

stage_cppcheck() {
  local dirs=(src include fuzz)
  [[ -d cli ]] && dirs+=(cli)
  [[ -d python/native ]] && dirs+=(python/native)
  # Suppressed, each for its reason:
  #  useStlAlgorithm      a preference, not a fault;
  #  variableScope        src/element_loop.hpp: style only, in code tuned
  #                       for speed;
  #  redundantAssignment  src/lanes/fma_division.hpp: false positive, it
  #                       takes the call of the lambda parameter fnma for
  #                       an assignment to it.
  cppcheck --enable=warning,style,performance,portability --std=c++20 \
    --language=c++ --inline-suppr --error-exitcode=1 -q \
    -I include -I src -I tests/common -I tests/tool -I cli -I python/native \
    --suppress=missingIncludeSystem --suppress=useStlAlgorithm \
    --suppress=variableScope:src/element_loop.hpp \
    --suppress=redundantAssignment:src/lanes/fma_division.hpp \
    "${dirs[@]}"
}

stage_format() {
  git ls-files -z '*.c' '*.h' '*.cpp' '*.hpp' |
    xargs -0 "$CLANG_FORMAT" --dry-run -Werror
}

main() {
  local stages=("$@")
  ((${#stages[@]})) || stages=(asan tsan fuzz valgrind qemu clang-tidy cppcheck format)
  ensure_tools
  local summary=() failed=()
  for stage in "${stages[@]}"; do
    echo "== stage $stage"
    local start=$SECONDS
    local log=build/ci-logs/$stage.log
    mkdir -p build/ci-logs
    "stage_${stage//-/_}" 2>&1 | tee "$log"
    if ((PIPESTATUS[0] == 0)); then
      summary+=("$(printf '%-10s passed in %4d s' "$stage" $((SECONDS - start)))")
    else
      summary+=("$(printf '%-10s FAILED in %4d s' "$stage" $((SECONDS - start)))")
      failed+=("$stage")
    fi
    echo "== ${summary[-1]}"
  done
  # A failed stage's last lines again, so that they are at the end of the
  # output with the summary.
  for stage in "${failed[@]}"; do
    echo "== last lines of $stage (build/ci-logs/$stage.log)"
    tail -n 40 "build/ci-logs/$stage.log"
  done
  echo "== summary"
  printf '  %s\n' "${summary[@]}"
  ((${#failed[@]} == 0))
}

main "$@"
