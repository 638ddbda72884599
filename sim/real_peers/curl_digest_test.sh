#!/usr/bin/env bash
# curl --digest against the simulator: the right password fetches the information page (with
# qop auth and without qop, algorithm MD5), a wrong password or none gets 401. curl writes its
# own head (User-Agent, Accept) and its own Digest form, so the device tolerates both here; the
# strict device refuses the same requests, which is checked last.
set -euo pipefail
sim="$1"
source "$(dirname "$0")/common.sh"

for qop in auth none; do
  start_sim --address 127.0.0.2 --web-port 80 --password 'Pa55 word' --qop "$qop" --algorithm MD5 \
    --opaque 0paque --software-version 5.4.3 --lenient=http-head,authorization
  url=http://127.0.0.2/admin/advanced

  code=$(curl -s -o "$work/page" -w '%{http_code}' --digest -u 'admin:Pa55 word' "$url")
  [ "$code" = 200 ] || fail "qop $qop: right password gave $code"
  grep -q '<td>Software Version:</td><td>5.4.3</td>' "$work/page" || fail "qop $qop: page lacks the version"

  code=$(curl -s -o /dev/null -w '%{http_code}' --digest -u 'admin:wrong' "$url")
  [ "$code" = 401 ] || fail "qop $qop: wrong password gave $code"
  code=$(curl -s -o /dev/null -w '%{http_code}' "$url")
  [ "$code" = 401 ] || fail "qop $qop: no credentials gave $code"
  # A second client under the same nonce counts its requests from 1 again.
  code=$(curl -s -o /dev/null -w '%{http_code}' --digest -u 'admin:Pa55 word' "$url")
  [ "$code" = 200 ] || fail "qop $qop: right password after a wrong one gave $code"
  stop_sim

  # curl first asks without credentials, then answers the challenge.
  grep -q '"GET /admin/advanced HTTP/1.1" -> 401 Unauthorized (no credentials)' "$work/sim.log" || fail "no challenge logged"
  grep -q '"GET /admin/advanced HTTP/1.1" -> 200 OK' "$work/sim.log" || fail "no 200 logged"
  grep -q '"GET /admin/advanced HTTP/1.1" -> 401 Unauthorized (wrong credentials)' "$work/sim.log" ||
    fail "wrong password not logged as such"
  echo "qop $qop: ok"
  cat "$work/sim.log"
done

# Strict (the default): curl names the device itself in its Host line, not a private address as
# the wizard does, so it is refused and the rule named.
start_sim --address 127.0.0.2 --web-port 80 --password 'Pa55 word'
code=$(curl -s -o /dev/null -w '%{http_code}' --digest -u 'admin:Pa55 word' http://127.0.0.2/admin/advanced)
[ "$code" = 400 ] || fail "strict device gave $code to curl"
stop_sim
grep -q 'refused: the Host value is not a dotted private IPv4 address' "$work/sim.log" ||
  fail "the refusal does not name the rule"
echo "strict: ok"
cat "$work/sim.log"
