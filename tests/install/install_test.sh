#!/bin/sh
# install_test.sh MODE <cmake> <cpack> <build> <source> <libdir> <driver lib>
#   <c++> <generator>: in a temporary folder, checks what `cmake --install`
# and `cpack` give a user (modes tree, man_page, deb_package) and builds and
# runs examples/consumer against the library (find_package, subdirectory,
# pkg_config). Exit 77: skipped, with the reason.
set -u
mode=$1 cmake=$2 cpack=$3 build=$4 source=$5 libdir=$6 driver=$7 cxx=$8 gen=$9
tmp=$(mktemp -d) || exit 1; trap 'rm -rf "$tmp"' EXIT
fail() { cat "$tmp/log" >&2 2>/dev/null; echo "FAIL: $*" >&2; exit 1; }
need() { for t; do command -v "$t" >/dev/null || { echo "no $t"; exit 77; }; done; }
check_program() {  # no arguments: the usage text and status 0
  "$1" >"$tmp/usage.txt" 2>&1 || fail "$1 exited with status $?"
  grep -q 'VORLEX pakfile txtfile \[/E\] \[/P\] \[/R\] \[/L\] \[/A\] \[block nr\]' \
    "$tmp/usage.txt" || fail "$1 did not print its usage text"
}
# The library holds the public interface and nothing of the command line: no
# symbol that the driver library defines; a shared one exports no core symbol.
# Either needs nothing but the C++ library.
check_library() {
  nm -C --defined-only "$driver" 2>/dev/null | awk 'NF >= 3 && $2 ~ /^[TDBR]$/ {
    $1 = $2 = ""; print }' | sort -u >"$tmp/driver.sym"
  case $1 in
    *.so*) nm -D -C --defined-only "$1" >"$tmp/lib.sym" || fail "nm -D $1"
      grep -q 'vorlex::core' "$tmp/lib.sym" && fail "$1 exports the core"
      objdump -p "$1" | grep -q "SONAME *libvorlex\.so\.[0-9]*$" || fail "no SONAME";;
    *) nm -C --defined-only "$1" >"$tmp/lib.sym" 2>/dev/null || fail "nm $1"
      # A link may take any member (for a template it holds): each must need
      # nothing beyond the C++ library.
      echo 'int main() {}' >"$tmp/main.cc"
      # shellcheck disable=SC2086  # flags, split
      "$cxx" ${VORLEX_LINK_FLAGS:-} "$tmp/main.cc" -Wl,--whole-archive "$1" \
        -Wl,--no-whole-archive -o "$tmp/whole" >"$tmp/log" 2>&1 ||
        fail "$1 needs more than the C++ library";;
  esac
  grep -q ' T vorlex::OpenPakfile(' "$tmp/lib.sym" || fail "$1 lacks OpenPakfile"
  awk 'NF >= 3 && $2 ~ /^[TDBR]$/ { $1 = $2 = ""; print }' "$tmp/lib.sym" |
    sort -u | comm -12 - "$tmp/driver.sym" >"$tmp/log"
  [ -s "$tmp/log" ] && fail "$1 holds command-line code"
}
expected() {  # what list_blocks prints for the sample
  printf '%s\n' \
    'block 0, ID 100: 3 strings, first Welcome to Gullhaven. Mind the tides.|' \
    'block 1, ID 101: 4 strings, first Keeper: You came at last. The lamp went dark at dusk.|' \
    'block 2, ID 102: 0 strings' \
    'block 3, ID 103: 3 strings, first A brass key, green with salt.|'
}
check_consumer() {  # the built list_blocks, run on the sample
  "$1" "$source/examples/sample.pak" >"$tmp/out.txt" 2>&1 || fail "$1 failed"
  expected | diff -u - "$tmp/out.txt" >"$tmp/log" || fail "$1 printed otherwise"
}
configure_consumer() {  # extra cmake arguments
  "$cmake" -S "$source/examples/consumer" -B "$tmp/consumer" -G "$gen" \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE= "$@" >"$tmp/log" 2>&1 ||
    fail "configuring the consumer failed"
  "$cmake" --build "$tmp/consumer" -j 2 >"$tmp/log" 2>&1 || fail "building it failed"
}
p=$tmp/prefix page=$tmp/prefix/share/man/man1/vorlex.1.gz
case $mode in deb_package|subdirectory) ;; *)
  "$cmake" --install "$build" --prefix "$p" >"$tmp/log" 2>&1 || fail "cmake --install failed";;
