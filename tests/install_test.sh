#!/usr/bin/env bash
# The manual pages render cleanly, share their common sections, and agree with the
# usage text; an install holds exactly the binaries and pages; cpack makes a Debian
# package of them.
#   install_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A section of a page's source, from its .SH line to the next one.
section() { awk -v name="$2" '/^\.SH / { inside = ($0 == ".SH " name || $0 == ".SH \"" name "\"") } inside' "$1"; }
# The page's source with the tool's own names made neutral.
neutral() { sed -e 's/ac3lenfit\|mp2lenfit\|dtslenfit/TOOL/g; s/AC3LENFIT\|MP2LENFIT\|DTSLENFIT/TOOL/g; s/\.ac3\|\.mp2\|\.dts/.EXT/g'; }

# A tool per format folder.
tools=$(cd "$source_dir" && ls -- */main.cpp | sed 's|/main.cpp$|lenfit|')
for tool in $tools; do
  page="$source_dir/man/$tool.1"
  warnings=$(groff -man -ww -z "$page" 2>&1)
  [ -z "$warnings" ] || fail "$tool.1 renders with warnings: $warnings"
  for name in NAME SYNOPSIS DESCRIPTION OPTIONS OUTPUT "EXIT STATUS" EXAMPLES LIMITATIONS "SEE ALSO"; do
    [ -n "$(section "$page" "$name")" ] || fail "$tool.1 has no $name section"
  done

  synopsis=$(groff -man -Tascii -P-cbou "$page" 2>/dev/null | sed -n '/^SYNOPSIS/,/^DESCRIPTION/p' |
    sed '1d;$d' | tr -s ' \n' ' ' | sed 's/^ //; s/ $//')
  usage=$("$build_dir/$tool" | head -n 1 | sed 's/^Usage: //') || true
  [ "$synopsis" = "$usage" ] || fail "$tool.1 SYNOPSIS '$synopsis' differs from the usage text '$usage'"
done

for name in SYNOPSIS OPTIONS "EXIT STATUS" EXAMPLES; do
  for other in $tools; do
    if ! diff <(section "$source_dir/man/ac3lenfit.1" "$name" | neutral) \
              <(section "$source_dir/man/$other.1" "$name" | neutral) >"$work/diff"; then
      fail "the $name sections of ac3lenfit.1 and $other.1 drifted apart:"; cat "$work/diff"
    fi
  done
done

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
expected=$( (for tool in $tools; do echo "bin/$tool"; echo "share/man/man1/$tool.1"; done) | sort)
installed=$(cd "$work/prefix" && find . -type f | sed 's|^\./||' | sort)
[ "$installed" = "$expected" ] || fail "the install holds: $installed"
for tool in $tools; do
  status=0
  "$work/prefix/bin/$tool" >"$work/usage" || status=$?
  [ "$status" = 1 ] && grep -q "^Usage: $tool " "$work/usage" || fail "installed $tool does not run"
done

(cd "$build_dir" && cpack -G DEB -B "$work/package" >/dev/null)
package=$(ls "$work"/package/*.deb)
contents=$(dpkg-deb -c "$package" | awk '{ print $6 }' | grep -v '/$' | sort)
[ "$contents" = "$(echo "$expected" | sed 's|^|./usr/|')" ] || fail "the package holds: $contents"
[ "$(dpkg-deb -f "$package" Package)" = lenfit ] || fail "the package is not named lenfit"
dpkg-deb -f "$package" Depends | grep -q libc6 || fail "the package does not depend on libc6"

[ "$failures" = 0 ] && echo "manual pages, install and package: all checks passed"
exit "$failures"
