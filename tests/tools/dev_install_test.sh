#!/usr/bin/env bash
# ./dev's first install on a machine whose mirror is mid-sync: apt-get update
# fails for one index, and the packages cannot be installed with the lists at
# hand (one architecture's libraries newer than the other's) but can from the
# main release. The install goes on through both and says what it did; a
# package the main release lacks still stops it. apt-get, dpkg and sudo are
# stand-ins that play that mirror.
#   tests/tools/dev_install_test.sh PROJECT_ROOT
set -uo pipefail
root="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin"
touch "$work/installed"
cat > "$work/bin/apt-get" <<'FAKE'
#!/usr/bin/env bash
case " $* " in
  *" update "*) echo "E: Failed to fetch i386/Packages.xz  File has unexpected size (1 != 2). Mirror sync in progress?" >&2
                exit 100 ;;
  *" -t "*) for p in "$@"; do
              case "$p" in -*|install|bookworm|trixie|bullseye) ;; missing-package) echo "E: Unable to locate package $p"; exit 100 ;;
                           *) echo "Unpacking $p (1.0)"; echo "$p" >> "$FAKE_STATE/installed" ;; esac
            done ;;
  *) echo "E: Unable to correct problems, you have held broken packages."; exit 100 ;;
esac
FAKE
cat > "$work/bin/dpkg" <<'FAKE'
#!/usr/bin/env bash
case "$1" in
  --print-foreign-architectures) echo i386 ;;
  -s) grep -qx "$2" "$FAKE_STATE/installed" ;;
esac
FAKE
printf '#!/usr/bin/env bash\nexec "$@"\n' > "$work/bin/sudo"
printf 'VERSION_CODENAME=bookworm\n' > "$work/os-release"
chmod +x "$work/bin/"*

run() {
  FAKE_STATE="$work" DLMGR_OS_RELEASE="$work/os-release" PATH="$work/bin:$PATH" bash -c '
    say() { echo "dev: $*" >&2; }
    . "$1/cmake/install_packages.sh"
    shift
    install_packages "$@"' _ "$root" "$@" 2>&1
}

failed=0
expect() {  # expect WHAT CONDITION
  if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; failed=1; fi
}

output="$(run wine32:i386 spin)"; status=$?
echo "$output"
expect "the install succeeds" "[ $status -eq 0 ]"
expect "a failed list is said and gone past" "grep -q 'could not be fetched' <<<\"\$output\""
expect "the fallback to the main release is said" "grep -q 'installing from bookworm, the main release' <<<\"\$output\""
expect "both packages are installed" "grep -qx wine32:i386 '$work/installed' && grep -qx spin '$work/installed'"

output="$(run missing-package)"; status=$?
echo "$output"
expect "a package nowhere to be had stops it" "[ $status -ne 0 ]"
expect "and is named" "grep -q 'could not install missing-package' <<<\"\$output\""
exit "$failed"
