#!/usr/bin/env bash
# Installs what this project needs from Debian's packages, when it is missing, and the browser
# test's packages from npm.
set -euo pipefail
cd "$(dirname "$0")/.."
# qt6-translations-l10n and shared-mime-info give Qt's dialogs and the file types their Chinese
# texts; desktop-file-utils, appstream, man-db, dpkg-dev, file and dbus check the installed
# files, the package and the notifications; tar and socat are the benchmark's plain copy of a
# folder; libssl-dev is OpenSSL for the encrypted connections and tcpdump watches the loopback
# wire in the encryption test. libmicrohttpd-dev serves the web page and libqrencode-dev draws
# its address as a QR code; chromium is the real browser the web page's test drives headless,
# and curl sends the benchmark's uploads and downloads to the page as a browser would.
# avahi-daemon and avahi-utils: the service discovery test publishes and browses through a
# private daemon and lists with avahi-browse. nftables and iptables are the firewalls whose
# rules tolvex doctor reads; its test adds a rule with them in a network namespace of its own.
packages=(cmake ninja-build g++ clang libclang-rt-14-dev qt6-base-dev libgtest-dev libgmock-dev
          fonts-noto-cjk xvfb xauth qt6-translations-l10n shared-mime-info desktop-file-utils
          appstream man-db dpkg-dev file dbus tar socat tcpdump
          libssl-dev libmicrohttpd-dev libqrencode-dev chromium curl avahi-daemon avahi-utils
          nftables iptables)
# Node and npm run the browser test. Debian's come only where no npm is installed: a machine
# with another distribution of Node (which brings its own npm) keeps it, as Debian's npm
# package cannot be installed beside it.
command -v npm >/dev/null 2>&1 || packages+=(nodejs npm)
missing=()
for package in "${packages[@]}"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if ((${#missing[@]})); then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
fi
# puppeteer-core at the version the lock file pins, with no install scripts run: it drives
# Debian's chromium and never downloads a browser of its own. Installed again only when the lock
# file changed since the last install.
browser_tests=tests/browser
if [ ! -f "$browser_tests/node_modules/.package-lock.json" ] ||
    [ "$browser_tests/package-lock.json" -nt "$browser_tests/node_modules/.package-lock.json" ]; then
    (cd "$browser_tests" && npm ci --ignore-scripts --no-audit --no-fund)
fi
