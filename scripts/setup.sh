#!/usr/bin/env bash
# Installs what this project needs from Debian's packages, when it is missing.
set -euo pipefail
# qt6-translations-l10n and shared-mime-info give Qt's dialogs and the file types their Chinese
# texts; desktop-file-utils, appstream, man-db, dpkg-dev, file and dbus check the installed
# files, the package and the notifications; tar and socat are the benchmark's plain copy of a
# folder; libssl-dev is OpenSSL for the encrypted connections and tcpdump watches the loopback
# wire in the encryption test.
packages=(cmake ninja-build g++ clang libclang-rt-14-dev qt6-base-dev libgtest-dev libgmock-dev
          fonts-noto-cjk xvfb xauth qt6-translations-l10n shared-mime-info desktop-file-utils
          appstream man-db dpkg-dev file dbus tar socat tcpdump
          libssl-dev)
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
