#!/usr/bin/env bash
# Installs the built program into a scratch prefix and checks that every file is there and
# that the desktop tools accept them; then builds the Debian package and checks that it holds
# the same tree. Arguments: the build folder and a scratch folder.
set -euo pipefail
build=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log"

expected=(
    bin/tolvex
    share/applications/org.kestrane.Tolvex.desktop
    share/metainfo/org.kestrane.Tolvex.metainfo.xml
    share/icons/hicolor/scalable/apps/tolvex.svg
    share/man/man1/tolvex.1.gz
    share/tolvex/help/index.html
    share/doc/tolvex/README.md
    share/doc/tolvex/copyright
    share/doc/tolvex/changelog.gz
    etc/ufw/applications.d/tolvex
)
for size in 16 22 24 32 48 64 128 256; do
    expected+=("share/icons/hicolor/${size}x${size}/apps/tolvex.png")
done
for file in "${expected[@]}"; do
    [ -f "$prefix/$file" ] || fail "missing after install: $file"
done
[ -x "$prefix/bin/tolvex" ] || fail "bin/tolvex is not executable"
for size in 16 22 24 32 48 64 128 256; do
    file "$prefix/share/icons/hicolor/${size}x${size}/apps/tolvex.png" |
        grep -q "PNG image data, $size x $size" || fail "icon ${size}x${size} has the wrong size"
done

desktop-file-validate "$prefix/share/applications/org.kestrane.Tolvex.desktop" ||
    fail "desktop-file-validate"
grep -qx 'Categories=Network;FileTransfer;' "$prefix/share/applications/org.kestrane.Tolvex.desktop" ||
    fail "categories"
appstreamcli validate --no-net "$prefix/share/metainfo/org.kestrane.Tolvex.metainfo.xml" ||
    fail "appstreamcli validate"
# The version the program prints is the project's; the manual page, the metainfo and the
# package carry the same.
version=$(ASAN_OPTIONS=detect_leaks=0 "$prefix/bin/tolvex" --version) || fail "tolvex --version"
[ "$version" = "tolvex 2.82" ] || fail "tolvex --version says: $version"
version=${version#tolvex }
grep -q "<release version=\"$version\"" "$prefix/share/metainfo/org.kestrane.Tolvex.metainfo.xml" ||
    fail "the metainfo's release is not $version"

# The manual page and the changelog are compressed as Debian's are (gzip -9, no name or time
# stamp).
man_page=$prefix/share/man/man1/tolvex.1.gz
changelog=$prefix/share/doc/tolvex/changelog.gz
for packed in "$man_page" "$changelog"; do
    gzip -t "$packed" || fail "not gzip: $packed"
    [ "$(od -An -tu1 -j4 -N4 "$packed" | tr -s ' ')" = " 0 0 0 0" ] || fail "time stamp in $packed"
    [ "$(od -An -tu1 -j3 -N1 "$packed" | tr -d ' ')" = 0 ] || fail "file name in $packed"
    [ "$(od -An -tu1 -j8 -N1 "$packed" | tr -d ' ')" = 2 ] || fail "not gzip -9: $packed"
done
gzip -dc "$changelog" >"$work/changelog"
[ "$(dpkg-parsechangelog -l "$work/changelog" -S Version)" = "$version" ] ||
    fail "the changelog's last entry is not $version"
man_text=$(MANWIDTH=80 LANG=C.UTF-8 man --warnings -l "$man_page" 2>"$work/man.err")
[ ! -s "$work/man.err" ] || { cat "$work/man.err" >&2; fail "man page warnings"; }
for word in --address --data-dir Kestrane 8510 9170 8530 "Tolvex $version"; do
    grep -q -- "$word" <<<"$man_text" || fail "man page lacks $word"
done

# The copyright file in Debian's machine-readable format: a header, then paragraphs whose
# licences each have their text.
copyright=$prefix/share/doc/tolvex/copyright
head -1 "$copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "copyright: no Format line"
grep -q '^Files: \*$' "$copyright" || fail "copyright: no paragraph for every file"
awk '/^Files:/ { files = 1; copyright = 0; license = 0; text = 0 }
     files && /^Copyright: [^ ]/ { copyright = 1 }
     files && /^License: [^ ]/ { license = 1 }
     files && license && /^ [^ ]/ { text = 1 }
     files && /^$/ { if (!copyright || !license || !text) bad = 1; files = 0 }
     END { if (files && (!copyright || !license || !text)) bad = 1; exit bad }' "$copyright" ||
    fail "copyright: a Files paragraph lacks Copyright, License or the licence text"
grep -q '^ports=8510,8511,9170/tcp|9171/udp$' "$prefix/etc/ufw/applications.d/tolvex" || fail "ufw ports"
grep -q '^ports=8530/tcp$' "$prefix/etc/ufw/applications.d/tolvex" || fail "ufw web page port"

# The package: the same tree under /usr, the firewall profile under /etc.
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/package" >"$work/cpack.log" ||
    { cat "$work/cpack.log" >&2; fail "cpack"; }
deb=$(ls "$work"/package/*.deb)
dpkg-deb -x "$deb" "$work/root"
(cd "$prefix" && find . -type f | grep -v '^./etc/' | sed 's|^\./|usr/|' | sort) >"$work/installed.txt"
(cd "$prefix" && find ./etc -type f | sed 's|^\./||') >>"$work/installed.txt"
(cd "$work/root" && find . -type f | sed 's|^\./||' | sort) >"$work/packaged.txt"
sort -o "$work/installed.txt" "$work/installed.txt"
diff "$work/installed.txt" "$work/packaged.txt" || fail "package tree differs from the install"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version: $(dpkg-deb -f "$deb" Version)"
[[ $deb == */tolvex_${version}_*.deb ]] || fail "package file name: $deb"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6core6 libqt6widgets6 libqt6network6 libqt6dbus6 libssl3 libmicrohttpd12 \
    libqrencode4 qt6-qpa-plugins; do
    grep -q "$needed" <<<"$depends" || fail "Depends lacks $needed: $depends"
done
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx /etc/ufw/applications.d/tolvex ||
    fail "the firewall profile is not a conffile"
echo "install and package: ${#expected[@]} files, $(wc -l <"$work/packaged.txt") in the package"
