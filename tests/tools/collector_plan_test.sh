#!/bin/sh
# corvex-collector serve --plan as a user runs it:
#   collector_plan_test.sh COLLECTOR [DEMO_GAME]
# A bad plan exits 2 before the data folder is made; a bad event's request
# prints "1 new, 1 bad" with its reason; with the demo game, its events
# against a plan that fits them are all good.
set -eu
collector="$1"
demo="${2:-}"
work="$(mktemp -d "${TMPDIR:-/tmp}/collector-plan.XXXXXX")"
pid=""
finish() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap finish EXIT
fail() { echo "FAIL: $*" >&2; [ -f "$work/log" ] && cat "$work/log" >&2; exit 1; }

printf '{"events": {"level_won": {"schema": {"type": "string"}}}, "colour": 1}\n' >"$work/bad.json"
status=0
"$collector" serve --port 0 --data "$work/refused" --plan "$work/bad.json" \
  >"$work/log" 2>&1 || status=$?
[ "$status" = 2 ] || fail "a bad plan exits $status, not 2"
grep -q "bad.json" "$work/log" || fail "the refusal does not name the plan"
[ ! -e "$work/refused" ] || fail "a bad plan made the data folder"

cat >"$work/plan.json" <<'PLAN'
{"events": {
  "level_won": {"schema": {"type": "object", "required": ["level"],
                           "properties": {"level": {"type": "integer"}}}},
  "boss_defeated": {"schema": {"type": "object",
                               "properties": {"boss": {"type": "string"},
                                              "seconds": {"type": "integer"},
                                              "perfect": {"type": "boolean"}}}}
}}
PLAN
"$collector" serve --port 0 --plain-http --data "$work/data" --plan "$work/plan.json" \
  >"$work/log" 2>&1 &
pid=$!
url=""
for _ in $(seq 1 200); do
  url="$(sed -n 's/^corvex-collector listening on //p' "$work/log")"
  [ -n "$url" ] && break
  kill -0 "$pid" 2>/dev/null || fail "serve did not start"
  sleep 0.05
done
[ -n "$url" ] || fail "serve did not start"

event='{"appVersion":"1","cfgId":"c","eId":"e1","eventName":"level_won","id":"s","timeInMs":1,"value":{"level":"two"}}'
body="{\"vxUid\":\"u\",\"vxSdkVersion\":\"1\",\"bundleId\":\"b\",\"country\":\"FR\",\"device\":\"d\",\"platform\":\"p\",\"osVersion\":\"1\",\"subMessages\":[$event]}"
curl -sf -X PUT -H 'Content-Type: application/json' --data "$body" \
  "$url/tracking/v3/event" >/dev/null || fail "the event was refused"
for _ in $(seq 1 100); do grep -q " new, " "$work/log" && break; sleep 0.05; done
grep -q "  200  -  1 new, 1 bad, 0 duplicates$" "$work/log" || fail "no '1 new, 1 bad' line"
grep -q "^    bad level_won  /level: " "$work/log" || fail "the reason is not printed"

if [ -n "$demo" ]; then
  curl -sf -X POST -H 'Content-Type: application/json' --data '{}' "$url/api/reset" >/dev/null ||
    fail "reset failed"
  "$demo" --proxy "$url" --ca "$work/data/ca.pem" --save "$work/save" >"$work/demo.out" ||
    fail "the demo game failed"
  tracked="$(sed -n 's/^tracked \([0-9][0-9]*\) events$/\1/p' "$work/demo.out")"
  summary=""
  for _ in $(seq 1 200); do
    summary="$(curl -sf "$url/api/summary")"
    case "$summary" in *"\"events\":$tracked,"*) break ;; esac
    sleep 0.05
  done
  case "$summary" in
    *"\"bad\":0,"*"\"events\":$tracked,"*) ;;
    *) fail "the demo's $tracked events against a plan that fits them: $summary" ;;
  esac
fi
echo "ok"
