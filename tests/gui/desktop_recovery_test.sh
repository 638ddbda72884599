#!/usr/bin/env bash
# A whole recovery with the desktop program as a person does it: the real vxt-upgrade under
# Xvfb, driven with xdotool, against a simulated device in recovery mode, in a private network
# namespace (run through tests/in_netns). Saves a screenshot of every screen on the way and
# checks that the device ends with the embedded image and comes back with its version.
#   desktop_recovery_test.sh <vxt-upgrade> <vxt-device-sim> <embedded image> <screenshot dir> [scale]
set -euo pipefail
program=$1 sim=$2 image=$3 scale=${5:-1}
source "$(dirname "$0")/xvfb_session.sh"
begin_session "$4"

"$sim" --address 127.0.0.2 --recovery --serial VX0001 --restart-delay 2000 \
  --save-image "$work/received.bin" >"$work/sim.log" 2>&1 &
remember $!
launch_program "$scale" "$program"

step welcome "Tavero Firmware Upgrade Utility"
key shift+Tab space              # from the default button back to "Recover Firmware"
step recovery "^VXT Firmware Recovery$"
type_text vx0001                 # the serial box turns letters into capitals
key Return                       # "Continue"
step confirm "Confirm Upgrade to Ver\\. "
key Return
step updating "Updating Firmware to VXT@VX0001" 60
step success "VXT@VX0001 Upgrade Successful!" 180
key Return
wait_exit $program_pid 30

expect_device_holds "$image"
grep -F "recovery: 160-byte datagram, 127.0.0.1:4811 -> 234.4.8.10:4810" "$work/sim.log" >/dev/null \
  || { echo "no search request from the PC's port 4811 to the group"; exit 1; }
echo "screenshots: $(ls "$shots" | tr '\n' ' ')"
