#!/usr/bin/env bash
# The install trees, the packages and the hosts built against them, the way
# the README shows. One check a call:
#   check.sh install|packages|deb|clang-cl|mingw|cmake|pkg-config|ctypes|readme [EMULATOR...]
# EMULATOR runs a Windows program (wine); natively it is empty. The build
# sets, in the environment:
#   QUORVEL    the install tree, a scratch prefix (empty: the system's, /usr)
#   WORK       a scratch folder of the check's own
#   BUILD      the build folder
#   TREE       the expected tree, a path a line ("path -> target" for a link)
#   PACKAGES   where the packages are made
#   VERSION    the project's version
#   LLVM_BIN   the folder of clang-cl, lld-link, llvm-dlltool, llvm-readobj
#   TOOLCHAIN  the mingw-w64 toolchain file (cmake, for the Windows tree)
set -euo pipefail
mode=$1
shift
emulator=("$@")
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
here=$source_dir/tests/sdk
export CMAKE_GENERATOR=${CMAKE_GENERATOR:-Ninja}

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Makes $WORK/NAME afresh with the samples, expected.txt (what returned.xml
# converts to) and the FILES given, and goes there.
enter() {
  local name=$1
  shift
  rm -rf "${WORK:?}/$name"
  mkdir -p "$WORK/$name"
  cp "$source_dir/samples/invoices.txt" "$source_dir/samples/returned.xml" "$@" "$WORK/$name/"
  cp "$source_dir/tests/data/samples_returned.txt" "$WORK/$name/expected.txt"
  cd "$WORK/$name"
}

# Runs the README's host.c, built as PROGRAM, and checks what it printed and wrote.
run_host() {
  local out
  out=$("${emulator[@]}" "$@" | tr -d '\r')
  [ "$out" = "4 rows for 913101157178123456" ] || fail "$1 printed [$out]"
  cmp returned.txt expected.txt || fail "$1 wrote a returned.txt other than expected"
  echo "$1: ok"
}

# Runs a checking host (win32_host.c), which prints its failures and a summary.
run_checks() {
  "${emulator[@]}" "$@" | tr -d '\r'
}

# A tree listed as TREE lists it.
list_tree() {
  (cd "$1" && find . -mindepth 1 \( -type l -printf '%P -> %l\n' \) -o \( -type f -printf '%P\n' \)) |
    LC_ALL=C sort
}

expect_tree() {
  diff <(LC_ALL=C sort "$TREE") <(list_tree "$1") ||
    fail "$2 is not the expected tree (< expected, > found)"
  echo "$2: $(wc -l < "$TREE") files as expected"
}

windows_tree() { grep -qx bin/Quorvel.dll "$TREE"; }

case $mode in
install)
  rm -rf "${QUORVEL:?}"
  cmake --install "$BUILD" --prefix "$QUORVEL" > /dev/null
  expect_tree "$QUORVEL" "the installed tree"
  tool=./quorvel
  if windows_tree; then tool=./quorvel.exe; fi
  version=$(cd "$QUORVEL/bin" && "${emulator[@]}" $tool --version | tr -d '\r' | head -n 1)
  [ "$version" = "quorvel $VERSION" ] || fail "the installed quorvel --version printed [$version]"
  if windows_tree; then
    # Short import objects, one for each decorated name, which the loader
    # looks up by the name undecorated.
    dump=$("$LLVM_BIN/llvm-readobj" "$QUORVEL/lib/Quorvel.lib" | tr '\n' ' ')
    for name in Quorvel_GetLastError@4 Quorvel_TXT2XML@20 Quorvel_XML2TXT@24; do
      [[ $dump == *"Format: COFF-import-file Type: code Name type: undecorate Symbol: __imp__$name Symbol: _$name "* ]] ||
        fail "Quorvel.lib has no short import object mapping _$name to its bare name"
    done
  else
    readelf -d "$QUORVEL/lib/libquorvel.so.$VERSION" | grep -q 'Library soname: \[libquorvel.so.1\]' ||
      fail "libquorvel.so.$VERSION lacks the SONAME libquorvel.so.1"
  fi
  ;;

packages)
  rm -rf "${PACKAGES:?}"
  cpack --config "$BUILD/CPackConfig.cmake" -B "$PACKAGES" > /dev/null
  cd "$PACKAGES"
  if windows_tree; then
    expected="Quorvel-$VERSION-win32.zip"
  else
    expected="Quorvel-$VERSION-linux-$(uname -m).tar.gz quorvel_${VERSION}_$(dpkg --print-architecture).deb"
  fi
  shopt -s nullglob
  found=(*.zip *.tar.gz *.deb)
  [ "${found[*]}" = "$expected" ] || fail "packages made: [${found[*]}], expected [$expected]"
  for package in $expected; do
    rm -rf unpacked && mkdir unpacked
    case $package in
    *.deb)
      dpkg-deb -x "$package" unpacked
      expect_tree unpacked/usr "$package under /usr"
      ;;
    *)
      (cd unpacked && cmake -E tar xf "../$package")
      top=${package%.zip}
      expect_tree "unpacked/${top%.tar.gz}" "$package"
      ;;
    esac
  done
  rm -rf unpacked
  ;;

