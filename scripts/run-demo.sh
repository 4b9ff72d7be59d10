#!/usr/bin/env bash
# The main job: runs the system end to end.
# Starts the sample application headless and plays a short session on its touch
# screen and keyboard through the device input (a loopback line protocol), leaving
# screenshots in $build/demo.
set -euo pipefail
build="${1:-build}"
cd "$(dirname "$0")/.."

echo "== Quorvel demo =="
echo "Platform libraries built:"
ls "$build"/lib/libplatform_*.so 2>/dev/null | sed 's/^/  /'
echo
echo "Platform self-check (the platform's tests):"
{ ctest --test-dir "$build" -L platform --output-on-failure -j 2 || true; } | tail -n 3
echo

demo="$build/demo"
mkdir -p "$demo"
rm -f "$demo/device.port" "$demo"/*.png
app_pid=""
record_pid=""
cleanup() {
  exec 3>&- 2>/dev/null || true
  exec 4>&- 2>/dev/null || true
  if [[ -n "$record_pid" ]]; then kill "$record_pid" 2>/dev/null || true; wait "$record_pid" 2>/dev/null || true; fi
  if [[ -n "$app_pid" ]]; then kill "$app_pid" 2>/dev/null || true; wait "$app_pid" 2>/dev/null || true; fi
  rm -f "$demo/recorder.commands"
}
trap cleanup EXIT

# The sample application links the agent: its recorder and playback servers listen
# on 9892 and 9898 as soon as the application starts.
qvctl="$build/bin/qvctl"
if "$qvctl" --timeout 1 play '{}' >/dev/null 2>&1; then
  echo "Port 9898 already serves an agent (another application is running): stop it first."
  exit 1
fi

echo "Starting the sample application (headless, agent inside)..."
start_ns=$(date +%s%N)
QUORVEL_DEVICE_PORT=0 QUORVEL_DEVICE_PORT_FILE="$demo/device.port" \
  "$build/bin/sample-app" >"$demo/sample-app.out" 2>"$demo/sample-app.log" &
app_pid=$!
for _ in $(seq 1 200); do
  grep -q "sample-app ready" "$demo/sample-app.out" 2>/dev/null && break
  kill -0 "$app_pid" 2>/dev/null || { echo "the sample application exited; see $demo/sample-app.log"; exit 1; }
  sleep 0.05
done
grep -q "sample-app ready" "$demo/sample-app.out" || { echo "the sample application did not get ready"; exit 1; }
port=$(cat "$demo/device.port")
echo "  ready after $(( ($(date +%s%N) - start_ns) / 1000000 )) ms; device input on 127.0.0.1:$port"

exec 3<>"/dev/tcp/127.0.0.1/$port"
# Sends one command and prints its one-line answer; fails on an "error:" answer.
device() {
  local answer
  printf '%s\n' "$1" >&3
  IFS= read -r -t 10 answer <&3 || { echo "  no answer to: $1"; return 1; }
  printf '  %-32s -> %s\n' "$1" "$answer"
  [[ "$answer" == ok* ]]
}
# The key window's view tree ("tree": "ok", one line per view, "end"), read whole.
view_tree() {
  local line
  printf 'tree\n' >&3
  IFS= read -r -t 10 line <&3 && [[ "$line" == ok ]] || return 1
  while IFS= read -r -t 10 line <&3 && [[ "$line" != end ]]; do printf '%s\n' "$line"; done
}
# The middle of the first view whose tree line matches a pattern, as "X Y".
middle_of() {
  local tree
  tree=$(view_tree) || return 1
  grep -m1 -- "$1" <<<"$tree" | sed -E 's/.*\{\{([^,]+), ([^}]+)\}, \{([^,]+), ([^}]+)\}\}.*/\1 \2 \3 \4/' |
    awk '{ printf "%g %g", $1 + $3 / 2, $2 + $4 / 2 }'
}

# One recorder session for the whole demo: the recorder port serves one client in the
# life of the application. Commands are typed into its standard input.
rm -f "$demo/recorder.commands"
mkfifo "$demo/recorder.commands"
"$qvctl" record <"$demo/recorder.commands" >"$demo/recorded-steps.jsonl" 2>"$demo/recorder.err" &
record_pid=$!
exec 4>"$demo/recorder.commands"
echo "  \$ qvctl record   (frames in $demo/recorded-steps.jsonl)"

