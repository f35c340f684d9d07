# Shared by scripts/run, scripts/test and scripts/screenshot: package installation and the
# build. Source it; it defines functions only.

OSTRIVANE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Packages the build and the tests need on Debian 12 (qt6-webengine-dev: the help tab's
# web browser; without it the tab shows the help address as a link). The fault tests'
# file systems: libfuse3-dev builds our fault-injection file system, fuse3 brings
# fusermount3 (for its auto_unmount), exfat-fuse and exfatprogs make an exFAT volume,
# e2fsprogs an ext4 volume with a reserve for root. The
# command-line program: libcli11-dev parses its arguments, help2man makes its manual page.
# libxxhash-dev: the XXH3 hashes of the check after write.
OSTRIVANE_BUILD_PACKAGES=(cmake g++ make pkg-config libgtest-dev libgmock-dev
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev libgl-dev util-linux
  libfuse3-dev fuse3 exfat-fuse exfatprogs e2fsprogs libcli11-dev help2man libxxhash-dev)
# The Windows cross build and its tests (scripts/test-windows): mingw-w64 with the posix
# thread model, Wine to run the tests, GoogleTest's source to build it with mingw-w64,
# CLI11's headers for the command line, xxhash.h (built in whole, header only), a display
# server for the window's tests; NSIS (makensis) and zip pack the installer and the archive
# (scripts/package-windows).
OSTRIVANE_WINDOWS_PACKAGES=(cmake make g++-mingw-w64-x86-64-posix wine wine64 googletest
  libcli11-dev libxxhash-dev xvfb nsis zip)
# What the running program wants besides: Qt's Chinese translation, a CJK font, and the C
# library's Chinese locale and message translations (locales, libc-l10n) so that the
# system's error texts in the failure lists read Chinese (see ensure_chinese_locale).
OSTRIVANE_RUN_PACKAGES=(qt6-translations-l10n fonts-wqy-microhei locales libc-l10n)
# The window tests start a private D-Bus session bus (dbus-daemon) for the desktop
# notifications; Qt's D-Bus module comes with qt6-base-dev. The completion test sources
# bash-completion. xxhsum (package xxhash) checks the command line's checksum files.
# xfsprogs: the kill and race tests run once more on an XFS loop file (ext4's mkfs comes
# with e2fsprogs).
OSTRIVANE_TEST_PACKAGES=(dbus-daemon bash-completion xxhash xfsprogs)
# Screenshots and benchmarks.
OSTRIVANE_SCREENSHOT_PACKAGES=(xvfb xauth imagemagick)
# Screenshots of the Windows window under Wine (scripts/screenshot-windows): a CJK font for
# Wine's UI fonts, ImageMagick for the PNGs.
OSTRIVANE_WINDOWS_SCREENSHOT_PACKAGES=(fonts-wqy-microhei imagemagick)
# hyperfine times the command-line program as a whole process.
OSTRIVANE_BENCH_PACKAGES=(rsync coreutils findutils hyperfine)
# The Debian packages and their test: dpkg-shlibdeps (dpkg-dev), lintian, the desktop entry
# and AppStream validators, a display server with xwininfo/xprop to see the window, and
# debootstrap for the install into a fresh Debian 12 root (scripts/package-install-test;
# unshare, chroot and timeout come with util-linux and coreutils).
# (The icon's PNG sizes are committed; re-rendering them needs librsvg2-bin.)
OSTRIVANE_PACKAGE_PACKAGES=(dpkg-dev lintian desktop-file-utils appstream xvfb xauth x11-utils
  debootstrap)

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

# Generates the zh_CN.UTF-8 locale when it is missing (the package "locales" only ships the
# sources). Needs root or sudo.
ensure_chinese_locale() {
  if locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8'; then return 0; fi
  echo "Generating the locale zh_CN.UTF-8"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  if grep -q '^# *zh_CN.UTF-8' /etc/locale.gen; then
    "${sudo[@]}" sed -i 's/^# *zh_CN.UTF-8/zh_CN.UTF-8/' /etc/locale.gen
  elif ! grep -q '^zh_CN.UTF-8' /etc/locale.gen; then
    echo 'zh_CN.UTF-8 UTF-8' | "${sudo[@]}" tee -a /etc/locale.gen >/dev/null
  fi
  "${sudo[@]}" locale-gen
}

# Configures and builds into $1 with any further CMake arguments.
build_into() {
  local dir=$1; shift
  cmake -S "$OSTRIVANE_ROOT" -B "$dir" "$@"
  cmake --build "$dir" -j2
}
