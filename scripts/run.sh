#!/usr/bin/env bash
# Builds pelox and runs it on the default home (or on $PELORA_HOME). With a display it opens
# the Login window; without one it runs a quick-start drive headless (pelox -quick) and says
# what this run did: its exit code and what that means, the engine log lines it wrote and the
# files it wrote in the user's folder. Nothing from an earlier run is shown as this run's.
# PELORA_BUILD_DIR picks the build folder (default "build", shared with scripts/test.sh).
set -uo pipefail
cd "$(dirname "$0")/.."
dir="${PELORA_BUILD_DIR:-build}"

options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if command -v ccache >/dev/null 2>&1; then
  options+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" "${options[@]}" >/dev/null || exit 1
cmake --build "$dir" -j"${PELORA_JOBS:-2}" --target pelox || exit 1

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$dir/pelox" "$@"
fi

if [ -n "${PELORA_HOME:-}" ]; then
  home="$PELORA_HOME"
else
  home="${XDG_DATA_HOME:-${HOME:-/tmp}/.local/share}/pelora/home"
fi
log="$home/n_runlog.txt"
# The engine log only grows: what lies past its present end is this run's.
logStart=$(stat -c %s "$log" 2>/dev/null || echo 0)
marker=$(mktemp)
trap 'rm -f "$marker"' EXIT

echo "No display found: running a quick-start drive headless (pelox -quick)."
QT_QPA_PLATFORM=offscreen "$dir/pelox" -quick
rc=$?

case $rc in
  0) meaning="logged in, drove and saved the drive" ;;
  1) meaning="could not start (no graphics, or the Login window could not be made)" ;;
  2) meaning="the login failed (see the message above)" ;;
  3) meaning="logged in, but the drive did not run to its end (see the message above)" ;;
  255) meaning="the message loop failed" ;;
  *) if [ "$rc" -gt 128 ]; then meaning="killed by signal $((rc - 128))"; else meaning="unknown"; fi ;;
esac
user=$(sed -n 's/^user-name=//p' "$home/globalSettings" 2>/dev/null | head -n 1)
[ -n "$user" ] || user=guest

echo
echo "pelox -quick ended with exit code $rc: $meaning."
echo "Home folder:  $home"
echo "Engine log:   $log"
echo "User data:    $home/users/$user/"

logEnd=$(stat -c %s "$log" 2>/dev/null || echo 0)
echo
if [ "$logEnd" -gt "$logStart" ]; then
  echo "Engine log lines of this run:"
  tail -c +"$((logStart + 1))" "$log" | grep -v '^[[:space:]]*$' | sed 's/^/  /'
else
  echo "This run wrote nothing to the engine log."
fi
if [ -d "$home/users/$user" ]; then
  written=$(find "$home/users/$user" -type f -newer "$marker" -printf '%P\n' | sort)
  echo
  if [ -n "$written" ]; then
    echo "Files this run wrote in the user's folder:"
    echo "$written" | sed 's/^/  /'
  else
    echo "This run wrote no file in the user's folder."
  fi
fi
exit $rc
