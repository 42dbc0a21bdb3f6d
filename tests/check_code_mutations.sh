#!/usr/bin/env bash
# The mutation check of the lock's code: each mistake of sync/optex_code.mutations
# is applied to a copy of the tree (build/mutant), whose 32-bit unit tests are
# then built and the named tests run; one of them must fail. Run by ./dev mutate
# [NAME] in the tests' Wine prefix. Exit status: the number of mistakes no test found.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
list="$root/sync/optex_code.mutations"
copy="$root/build/mutant"
only="${1:-}"

mkdir -p "$copy"
# The tree as it is, uncommitted changes included, without builds or history;
# every file newer than what the last mistake built.
(cd "$root" && tar --exclude=./build --exclude=./.git --exclude=./dist -cf - .) | (cd "$copy" && tar -xmf -)
(cd "$copy" && cmake --preset win32 >/dev/null) || exit 1

# Without a mistake, every test the list names must pass: a test that fails
# anyway would find every mistake.
all="$(sed -n 's/^@ //p' "$list" | paste -sd'|')"
if ! (cd "$copy" && cmake --build --preset win32 --target unit_tests -j "$(nproc)" >/dev/null 2>&1 &&
      ctest --preset win32 -R "$all" >/dev/null 2>&1); then
  echo "mutate: the tests the list names fail without any mistake" >&2
  exit 1
fi

missed=0
run_entry() {
  local name="$1" file="$2" tests="$3"; shift 3
  [ -n "$only" ] && [ "$only" != "$name" ] && return
  cp "$root/$file" "$copy/$file"
  local before after
  while [ $# -ge 2 ]; do
    before="$1" after="$2"; shift 2
    if [ "$(grep -cF -- "$before" "$copy/$file")" != 1 ]; then
      echo "mutate: $name: the text no longer occurs once in $file: $before" >&2
      missed=$((missed + 1)); return
    fi
    BEFORE="$before" AFTER="$after" perl -0pi -e 's/\Q$ENV{BEFORE}\E/$ENV{AFTER}/' "$copy/$file"
  done
  if ! (cd "$copy" && cmake --build --preset win32 --target unit_tests -j "$(nproc)" >/dev/null 2>&1); then
    echo "mutate: $name: found (does not build)"
  elif (cd "$copy" && ctest --preset win32 -R "$tests" >/dev/null 2>&1); then
    echo "mutate: $name: NOT FOUND by $tests"; missed=$((missed + 1))
  else
    echo "mutate: $name: found by $tests"
  fi
  cp "$root/$file" "$copy/$file"
}

name="" file="" tests="" pairs=()
while IFS= read -r line || [ -n "$line" ]; do
  case "$line" in
    "== "*) [ -n "$name" ] && run_entry "$name" "$file" "$tests" "${pairs[@]}"
            name="${line#== }"; name="${name%%:*}"; file="" tests="" pairs=() ;;
    "> "*) file="${line#> }" ;;
    "- "*) pairs+=("${line#- }") ;;
    "+ "*) pairs+=("${line#+ }") ;;
    "@ "*) tests="${line#@ }" ;;
  esac
done < "$list"
[ -n "$name" ] && run_entry "$name" "$file" "$tests" "${pairs[@]}"
exit "$missed"
