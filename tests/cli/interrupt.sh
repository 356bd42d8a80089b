#!/usr/bin/env bash
# An interrupt while the library writes its temporary file beside the
# target: the program removes that file, writes nothing and ends by the
# signal. Natively only (a POSIX signal).
#   interrupt.sh TOOL WORK
set -euo pipefail
# Job control: a job in the background then keeps SIGINT (else ignored).
set -m
tool=$1 work=$2
rm -rf "$work" && mkdir -p "$work" && cd "$work"
awk 'BEGIN { for (i = 0; i < 600000; i++)
  print "3100224130\t01234567\t913101157178123456\t91310000MA1FL4XQ2K\t20261102\t12800.00\t1664.00\t<0381*/45>+96-<<0312\t255\t0" }' > big.txt
for signal in TERM INT; do
  "$tool" txt2xml big.txt out.xml --nsr 1 --qymc Q --no-progress 2> /dev/null &
  pid=$!
  # Waits for the temporary file, then asks the program to end.
  for _ in $(seq 2000); do
    compgen -G 'out.xml.~*.tmp' > /dev/null && break
    sleep 0.005
  done
  compgen -G 'out.xml.~*.tmp' > /dev/null || { echo "SIG$signal: no temporary file was seen"; exit 1; }
  kill -s "$signal" "$pid"
  status=0
  wait "$pid" || status=$?
  left=$(compgen -G 'out.xml*' || true)
  [ -z "$left" ] || { echo "SIG$signal: left behind: $left"; exit 1; }
  [ "$status" -gt 128 ] || { echo "SIG$signal: the program ended with $status, not by the signal"; exit 1; }
  echo "SIG$signal: ended by the signal ($status), nothing left"
done

# An interrupt while the target itself is rewritten in place (a file with a
# second link, /dev/stdout redirected to a file, a FIFO) is held back until
# the target is whole: the program then ends by the signal, and the target
# holds the old bytes or the new document, never a mix.
head -n 100000 big.txt > mid.txt
"$tool" txt2xml mid.txt expected.xml --nsr 1 --qymc Q --no-progress 2> /dev/null
size=$(stat -c %s expected.xml)

# Waits until the file $1 begins as the document does while the program $2
# runs: the rewrite of the target has begun.
rewriting() {
  local first
  while kill -0 "$2" 2> /dev/null; do
    first=
    IFS= read -r -n 5 first < "$1" || true
    [ "$first" = "<?xml" ] && return 0
  done
  return 1
}

# The program $1, asked to end by SIG$2 while it wrote the target $3, has
# ended and left the target whole; status: how it ended.
ended_whole() {
  status=0
  wait "$1" || status=$?
  cmp -s "$3" expected.xml || [ "$(cat "$3")" = old ] ||
    { echo "SIG$2, $3: torn, $(stat -c %s "$3") bytes of $size"; exit 1; }
}

for target in link stdout; do
  for signal in TERM INT; do
    # A program that got through the whole rewrite between two looks ends
    # before the signal is sent: it is run once more.
    for _ in 1 2 3 4 5; do
      printf 'old\n' > target.xml
      if [ "$target" = link ]; then
        ln -f target.xml second.xml
        "$tool" txt2xml mid.txt target.xml --nsr 1 --qymc Q --no-progress 2> /dev/null &
      else
        "$tool" txt2xml mid.txt /dev/stdout --nsr 1 --qymc Q --no-progress > target.xml 2> /dev/null &
      fi
      pid=$!
      if rewriting target.xml "$pid"; then kill -s "$signal" "$pid" 2> /dev/null || true; fi
      # Measured after the signal was sent: a length short of the document's
      # shows that it came while the rewrite was under way.
      at=$(stat -c %s target.xml)
      ended_whole "$pid" "$signal" target.xml
      [ "$status" -ne 0 ] && break
    done
    [ "$status" -gt 128 ] || { echo "SIG$signal, $target: the program ended with $status, not by the signal"; exit 1; }
    echo "SIG$signal, $target: the file is whole (the signal came by byte $at of $size)"
  done
done

# A FIFO whose reader pauses after the first bytes: the signal comes while
# the program waits for it to read on, and the reader still gets the whole
# document.
for signal in TERM INT; do
  rm -f out.fifo go paused got.xml
  mkfifo out.fifo go
  { head -c 4096 > got.xml; : > paused; read -r _ < go; cat >> got.xml; } < out.fifo &
  reader=$!
  "$tool" txt2xml mid.txt out.fifo --nsr 1 --qymc Q --no-progress 2> /dev/null &
  pid=$!
  for _ in $(seq 3000); do
    [ -e paused ] || ! kill -0 "$reader" 2> /dev/null && break
    sleep 0.01
  done
  [ -e paused ] || { echo "SIG$signal, FIFO: the reader got no bytes"; exit 1; }
  kill -s "$signal" "$pid"
  echo > go
  wait "$reader"
  ended_whole "$pid" "$signal" got.xml
  [ "$status" -gt 128 ] || { echo "SIG$signal, FIFO: the program ended with $status, not by the signal"; exit 1; }
  echo "SIG$signal, FIFO: the reader got the whole document"
done
