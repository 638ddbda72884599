#!/usr/bin/env bash
# An independent decoder reads the simulator's recovery reply, field by field.
set -euo pipefail
sim="$1"
source "$(dirname "$0")/common.sh"
decoder="$(dirname "$0")/recovery_reply_decoder.py"

# A product name of exactly 20 characters fills its field without a terminating zero.
start_sim --recovery --address 127.0.0.9 --serial SN2024ABC --product-name ABCDEFGHIJKLMNOPQRST \
  --mac 00:0e:08:aa:bb:cc --software-version 3.1.4-rc --hardware-version HW-7
python3 "$decoder" --serial SN2024ABC \
  --expect serial=SN2024ABC --expect product_name=ABCDEFGHIJKLMNOPQRST --expect mac=000E08AABBCC \
  --expect software_version=3.1.4-rc --expect hardware_version=HW-7 --expect address=127.0.0.9 ||
  fail "decoded reply differs"
stop_sim
grep -q 'recovery: search for serial "SN2024ABC" from 127.0.0.1:4811 -> 100-byte reply' "$work/sim.log" ||
  fail "search not logged"
cat "$work/sim.log"
