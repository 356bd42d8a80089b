#!/usr/bin/env bash
# The install trees, the packages and the hosts built against them, the way
# the README shows. One check a call:
#   check.sh install|packages|deb|clang-cl|mingw|cmake|pkg-config|ctypes|readme [EMULATOR...]
# EMULATOR runs a Windows program (wine); natively it is empty. The build
# sets, in the environment:
#   QUORVEL    the tree the hosts use: the install tree (a scratch prefix;
#              empty: the system's, /usr) or, on Windows, the unpacked zip
#   PREFIX     the install tree
#   WORK       a scratch folder of the check's own
#   BUILD      the build folder
#   TREE       the expected tree, a path a line ("path -> target" for a link)
#   LIBDIR     the tree's folder of libraries (lib, or Debian's multiarch one)
#   PACKAGES   where the packages are made (and the archive unpacked)
#   ARCHIVE    the archive's name without its extension, also its top folder
#   VERSION    the project's version
#   LLVM_BIN   the folder of clang-cl, lld-link, llvm-dlltool, llvm-readobj
#   TOOLCHAIN  the mingw-w64 toolchain file (cmake, for the Windows tree)
#   MINGW      the mingw-w64 target (i686-w64-mingw32 or x86_64-w64-mingw32)
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

# expect_tree DIR WHAT [EXPECTED]: DIR holds the tree EXPECTED lists (TREE).
expect_tree() {
  local expected
  expected=$(LC_ALL=C sort "${3:-$TREE}")
  diff <(echo "$expected") <(list_tree "$1") || fail "$2 is not the expected tree (< expected, > found)"
  echo "$2: $(echo "$expected" | wc -l) files as expected"
}

windows_tree() { grep -qx bin/Quorvel.dll "$TREE"; }
bits() { if [ "${MINGW:-}" = x86_64-w64-mingw32 ]; then echo 64; else echo 32; fi; }

# The tree each Debian package holds under /usr, from TREE: the library's
# files, the command and its manual, the rest for development; the documents
# as Debian lays them out in each.
deb_tree() {
  local package=$1
  {
    case $package in
    libquorvel1) grep '/libquorvel\.so\.' "$TREE" ;;
    quorvel) grep -E '^(bin|share/man)/' "$TREE" ;;
    libquorvel-dev) grep -vE '/libquorvel\.so\.|^(bin|share)/' "$TREE" ;;
    esac
    printf "share/doc/$package/%s\n" NOTICE changelog.gz copyright
  } | LC_ALL=C sort
}
debian_packages="libquorvel-dev libquorvel1 quorvel"

