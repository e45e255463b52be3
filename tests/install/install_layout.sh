#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR with prefix /usr and checks what a Debian desktop
# needs there: the programs, the stub, the desktop entry, the icons, the job MIME type, the
# metainfo and the manual pages, each checked by its own validator when it is installed. Then the
# installed arczip must find its stub in the installed share folder with no environment set, and
# a copy of it whose share folder lacks the stub must name every place it looked.
#   install_layout.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
fails=0
fail() { echo "FAIL: $*" >&2; fails=$((fails + 1)); }
have() { command -v "$1" >/dev/null 2>&1; }

DESTDIR=$root cmake --install "$build" --prefix /usr >"$work/install.log" ||
  { cat "$work/install.log" >&2; exit 1; }
usr=$root/usr

for f in bin/arcavo bin/arczip bin/arcdisc; do
  [ -x "$usr/$f" ] || fail "$f is not an installed program"
done
for f in share/arcavo/ArcSFX32.bin share/applications/arcavo.desktop \
         share/mime/packages/arcavo.xml share/metainfo/arcavo.metainfo.xml \
         share/icons/hicolor/scalable/apps/arcavo.svg \
         share/man/man1/arcavo.1.gz share/man/man1/arczip.1.gz share/man/man1/arcdisc.1.gz \
         share/doc/arcavo/copyright share/doc/arcavo/changelog.gz; do
  [ -s "$usr/$f" ] || fail "$f is missing or empty"
done
for size in 16 22 24 32 48 64 128 256; do
  png=$usr/share/icons/hicolor/${size}x${size}/apps/arcavo.png
  # A PNG's IHDR holds the width and height as big-endian words at bytes 16..23.
  dims=$(od --endian=big -An -tu4 -j16 -N8 "$png" 2>/dev/null | tr -s ' ' | sed 's/^ //')
  [ "$dims" = "$size $size" ] || fail "icon ${size}x${size} is not that size ($dims)"
done

if have desktop-file-validate; then
  desktop-file-validate "$usr/share/applications/arcavo.desktop" || fail "desktop entry"
fi
if have xmllint; then
  xmllint --noout "$usr/share/mime/packages/arcavo.xml" || fail "MIME XML"
fi
if have appstreamcli; then
  appstreamcli validate --no-net "$usr/share/metainfo/arcavo.metainfo.xml" >"$work/as.log" ||
    { cat "$work/as.log" >&2; fail "metainfo"; }
fi
if have groff; then
  for page in arcavo arczip arcdisc; do
    out=$(gzip -dc "$usr/share/man/man1/$page.1.gz" | groff -man -ww -z 2>&1) || true
    [ -z "$out" ] || fail "$page.1 renders with warnings: $out"
  done
fi
# The MIME database built from the installed XML sorts a job by its name and, without one, by its
# first line (the line the program writes, checked by the job file tests), as the desktop's file
# managers and `xdg-mime query filetype` on a desktop ask it through GIO.
if have update-mime-database && have gio; then
  update-mime-database "$usr/share/mime" >/dev/null 2>&1 || fail "update-mime-database"
  mkdir -p "$work/jobs" "$work/data-home"
  for f in some.JOB other.job list.CAT saved; do
    printf 'ARCAVO-JOB 1\nC\tD\t/home/ann/docs\n' >"$work/jobs/$f"
  done
  printf '\xef\xbb\xbfARCAVO-JOB 1\n' >"$work/jobs/edited"
  for f in some.JOB other.job list.CAT saved edited; do
    type=$(env -i PATH=/usr/bin:/bin HOME="$work" XDG_DATA_HOME="$work/data-home" \
      XDG_DATA_DIRS="$usr/share:/usr/share" gio info -a standard::content-type "$work/jobs/$f" |
      sed -n 's/^ *standard::content-type: //p')
    [ "$type" = application/x-arcavo-job ] || fail "$f is taken for ${type:-nothing}"
  done
fi

# The help pages land in the help folder among the resources, where the window looks for them.
if [ -f "$(dirname "$0")/../../docs/help/arcavo-help.html" ]; then
  [ -s "$usr/share/arcavo/help/arcavo-help.html" ] || fail "help not under share/arcavo/help"
fi

version=$(sed -n 's/^project(Arcavo VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")
[ "$("$usr/bin/arczip" --version)" = "arczip $version" ] || fail "arczip --version"
[ "$("$usr/bin/arcavo" --version)" = "arcavo $version" ] || fail "arcavo --version"
# Usage asked for goes to standard output with success; unasked, to standard error with failure.
for tool in arczip arcdisc; do
  usage=$("$usr/bin/$tool" --help 2>/dev/null) || fail "$tool --help failed"
  [[ $usage == "usage: $tool"* ]] || fail "$tool --help"
  if "$usr/bin/$tool" >/dev/null 2>&1; then fail "$tool without arguments succeeded"; fi
done

# The installed arczip finds the stub under ../share/arcavo: the self-extractor it writes runs.
echo "installed" >"$work/payload.txt"
(cd "$work" && env -i PATH=/usr/bin:/bin "$usr/bin/arczip" a "$work/setup.exe" payload.txt \
  >"$work/arczip.log" 2>&1) || { cat "$work/arczip.log" >&2; fail "arczip a setup.exe"; }
if [ -f "$work/setup.exe" ]; then
  cmp -s -n "$(stat -c %s "$usr/share/arcavo/ArcSFX32.bin")" "$work/setup.exe" \
    "$usr/share/arcavo/ArcSFX32.bin" || fail "setup.exe does not begin with the installed stub"
  if have unzip; then unzip -tqq "$work/setup.exe" || fail "unzip -t setup.exe"; fi
fi

# A program with no stub anywhere says where it looked (skipped when a system-wide install holds
# one, which the lookup rightly finds).
if [ ! -e /usr/share/arcavo/ArcSFX32.bin ] && [ ! -e /usr/local/share/arcavo/ArcSFX32.bin ]; then
  mkdir -p "$work/lonely/bin"
  cp "$usr/bin/arczip" "$work/lonely/bin/"
  rc=0
  (cd "$work" && "$work/lonely/bin/arczip" a "$work/lonely.exe" payload.txt) \
    >"$work/lonely.log" 2>&1 || rc=$?
  want="stub not found: $work/lonely/bin/ArcSFX32.bin, $work/lonely/share/arcavo/ArcSFX32.bin, /usr/local/share/arcavo/ArcSFX32.bin, /usr/share/arcavo/ArcSFX32.bin"
  [ "$rc" = 2 ] || fail "a missing stub exits $rc"
  grep -qF "$want" "$work/lonely.log" || { cat "$work/lonely.log" >&2; fail "missing stub message"; }
fi

[ "$fails" = 0 ] || exit 1
echo "install layout: all good"
