#!/usr/bin/env bash
# Packs the .deb, installs it on this machine, checks that postinst gave the binary the
# capability to bind port 69, starts the installed program as an unprivileged user under Xvfb
# and waits for its welcome window; removes the package again whatever happens.
#   deb_install_test.sh <build dir>
set -euo pipefail
build=$1
[ "$(id -u)" -eq 0 ] || { echo "needs root to install a package; skipped"; exit 77; }
if dpkg-query -W -f='${Status}' vxt-upgrade 2>/dev/null | grep -q 'install ok installed'; then
  echo "vxt-upgrade is installed here already; not touching it; skipped"; exit 77
fi

work=$(mktemp -d)
xvfb=""
app=""
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  dpkg -r vxt-upgrade >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

(cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/vxt-upgrade_*.deb)
dpkg-deb -f "$deb" Depends Recommends

DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" >"$work/apt.log" 2>&1 \
  || { cat "$work/apt.log"; exit 1; }
desktop-file-validate /usr/share/applications/vxt-upgrade.desktop
for f in /usr/share/icons/hicolor/scalable/apps/vxt-upgrade.svg \
         /usr/share/icons/hicolor/{16x16,32x32,48x48,256x256}/apps/vxt-upgrade.png; do
  [ -s "$f" ] || { echo "missing $f"; exit 1; }
done

caps=$(getcap /usr/bin/vxt-upgrade)
echo "getcap: $caps"
case $caps in *cap_net_bind_service*ep*) ;; *) echo "postinst did not set cap_net_bind_service"; exit 1 ;; esac

# A display number of our own; -ac so the unprivileged program may connect.
display=:$((90 + RANDOM % 400))
Xvfb "$display" -ac -screen 0 1280x800x24 >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done

DISPLAY=$display XDG_RUNTIME_DIR= setpriv --reuid=nobody --regid=nogroup --clear-groups \
  env HOME="$work" /usr/bin/vxt-upgrade >"$work/app.log" 2>&1 &
app=$!
if ! DISPLAY=$display timeout 30 xdotool search --sync --name "Tavero Firmware Upgrade Utility" >/dev/null; then
  echo "the installed program showed no welcome window"; cat "$work/app.log"; exit 1
fi
effective=$(awk '/^CapEff:/ {print $2}' "/proc/$app/status")
echo "running as $(stat -c %U "/proc/$app"), CapEff $effective"
# Bit 10 is cap_net_bind_service.
[ $(( 0x$effective & 0x400 )) -ne 0 ] || { echo "the program runs without cap_net_bind_service"; exit 1; }
DISPLAY=$display import -window root "$build/installed_program_welcome.png" 2>/dev/null || true
echo "installed program started as an unprivileged user with cap_net_bind_service"
