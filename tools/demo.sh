#!/usr/bin/env bash
# Builds the service and runs it on an embedded default for a while (DEMO_SECONDS, 20 by
# default), as root, inside private mount and network namespaces (tools/e2e/
# run-in-namespace.sh): the stand-in data server listens on port 9002, the demo
# configuration below is the service's /opt/tolvexserver/conf/apiconfig.json, and what the
# stand-in receives is printed as it arrives (one JSON line per event). At the end the
# service's log is printed. Nothing outside the run's temporary directory is touched.
#
# Streams extend the demo by adding their definitions (and the files they read) below.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
mkdir -p build
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release > build/release.configure.log 2>&1 ||
  { cat build/release.configure.log; exit 1; }
cmake --build build/release --target TolvexServerAPI tvx_standin

stage=$(mktemp -d /tmp/tvx-demo.XXXXXX)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/root/opt/tolvexserver/conf" "$stage/root/opt/tolvexserver/data"
# The update cycle runs every 200 ms; no stream is active yet, so the link opens and
# stays idle.
cat > "$stage/root/opt/tolvexserver/conf/apiconfig.json" <<'JSON'
{
  "Global Config": {
    "WEBSOCKET_PORT": "9002",
    "WEBSERVER_PROTOCOL": "ws",
    "WEBSERVER_ADDRESS": "localhost",
    "UPDATE_RATE": "200"
  },
  "Stream List": [
    {
      "NAME": "demo",
      "TYPE": "DEFAULT",
      "STATUS": "OFF",
      "ROUTES": [
        {
          "INPUT": { "SAMPLE_OSTREL": "/opt/tolvexserver/data/sample.ostrel" },
          "TARGET": { "ALIAS": "demo", "DATABASE_NAME": "live", "TABLE_NAME": "numbers" },
          "LOGIC": { "ACTION": "UPSERT", "KEY": "n" }
        }
      ]
    }
  ]
}
JSON

seconds=${DEMO_SECONDS:-20}
echo "demo: running the service for $seconds s; the stand-in reports:"
export TVX_STANDIN="$PWD/build/release/tools/standin/tvx_standin"
code=0
bash tools/e2e/run-in-namespace.sh "$stage" -- bash -c \
  "tail -n +1 -f --pid=\$\$ '$stage/standin.jsonl' & timeout $seconds '$PWD/build/release/TolvexServerAPI' > '$stage/service.out'" \
  || code=$?
echo "demo: the service ended with $code (124: stopped after $seconds s); its log:"
cat "$stage"/root/var/log/tolvexserver/*.log
