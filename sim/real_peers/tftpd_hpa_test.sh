#!/usr/bin/env bash
# The simulator's TFTP client against tftpd-hpa: told by an upgrade command, it downloads the
# file, the bytes equal the file, and after its restart it shows the version text at offset 92.
# tftpd-hpa answers from a fresh port, and curl sends the upgrade command with its own head, so
# the device tolerates those two points here.
set -euo pipefail
sim="$1"
source "$(dirname "$0")/common.sh"
tftpd_pid=""
stop_tftpd() {
  if [ -n "$tftpd_pid" ]; then kill "$tftpd_pid" 2>/dev/null || true; wait "$tftpd_pid" 2>/dev/null || true; fi
  cleanup
}
trap stop_tftpd EXIT

mkdir -m 755 "$work/root"
# An odd size, and a multiple of 512 (the transfer ends with an empty block).
for size in 70001 4096; do
  version="8.8.$size-hpa"
  python3 - "$work/root/vxt2f1a.bin" "$size" "$version" <<'PY'
import sys
path, size, version = sys.argv[1], int(sys.argv[2]), sys.argv[3].encode()
data = bytearray((i * 131 + i // 251) & 0xff for i in range(size))
data[92:128] = version + bytes(36 - len(version))
open(path, "wb").write(bytes(data))
PY
  chmod 644 "$work/root/vxt2f1a.bin"

  # Listening on the any-address: tftpd-hpa resolves an -a address with AI_ADDRCONFIG, which finds
  # no IPv4 address in a namespace that has only loopback.
  in.tftpd -L -s "$work/root" &
  tftpd_pid=$!
  wait_for sh -c "ss -Hlun 'sport = :69' | grep -q ." || fail "tftpd-hpa did not come up"
  rm -f "$work/received"
  start_sim --address 127.0.0.2 --web-port 80 --restart-delay 200 --save-image "$work/received" \
    --lenient=http-head,tftp-server-port

  code=$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.2/admin/upgrade?tftp://127.0.0.1:69/vxt2f1a.bin")
  [ "$code" = 200 ] || fail "upgrade command gave $code"
  wait_for test -f "$work/received" || fail "no image received"
  cmp "$work/root/vxt2f1a.bin" "$work/received" || fail "received bytes differ from the file"
  grep -q "tftp: OACK tsize=$size timeout=5, 127.0.0.1:[0-9]* -> 127.0.0.2:[0-9]*" "$work/sim.log" ||
    fail "no OACK with tsize $size"
  grep -q "refused:" "$work/sim.log" && fail "a strict point refused tftpd-hpa"

  page_shows_version() {
    curl -s "http://127.0.0.2/admin/advanced" 2>/dev/null | grep -q "<td>Software Version:</td><td>$version</td>"
  }
  wait_for page_shows_version || fail "the page does not show $version after the restart"
  stop_sim
  kill "$tftpd_pid"; wait "$tftpd_pid" 2>/dev/null || true; tftpd_pid=""
  echo "$size bytes: ok"
  grep -v -e "DATA [0-9]* (512 bytes" -e "ACK [0-9]*," "$work/sim.log"
done
