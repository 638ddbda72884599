#!/usr/bin/env bash
# A whole upgrade with the desktop program as a person does it: the real vxt-upgrade under Xvfb,
# driven with xdotool (keys and typing), against the simulated device, in a private network
# namespace (run through tests/in_netns). Saves a screenshot of every screen on the way and
# checks that the device ends with the embedded image and the success window names its version.
#   desktop_upgrade_test.sh <vxt-upgrade> <vxt-device-sim> <embedded image> <screenshot dir> [scale]
set -euo pipefail
program=$1 sim=$2 image=$3 scale=${5:-1}
source "$(dirname "$0")/xvfb_session.sh"
begin_session "$4"

"$sim" --address 127.0.0.2 --password secret --restart-delay 2000 \
  --software-version 1.0.0 --save-image "$work/received.bin" >"$work/sim.log" 2>&1 &
remember $!
launch_program "$scale" "$program"

step welcome "Tavero Firmware Upgrade Utility"
key Return                       # "Upgrade Firmware " is the default button
step warning "Firmware Upgrade$"
key Tab Return                   # the focus starts on Cancel; Continue is next
step address "^VXT Firmware Upgrade$"
type_text 127.0.0.2
key Return
step password "Enter Password Information"
type_text secret                 # the focus is in the password box, "admin" in the user box
key Return
step confirm "Confirm Upgrade to Ver\\. "
key Return                       # "Upgrade"
# The device fetches the image at once (the waiting and uploading captions flash by on
# loopback), stores it and restarts; the uploading window then counts the wait of about 50 s.
step updating "Updating Firmware to VXT@127.0.0.2" 60
step success "VXT@127.0.0.2 Upgrade Successful!" 180
key Return
wait_exit $program_pid 30

expect_device_holds "$image"
echo "screenshots: $(ls "$shots" | tr '\n' ' ')"
