#!/usr/bin/env bash
# Runs the real demo on a 640x480 virtual X screen, lets it draw, sends Escape
# and checks that it ends with the code of the Escape key's messages.
set -uo pipefail
exe="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# Plain files beside it stand in when the binary carries no archive (the
# appended archive, when present, is found first).
python3 "$(dirname "$0")/make_standin_data.py" "$work"
cd "$work"
cat > "$work/run.sh" <<INNER
#!/usr/bin/env bash
export SDL_AUDIODRIVER=dummy
"$exe" & pid=\$!
for i in \$(seq 1 50); do
  id=\$(xdotool search --name '^Tinselbay\$' 2>/dev/null | head -1)
  [[ -n "\$id" ]] && break
  sleep 0.2
done
[[ -n "\$id" ]] || { echo "no window"; kill \$pid; exit 1; }
sleep 1
import -window root "$work/shot.png" 2>/dev/null || true
# Held long enough to be seen between message batches.
xdotool windowfocus --sync "\$id" 2>/dev/null || true
xdotool keydown Escape; sleep 0.3; xdotool keyup Escape
wait \$pid; code=\$?
echo "exit code \$code"
exit \$code
INNER
chmod +x "$work/run.sh"
timeout -k 2 60 xvfb-run -a -s "-screen 0 640x480x24 -nolisten tcp" "$work/run.sh"
code=$?
# Escape's key-down is the last message taken before the frame that sees it.
if [[ $code -ne 27 ]]; then
  echo "FAIL: expected exit code 27 after Escape, got $code"
  exit 1
fi
echo "PASS"
