#!/usr/bin/env bash
# The demo's scripted session: every export of libvantrelfb, called through
# the vantrelfb tool, against the local service. scripts/demo.sh runs it inside
# tests/e2e/sandbox.sh; it can also be run there by hand:
#
#   tests/e2e/sandbox.sh -- scripts/demo/tour.sh
#
# Before each call the tour tells the local service what to answer (one
# response per connection, in order), then shows the request as the service
# recorded it, the tool's result line and the file the library stored. Ids
# and the token travel from one answer to the next call, as in a real session.
# Exits 1 when any step's result differs from what the tour expects.
set -uo pipefail  # no -e: a failed step is shown and counted, and the tour goes on

cd "$(dirname "$(readlink -f "$0")")/../.."
demo=${VFB_DEMO_DIR:-build/demo}
tool=${VFB_DEMO_TOOL:-build/tools/vantrelfb}
total=13

if [ -z "${VFB_FAKE_DIR:-}" ] || [ "${VFB_FAKE_SERVICE:-0}" != 1 ]; then
  echo "tour.sh: run me inside the sandbox with its service: tests/e2e/sandbox.sh -- $0" >&2
  exit 2
fi
[ -x "$tool" ] || { echo "tour.sh: $tool is missing; build it first (scripts/demo.sh does)" >&2; exit 2; }
# The fetch honours proxy variables; the sandbox reaches nothing but loopback.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY VANTRELFB_TOKEN
mkdir -p "$demo"
: >"$demo/summary.tsv"

# Debian's own interpreter when there is one: it starts fastest, and the
# service runs on it too.
python=python3
[ -x /usr/bin/python3 ] && python=/usr/bin/python3
# The output's rules and ellipses are UTF-8 whatever the locale says.
export PYTHONIOENCODING=utf-8
show() { "$python" scripts/demo/show.py "$@"; }
json='Content-Type: application/json; charset=UTF-8'

n=0 dir="" command="" export_name="" out="" copy=""

# step COMMAND EXPORT DESCRIPTION: starts a step and its folder.
step() {
  n=$((n + 1)) command=$1 export_name=$2 copy=""
  dir=$demo/$(printf '%02d' "$n")-$(printf '%s' "$command" | tr -c 'a-z0-9\n' '-' | tr -s '-' | sed 's/-$//')
  mkdir -p "$dir"
  show heading "$n/$total  $command · $export_name" "$3"
}

# answer [--status N] [--header "Name: value"]... [--body TEXT]: the service's
# answer to the step's request.
answer() { show answer "$dir" "$@"; }

# call EXPECTED ARG...: runs the tool; EXPECTED is the result code, or
# "Location" for the sign-in, which returns a text. The tool's exit status
# for a 999 is expected to be $expect_exit (default 0).
call() {
  local expect=$1 before status=0
  shift
  before=$(find "$VFB_FAKE_DIR/requests" -name '[0-9]*.json' | wc -l)
  show command "$@"
  timeout 120 "$tool" "$@" >"$dir/stdout.txt" 2>"$dir/stderr.txt" </dev/null || status=$?
  show report "$dir" --command "$command" --export "$export_name" --expect "$expect" \
    --requests-before "$before" --exit "$status" --expect-exit "${expect_exit:-0}" --stdout "$dir/stdout.txt" --stderr "$dir/stderr.txt" \
    --out "$out" ${copy:+--copy-to "$copy"}
}

# value FILE [KEY]... FALLBACK: a value from a stored answer, so that the next
# call uses what the service really returned.
value() {
  local fallback=${*: -1}
  show get "${@:1:$#-1}" 2>/dev/null || printf '%s\n' "$fallback"
}

printf 'A scripted session: each step makes one call through the vantrelfb tool; the local\n'
printf 'service answers the way the real one would. Access tokens are shortened for display\n'
printf '(first 8 characters … last 4); the files under %s/ keep them whole.\n' "$demo"

# ---------------------------------------------------------------------------
step "signin" FaceBookTokenGraph \
  "Sign in: the dialog redirects to the success page, the access token in the fragment."
