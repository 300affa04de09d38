#!/bin/sh
# Starts and stops the test service programs that tests send to beside them
# (the fixture of corvex_add_test_services): "accepting" answers 200 to every
# request, "refusing" answers 503. Each writes its address line, then one
# JSON line per request, to FOLDER/<name>.jsonl.
#   test_services.sh start PROGRAM FOLDER
#   test_services.sh stop FOLDER
set -eu

stop() {
  for pidfile in "$1"/*.pid; do
    [ -f "$pidfile" ] || continue
    pid=$(cat "$pidfile")
    kill "$pid" 2>/dev/null || true
    # Up to 10 s for it to end.
    for _ in $(seq 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    rm -f "$pidfile"
  done
}

case "${1:-}" in
  start)
    program=$2
    folder=$3
    mkdir -p "$folder"
    stop "$folder"  # left over from an interrupted run
    printf '{"afterwards":{"status":503}}\n' >"$folder/refusing.json"
    for name in accepting refusing; do
      set -- "$program"
      if [ "$name" = refusing ]; then set -- "$program" --script "$folder/refusing.json"; fi
      # No descriptor of CTest's is inherited, so the test ends at once.
      "$@" </dev/null >"$folder/$name.jsonl" 2>"$folder/$name.log" &
      echo $! >"$folder/$name.pid"
    done
    for name in accepting refusing; do
      for _ in $(seq 300); do
        [ -s "$folder/$name.jsonl" ] && break
        sleep 0.1
      done
      if [ ! -s "$folder/$name.jsonl" ]; then
        echo "the $name service did not start:" >&2
        cat "$folder/$name.log" >&2
        stop "$folder"
        exit 1
      fi
      head -n 1 "$folder/$name.jsonl"
    done
    ;;
  stop)
    stop "$2"
    ;;
  *)
    echo "usage: $0 start PROGRAM FOLDER | stop FOLDER" >&2
    exit 2
    ;;
esac
