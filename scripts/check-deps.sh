#!/usr/bin/env bash
# Would scripts/deps.sh be enough on a fresh Debian 12? Every file that
# configure found in BUILD_DIR (package configs, pkg-config libraries, tools,
# other found libraries, include folders of a single package) is mapped to
# the Debian package that owns it. That package must be part of the base
# system (scripts/base-packages.txt) or be installed by deps.sh, itself or as
# a dependency of what it names (recommends are not installed).
# Usage: check-deps.sh BUILD_DIR [DEPS_SCRIPT]
# Exit 0 all found files are covered, 1 some are not, 2 usage, 77 this
# machine cannot tell (no dpkg or apt-cache, or no package lists).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:?usage: check-deps.sh BUILD_DIR [DEPS_SCRIPT]}"
deps="${2:-$here/deps.sh}"
cache="$build/CMakeCache.txt"
[ -f "$cache" ] || { echo "check-deps: no $cache; configure first" >&2; exit 2; }
for tool in dpkg-query apt-cache; do
  command -v "$tool" >/dev/null || { echo "check-deps: no $tool here; nothing checked"; exit 77; }
done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# What a fresh machine has after deps.sh.
listed="$(bash "$deps" --list)"
[ -n "$listed" ] || { echo "check-deps: $deps --list names no package" >&2; exit 2; }
# shellcheck disable=SC2086
apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
  --no-replaces --no-enhances $listed 2>/dev/null | grep -E '^[a-z0-9]' | sed 's/:.*//' | sort -u > "$work/closure"
[ -s "$work/closure" ] || { echo "check-deps: apt-cache knows no package of $deps (apt-get update first); nothing checked"; exit 77; }
status=0
for p in $listed; do
  if ! grep -qx "$p" "$work/closure"; then
    echo "check-deps: $deps names $p, which apt does not know"
    status=1
  fi
done
{ grep -v -e '^#' -e '^$' "$here/base-packages.txt"; cat "$work/closure"; } | sort -u > "$work/have"

# Found files, as "ENTRY PATH": a package config file for each package
# folder, the folder itself for include folders, the file for file entries.
while IFS= read -r line; do
  name="${line%%:*}"
  value="${line#*=}"
  [ -e "$value" ] || continue
  case "$line" in
    *:FILEPATH=*) [ -f "$value" ] && echo "$name $value" ;;
    *:PATH=*)
      config="$(ls "$value"/*Config.cmake "$value"/*-config.cmake 2>/dev/null | head -n 1 || true)"
      if [ -n "$config" ]; then
        echo "$name $config"
      elif [[ "$name" == *_INCLUDE_DIR || "$name" == *_INCLUDE_DIRS ]]; then
        echo "$name $value"
      fi ;;
  esac
done < <(grep -E '^[A-Za-z0-9_.+-]+:(FILEPATH|PATH)=/' "$cache") > "$work/found"

# Owners of the found paths, of their resolved links, and of both with /usr
# dropped (dpkg may list /usr/lib files of a merged /usr under /lib).
while read -r _ path; do
  real="$(readlink -f "$path")"
  printf '%s\n' "$path" "$real" "${path#/usr}" "${real#/usr}"
done < "$work/found" | sort -u > "$work/paths"
xargs -d '\n' -r dpkg-query -S < "$work/paths" 2>/dev/null | grep -v '^diversion' > "$work/owners" || true

owners_of() {
  awk -v p="$1" '{ i = index($0, ": /"); if (substr($0, i + 2) == p) print substr($0, 1, i - 1) }' "$work/owners" \
    | head -n 1
}

checked=0
while read -r name path; do
  real="$(readlink -f "$path")"
  owners=""
  for p in "$path" "$real" "${path#/usr}" "${real#/usr}"; do
    owners="$(owners_of "$p")"
    [ -n "$owners" ] && break
  done
  if [ -z "$owners" ]; then
    [ -d "$path" ] && continue
    echo "check-deps: configure found $path ($name), which no Debian package installed;"
    echo "  a fresh machine will not have it"
    status=1
    continue
  fi
  # A folder shared by several packages says nothing about any one of them.
  if [ -d "$path" ] && [[ "$owners" == *,* ]]; then
    continue
  fi
  pkg="$(echo "$owners" | sed 's/,.*//; s/:[a-z0-9]*$//')"
  checked=$((checked + 1))
  if ! grep -qx "$pkg" "$work/have"; then
    if ! grep -qx "$pkg" "$work/missing" 2>/dev/null; then
      echo "check-deps: $pkg is not installed by $deps, yet configure found"
      echo "  $path ($name) from it; add $pkg to $deps"
      echo "$pkg" >> "$work/missing"
    fi
    status=1
  fi
done < "$work/found"

if [ "$status" -eq 0 ]; then
  echo "check-deps: $checked found files, all from the base system or what $(basename "$deps") installs"
fi
exit "$status"
