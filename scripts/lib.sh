# Shared by scripts/run, scripts/test and scripts/screenshot: package installation and the
# build. Source it; it defines functions only.

OSTRIVANE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Packages the build and the tests need on Debian 12 (qt6-webengine-dev: the help tab's
# web browser; without it the tab shows the help address as a link). The fault tests'
# file systems: libfuse3-dev builds our fault-injection file system, fuse3 brings
# fusermount3 (for its auto_unmount), exfat-fuse and exfatprogs make an exFAT volume.
OSTRIVANE_BUILD_PACKAGES=(cmake g++ make pkg-config libgtest-dev libgmock-dev
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev libgl-dev util-linux
  libfuse3-dev fuse3 exfat-fuse exfatprogs)
# The Windows cross build and its tests (scripts/test-windows): mingw-w64 with the posix
# thread model, Wine to run the tests, GoogleTest's source to build it with mingw-w64.
OSTRIVANE_WINDOWS_PACKAGES=(cmake make g++-mingw-w64-x86-64-posix wine wine64 googletest)
# What the running program wants besides: Qt's Chinese translation and a CJK font.
OSTRIVANE_RUN_PACKAGES=(qt6-translations-l10n fonts-wqy-microhei)
# Screenshots and benchmarks.
OSTRIVANE_SCREENSHOT_PACKAGES=(xvfb xauth imagemagick)
OSTRIVANE_BENCH_PACKAGES=(rsync coreutils findutils)
# The Debian package and its test: dpkg-shlibdeps (dpkg-dev), lintian, the desktop entry and
# AppStream validators, and a display server with xwininfo/xprop to see the window.
# (The icon's PNG sizes are committed; re-rendering them needs librsvg2-bin.)
OSTRIVANE_PACKAGE_PACKAGES=(dpkg-dev lintian desktop-file-utils appstream xvfb xauth x11-utils)

# Installs every named package that is not installed yet, with apt (through sudo when
# not root), saying what it installs.
ensure_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  # The package lists may be missing on a fresh machine; refresh once, then install.
  if ! "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"; then
    "${sudo[@]}" apt-get update
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
  fi
}

# Configures and builds into $1 with any further CMake arguments.
build_into() {
  local dir=$1; shift
  cmake -S "$OSTRIVANE_ROOT" -B "$dir" "$@"
  cmake --build "$dir" -j2
}
