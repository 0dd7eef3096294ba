#!/usr/bin/env bash
# Remakes docs/screenshot.png, the window after a scan, for the README: on a
# virtual display (Xvfb), over a small tree of pictures and documents with
# copies in a backup, with the group of the fourth row opened in the tree.
#   scripts/screenshot.sh [OUTPUT.png]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/bench/lib/common.sh"  # ensure_packages, die
output="$(realpath -m "${1:-$root/docs/screenshot.png}")"

ensure_packages xvfb xdotool imagemagick
"$root/scripts/setup.sh"
"$root/scripts/build.sh" >/dev/null
window_bench="$root/build/bench/window_bench"
[ -x "$window_bench" ] || die "window_bench missing: build with -DVELDRANO_BUILD_BENCHMARKS=ON"

work="$(mktemp -d /tmp/demo.XXXXXX)"  # short: its name starts every path shown
xvfb="" shown=""
cleanup() {
  [ -n "$shown" ] && kill "$shown" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf -- "$work"
}
trap cleanup EXIT

# The tree: files of random bytes, some copied into a backup and one kept
# twice in the same folder under another name.
home="$work"
mkdir "$work/tmp"
file() { mkdir -p "$(dirname "$home/$1")"; head -c "$2" /dev/urandom >"$home/$1"; }
copy() { mkdir -p "$(dirname "$home/$2")"; cp "$home/$1" "$home/$2"; }
file Pictures/2025/beach.jpg 2411724
file Pictures/2025/sunset.jpg 1873406
file Pictures/2025/harbour.jpg 3120551
file Pictures/2026/birthday.jpg 2204917
file Pictures/2026/garden.jpg 1532288
file Documents/taxes-2025.pdf 381204
file Documents/lease.pdf 129877
file Documents/notes.txt 4118
file Music/album/01-intro.flac 18930112
file Music/album/02-waves.flac 24117920
copy Pictures/2025/beach.jpg Backup/phone/IMG_2041.jpg
copy Pictures/2025/sunset.jpg Backup/phone/IMG_2057.jpg
copy Pictures/2026/birthday.jpg Backup/phone/IMG_3110.jpg
copy Pictures/2026/birthday.jpg "Pictures/2026/birthday (copy).jpg"
copy Documents/taxes-2025.pdf Backup/old-laptop/Documents/taxes-2025.pdf
copy Documents/lease.pdf Backup/old-laptop/Documents/lease.pdf
copy Music/album/02-waves.flac Backup/old-laptop/Music/02-waves.flac

# A display of its own: Xvfb picks a free number and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || die "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"

mkfifo "$work/events"
TMPDIR="$work/tmp" "$window_bench" show "$home/Backup" "$home/Documents" "$home/Music" "$home/Pictures" \
  >"$work/events" 2>/dev/null &
shown=$!
read -r -t 60 line <"$work/events" && [ "$line" = shown ] || die "the window did not show the scan"
window="$(xdotool search --sync --onlyvisible --name '^VELDRANO$' | head -1)"
xdotool windowmove "$window" 0 0 windowsize "$window" 1180 700  # room for the paths
sleep 1  # the repaints after the scan and the new size
import -window "$window" "$output"
echo "$output"
