#!/usr/bin/env bash
# Builds pelox and runs it on the default home. With a display it opens the Login window;
# without one it runs a quick-start drive headless (pelox -quick) and says what happened.
set -uo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELORA_TESTS=OFF -DPELORA_BENCH=OFF \
  >/dev/null || exit 1
cmake --build build -j2 --target pelox || exit 1

if [ -n "${PELORA_HOME:-}" ]; then
  home="$PELORA_HOME"
else
  home="${XDG_DATA_HOME:-${HOME:-/tmp}/.local/share}/pelora/home"
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/pelox "$@"
fi

echo "No display found: running a quick-start drive headless (pelox -quick)."
QT_QPA_PLATFORM=offscreen build/pelox -quick
rc=$?
user=$(sed -n 's/^user-name=//p' "$home/globalSettings" 2>/dev/null | head -n 1)
[ -n "$user" ] || user=guest
echo
echo "pelox -quick ended with exit code $rc."
echo "Home folder:  $home"
echo "Engine log:   $home/n_runlog.txt"
echo "User data:    $home/users/$user/"
if [ -f "$home/n_runlog.txt" ]; then
  echo
  echo "Last lines of the engine log:"
  tail -n 15 "$home/n_runlog.txt" | sed 's/^/  /'
fi
if [ -d "$home/users/$user" ]; then
  echo
  echo "Files in the user's folder:"
  ls -l "$home/users/$user" | sed 's/^/  /'
fi
exit $rc
