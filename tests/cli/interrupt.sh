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
  # The file is made a moment before the program is told of it: a signal
  # in that moment would find it not yet listed.
  sleep 0.05
  kill -s "$signal" "$pid"
  status=0
  wait "$pid" || status=$?
  left=$(compgen -G 'out.xml*' || true)
  [ -z "$left" ] || { echo "SIG$signal: left behind: $left"; exit 1; }
  [ "$status" -gt 128 ] || { echo "SIG$signal: the program ended with $status, not by the signal"; exit 1; }
  echo "SIG$signal: ended by the signal ($status), nothing left"
done