esac
case $mode in
  tree)
    [ -x "$p/bin/vorlex" ] && [ -f "$page" ] || fail "no bin/vorlex or man1/vorlex.1.gz"
    [ -f "$p/share/bash-completion/completions/vorlex" ] || fail "no bash completion"
    check_program "$p/bin/vorlex"
    # The installed program does real work, away from the build tree.
    (cd "$tmp" && "$p/bin/vorlex" "$source/examples/sample.pak" s.txt /E >out.txt 2>&1) ||
      fail "the installed vorlex could not extract the sample"
    printf '....Ok..\r\n' | cmp -s - "$tmp/out.txt" || fail "it printed $(cat "$tmp/out.txt")"
    grep -q 'Welcome to Gullhaven' "$tmp/s.txt" || fail "the extracted sample lacks its text"
    # One header; the library, its CMake package and pkg-config file in libdir.
    [ "$(cd "$p" && find include -type f)" = include/vorlex/vorlex.h ] ||
      fail "installed headers: $(cd "$p" && find include -type f)"
    for f in cmake/vorlex/vorlexConfig.cmake cmake/vorlex/vorlexConfigVersion.cmake \
      cmake/vorlex/vorlexTargets.cmake pkgconfig/vorlex.pc; do
      [ -f "$p/$libdir/$f" ] || fail "no $libdir/$f"
    done
    set -- "$p/$libdir"/libvorlex.so.*.*.* "$p/$libdir"/libvorlex.a
    [ -f "$1" ] || shift
    [ -f "$1" ] || fail "no libvorlex in $libdir"
    check_library "$1"
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
    for package in vorlex libvorlex-dev; do
      set -- "$tmp"/package/${package}_*.deb; [ -f "$1" ] || fail "no $package .deb"
      [ "$(dpkg-deb -f "$1" Package)" = $package ] || fail "$1 is not $package"
      dpkg-deb -f "$1" Maintainer | grep -q '@localhost' && fail "$package: no maintainer"
      dpkg-deb -c "$1" | awk '$1 !~ /^d/ { print $1, $2, $6 }' >"$tmp/$package.txt" ||
        fail "dpkg-deb -c $1 failed"
    done
    d=/usr/share/doc completion=
    [ -f "$source/doc/vorlex.bash-completion" ] &&
      completion="-rw-r--r-- root/root ./usr/share/bash-completion/completions/vorlex"
    grep . <<EOT | sort >"$tmp/want.txt"
-rw-r--r-- root/root ./usr/share/man/man1/vorlex.1.gz
-rw-r--r-- root/root .$d/vorlex/changelog.gz
-rw-r--r-- root/root .$d/vorlex/copyright
-rwxr-xr-x root/root ./usr/bin/vorlex
$completion
EOT
    sort "$tmp/vorlex.txt" | diff -u "$tmp/want.txt" - >"$tmp/log" || fail "the vorlex package"
    l=./usr/$libdir
    sort >"$tmp/want.txt" <<EOT
-rw-r--r-- root/root ./usr/include/vorlex/vorlex.h
-rw-r--r-- root/root $l/libvorlex.a
-rw-r--r-- root/root $l/cmake/vorlex/vorlexConfig.cmake
-rw-r--r-- root/root $l/cmake/vorlex/vorlexConfigVersion.cmake
-rw-r--r-- root/root $l/cmake/vorlex/vorlexTargets-$(sed -n 's/^CMAKE_BUILD_TYPE:[^=]*=//p' \
  "$build/CMakeCache.txt" | tr A-Z a-z).cmake
-rw-r--r-- root/root $l/cmake/vorlex/vorlexTargets.cmake
-rw-r--r-- root/root $l/pkgconfig/vorlex.pc
-rw-r--r-- root/root .$d/libvorlex-dev/changelog.gz
-rw-r--r-- root/root .$d/libvorlex-dev/copyright
EOT
    sort "$tmp/libvorlex-dev.txt" | diff -u "$tmp/want.txt" - >"$tmp/log" ||
      fail "the libvorlex-dev package"
    dpkg-deb -x "$tmp"/package/vorlex_*.deb "$tmp/root"; check_program "$tmp/root/usr/bin/vorlex"
    command -v lintian >/dev/null || { echo "contents ok; no lintian to check them"; exit 77; }
    lintian --tag-display-limit 0 "$tmp"/package/*.deb >"$tmp/log" 2>&1
    grep -q '^E: ' "$tmp/log" && fail "lintian reports errors"
    cat "$tmp/log"
    ;;
  find_package)
    configure_consumer -DCMAKE_PREFIX_PATH="$p"
    check_consumer "$tmp/consumer/list_blocks"
    ;;
  subdirectory)
    # Nothing but a compiler: no GoogleTest, no packaging, no program, and
    # the parent's install holds only what the parent installs.
    configure_consumer -DVORLEX_SOURCE_DIR="$source" -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON
    check_consumer "$tmp/consumer/list_blocks"
    [ -e "$tmp/consumer/CPackConfig.cmake" ] && fail "vorlex set up CPack for the parent"
    [ -e "$tmp/consumer/vorlex/vorlex" ] && fail "the vorlex program was built"
    "$cmake" --install "$tmp/consumer" --prefix "$p" >"$tmp/log" 2>&1 ||
      fail "the parent's cmake --install failed"
    [ "$(cd "$p" && find . -type f)" = ./bin/list_blocks ] ||
      fail "the parent installed $(cd "$p" && find . -type f)"
    ;;
  pkg_config)
    need pkg-config
    export PKG_CONFIG_PATH="$p/$libdir/pkgconfig"
    # shellcheck disable=SC2046  # the flags are meant to be split
    "$cxx" -std=c++17 -o "$tmp/list_blocks" "$source/examples/consumer/list_blocks.cc" \
      $(pkg-config --cflags --libs vorlex) >"$tmp/log" 2>&1 || fail "c++ with pkg-config failed"
    check_consumer "$tmp/list_blocks"
    ;;
  *) fail "unknown mode $mode" ;;
esac
echo "ok: $mode"