deb)
  # Installs the .deb system-wide, uses it with no paths given, and purges
  # it, whatever happens (a quorvel package installed before is replaced,
  # and purged as well).
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    sudo -n true 2> /dev/null || {
      echo "skipped: installing a .deb needs root or sudo without a password"
      exit 77
    }
    sudo=sudo
  fi
  trap '$sudo dpkg --purge quorvel > /dev/null 2>&1 || true' EXIT
  $sudo dpkg -i "$PACKAGES"/quorvel_*.deb > /dev/null
  [ "$(command -v quorvel)" = /usr/bin/quorvel ] || fail "quorvel is not /usr/bin/quorvel"
  [ "$(quorvel --version | head -n 1)" = "quorvel $VERSION" ] || fail "quorvel --version: $(quorvel --version)"
  for consumer in cmake pkg-config ctypes; do
    QUORVEL="" WORK="$WORK/$consumer" bash "$0" "$consumer"
  done
  ;;

clang-cl)
  # MSVC's way, by LLVM's clang-cl and lld-link, without the C runtime.
  [ -x "$LLVM_BIN/clang-cl" ] || fail "no clang-cl (Debian package clang-tools)"
  enter clang-cl "$here/win32_host.c" "$here/kernel32.def"
  export PATH="$LLVM_BIN:$PATH"
  llvm-dlltool -m i386 -k -d kernel32.def -l kernel32.lib
  clang-cl --target=i686-pc-windows-msvc /nologo /W4 /WX /O2 /GS- /c /I"$QUORVEL/include" win32_host.c
  lld-link /nologo /subsystem:console /entry:HostEntry /nodefaultlib win32_host.obj "$QUORVEL/lib/Quorvel.lib" kernel32.lib
  cp "$QUORVEL/bin/Quorvel.dll" .
  run_checks ./win32_host.exe
  ;;

mingw)
  enter mingw "$here/host/host.c"
  i686-w64-mingw32-gcc -O2 -I"$QUORVEL/include" host.c "$QUORVEL/lib/Quorvel.lib" -o host.exe
  cp "$QUORVEL/bin/Quorvel.dll" .
  run_host ./host.exe

  enter mingw-checks "$here/win32_host.c" "$QUORVEL/bin/Quorvel.dll"
  i686-w64-mingw32-gcc -Wall -Wextra -Werror -O2 -I"$QUORVEL/include" win32_host.c "$QUORVEL/lib/Quorvel.lib" -o win32_host.exe
  run_checks ./win32_host.exe

  # An import library of the host's own, from the installed Quorvel.def.
  enter mingw-def "$here/win32_host.c" "$QUORVEL/bin/Quorvel.dll"
  i686-w64-mingw32-dlltool -k -d "$QUORVEL/lib/Quorvel.def" -l libquorvel.a
  i686-w64-mingw32-gcc -O2 -I"$QUORVEL/include" win32_host.c libquorvel.a -o win32_host.exe
  run_checks ./win32_host.exe
  ;;

cmake)
  enter cmake "$here/host/host.c" "$here/host/CMakeLists.txt"
  if [ -n "${TOOLCHAIN:-}" ]; then
    cmake -S . -B build --toolchain "$TOOLCHAIN" -DQuorvel_DIR="$QUORVEL/lib/cmake/Quorvel" > /dev/null
    # The 32-bit tree is no package for a 64-bit build.
    if cmake -S . -B build64 -DQuorvel_DIR="$QUORVEL/lib/cmake/Quorvel" > build64.log 2>&1 ||
      ! grep -q "version: $VERSION (32bit)" build64.log; then
      fail "a 64-bit build did not turn away the 32-bit Windows tree as such"
    fi
  elif [ -n "$QUORVEL" ]; then
    cmake -S . -B build -DCMAKE_PREFIX_PATH="$QUORVEL" > /dev/null
  else
    cmake -S . -B build > /dev/null
  fi
  cmake --build build > /dev/null
  if [ -e build/host.exe ]; then run_host build/host.exe; else run_host build/host; fi
  ;;

pkg-config)
  enter pkg-config "$here/host/host.c"
  if [ -n "$QUORVEL" ]; then
    export PKG_CONFIG_PATH="$QUORVEL/lib/pkgconfig"
    export LD_LIBRARY_PATH="$QUORVEL/lib"
  fi
  cc host.c -o host $(pkg-config --cflags --libs quorvel)
  run_host ./host
  ;;

ctypes)
  enter ctypes
  # As the README has it: QUORVEL exported, no LD_LIBRARY_PATH.
  export QUORVEL
  unset LD_LIBRARY_PATH
  python3 "$here/ctypes_host.py"
  ;;

readme)
  # Each README block that follows "<!-- tested by FILE -->" is one FILE runs:
  # every line of the block stands, in order, within a line of FILE.
  python3 - "$source_dir" << 'EOF'
import pathlib, re, sys
root = pathlib.Path(sys.argv[1])
readme = (root / "README.md").read_text(encoding="utf-8")
blocks = re.findall(r"<!-- tested by (\S+) -->\n```[a-z]*\n(.*?)```", readme, re.S)
if not blocks:
    sys.exit("FAIL: the README marks no tested block")
bad = 0
for name, block in blocks:
    lines = (root / name).read_text(encoding="utf-8").splitlines()
    at = 0
    for wanted in filter(None, (line.strip() for line in block.splitlines())):
        while at < len(lines) and wanted not in lines[at]:
            at += 1
        if at == len(lines):
            print(f"FAIL: {name} does not run the README's line: {wanted}")
            bad += 1
            break
        at += 1
print(f"{len(blocks)} README blocks checked, {bad} not run as shown")
sys.exit(1 if bad else 0)
EOF
  ;;

*)
  fail "unknown check $mode"
  ;;
esac
