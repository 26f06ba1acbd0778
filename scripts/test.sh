#!/usr/bin/env bash
# Installs what is needed, builds and runs every test: the normal build under
# Xvfb, the suite again with AddressSanitizer and UndefinedBehaviorSanitizer,
# the threaded tests with ThreadSanitizer, then every fuzz target for a short
# while.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs="$(nproc)"
summary="$(mktemp)"
test_home="$(mktemp -d)"
trap 'rm -rf "$summary" "$test_home"' EXIT

# Tests run in the environment of tests/test-env.txt (ctest applies it as
# well) with a throwaway home; the only display is the one xvfb-run makes.
mkdir -m 700 "$test_home/runtime"
env_unset=(-u DISPLAY -u XAUTHORITY)
env_set=()
while IFS= read -r line; do
  case "$line" in
    '' | '#'*) ;;
    'unset '*) env_unset+=(-u "${line#unset }") ;;
    *) env_set+=("${line//@HOME@/$test_home}") ;;
  esac
done < tests/test-env.txt
in_test_env() { env "${env_unset[@]}" "${env_set[@]}" "$@"; }

# Runs ctest under Xvfb and keeps its count of passed tests. The server does
# not reset when its last client leaves: between two tests a reset refused
# the next test's connection now and then.
run_ctest() {
  in_test_env xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" ctest "$@" | tee -a "$summary"
  return "${PIPESTATUS[0]}"
}

echo "== build and test"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# Everything configure found must come from deps.sh or the base system.
bash scripts/check-deps.sh build
cmake --build build -j"$jobs"
run_ctest --test-dir build --output-on-failure -j4

echo "== AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVESK_SANITIZE=ON -DVESK_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
  run_ctest --test-dir build-asan --output-on-failure -j4

echo "== LeakSanitizer at the window's exit"
# The window tests again with leak detection, over their whole process.
in_test_env xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" bash tests/lsan-exit-check.sh build-asan

echo "== ThreadSanitizer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_TSAN=ON -DVESK_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$jobs" --target vesk_unit_tests vesk_gui_tests vesk_tsan_mailbox_race
# Any report fails the threaded suites; TsanPlanted passes only when the
# checker reports the race it plants, under these suppressions.
TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/tsan.supp" \
  run_ctest --test-dir build-tsan --output-on-failure -j4 \
  -R '^(Session|Connect|SendRing|RingBuffer|DecodePool|AudioOutTest|AudioEndToEnd|Delivery|Controller|LiveView|Playback|DeviceSession|DdnsLookup|SecondDevice|Mailbox|SiteEditorControlBar|TsanPlanted|Watch|PeerWatch)'

echo "== fuzz targets"
cmake -S . -B build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVESK_FUZZ=ON -DVESK_GUI=OFF -DVESK_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug >/dev/null
bash scripts/check-deps.sh build-fuzz
fuzz_targets=$(cat build-fuzz/tests/fuzz/targets.txt)
cmake --build build-fuzz -j"$jobs" --target $fuzz_targets
fuzz_seconds="${VESK_FUZZ_SECONDS:-30}"
for t in $fuzz_targets; do
  name="${t#fuzz_}"
  work="build-fuzz/corpus/$name"
  mkdir -p "$work"
  seeds=""
  [ -d "tests/fuzz/corpus/$name" ] && seeds="tests/fuzz/corpus/$name"
  dict=""
  [ -f "tests/fuzz/$name.dict" ] && dict="-dict=tests/fuzz/$name.dict"
  echo "-- $t for ${fuzz_seconds}s"
  # Leaks are looked for once, over the corpus the run leaves, rather than
  # after every input that allocated more than it freed.
  in_test_env "./build-fuzz/tests/fuzz/$t" -max_total_time="$fuzz_seconds" -detect_leaks=0 -rss_limit_mb=4096 \
    $dict "$work" $seeds
  echo "-- $t: leak check over its corpus"
  in_test_env "./build-fuzz/tests/fuzz/$t" -runs=0 -rss_limit_mb=4096 "$work" $seeds
done

passed=$(sed -n 's/.*tests passed, [0-9]* tests failed out of \([0-9]*\).*/\1/p' "$summary" | awk '{ s += $1 } END { print s + 0 }')
echo "total: ${passed:-0} passed, 0 failed"
