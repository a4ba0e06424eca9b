#!/usr/bin/env bash
# Runs the demo (scripts/demo.sh) and checks what it printed: one result line
# per export with the result the tour expects, a summary row marked ok for
# each, and the service's error for the bad token kept in its file. Prints the
# demo's whole output when a check fails.
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."

log=$(mktemp)
trap 'rm -f "$log"' EXIT

status=0
scripts/demo.sh >"$log" 2>&1 </dev/null || status=$?

problems=()
[ "$status" = 0 ] || problems+=("scripts/demo.sh exited with $status")

# export name, then the result the tour expects from it
expected=(
  FaceBookToken 999
  FaceBookStatus 999
  FaceBookNotes 999
  FaceBookCheckIn 999
  FaceBookEvents 999
  FaceBookNotesEdit 999
  FaceBookNotesView 999
  FaceBookNotesDelete 999
  FaceBookPictureUpload 999
  FaceBookVideoUpload 999
  FaceBookTokenGraph Location
  FaceBookDelete 999
)
for ((i = 0; i < ${#expected[@]}; i += 2)); do
  name=${expected[i]} code=${expected[i + 1]}
  if [ "$code" = Location ]; then
    # The sign-in returns a text, printed by the tool on standard output.
    grep -qE '^  result    exit 0, the Location on standard output:$' "$log" &&
      grep -qE '^ +#access_token=[^&]+$' "$log" ||
      problems+=("$name: no result line with a Location carrying an access token")
  else
    grep -qE "^  result    vantrelfb: $name returned $code:\$" "$log" ||
      problems+=("$name: no result line 'vantrelfb: $name returned $code:'")
  fi
  grep -qE "^ +[0-9]+  .{18} $name +[0-9]{3} +$code +$code +ok\$" "$log" ||
    problems+=("$name: no summary row with result $code marked ok")
done

grep -qF '{"error":{"message":"Invalid OAuth access token.","type":"OAuthException","code":190}}' "$log" ||
  problems+=("the service's error for the bad token is not shown")
grep -qF 'vantrelfb: the service rejected the access token: Invalid OAuth access token.' "$log" ||
  problems+=("the tool did not report the rejected token")
rows=$(grep -c . build/demo/summary.tsv 2>/dev/null || true)
[ "$rows" = 13 ] || problems+=("build/demo/summary.tsv has ${rows:-no} rows, expected 13")
for f in build/demo/service/requests/0001.json build/demo/10-photo/request.raw build/demo/08-note-view/note.json; do
  [ -s "$f" ] || problems+=("$f is missing or empty")
done

if [ ${#problems[@]} -gt 0 ]; then
  cat "$log"
  printf '\ntest-demo: FAILED\n' >&2
  printf '  %s\n' "${problems[@]}" >&2
  exit 1
fi
sed -n '/── Summary/,/^$/p' "$log"
echo "test-demo: the demo ran all twelve exports with the expected results"
