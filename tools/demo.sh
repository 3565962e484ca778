#!/usr/bin/env bash
# Builds the service and runs it on an embedded default for a while (DEMO_SECONDS, 20 by
# default), as root, inside private mount and network namespaces (tools/e2e/
# run-in-namespace.sh): the stand-in data server listens on port 9002, the demo
# configuration below is the service's /opt/tolvexserver/conf/apiconfig.json, and what the
# stand-in receives is printed as it arrives (one JSON line per event). At the end the
# service's log is printed. Nothing outside the run's temporary directory is touched.
# Typing "q" and Enter ends the service earlier.
#
# Streams extend the demo by adding their definitions (and the files they read) below.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
mkdir -p build
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release > build/release.configure.log 2>&1 ||
  { cat build/release.configure.log; exit 1; }
cmake --build build/release --target TolvexServerAPI tvx_standin tvx_samplegen

stage=$(mktemp -d /tmp/tvx-demo.XXXXXX)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/root/opt/tolvexserver/conf" "$stage/root/opt/tolvexserver/data" \
  "$stage/root/var/www/ostrel/live/OSTREL.demo/live"
# A replay stream: rows of a 50-row sample table, in order, one every 100 ms, into the
# data server's table demo/live/numbers (whose table file gives the schema).
build/release/tools/samplegen/tvx_samplegen "$stage/root/opt/tolvexserver/data/sample.ostrel" 50
build/release/tools/samplegen/tvx_samplegen "$stage/root/var/www/ostrel/live/OSTREL.demo/live/numbers.ostrel" 0
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
      "STATUS": "ON",
      "ROUTES": [
        {
          "INPUT": { "SAMPLE_OSTREL": "/opt/tolvexserver/data/sample.ostrel", "SAMPLE_RATE": "100", "METHOD": "ORDERED" },
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