# The agent meets a screen's views within a polling cycle (0.2 s) of their showing
# up and records touches on them from then on; a person is slower than this script.
settle() { sleep 0.5; }

echo
echo "A session on the touch screen and keyboard:"
settle
device "screenshot $demo/start.png"
device "tap $(middle_of 'id="userField"')"
device "type demo user"
device "tap $(middle_of 'UIButton .*text="Log In"')"
device "screenshot $demo/login.png"
tree=$(view_tree)
outcome=$(grep -m1 'id="outcomeLabel"' <<<"$tree" | sed -E 's/.* text="([^"]*)".*/\1/')
echo "  the outcome label now reads: $outcome"
device "tap $(middle_of 'UITabBarButton .*text="List"')"
settle
device "swipe 200 600 200 200"
device "screenshot $demo/list.png"
device "tap $(middle_of 'UITabBarButton .*text="Settings"')"
device "screenshot $demo/settings.png"
device "tap $(middle_of 'UITabBarButton .*text="Login"')"
echo
echo "Screenshots: $demo/login.png (after logging in), $demo/start.png, $demo/list.png, $demo/settings.png"
echo "Application log: $demo/sample-app.log"

echo
# Each touch and the typed text became a recorded step; the agent sends what was
# recorded once a second. Wait until a longer while passes with nothing new.
count=-1
for _ in $(seq 1 10); do
  now=$(wc -l <"$demo/recorded-steps.jsonl")
  [[ "$now" -eq "$count" && "$now" -gt 0 ]] && break
  count=$now
  sleep 1.2
done
echo "Recorded steps ($demo/recorded-steps.jsonl, one JSON line each):"
field() { grep -o "\"$1\":\"[^\"]*\"" <<<"$2" | head -n 1 | cut -d'"' -f4; }
while IFS= read -r line; do
  data=$(field data "$line")
  printf '  %-22s %-18s %s\n' "$(field action "$line")" "$(field className "$line")" \
    "$(field elementText "$line")${data:+ data=\"$data\"}"
done <"$demo/recorded-steps.jsonl"

echo
echo "The agent, driven with qvctl:"
sed 's/^/  recorder: /' "$demo/recorder.err"
trap '' PIPE  # a recorder session that has ended must not end the demo
# Types a recorder command into the qvctl record session and waits for the agent's
# log line that says it was taken.
recorder_command() {
  echo "  > $1   (typed into the qvctl record session)"
  echo "$1" >&4 2>/dev/null || true
  for _ in $(seq 1 60); do grep -q "$2" "$demo/sample-app.log" && break; sleep 0.05; done
}
recorder_command startobjectspy "Switching to spy"
# The notice "Switched to Spy Mode" lies over the screen for five seconds.
sleep 5.5
frames=$(wc -l <"$demo/recorded-steps.jsonl")
device "tap $(middle_of 'id="rememberLabel"')"
device "screenshot $demo/spy.png"
for _ in $(seq 1 40); do [[ $(wc -l <"$demo/recorded-steps.jsonl") -gt "$frames" ]] && break; sleep 0.1; done
spy_list=$(tail -n 1 "$demo/recorded-steps.jsonl")
if [[ $(wc -l <"$demo/recorded-steps.jsonl") -gt "$frames" ]]; then
  echo "  spy list (the touched element first, then its ancestors; $demo/spy.png shows its border)"
  echo "  with the recorder command that highlights each again:"
  # Highlight keys count back from the most recently stored record: the list is
  # stored touched element first, so highlight=0 is the topmost ancestor.
  records=$(grep -o '"tagName":"[^"]*"' <<<"$spy_list" | wc -l)
  paste <(grep -o '"tagName":"[^"]*"' <<<"$spy_list" | cut -d'"' -f4) \
        <(grep -o '"logicalname":"[^"]*"' <<<"$spy_list" | cut -d'"' -f4) |
    awk -F'\t' -v n="$records" '{ printf "    highlight=%-3d %-24s %s\n", n - NR, $1, $2 }'
  sleep 1.1  # the spy's own border has gone
  recorder_command "highlight=$((records - 1))" "HIGHLIGHTING in Spy"
  sleep 0.2
  view_tree | grep 'border=4' | sed -E 's/^ */  bordered now: /' || true
