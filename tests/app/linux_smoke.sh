#!/usr/bin/env bash
# Runs the real Linux demo on a virtual X screen and checks it from outside.
#   fullscreen  640x480 screen: the demo draws, Escape ends it with code 27
#   yes, no     1024x768 screen: the mode is refused and a box titled Error
#               asks; Yes (Return) gives the windowed demo, No (Escape) exit 0
#   unreachable a display named but not there: the error, and an exit
# Usage: linux_smoke.sh EXE [fullscreen|yes|no|unreachable]
set -uo pipefail
exe="$1"
mode="${2:-fullscreen}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# Plain files beside it stand in when the binary carries no archive (the
# appended archive, when present, is found first).
python3 "$(dirname "$0")/make_standin_data.py" "$work"
cd "$work"
if [[ $mode == unreachable ]]; then
  # SDL would fall back to its offscreen driver and play the demo unseen.
  out="$(env -u WAYLAND_DISPLAY DISPLAY=:1999 SDL_AUDIODRIVER=dummy timeout -k 2 30 "$exe" </dev/null 2>&1)"
  code=$?
  [[ $code -ne 124 && $code -ne 137 ]] || { echo "FAIL: still running 30 s later"; exit 1; }
  grep -q "Unable to create window!" <<<"$out" || { echo "FAIL: no error said: $out"; exit 1; }
  echo "PASS"
  exit 0
fi
screen=640x480
[[ $mode == fullscreen ]] || screen=1024x768
cat > "$work/run.sh" <<INNER
#!/usr/bin/env bash
export SDL_AUDIODRIVER=dummy
# Polls up to 60 s for a top-level window by title; the SDL box sets only
# _NET_WM_NAME, which xwininfo shows and xdotool does not search.
find() {
  for i in \$(seq 1 300); do
    id=\$(xwininfo -root -tree | awk -v t="\"\$1\":" '\$2 == t {print \$1; exit}')
    [[ -n "\$id" ]] && { echo "\$id"; return; }
    sleep 0.2
  done
}
# Held long enough to be seen between message batches.
press() { xdotool windowfocus --sync "\$1" 2>/dev/null; xdotool keydown "\$2"; sleep 0.3; xdotool keyup "\$2"; }
# The server must answer first: one that does not is the harness's fault
# (75: start another), and the demo would rightly refuse to run.
for i in \$(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.2; done
xdpyinfo >/dev/null 2>&1 || exit 75
"$exe" </dev/null & pid=\$!
if [[ $mode != fullscreen ]]; then
  box=\$(find Error)
  [[ -n "\$box" ]] || { echo "FAIL: no box titled Error"; kill \$pid; exit 1; }
  echo "ok: the box asks"
  if [[ $mode == no ]]; then
    press "\$box" Escape
    wait \$pid; code=\$?
    echo "exit code \$code"
    [[ -z "\$(xwininfo -root -tree | grep '"Tinselbay"')" ]] || { echo "FAIL: a demo window appeared"; exit 1; }
    exit \$code
  fi
  press "\$box" Return
fi
id=\$(find Tinselbay)
[[ -n "\$id" ]] || { echo "FAIL: no window"; kill \$pid; exit 1; }
echo "ok: the demo window appears"
sleep 1
press "\$id" Escape
# A press can go astray while a loaded server is still settling focus; the
# demo must end within 5 s of one that arrives.
for try in 1 2; do
  for i in \$(seq 1 50); do kill -0 \$pid 2>/dev/null || break 2; sleep 0.1; done
  echo "the demo still runs 5 s after Escape; pressing again"
  press "\$id" Escape
done
wait \$pid; code=\$?
echo "exit code \$code"
exit \$code
INNER
chmod +x "$work/run.sh"
for attempt in 1 2; do
  timeout -k 2 150 xvfb-run -a -s "-screen 0 ${screen}x24 -nolisten tcp" "$work/run.sh" 2>"$work/stderr"
  code=$?
  [[ $code -eq 75 ]] || break
  echo "the virtual X server did not answer; starting another"
done
# Escape's key-down is the last message taken before the frame that sees it.
want=27
[[ $mode == no ]] && want=0
if [[ $code -ne $want ]]; then
  echo "FAIL: expected exit code $want, got $code"
  cat "$work/stderr"
  exit 1
fi
# A box was shown, so nothing needed saying on the terminal.
if [[ -s "$work/stderr" ]]; then
  echo "FAIL: the demo wrote to stderr:"
  cat "$work/stderr"
  exit 1
fi
echo "PASS"
