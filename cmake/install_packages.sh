# Sourced by ./dev (and its test): install_packages PACKAGE... installs
# Debian packages with apt-get, adding the i386 architecture first, and
# exits when one of them could not be installed. Uses say() of the caller.

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_packages() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  say "updating the package lists"
  # A mirror in mid-sync serves an index of the wrong size: apt keeps the
  # older list for it, and the install below copes with what that leaves.
  if ! as_root apt-get update -qq; then
    say "some package lists could not be fetched (see above); going on with the lists at hand"
  fi
  if ! apt_install "$@"; then
    # The security index of one architecture missing leaves the other's
    # libraries newer, and wine32:i386 cannot sit beside them: the main
    # release's versions are the same for both architectures.
    local release
    release="$(. "${DLMGR_OS_RELEASE:-/etc/os-release}" && echo "${VERSION_CODENAME:-}")"
    [ -n "$release" ] || { say "could not install $*"; exit 1; }
    say "the two architectures' package versions are out of step: installing from $release, the main release, instead"
    apt_install -t "$release" "$@" || true
  fi
  local package
  for package in "$@"; do
    dpkg -s "$package" >/dev/null 2>&1 || { say "could not install $package"; exit 1; }
  done
}

# apt_install [-t RELEASE] PACKAGE...: false when apt-get fails; shows what
# it unpacks and sets up as it goes, and its errors.
apt_install() {
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$@" 2>&1 |
    { grep --line-buffered -E '^(Unpacking|Setting up|E:) ' | sed -u 's/^/dev:   /' >&2 || true; }
  return "${PIPESTATUS[0]}"
}