else
  echo "  no spy list arrived"
fi
recorder_command stopobjectspy "Switching to recorder"
grep -o 'Switching to [a-z]*' "$demo/sample-app.log" | sed 's/^/  agent log: /' || true
qv() {
  echo "  \$ qvctl$(printf ' %q' "$@")"
  "$qvctl" "$@" 2>&1 | cut -c1-160 | sed 's/^/    /' || true
}
# An element ID is valid until the next find: find once, then use the IDs.
first_id() { sed -n 's/.*"elementID":"\([^"]*\)".*/\1/p' <<<"$1" | head -n 1; }
find_button='{"functionname":"findelements","tagname":"UIButton","accessortype":"text","accessorvalue":"Log In"}'
echo "  \$ qvctl play '$find_button'"
found=$("$qvctl" play "$find_button" 2>&1 || true)
echo "    $found"
id=$(first_id "$found")
if [[ -n "$id" ]]; then
  qv gettext "$id"
  qv play "{\"functionname\":\"isdisplayed\",\"accessorvalue\":\"$id\"}"
  qv getwidth "$id"
  qv play "{\"functionname\":\"highlight\",\"accessorvalue\":\"$id\"}"
  device "screenshot $demo/highlight.png"
fi
# Playback acts too: type into the user-name field, click "Log In", read the outcome.
field=$(first_id "$("$qvctl" find text "User name" UITextField 2>&1 || true)")
[[ -n "$field" ]] && qv type "$field" "qvctl user"
button=$(first_id "$("$qvctl" find text "Log In" UIButton 2>&1 || true)")
[[ -n "$button" ]] && qv click "$button"
outcome_id=$(first_id "$("$qvctl" find partialtext "Welcome" UILabel 2>&1 || true)")
[[ -n "$outcome_id" ]] && qv gettext "$outcome_id"
device "screenshot $demo/playback.png"
qv play '{"functionname":"nosuchcommand"}'
qv play $'\xff is not UTF-8'
# The first playback request ended the recording for the life of the application.
for _ in $(seq 1 40); do kill -0 "$record_pid" 2>/dev/null || break; sleep 0.05; done
exec 4>&-
tail -n 1 "$demo/recorder.err" | sed 's/^/  recorder: /'
echo "  recorded frames: $(wc -l <"$demo/recorded-steps.jsonl")"
echo "  the recorder port stays closed for the rest of this application run:"
qv --timeout 2 spy start

# The studio: the page people use. The demo's application has ended its recording
# session (playback closes it for the application's life), so it goes, and the
# studio runs a fresh one itself (--app), started again by its "Record again" and
# "Restart" buttons and ended with the studio. Left running only when a person
# watches (stdout is a terminal); otherwise the address is shown and everything stops.
echo
echo "The studio (record, spy, save, open, edit, replay in a web page):"
kill "$app_pid" 2>/dev/null || true
wait "$app_pid" 2>/dev/null || true
app_pid=""
rm -f "$demo/studio.out"
"$build/bin/qvstudio" --app "$build/bin/sample-app" >"$demo/studio.out" 2>"$demo/studio.log" &
studio_pid=$!
for _ in $(seq 1 100); do grep -q "qvstudio ready" "$demo/studio.out" 2>/dev/null && break; sleep 0.05; done
if ! grep -q "qvstudio ready" "$demo/studio.out" 2>/dev/null; then
  echo "  the studio did not start:"
  tail -n 3 "$demo/studio.log" | sed 's/^/    /'
  kill "$studio_pid" 2>/dev/null || true
  wait "$studio_pid" 2>/dev/null || true
  exit 1
fi
sed -n 's/^qvstudio: //p' "$demo/studio.out" | sed 's/^/  /'
if [[ -t 1 ]]; then
  echo "  Open that address in a browser; Ctrl-C stops the studio and its application."
  trap 'kill "$studio_pid" 2>/dev/null || true; wait "$studio_pid" 2>/dev/null || true; cleanup' EXIT
  wait "$studio_pid" || true
else
  echo "  (not a terminal: stopped again; run build/bin/qvstudio --app build/bin/sample-app to keep it)"
  kill "$studio_pid" 2>/dev/null || true
  wait "$studio_pid" 2>/dev/null || true
fi
