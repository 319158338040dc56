#!/bin/sh
# install_test.sh tree|man_page|deb_package <cmake> <cpack> <build> <source>: in
# a temporary folder, `cmake --install` gives a working vorlex and its manual page,
# which renders without a warning, and `cpack -G DEB` packages both. 77: skipped.
set -u
mode=$1 cmake=$2 cpack=$3 build=$4 source=$5
tmp=$(mktemp -d) || exit 1; trap 'rm -rf "$tmp"' EXIT
fail() { cat "$tmp/log" >&2 2>/dev/null; echo "FAIL: $*" >&2; exit 1; }
need() { for t; do command -v "$t" >/dev/null || { echo "no $t"; exit 77; }; done; }
check_program() {  # no arguments: the usage text and status 0
  "$1" >"$tmp/usage.txt" 2>&1 || fail "$1 exited with status $?"
  grep -q 'VORLEX pakfile txtfile \[/E\] \[/P\] \[/R\] \[/L\] \[/A\] \[block nr\]' \
    "$tmp/usage.txt" || fail "$1 did not print its usage text"
}
p=$tmp/prefix page=$tmp/prefix/share/man/man1/vorlex.1
if [ "$mode" != deb_package ]; then
  "$cmake" --install "$build" --prefix "$p" >"$tmp/log" 2>&1 || fail "cmake --install failed"
fi
case $mode in
  tree)
    [ -x "$p/bin/vorlex" ] && [ -f "$page" ] || fail "no bin/vorlex or man1/vorlex.1"
    [ -f "$p/share/bash-completion/completions/vorlex" ] || fail "no bash completion"
    check_program "$p/bin/vorlex"
    # The installed program does real work, away from the build tree.
    (cd "$tmp" && "$p/bin/vorlex" "$source/examples/sample.pak" s.txt /E >out.txt 2>&1) ||
      fail "the installed vorlex could not extract the sample"
    printf '....Ok..\r\n' | cmp -s - "$tmp/out.txt" || fail "it printed $(cat "$tmp/out.txt")"
    grep -q 'Welcome to Gullhaven' "$tmp/s.txt" || fail "the extracted sample lacks its text"
    ;;
  man_page)
    need man nroff
    MANWIDTH=80 MANPAGER=cat PAGER=cat man --warnings -l "$page" >"$tmp/page.txt" \
      2>"$tmp/log" || fail "man -l could not render the page"
    [ -s "$tmp/log" ] && fail "the page renders with warnings"
    for s in NAME SYNOPSIS DESCRIPTION COMMANDS 'THE TEXT FILE' 'EXIT STATUS' SAFETY \
      DIAGNOSTICS EXAMPLES; do grep -q "^$s\$" "$tmp/page.txt" || fail "no $s section"; done
    ;;
  deb_package)
    need dpkg-deb dpkg-shlibdeps
    "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/package" >"$tmp/log" 2>&1 ||
      fail "cpack -G DEB failed"
    set -- "$tmp"/package/*.deb; [ $# -eq 1 ] && [ -f "$1" ] || fail "cpack made no single .deb"
    [ "$(dpkg-deb -f "$1" Package)" = vorlex ] || fail "the package is not named vorlex"
    dpkg-deb -c "$1" >"$tmp/log" || fail "dpkg-deb -c failed"
    grep -q ' \./usr/share/man/man1/vorlex\.1$' "$tmp/log" || fail "no manual page in it"
    grep -q '^-rwxr-xr-x root/root .* \./usr/bin/vorlex$' "$tmp/log" ||
      fail "./usr/bin/vorlex is missing or not an executable owned by root"
    dpkg-deb -x "$1" "$tmp/root"; check_program "$tmp/root/usr/bin/vorlex"
    ;;
  *) fail "unknown mode $mode" ;;
esac
echo "ok: $mode"
