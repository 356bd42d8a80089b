#!/usr/bin/env bash
# What the program needs of the system's mounts, seen in a mount namespace
# of the test's own (as root, or as a user mapped to root).
#
# Without /proc (a chroot, a small container) standard input, standard
# output and a text in another character set still convert, to the same
# bytes, and nothing is left in the temporary folder.
#
# A sanitizer's runtime reads its options and the process's memory map from
# /proc, and fails the program at its end without it: a sanitized build
# (SANITIZED ON) runs only the cases that keep /proc; the release build runs
# them all.
#   mounts.sh TOOL WORK SAMPLES SANITIZED
set -euo pipefail
tool=$1 work=$2 samples=$3 sanitized=${4:-OFF}
rm -rf "$work" && mkdir -p "$work/tmp" && cd "$work"
export TMPDIR=$work/tmp LC_ALL=C
args="--nsr 1 --qymc Q --date 2026-12-07 --quiet"
# name | command, run by sh, its output in the file out
cases=(
  "standard input|cat '$samples/invoices.txt' | '$tool' txt2xml - out $args"
  "standard output|'$tool' txt2xml '$samples/invoices.txt' - $args > out"
  "--encoding utf-8|'$tool' txt2xml '$samples/invoices-utf8.txt' out --encoding utf-8 $args"
)
if [ "$(id -u)" = 0 ]; then namespace=(unshare -m --propagation private)
else namespace=(unshare --user --map-root-user -m --propagation private); fi
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
[ "$sanitized" = ON ] && cases=()
for case in "${cases[@]}"; do
  name=${case%%|*} command=${case#*|}
  rm -f out && sh -c "$command" || fail "$name: exit $? with /proc"
  mv out expected
  status=0
  "${namespace[@]}" sh -c "umount -l /proc && ! test -e /proc/self && $command" 2> err || status=$?
  [ "$status" = 0 ] || fail "$name without /proc: exit $status: $(cat err)"
  cmp -s out expected || fail "$name without /proc: not the bytes of a run with /proc"
  left=$(ls -A tmp)
  [ -z "$left" ] || fail "$name without /proc: the temporary folder holds: $left"
  rm -rf tmp/* tmp/.[!.]* out expected
done

# Standard output through a pipe, and check, need room in the temporary
# folder for one copy of the output (the library's spool), not two: a
# folder of 4 MiB takes an output of 2.6 MB.
awk 'BEGIN { for (i = 0; i < 10000; i++)
  print "3100224130\t01234567\t913101157178123456\t91310000MA1FL4XQ2K\t20261102\t12800.00\t1664.00\tM\t255\t0" }' > big.txt
"$tool" txt2xml big.txt big.xml $args
cases=(
  "txt2xml to a pipe|'$tool' txt2xml big.txt - $args | cat > out|big.xml"
  "check|'$tool' check big.txt --nsr 1 --qymc Q > out && echo 'big.txt: text, 10000 rows: converts cleanly' > expected|expected"
)
for case in "${cases[@]}"; do
  name=${case%%|*} rest=${case#*|}
  command=${rest%|*} expected=${rest##*|}
  status=0
  "${namespace[@]}" sh -c "mount -t tmpfs -o size=4m tmpfs tmp && $command" 2> err || status=$?
  [ "$status" = 0 ] || fail "$name, 4 MiB for temporary files: exit $status: $(cat err)"
  cmp -s out "$expected" || fail "$name, 4 MiB for temporary files: not the expected bytes"
  rm -f out expected
done
[ "$failures" = 0 ] || exit 1
if [ "$sanitized" = ON ]; then
  echo "converted with little room for temporary files (sanitized: the cases without /proc are the release build's)"
else
  echo "converted without /proc and with little room for temporary files; nothing was left"
fi
