#!/usr/bin/env bash
# The program's own temporary files (a copy of standard input, a spool for
# standard output) have no name in the temporary folder at any moment a
# test can see: another user who may write there finds nothing to swap for a
# link, and a kill, SIGKILL included, leaves nothing behind. Each case waits
# for the program to hold a file in that folder (seen in /proc), never for a
# length of time. Natively only.
#   private_files.sh TOOL WORK
set -euo pipefail
tool=$1 work=$2
rm -rf "$work" && mkdir -p "$work/tmp" && cd "$work"
export TMPDIR=$work/tmp LC_ALL=C
awk 'BEGIN { for (i = 0; i < 3000; i++)
  print "3100224130\t01234567\t913101157178123456\t91310000MA1FL4XQ2K\t20261102\t12800.00\t1664.00\tM\t255\t0" }' > big.txt
head -c 100000 big.txt > first.txt
tail -c +100001 big.txt > rest.txt
convert=(txt2xml - --nsr 1 --qymc Q --date 2026-12-07 --no-progress)
"$tool" txt2xml big.txt expected.xml "${convert[@]:2}" --quiet
printf 'a secret, readable by its owner alone\n' > secret
chmod 600 secret
cp secret secret.was
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Whether process $1 has a file of the temporary folder open, or the folder
# holds a name.
touches_folder() {
  [ -n "$(ls -A tmp)" ] && return 0
  local fd
  for fd in /proc/"$1"/fd/*; do
    case "$(readlink "$fd" 2> /dev/null)" in "$TMPDIR"/*) return 0 ;; esac
  done
  return 1
}
# Waits (a minute at most) until process $1 touches the temporary folder.
wait_for_folder() {
  for _ in $(seq 6000); do
    touches_folder "$1" && return 0
    kill -0 "$1" 2> /dev/null || break
    sleep 0.01
  done
  fail "$2: the program never used the temporary folder"
  return 1
}
expect_empty_folder() {
  local left
  left=$(ls -A tmp)
  [ -z "$left" ] || fail "$1: the temporary folder holds: $left"
}

# Standard input arrives in two parts; between them the program holds its
# copy. Every name in the folder is then made a link to the secret, as an
# attacker would: there is none, the output is the input's, the secret
# stays as it was.
for target in out.xml -; do
  rm -f in.fifo out.xml stdout.xml && mkfifo in.fifo
  "$tool" "${convert[@]:0:1}" - "$target" "${convert[@]:2}" < in.fifo > stdout.xml 2> err &
  pid=$!
  exec 3> in.fifo
  cat first.txt >&3
  if wait_for_folder "$pid" "txt2xml - $target"; then
    expect_empty_folder "txt2xml - $target, while it reads standard input"
    for name in tmp/* tmp/.[!.]*; do
      if [ -e "$name" ]; then ln -sfn "$work/secret" "$name"; fi
    done
  fi
  cat rest.txt >&3
  exec 3>&-
  status=0 && wait "$pid" || status=$?
  [ "$target" = - ] && mv stdout.xml out.xml
  [ "$status" = 0 ] || fail "txt2xml - $target: exit $status: $(cat err)"
  cmp -s out.xml expected.xml || fail "txt2xml - $target: the output is not the input's"
  cmp -s secret secret.was || fail "txt2xml - $target: the secret was written"
  rm -rf tmp/* tmp/.[!.]*
done

# Killed outright, or asked to end, at a moment it holds a temporary file:
# nothing is left. While it converts a document to standard output (which
# no one reads), and while it copies standard input.
write_document() {
  printf '<nsr>N</nsr>\n<rows>20000</rows>\n<data>\n'
  awk 'BEGIN { for (i = 0; i < 20000; i++) printf "  <row id=\"1\">\n   <dm>3100224130</dm>\n   <hm>01234567</hm>\n   <gf>913101157178123456</gf>\n   <xf>X</xf>\n   <kr>20261102</kr>\n   <je>12800.00</je>\n   <se>1664.00</se>\n   <mw>M</mw>\n   <sy>00000000000000FF</sy>\n   <jg>0000</jg>\n   <rq>20261205</rq>\n  </row>\n" }'
}
write_document > big.xml
for signal in KILL TERM; do
  rm -f out.fifo && mkfifo out.fifo
  "$tool" xml2txt big.xml - > out.fifo 2> /dev/null &
  pid=$!
  exec 4< out.fifo
  wait_for_folder "$pid" "xml2txt big.xml - (SIG$signal)" && kill -s "$signal" "$pid"
  status=0 && wait "$pid" || status=$?
  exec 4<&-
  [ "$status" = $((128 + $(kill -l "$signal"))) ] || fail "xml2txt big.xml -: SIG$signal: exit $status"
  expect_empty_folder "xml2txt big.xml -, SIG$signal"

  rm -f in.fifo term.txt && mkfifo in.fifo
  "$tool" xml2txt - term.txt < in.fifo 2> /dev/null &
  pid=$!
  exec 3> in.fifo
  head -c 100000 big.xml >&3
  wait_for_folder "$pid" "xml2txt - term.txt (SIG$signal)" && kill -s "$signal" "$pid"
  status=0 && wait "$pid" || status=$?
  exec 3>&-
  [ "$status" = $((128 + $(kill -l "$signal"))) ] || fail "xml2txt - term.txt: SIG$signal: exit $status"
  [ ! -e term.txt ] || fail "xml2txt - term.txt: SIG$signal: the output was written"
  expect_empty_folder "xml2txt - term.txt, SIG$signal"
done

[ "$failures" = 0 ] || exit 1
echo "no temporary file had a name; nothing was left"
