#!/usr/bin/env bash
# The main job: runs what exists of the system and says what is still missing.
set -euo pipefail
build="${1:-build}"
cd "$(dirname "$0")/.."

echo "== Quorvel demo =="
echo "Platform libraries built:"
ls "$build"/lib/libplatform_*.so 2>/dev/null | sed 's/^/  /'
echo
echo "Platform self-check (tests of the object runtime, dispatch and foundation):"
ctest --test-dir "$build" -L platform --output-on-failure -j 2 | tail -n 3
echo
echo "Not built yet: the UI toolkit and the sample application, the agent"
echo "(libQuorvel.so), the qvctl client and the runner host. The demo session that"
echo "records, spies and plays back against the sample application arrives with them."