case $mode in
install)
  rm -rf "${PREFIX:?}"
  cmake --install "$BUILD" --prefix "$PREFIX" > /dev/null
  expect_tree "$PREFIX" "the installed tree"
  tool=./quorvel
  if windows_tree; then tool=./quorvel.exe; fi
  version=$(cd "$PREFIX/bin" && "${emulator[@]}" $tool --version | tr -d '\r' | head -n 1)
  [ "$version" = "quorvel $VERSION" ] || fail "the installed quorvel --version printed [$version]"
  # The header states the version the build was made as.
  stated=$(cc -E -dM "$PREFIX/include/quorvel.h" | grep ' QUORVEL_VERSION' | LC_ALL=C sort | tr '\n' ' ')
  IFS=. read -r major minor patch <<< "$VERSION"
  [ "$stated" = "#define QUORVEL_VERSION \"$VERSION\" #define QUORVEL_VERSION_MAJOR $major #define QUORVEL_VERSION_MINOR $minor #define QUORVEL_VERSION_PATCH $patch " ] ||
    fail "quorvel.h states [$stated], the build $VERSION"
  if windows_tree; then
    # Short import objects, one for each name a compiler refers to, which
    # the loader looks up by the bare name.
    dump=$("$LLVM_BIN/llvm-readobj" "$PREFIX/lib/Quorvel.lib" | tr '\n' ' ')
    if [ "$(bits)" = 32 ]; then
      for name in Quorvel_GetLastError@4 Quorvel_TXT2XML@20 Quorvel_XML2TXT@24; do
        [[ $dump == *"Format: COFF-import-file Type: code Name type: undecorate Symbol: __imp__$name Symbol: _$name "* ]] ||
          fail "Quorvel.lib has no short import object mapping _$name to its bare name"
      done
    else
      for name in Quorvel_GetLastError Quorvel_TXT2XML Quorvel_XML2TXT; do
        [[ $dump == *"Format: COFF-import-file Type: code Name type: name Symbol: __imp_$name Symbol: $name "* ]] ||
          fail "Quorvel.lib has no short import object for $name"
      done
    fi
    # What Windows shows of each binary's version resource.
    mkdir -p "$WORK" && cd "$WORK"
    "$MINGW-gcc" -Wall -Wextra -Werror -O2 "$here/version_check.c" -lversion -o version_check.exe
    cp "$PREFIX/bin/Quorvel.dll" "$PREFIX/bin/quorvel.exe" .
    run_checks ./version_check.exe ${VERSION//./ } Quorvel.dll quorvel.exe
  else
    readelf -d "$PREFIX/$LIBDIR/libquorvel.so.$VERSION" | grep -q 'Library soname: \[libquorvel.so.1\]' ||
      fail "libquorvel.so.$VERSION lacks the SONAME libquorvel.so.1"
  fi
  ;;

packages)
  rm -rf "${PACKAGES:?}"
  cpack --config "$BUILD/CPackConfig.cmake" -B "$PACKAGES" > /dev/null
  cd "$PACKAGES"
  if windows_tree; then
    expected="$ARCHIVE.zip"
  else
    arch=$(dpkg --print-architecture)
    expected="$ARCHIVE.tar.gz libquorvel-dev_${VERSION}_$arch.deb libquorvel1_${VERSION}_$arch.deb quorvel_${VERSION}_$arch.deb"
  fi
  shopt -s nullglob
  found=(*.zip *.tar.gz *.deb)
  [ "${found[*]}" = "$expected" ] || fail "packages made: [${found[*]}], expected [$expected]"
  # The archive stays unpacked, for the hosts built from it alone.
  mkdir unpacked
  (cd unpacked && cmake -E tar xf "../${found[0]}")
  expect_tree "unpacked/$ARCHIVE" "${found[0]}"
  if windows_tree; then
    # Its README.txt names only files the zip holds (beside those its steps
    # make), none of the sources'.
    cd "unpacked/$ARCHIVE"
    named=$(grep -oE '\b(bin|build|cmake|include|lib|samples|scripts|share|src|tests|tools)[\\/][A-Za-z0-9_.\\/-]*[A-Za-z0-9_]|\b[A-Za-z_-]+\.(c|def|dll|exe|html|lib|md|txt|xml)\b|\b(LICENSE|NOTICE)\b' README.txt |
      tr '\\' / | grep -vxE 'host\.exe|invoices\.xml|returned\.txt|build/[^/]*' | sort -u)
    for path in $named; do
      [ -e "$path" ] || [ -n "$(find . -name "$path" -print -quit)" ] ||
        fail "README.txt names $path, which the zip lacks"
    done
    echo "README.txt: the $(echo "$named" | wc -l) files it names are in the zip"
    cd "$PACKAGES"
  fi
  if ! windows_tree; then
    for package in $debian_packages; do
      file=${package}_${VERSION}_$arch.deb
      dpkg-deb -x "$file" "deb-$package"
      expect_tree "deb-$package/usr" "$file under /usr" <(deb_tree "$package")
      [ "$(cd "deb-$package" && find . -mindepth 1 -maxdepth 1)" = ./usr ] || fail "$file installs outside /usr"
      command -v lintian > /dev/null || fail "no lintian (Debian package lintian)"
      lintian --fail-on error,warning "$file" || fail "lintian finds errors or warnings in $file"
      echo "$file: lintian finds no error and no warning"
      rm -rf "deb-$package"
    done
  fi
  ;;