issued=EAAG$("$python" -c 'import secrets, string; a = string.ascii_letters + string.digits
print("".join(secrets.choice(a) for _ in range(96)))')
answer --status 302 --header "Content-Type: text/html; charset=\"utf-8\"" \
  --header "Location: https://www.facebook.com/connect/login_success.html#access_token=$issued&expires_in=5183999"
out=/temp4/Report2.txt copy=$dir/Report2.txt
call Location signin
location=$(cat "$dir/stdout.txt")
token=${location#*\#access_token=}
token=${token%%&*}
[ -n "$location" ] && [ "$token" != "$location" ] || token=no-token-from-the-sign-in
export VANTRELFB_TOKEN=$token
printf '  %-10s%s\n' "then" "VANTRELFB_TOKEN=$(show shorten "access_token=$token" | cut -d= -f2-) (from the Location) for the steps below"

# ---------------------------------------------------------------------------
step "fetch" FaceBookToken "Read the signed-in user's profile: a plain GET of any URL."
answer --header "$json" \
  --body '{"id":"100004213370815","name":"Dana Demo","first_name":"Dana","last_name":"Demo","locale":"en_US"}'
out=$dir/me.json
call 999 fetch --url "https://graph.facebook.com/me?fields=id,name,first_name,last_name,locale&access_token=$token" \
  --out "$out"
uid=$(value "$out" id 100004213370815)

# ---------------------------------------------------------------------------
step "status" FaceBookStatus "Post a status message to the user's feed; the answer is the new post's id."
answer --header "$json" --body "{\"id\":\"${uid}_10150293847561234\"}"
out=$dir/response.json
call 999 status --message "Trying VantrelFB offline ✓" --target me --out "$out"
post=$(value "$out" id "${uid}_10150293847561234")

# ---------------------------------------------------------------------------
step "checkin" FaceBookCheckIn "Check in at the library's built-in place, with a message."
answer --header "$json" --body '{"id":"10150293847569876"}'
out=$dir/response.json
call 999 checkin --message "Coffee by the harbour" --target me --out "$out"

# ---------------------------------------------------------------------------
step "event" FaceBookEvents "Create an event; the library fixes its start time."
answer --header "$json" --body '{"id":"112233445566778"}'
out=$dir/response.json
call 999 event --name "VantrelFB release party" --target me --out "$out"

# ---------------------------------------------------------------------------
step "note create" FaceBookNotes "Create a note through the legacy REST method; the answer is the note's id."
answer --header "$json" --body '10150293847577777'
out=$dir/response.json
title="Release notes" content="First draft: twelve calls, all answered."
call 999 note create --title "$title" --content "$content" --uid "$uid" --out "$out"
note=$(value "$out" 10150293847577777)

# ---------------------------------------------------------------------------
step "note edit" FaceBookNotesEdit "Replace the note's title and body; the legacy method answers true."
answer --header "$json" --body 'true'
out=$dir/response.json
title="Release notes (final)" content="Twelve calls, all answered, none left the machine."
call 999 note edit --title "$title" --content "$content" --note "$note" --uid "$uid" --out "$out"

# ---------------------------------------------------------------------------
step "note view" FaceBookNotesView "Read the note back from the Graph API."
created=$(date -u -d '-2 minutes' +%Y-%m-%dT%H:%M:%S+0000)
updated=$(date -u +%Y-%m-%dT%H:%M:%S+0000)
answer --header "$json" --body "{\"id\":\"${uid}_${note}\",\"from\":{\"name\":\"Dana Demo\",\"id\":\"$uid\"},\
\"subject\":\"$title\",\"message\":\"$content\",\"created_time\":\"$created\",\"updated_time\":\"$updated\"}"
out=$dir/note.json
call 999 note view --owner "$uid" --note "$note" --out "$out"

# ---------------------------------------------------------------------------
step "note delete" FaceBookNotesDelete "Delete the note; the legacy method answers true."
answer --header "$json" --body 'true'
out=$dir/response.json
call 999 note delete --note "$note" --uid "$uid" --out "$out"

# ---------------------------------------------------------------------------
step "photo" FaceBookPictureUpload "Upload a photo (a 256x192 JPEG made by the demo) with a caption."
"$python" scripts/demo/media.py jpeg "$dir/gradient.jpg"
answer --header "$json" --body "{\"id\":\"10150293847588888\",\"post_id\":\"${uid}_10150293847589999\"}"
out=$dir/response.json
call 999 photo --media "$dir/gradient.jpg" --target me --message "A gradient, sent from the demo" --out "$out"

# ---------------------------------------------------------------------------
step "video" FaceBookVideoUpload \
  "Upload a video to the video host (an MP4 shell of 160 KiB: the library sends any file as it is)."
"$python" scripts/demo/media.py mp4 "$dir/clip.mp4"
answer --header "$json" --body '{"id":"10150293847591111"}'
out=$dir/response.json
call 999 video --media "$dir/clip.mp4" --target me --title "Demo clip" --out "$out"

# ---------------------------------------------------------------------------
step "delete" FaceBookDelete "Delete the status post of step 3 by its id."
answer --header "$json" --body '{"success":true}'
out=$dir/response.json
call 999 delete --object "$post" --out "$out"

# ---------------------------------------------------------------------------
step "status, bad token" FaceBookStatus \
  "A token the service rejects: the call ends with 999 and the error is in the file; the tool exits 41."
answer --status 400 --header "$json" --header 'WWW-Authenticate: OAuth "Facebook Platform" "invalid_token" "Invalid OAuth access token."' \
  --body '{"error":{"message":"Invalid OAuth access token.","type":"OAuthException","code":190}}'
out=$dir/response.json
expect_exit=41 call 999 status --message "Is anybody there?" --token "not-a-valid-token" --target me --out "$out"

show summary "$demo"
