#!/bin/bash
# usage: desktop-without-user-namespace.sh SCRIPT
# The Wayland desktop of SCRIPT (scripts/wayland-desktop) started as root where no user namespace can be made,
# as in a chroot or in a container with the default seccomp profile: an `unshare` ahead on PATH refuses
# --user as the kernel does there. The desktop still comes up with both outputs at their scales, the tray,
# the portal and XWayland, and its compositor is no longer root. Where not even its user can be taken on, the
# script ends at once with status 77 (no desktop can run here) and says why. Exit status 77 (skipped) when
# not root.
set -u
script=$1
if [ "$(id -u)" != 0 ]; then
  echo "skipped: only root starts the compositor in a user namespace"
  exit 77
fi
shim=$(mktemp -d)
trap 'rm -rf "$shim"' EXIT
real=$(command -v unshare) || { echo "unshare is not installed"; exit 1; }
cat > "$shim/unshare" <<EOF
#!/bin/sh
for argument in "\$@"; do
  case \$argument in
    -U|--user|--user=*)
      echo "\$*" >> '$shim/refused'
      echo "unshare: unshare failed: Operation not permitted" >&2
      exit 1 ;;
  esac
done
exec '$real' "\$@"
EOF
chmod 755 "$shim/unshare"

# Inside the desktop: each output's name, mode and scale; the compositor's user; who owns the tray and the
# portal; the X11 screen of XWayland.
PATH="$shim:$PATH" "$script" -- bash -c '
  swaymsg -t get_outputs -p |
    awk "/^Output/ { name = \$2 } /Current mode/ { mode = \$3 } /Scale factor/ { print name, mode, \$3 + 0 }"
  sway=${SWAYSOCK%.sock}; sway=${sway##*.}
  echo "compositor uid $(ps -o uid= -p "$sway" | tr -d " ")"
  for name in org.kde.StatusNotifierWatcher org.freedesktop.portal.Desktop; do
    dbus-send --bus="$DBUS_SESSION_BUS_ADDRESS" --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.NameHasOwner string:$name | grep -q "boolean true" && echo "$name is on the bus"
  done
  DISPLAY=$LUMETROVE_WAYLAND_XDISPLAY xdotool getdisplaygeometry
' > "$shim/seen" 2> "$shim/errors"
status=$?
failed=0
check() { echo "FAILED: $*"; failed=1; }
[ $status = 0 ] || check "the desktop did not come up (exit status $status)"
[ -s "$shim/refused" ] || check "the desktop never asked for a user namespace, so the refusal was not tried"
grep -qx "HEADLESS-1 1920x1080 1" "$shim/seen" || check "no 1920x1080 output at scale 1"
grep -qx "HEADLESS-2 1280x800 2" "$shim/seen" || check "no 1280x800 output at scale 2"
[ "$(grep -c '^HEADLESS-' "$shim/seen")" = 2 ] || check "not exactly two outputs"
grep -q "^compositor uid [1-9]" "$shim/seen" || check "the compositor is root, or was not found"
grep -qx "org.kde.StatusNotifierWatcher is on the bus" "$shim/seen" || check "no tray"
grep -qx "org.freedesktop.portal.Desktop is on the bus" "$shim/seen" || check "no portal"
grep -Eqx "[0-9]+ [0-9]+" "$shim/seen" || check "XWayland does not answer"

# Where the compositor's user cannot be taken on either, no desktop can come up: the script says so at once, with
# the status that marks its tests skipped, instead of failing after its timeout.
cat > "$shim/setpriv" <<EOF
#!/bin/sh
echo "setpriv: setresuid failed: Operation not permitted" >&2
exit 1
EOF
chmod 755 "$shim/setpriv"
PATH="$shim:$PATH" LUMETROVE_WAYLAND_TIMEOUT=5 "$script" -- true 2> "$shim/refusal"
status=$?
[ $status = 77 ] || check "with no way to run the compositor the script ended with $status, not 77 (skipped)"
grep -q "no compositor can run here: .*Operation not permitted" "$shim/refusal" ||
  check "no reason was given: $(cat "$shim/refusal")"

if [ $failed = 1 ]; then
  echo "--- seen"; cat "$shim/seen"; echo "--- errors"; cat "$shim/errors"
  exit 1
fi