deb)
  # Installs the .debs with dpkg into a root of their own, whose database
  # knows the system's packages (so that each dependency is checked) but
  # none of these, and uses what they installed. Nothing outside WORK changes.
  # dpkg installs (into any root) as root only: another caller becomes root
  # in a user namespace of its own, where it owns the files it installs.
  if [ "$(id -u)" -ne 0 ]; then
    unshare --user --map-root-user true 2> /dev/null || {
      echo "skipped: dpkg installs as root only, and no user namespace can be made here"
      exit 77
    }
    exec unshare --user --map-root-user bash "$0" deb "$@"
  fi
  root=$WORK/root
  rm -rf "$root" && mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
  awk -v RS= -v ORS='\n\n' '!/^Package: (libquorvel1|libquorvel-dev|quorvel)\n/' /var/lib/dpkg/status > "$root/var/lib/dpkg/status"
  # The system's packages own no files in the root.
  (cd /var/lib/dpkg/info && find . -name '*.list') | (cd "$root/var/lib/dpkg/info" && xargs touch --)
  rm -f "$root"/var/lib/dpkg/info/{libquorvel1,libquorvel-dev,quorvel}{,:*}.list
  files=()
  for package in $debian_packages; do
    files+=("$PACKAGES/${package}_${VERSION}_$(dpkg --print-architecture).deb")
  done
  dpkg --root="$root" --log=/dev/null -i "${files[@]}" > /dev/null
  for package in $debian_packages; do
    [ "$(dpkg --root="$root" -s "$package" | grep '^Status:')" = "Status: install ok installed" ] ||
      fail "$package is not installed in $root"
  done
  export PREFIX=$root/usr QUORVEL=$root/usr
  [ "$("$QUORVEL/bin/quorvel" --version | head -n 1)" = "quorvel $VERSION" ] || fail "quorvel --version: $("$QUORVEL/bin/quorvel" --version)"
  zcat "$QUORVEL/share/man/man1/quorvel.1.gz" | grep -q "^.TH QUORVEL 1 .*\"Quorvel $VERSION\"" ||
    fail "the installed manual page does not name version $VERSION"
  for consumer in cmake pkg-config ctypes; do
    WORK="$WORK/$consumer" bash "$0" "$consumer"
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
  # The zip's own sample host, then the checking host.
  enter mingw "$QUORVEL/samples/host.c"
  if [ "$(bits)" = 32 ]; then
    i686-w64-mingw32-gcc -O2 -I"$QUORVEL/include" host.c "$QUORVEL/lib/Quorvel.lib" -o host.exe
  else
    x86_64-w64-mingw32-gcc -O2 -I"$QUORVEL/include" host.c "$QUORVEL/lib/Quorvel.lib" -o host.exe
  fi
  cp "$QUORVEL/bin/Quorvel.dll" .
  run_host ./host.exe

  enter mingw-checks "$here/win32_host.c" "$QUORVEL/bin/Quorvel.dll"
  "$MINGW-gcc" -Wall -Wextra -Werror -O2 -I"$QUORVEL/include" win32_host.c "$QUORVEL/lib/Quorvel.lib" -o win32_host.exe
  run_checks ./win32_host.exe

  # An import library of the host's own, from the shipped Quorvel.def.
  enter mingw-def "$here/win32_host.c" "$QUORVEL/bin/Quorvel.dll"
  if [ "$(bits)" = 32 ]; then
    i686-w64-mingw32-dlltool -k -d "$QUORVEL/lib/Quorvel.def" -l libquorvel.a
  else
    x86_64-w64-mingw32-dlltool -d "$QUORVEL/lib/Quorvel.def" -l libquorvel.a
  fi
  "$MINGW-gcc" -O2 -I"$QUORVEL/include" win32_host.c libquorvel.a -o win32_host.exe
  run_checks ./win32_host.exe
  ;;

cmake)
  if [ -n "${TOOLCHAIN:-}" ]; then
    enter cmake "$QUORVEL/samples/host.c" "$QUORVEL/samples/CMakeLists.txt"
    cmake -S . -B build --toolchain "$TOOLCHAIN" -DQuorvel_DIR="$QUORVEL/lib/cmake/Quorvel" > /dev/null
    # A build of the other pointer size is turned away: natively 64-bit for
    # the 32-bit tree, the 32-bit toolchain for the 64-bit one.
    other=()
    if [ "$(bits)" = 64 ]; then other=(--toolchain "$(dirname "$TOOLCHAIN")/mingw-w64-i686.cmake"); fi
    if cmake -S . -B other "${other[@]}" -DQuorvel_DIR="$QUORVEL/lib/cmake/Quorvel" > other.log 2>&1 ||
      ! grep -q "version: $VERSION ($(bits)bit)" other.log; then
      fail "a build of the other pointer size did not turn away the $(bits)-bit Windows tree as such"
    fi
  else
    enter cmake "$here/host/host.c" "$here/host/CMakeLists.txt"
    if [ -n "$QUORVEL" ]; then
      cmake -S . -B build -DCMAKE_PREFIX_PATH="$QUORVEL" > /dev/null
    else
      cmake -S . -B build > /dev/null
    fi
  fi
  cmake --build build > /dev/null
  if [ -e build/host.exe ]; then run_host build/host.exe; else run_host build/host; fi
  ;;

pkg-config)
  enter pkg-config "$here/host/host.c"
  if [ -n "$QUORVEL" ]; then
    export PKG_CONFIG_PATH="$QUORVEL/$LIBDIR/pkgconfig"
    export LD_LIBRARY_PATH="$QUORVEL/$LIBDIR"
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
