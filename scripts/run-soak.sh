#!/usr/bin/env bash
# The soak (make soak): builds agent_soak and runs it against the sample
# application, at nice 10, in a private network namespace of its own with only
# loopback up where the machine allows one (the agent's fixed ports then meet
# nothing else on the machine); elsewhere nothing else may use ports 9892 and 9898
# meanwhile. The counts come from the environment, the defaults in parentheses:
#   SOAK_COMMANDS  playback requests over one connection (100000)
#   SOAK_ACTIONS   of which clicks or typing, 0.5 s each (300)
#   SOAK_CYCLES    connections to the playback port, about 1 s each (1000)
#   SOAK_TAPS      taps recorded as steps, in a second application run (10000)
# With the defaults it runs for about an hour. Exits non-zero when a check failed.
# Memory counts as warm after the first tenth of each phase: counts far below the
# defaults warm up too briefly, and one-time growth later on fails the memory check.
set -euo pipefail
build="${1:-build}"
cmake --build "$build" --target agent_soak qv-private-network >/dev/null
soak=("$build/bin/agent_soak")
if unshare --net true 2>/dev/null; then
  soak=("$build/bin/tests/qv-private-network" "${soak[@]}")
else
  echo "soak: no private network namespace here; it uses the machine's ports 9892 and 9898" >&2
fi
QV_BUILD_DIR="$(cd "$build" && pwd)" exec nice -n 10 "${soak[@]}"
