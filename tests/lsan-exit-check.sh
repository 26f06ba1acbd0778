#!/usr/bin/env bash
# LeakSanitizer over the window's whole life: the site book tests start and
# end several windows with their controllers (audio device opened and closed,
# Exit pressed, settings written), and at process end the checker must report
# nothing. Then a block planted in our own code must be reported under the
# same options and suppressions, so that they hide nothing of ours.
# Usage: lsan-exit-check.sh BUILD_DIR, with BUILD_DIR configured with
# -DVESK_SANITIZE=ON, run in the test environment under xvfb-run.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
tests="${1:?usage: lsan-exit-check.sh BUILD_DIR}/tests/vesk_gui_tests"
out="$(mktemp)"
trap 'rm -f "$out"' EXIT
export ASAN_OPTIONS="detect_leaks=1"
export LSAN_OPTIONS="suppressions=$here/lsan.supp"

if ! "$tests" --gtest_filter='SharedBookTest.*' >"$out" 2>&1 || grep -q 'ERROR: LeakSanitizer' "$out"; then
  cat "$out"
  echo "lsan-exit-check: the window tests failed or left leaks"
  exit 1
fi
echo "lsan-exit-check: no leaks at exit"

if VESK_PLANT_LEAK=1 "$tests" --gtest_filter='LeakCheck.PlantedBlockIsReported' >"$out" 2>&1 ||
  ! grep -q 'plantLeak' "$out"; then
  cat "$out"
  echo "lsan-exit-check: the planted leak was not reported"
  exit 1
fi
echo "lsan-exit-check: the planted leak is reported"
