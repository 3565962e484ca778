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
cmake --build build/release --target TolvexServerAPI tvx_standin tvx_kafkamock tvx_samplegen tvx_mapgen

stage=$(mktemp -d /tmp/tvx-demo.XXXXXX)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/root/opt/tolvexserver/conf" "$stage/root/opt/tolvexserver/data"
# Two streams feed the stand-in: "replay" sends a row of a 20-row sample table every 250 ms
# in row order and clears its target after the last row; "orders" turns the 100 messages
# of the Kafka topic "orders" (in the mock cluster) into rows; "traffic" moves 150 cars on
# the demo road map (a 6 x 6 grid of one- to three-lane streets) and keeps its car and
# traffic-light tables current. The update cycle sends what they produced every 200 ms.
samplegen="$PWD/build/release/tools/samplegen/tvx_samplegen"
tables="$stage/root/var/www/ostrel/live/OSTREL.demo/live"
mkdir -p "$tables"
"$samplegen" "$stage/root/opt/tolvexserver/data/sample.ostrel" 20
"$samplegen" "$tables/numbers.ostrel" 0
"$samplegen" "$tables/orders.ostrel" 0
build/release/tools/mapgen/tvx_mapgen demo "$stage/root/opt/tolvexserver/data/CarSimMap.cmap" > /dev/null
for i in $(seq 0 99); do
  echo "{\"n\": $i, \"name\": \"order $i\", \"price\": $i.99}"
done > "$stage/orders.txt"
export TVX_KAFKAMOCK="$PWD/build/release/tools/kafkamock/tvx_kafkamock"
export TVX_KAFKAMOCK_ARGS="--topic orders:1 --produce orders:$stage/orders.txt --commit demo:orders"
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
      "NAME": "orders",
      "TYPE": "KAFKA",
      "STATUS": "ON",
      "METADATA": {
        "USER": "", "PASSWORD": "", "PROTOCOL": "", "SASL_MECHANISM": "",
        "BOOTSTRAP_SERVERS": "@KAFKA_BOOTSTRAP@", "GROUP_ID": "demo"
      },
      "ROUTES": [
        {
          "INPUT": { "TOPIC": "orders" },
          "TARGET": { "ALIAS": "demo", "DATABASE_NAME": "live", "TABLE_NAME": "orders" },
          "LOGIC": { "ACTION": "UPSERT", "KEY": "n" }
        }
      ]
    },
    {
      "NAME": "replay",
      "TYPE": "DEFAULT",
      "STATUS": "ON",
      "ROUTES": [
        {
          "INPUT": {
            "SAMPLE_OSTREL": "/opt/tolvexserver/data/sample.ostrel",
            "SAMPLE_RATE": "250",
            "METHOD": "ORDERED"
          },
          "TARGET": { "ALIAS": "demo", "DATABASE_NAME": "live", "TABLE_NAME": "numbers" },
          "LOGIC": { "ACTION": "UPSERT", "KEY": "n" }
        }
      ]
    },
    {
      "NAME": "traffic",
      "TYPE": "CARSIM",
      "STATUS": "ON",
      "ROUTES": [
        {
          "INPUT": { "NB_CARS": "150", "SAMPLE_RATE": "100" },
          "TARGET": { "ALIAS": "demo", "DATABASE_NAME": "live", "TABLE_NAME": "cars" },
          "LOGIC": { "ACTION": "UPSERT", "KEY": "ID" }
        },
        {
          "TARGET": { "ALIAS": "demo", "DATABASE_NAME": "live", "TABLE_NAME": "lights" },
          "LOGIC": { "ACTION": "UPSERT", "KEY": "LightID" }
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
