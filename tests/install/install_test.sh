#!/bin/sh
# Checks what a build installs and packages, in a temporary folder:
#   install_test.sh tree <cmake> <build dir> <source dir>
#       `cmake --install` puts a working vorlex and its manual page in place;
#   install_test.sh man <cmake> <build dir>
#       the installed manual page renders without a warning;
#   install_test.sh deb <cpack> <build dir>
#       `cpack -G DEB` makes a package that holds both.
# Exits 77 (skipped) when a tool the check needs is missing.
set -u
mode=$1
tool=$2
build=$3
source=${4:-}

skip=77
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

install_into() {
  "$tool" --install "$build" --prefix "$1" >"$tmp/install.log" 2>&1 || {
    cat "$tmp/install.log" >&2
    fail "cmake --install $build --prefix $1 failed"
  }
}

# The program answers no arguments with its usage text and status 0.
check_program() {
  "$1" >"$tmp/usage.txt" 2>&1 || fail "$1 exited with status $?"
  grep -q 'VORLEX pakfile txtfile \[/E\] \[/P\] \[/R\] \[/L\] \[/A\] \[block nr\]' \
    "$tmp/usage.txt" || fail "$1 did not print its usage text"
}

case $mode in
  tree)
    prefix=$tmp/prefix
    install_into "$prefix"
    [ -x "$prefix/bin/vorlex" ] || fail "no runnable bin/vorlex installed"
    [ -f "$prefix/share/man/man1/vorlex.1" ] ||
      fail "no share/man/man1/vorlex.1 installed"
    check_program "$prefix/bin/vorlex"
    # The installed program does real work, away from the build tree.
    (cd "$tmp" && "$prefix/bin/vorlex" "$source/examples/sample.pak" s.txt /E \
      >out.txt 2>&1) || fail "the installed vorlex could not extract the sample"
    printf '....Ok..\r\n' | cmp -s - "$tmp/out.txt" ||
      fail "the installed vorlex printed $(cat "$tmp/out.txt")"
    grep -q 'Welcome to Gullhaven' "$tmp/s.txt" ||
      fail "the extracted sample lacks its text"
    ;;
  man)
    command -v man >/dev/null 2>&1 || { echo "man is missing"; exit $skip; }
    command -v nroff >/dev/null 2>&1 || { echo "nroff is missing"; exit $skip; }
    install_into "$tmp/prefix"
    page=$tmp/prefix/share/man/man1/vorlex.1
    MANWIDTH=80 MANPAGER=cat PAGER=cat man --warnings -l "$page" \
      >"$tmp/page.txt" 2>"$tmp/warnings.txt" || {
      cat "$tmp/warnings.txt" >&2
      fail "man -l could not render the page"
    }
    if [ -s "$tmp/warnings.txt" ]; then
      cat "$tmp/warnings.txt" >&2
      fail "the page renders with warnings"
    fi
    for section in NAME SYNOPSIS DESCRIPTION COMMANDS 'THE TEXT FILE' \
      'EXIT STATUS' SAFETY DIAGNOSTICS EXAMPLES; do
      grep -q "^$section\$" "$tmp/page.txt" || fail "no $section section"
    done
    ;;
  deb)
    for needed in dpkg-deb dpkg-shlibdeps; do
      command -v $needed >/dev/null 2>&1 || { echo "$needed is missing"; exit $skip; }
    done
    "$tool" -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/package" \
      >"$tmp/cpack.log" 2>&1 || {
      cat "$tmp/cpack.log" >&2
      fail "cpack -G DEB failed"
    }
    set -- "$tmp"/package/*.deb
    [ $# -eq 1 ] && [ -f "$1" ] || fail "cpack made no single .deb"
    deb=$1
    [ "$(dpkg-deb -f "$deb" Package)" = vorlex ] || fail "the package is not named vorlex"
    dpkg-deb -c "$deb" >"$tmp/contents.txt" || fail "dpkg-deb -c failed"
    for file in ./usr/bin/vorlex ./usr/share/man/man1/vorlex.1; do
      grep -q " $file\$" "$tmp/contents.txt" || {
        cat "$tmp/contents.txt" >&2
        fail "the package lacks $file"
      }
    done
    grep -q '^-rwxr-xr-x root/root .* ./usr/bin/vorlex$' "$tmp/contents.txt" ||
      fail "./usr/bin/vorlex is not an executable owned by root"
    dpkg-deb -x "$deb" "$tmp/root" || fail "dpkg-deb -x failed"
    check_program "$tmp/root/usr/bin/vorlex"
    ;;
  *)
    fail "unknown mode $mode"
    ;;
esac
echo "ok: $mode"
