#!/usr/bin/env bash
# Trying sync on one machine: builds the web service double and the sync device program,
# starts a mosquitto broker (user "pubclient") and the double on free loopback ports, with
# one account, and prints the settings each instance needs. Runs until Ctrl+C.
#
#   bash scripts/try-sync.sh [EMAIL [PASSWORD]]     (default: you@example.com secret)
#
# BUILD_DIR chooses the build folder (default: build, the one scripts/run.sh uses); JOBS the
# number of parallel build jobs (default: every core).
# The work folder (the broker's files and the double's requests.log) is kept after the exit,
# and its path printed, so the log can still be read.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
EMAIL=${1:-you@example.com}
PASSWORD=${2:-secret}
BUILD_DIR=${BUILD_DIR:-build}
# The broker password every client uses, as the app has it.
MQTT_PASSWORD=4d2c9e17

bash scripts/install-deps.sh
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNUVAREL_SANITIZE=OFF
fi
cmake --build "$BUILD_DIR" --parallel "${JOBS:-$(nproc)}" --target nuvarel nuvarel-test-server nuvarel-sync-device

# A loopback port nothing listens on.
free_port() {
  local port
  for _ in $(seq 1 200); do
    port=$(( (RANDOM % 30000) + 20000 ))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return 0
    fi
  done
  echo "no free port found" >&2
  return 1
}

WORK=$(mktemp -d -t nuvarel-sync-XXXXXX)
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  echo "Stopped. The requests the double received are kept in $WORK/requests.log (remove $WORK when done)."
}
trap cleanup EXIT
trap 'exit 0' INT TERM

MQTT_PORT=$(free_port)
: > "$WORK/passwd"
mosquitto_passwd -b "$WORK/passwd" pubclient "$MQTT_PASSWORD"
chmod 600 "$WORK/passwd"
cat > "$WORK/mosquitto.conf" <<CONF
listener $MQTT_PORT 127.0.0.1
allow_anonymous false
password_file $WORK/passwd
persistence false
user $(id -un)
CONF
mosquitto -c "$WORK/mosquitto.conf" > "$WORK/mosquitto.log" 2>&1 &
PIDS+=($!)
for _ in $(seq 1 50); do
  (exec 3<>"/dev/tcp/127.0.0.1/$MQTT_PORT") 2>/dev/null && break
  sleep 0.1
done

API_PORT=$(free_port)
"$BUILD_DIR/bin/nuvarel-test-server" --port "$API_PORT" --broker "127.0.0.1:$MQTT_PORT" \
  --account "$EMAIL:$PASSWORD" > "$WORK/requests.log" 2> "$WORK/server.log" &
PIDS+=($!)
for _ in $(seq 1 50); do
  (exec 3<>"/dev/tcp/127.0.0.1/$API_PORT") 2>/dev/null && break
  sleep 0.1
done

API="http://127.0.0.1:$API_PORT"
cat <<TEXT
Broker on 127.0.0.1:$MQTT_PORT (user "pubclient", password "$MQTT_PASSWORD"),
web service double on $API with the account $EMAIL / $PASSWORD.
Every request the double receives is logged, one JSON line each, in $WORK/requests.log.

Settings of both instances (under [General] in each home's .config/Nuvarel/Nuvarel.ini):

[General]
apiBaseURL=$API
mqttHost=127.0.0.1
mqttPort=$MQTT_PORT

Instance A, the app on your desktop, in a home of its own:
  mkdir -p /tmp/nuvarel-a/.config/Nuvarel
  printf '[General]\\napiBaseURL=$API\\nmqttHost=127.0.0.1\\nmqttPort=$MQTT_PORT\\n' > /tmp/nuvarel-a/.config/Nuvarel/Nuvarel.ini
  XAUTHORITY=\${XAUTHORITY:-\$HOME/.Xauthority} HOME=/tmp/nuvarel-a XDG_CONFIG_HOME=/tmp/nuvarel-a/.config $ROOT/$BUILD_DIR/bin/nuvarel

Instance B, a second device without a desktop of its own (type "help" for its commands):
  mkdir -p /tmp/nuvarel-b
  HOME=/tmp/nuvarel-b XDG_CONFIG_HOME=/tmp/nuvarel-b/.config $ROOT/$BUILD_DIR/bin/nuvarel-sync-device $API $MQTT_PORT

Press Ctrl+C to stop the broker and the double.
TEXT
wait
