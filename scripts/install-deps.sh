#!/usr/bin/env bash
# Installs every Debian package the build, the app and the tests need.
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build pkg-config git
  # Qt 6 (Core, Gui, Widgets, Sql, Network, DBus) and the SQLite driver
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libqt6sql6-sqlite libgl-dev
  # the TIFF reader and writer (qtiff) for image clips
  qt6-image-formats-plugins
  # the SVG icon engine for the clip menu's images
  libqt6svg6
  # libraries named by the design
  libsodium-dev liblua5.2-dev libzip-dev zlib1g-dev libmosquitto-dev
  libspdlog-dev libfmt-dev libsecret-1-dev libplist-dev libsqlite3-dev
  libx11-dev libxcb1-dev libxtst-dev
  # the app's sharing: xdg-email and xdg-open
  xdg-utils
  # Qt's own Simplified Chinese for its stock dialogs and buttons
  qt6-translations-l10n
  # the interface is in Chinese and its reminder items carry an emoji
  fonts-noto-cjk fonts-noto-color-emoji
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  xvfb xauth xclip xdotool x11-xkb-utils mosquitto sqlite3 fonts-dejavu-core
  # xwd: the screenshots of the window tests
  x11-apps
  # the web service test double (HTTP and HTTPS) and the test CA of the TLS test
  libcpp-httplib-dev libssl-dev openssl
  # a private message bus for the D-Bus tests
  dbus-daemon
  # a private Secret Service for the keychain test
  gnome-keyring libsecret-tools
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
