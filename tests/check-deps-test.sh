#!/usr/bin/env bash
# scripts/check-deps.sh passes with scripts/deps.sh as it is, and fails, naming
# the package and the file configure found, with a copy of deps.sh that
# leaves out libqt6opengl6-dev (the package a fresh machine once lacked).
# Usage: check-deps-test.sh SOURCE_DIR BUILD_DIR (exit 77: cannot check here)
set -uo pipefail
src="$1"
build="$2"
check="$src/scripts/check-deps.sh"
copy="$(mktemp)"
trap 'rm -f "$copy"' EXIT

out="$(bash "$check" "$build" 2>&1)"
rc=$?
echo "$out"
[ "$rc" -eq 77 ] && exit 77
[ "$rc" -eq 0 ] || { echo "FAIL: the check fails with scripts/deps.sh itself"; exit 1; }

sed 's/ libqt6opengl6-dev / /' "$src/scripts/deps.sh" > "$copy"
if bash "$copy" --list | grep -qx libqt6opengl6-dev || [ -z "$(bash "$copy" --list)" ]; then
  echo "FAIL: could not leave libqt6opengl6-dev out of the copy of deps.sh"
  exit 1
fi
out="$(bash "$check" "$build" "$copy" 2>&1)"
rc=$?
echo "$out"
[ "$rc" -eq 1 ] || { echo "FAIL: expected the check to fail (exit 1), it exited $rc"; exit 1; }
grep -q "libqt6opengl6-dev is not installed" <<<"$out" || { echo "FAIL: the package is not named"; exit 1; }
grep -q "Qt6OpenGLConfig.cmake" <<<"$out" || { echo "FAIL: the file configure found is not named"; exit 1; }
echo "PASS"
