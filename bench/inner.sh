#!/usr/bin/env bash
# The measuring half of the benchmark; bench/run.sh starts it inside
# tests/e2e/sandbox.sh --no-service, where the four hosts resolve to
# 127.0.0.1 and the sandbox's test CA is trusted.
#
#   bench/inner.sh DRIVER SAMPLES_DIR REPS CALLS [ROWS]
#
# ROWS: "all" (the default) or a comma-separated choice of download, photo,
# video, status, keepalive, instructions, memory, firstcall, threads.
# Serves the hosts with a real nginx (TLS, HTTP/1.1, bodies on tmpfs), then
# runs the library driver and curl in turns and appends one line per timed
# run to SAMPLES_DIR/samples.csv:
#   bench,contender,rep,seconds,maxrss_kib,client_cpu_s,server_cpu_s,load1,requests,connections,resumed
# (load1: the machine's 1-minute load average when the run started; other
# jobs share it, and this says how much they were doing. The last three come
# from nginx's log of the run: requests, TLS connections, and connections
# whose TLS session was resumed.)
# The threads row also writes SAMPLES_DIR/threads.csv (its timed phase, as
# the driver measured it, and its connections as nginx logged them).
# Every run is checked (result code, output bytes, what nginx received); a
# failed check stops the benchmark rather than record a wrong number.
set -euo pipefail
export LC_ALL=C

die() { echo "inner.sh: $*" >&2; exit 1; }
[ "${VFB_SANDBOX:-0}" = 1 ] || die "runs only inside tests/e2e/sandbox.sh (use bench/run.sh)"
[ $# -eq 4 ] || [ $# -eq 5 ] || die "usage: inner.sh DRIVER SAMPLES_DIR REPS CALLS [ROWS]"
DRIVER=$(readlink -f "$1") SAMPLES_DIR=$2 REPS=$3 CALLS=$4 ROWS=${5:-all}
ALL_ROWS="download photo video status keepalive instructions memory firstcall threads"
[ "$ROWS" = all ] && ROWS=${ALL_ROWS// /,}
for row in ${ROWS//,/ }; do
  [[ " $ALL_ROWS " == *" $row "* ]] || die "unknown row '$row' (rows: ${ALL_ROWS// /, })"
done
wants() { [[ ",$ROWS," == *",$1,"* ]]; }
# The 1 GiB and 16 MiB bodies only for the rows that move them.
SERVE_BODIES=0
for row in download photo video memory; do wants $row && SERVE_BODIES=1; done
# The threads row: THREADS threads of PER_THREAD calls against one thread of
# THREADS x PER_THREAD calls, each after one warm-up call per thread.
THREADS=16 PER_THREAD=10
CERTS=${VFB_CERT_DIR:?the sandbox exports VFB_CERT_DIR}
[ -r "$CERTS/server.crt" ] && [ -r "$CERTS/server.key" ] || die "no server certificate in $CERTS"

HERE=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
SAMPLES=$SAMPLES_DIR/samples.csv
echo "bench,contender,rep,seconds,maxrss_kib,client_cpu_s,server_cpu_s,load1,requests,connections,resumed" >"$SAMPLES"
echo "$CALLS" >"$SAMPLES_DIR/calls"
THREADS_SAMPLES=$SAMPLES_DIR/threads.csv
echo "rep,contender,threads,calls_per_thread,timed_user_s,timed_sys_s,timed_wall_s,cpu_per_call_ms,requests,connections,resumed,warmup_connections,warmup_resumed,new_connections,new_resumed" \
  >"$THREADS_SAMPLES"
# shellcheck source=bench/serve.sh
. "$HERE/serve.sh"

# --------------------------------------------------------------- contenders
GRAPH=https://graph.facebook.com VIDEO=https://graph-video.facebook.com
FEED_URL="$GRAPH/me/feed?access_token=x&message=bench"
# The same post where nginx keeps connections alive (bench/serve.sh).
KA_URL="$GRAPH/ka/feed?access_token=x&message=bench"
FORM_TYPE='Content-Type: application/x-www-form-urlencoded;charset=utf-8'
OUT=$OUTD/out.bin

# Small exchanges in loops of processes (bench/README.md says what each row
# means), to /me/feed or, with an argument, to /ka/feed.
lib_status_procs() {
  local i
  for ((i = 0; i < CALLS; i++)); do "$DRIVER" status 1 "$OUT" "$@" || return 1; done
}
curl_status_procs() {
  local i url=$FEED_URL
  [ $# = 0 ] || url=$KA_URL
  for ((i = 0; i < CALLS; i++)); do curl -sS -o "$OUT" -X POST -H "$FORM_TYPE" "$url" || return 1; done
}
# One curl process, CALLS transfers. To /me/feed with --no-sessionid: each
# one makes a new connection (nginx closes every one) with a full TLS
# handshake, as curl's tool does per connection anyway (it reads the CA
# bundle again for each). To /ka/feed as curl users run it: one connection.
CURL_ONE_PROCESS=(curl -sS --no-sessionid -X POST -H "$FORM_TYPE")
CURL_ONE_PROCESS_KA=(curl -sS -X POST -H "$FORM_TYPE")
for ((i = 0; i < CALLS; i++)); do
  CURL_ONE_PROCESS+=(-o "$OUT" "$FEED_URL")
  CURL_ONE_PROCESS_KA+=(-o "$OUT" "$KA_URL")
done

# The command of a contender in a bench, into the array CMD; TIMED=1 when it
# is one process that GNU time can wrap (peak RSS and CPU seconds).
command_for() {  # bench contender
  TIMED=1
  case "$1/$2" in
    download/library)     CMD=("$DRIVER" token "$GRAPH/big.bin" "$OUT") ;;
    download/curl)        CMD=(curl -sS -o "$OUT" "$GRAPH/big.bin") ;;
    download/library_watched)
                          CMD=(env VFB_BENCH_PROGRESS=1 "$DRIVER" token "$GRAPH/big.bin" "$OUT") ;;
    photo/library_watched)
                          CMD=(env VFB_BENCH_PROGRESS=1 "$DRIVER" photo "$WWW/big.bin" "$OUT") ;;
    photo/library)        CMD=("$DRIVER" photo "$WWW/big.bin" "$OUT") ;;
    photo/curl)           CMD=(curl -sS -o "$OUT" -F "source=@$WWW/big.bin;type=image/jpeg"
                               "$GRAPH/me/photos?access_token=x") ;;
    video/library)        CMD=("$DRIVER" video "$WWW/big.bin" "$OUT") ;;
    video/curl)           CMD=(curl -sS -o "$OUT" -F "source=@$WWW/big.bin;type=video/mp4"
                               "$VIDEO/me/videos?access_token=x") ;;
    status/library)       CMD=("$DRIVER" status "$CALLS" "$OUT") ;;
    status/library_processes)
                          CMD=(lib_status_procs); TIMED=0 ;;
    status/curl_processes)
                          CMD=(curl_status_procs); TIMED=0 ;;
    status/curl_one_process)
                          CMD=("${CURL_ONE_PROCESS[@]}") ;;
    keepalive/library)    CMD=("$DRIVER" status "$CALLS" "$OUT" ka) ;;
    keepalive/library_processes)
                          CMD=(lib_status_procs ka); TIMED=0 ;;
    keepalive/curl_processes)
                          CMD=(curl_status_procs ka); TIMED=0 ;;
    keepalive/curl_one_process)
                          CMD=("${CURL_ONE_PROCESS_KA[@]}") ;;
    # A process whose first and only call is one status post, against
    # curl's one POST of the same request (verifying the server, as always).
    firstcall/library)    CMD=("$DRIVER" status 1 "$OUT") ;;
    firstcall/curl)       CMD=(curl -sS -o "$OUT" -X POST -H "$FORM_TYPE" "$FEED_URL") ;;
    *) die "no command for $1/$2" ;;
  esac
}

# --------------------------------------------------------------- checks
check_output() {  # what, bench
  local what=$1 size
  [ -f "$OUT" ] || die "$what: no output file"
  size=$(stat -c %s "$OUT")
  case "$2" in
    download) [ "$size" = "$BIG" ] || die "$what: output is $size bytes, want $BIG" ;;
    photo | video) [ "$(cat "$OUT")" = "$UPLOAD_ANSWER" ] || die "$what: output is '$(head -c 200 "$OUT")'" ;;
    status | keepalive | firstcall) [ "$(cat "$OUT")" = "$FEED_ANSWER" ] || die "$what: output is '$(head -c 200 "$OUT")'" ;;
  esac
}

# What nginx logged for one run (the lines after byte OFFSET of its log), as
# LOGGED="requests,connections,resumed"; checks that every call reached it
# once, and how the runs that the rows are about used their connections.
# nginx writes a line after sending its answer, so the last one may lag the
# client's exit by a moment.
check_log() {  # bench, contender, offset
  local want=1 i conns="" resumed=""
  case "$1" in status | keepalive) want=$CALLS ;; esac
  # A process of the library makes every call after its first on a new
  # connection that resumes the first one's TLS session; with keep-alive,
  # both one-process contenders make all their calls on one connection.
  case "$1/$2" in
    status/library) conns=$CALLS resumed=$((CALLS - 1)) ;;
    keepalive/library | keepalive/curl_one_process) conns=1 ;;
    firstcall/*) conns=1 resumed=0 ;;
  esac
  for ((i = 0; i < 200; i++)); do
    [ "$(tail -c +"$(($3 + 1))" "$NG/access.log" | wc -l)" -ge "$want" ] && break
    sleep 0.01
  done
  LOGGED=$(tail -c +"$(($3 + 1))" "$NG/access.log" |
    awk -v want="$want" -v want_conns="$conns" -v want_resumed="$resumed" -v what="$1/$2" '
      { n++; if (!($9 in seen)) { seen[$9] = 1; c++; if ($11 == "r") r++ } }
      END {
        bad = n != want || (want_conns != "" && c != want_conns) || (want_resumed != "" && r + 0 != want_resumed)
        if (bad) printf "inner: %s: nginx logged %d requests on %d connections, %d resumed; want %d requests%s%s\n",
          what, n, c, r, want, want_conns == "" ? "" : " on " want_conns " connections",
          want_resumed == "" ? "" : ", " want_resumed " resumed" > "/dev/stderr"
        printf "%d,%d,%d\n", n, c, r
        exit bad
      }') || die "$1/$2: the connections nginx saw are not the ones this row is about"
}

# --------------------------------------------------------------- measuring
us_now() { local t=$EPOCHREALTIME; echo "${t/./}"; }
# CPU ticks of the children this shell has waited for, without starting one.
children_ticks() {
  local st f
  read -r st <"/proc/$BASHPID/stat"
  read -r -a f <<<"${st##*) }"
  CHILD_TICKS=$((f[13] + f[14]))
}

# measure BENCH CONTENDER REP: one timed run, checked, appended to the samples.
measure() {
  local bench=$1 who=$2 rep=$3 s0 t0 t1 s1 rss="" cpu="" u s ok=1 load log0 c0
  if [ "$bench" = threads ]; then measure_threads "$who" "$rep"; return; fi
  command_for "$bench" "$who"
  load=$(cut -d' ' -f1 /proc/loadavg)
  rm -f "$OUT" "$W/time.out"
  log0=$(stat -c %s "$NG/access.log")
  s0=$(server_cpu)
  if [ "$TIMED" = 1 ]; then
    t0=$(us_now)
    /usr/bin/time -f '%M %U %S' -o "$W/time.out" "${CMD[@]}" >"$W/cmd.out" 2>&1 || ok=0
    t1=$(us_now)
  else
    # Loops of processes: their CPU is what this shell's children used.
    t0=$(us_now)
    children_ticks
    c0=$CHILD_TICKS
    "${CMD[@]}" >"$W/cmd.out" 2>&1 || ok=0
    children_ticks
    t1=$(us_now)
    cpu=$(awk -v t="$((CHILD_TICKS - c0))" -v hz="$TICKS" 'BEGIN { printf "%.2f", t / hz }')
  fi
  s1=$(server_cpu)
  if [ $ok = 0 ] || [ -s "$W/cmd.out" ]; then
    cat "$W/cmd.out" "$W/time.out" >&2 2>/dev/null || true
    die "$bench/$who failed"
  fi
  if [ "$TIMED" = 1 ]; then
    read -r rss u s <"$W/time.out"
    cpu=$(awk -v u="$u" -v s="$s" 'BEGIN { printf "%.2f", u + s }')
  fi
  check_output "$bench/$who" "$bench"
  check_log "$bench" "$who" "$log0"
  local secs
  secs=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", (b - a) / 1e6 }')
  echo "$bench,$who,$rep,$secs,$rss,$cpu,$(awk -v a="$s0" -v b="$s1" 'BEGIN { printf "%.2f", b - a }'),$load,$LOGGED" >>"$SAMPLES"
  printf 'inner: rep %s %-9s %-18s %8.3f s  rss %6s KiB  cpu %5s s  load %s  requests,connections,resumed %s\n' \
    "$rep" "$bench" "$who" "$secs" "${rss:--}" "$cpu" "$load" "$LOGGED" >&2
}

# measure_threads NxC REP: one run of the driver's threads mode (N threads,
# one warm-up call each, then C calls each) to the keep-alive location. The
# driver measures the timed phase (after every warm-up call) itself; nginx's
# log says which connections served it: the warm-up calls carry the message
# "warmup", so a connection first seen in the timed phase is a new one.
measure_threads() {
  local who=$1 rep=$2 n=${1%x*} c=${1#*x} load log0 s0 s1 t0 t1 ok=1 rss u s user sys wall i want secs
  load=$(cut -d' ' -f1 /proc/loadavg)
  rm -f "$OUT".* "$W/threads.report" "$W/time.out"
  log0=$(stat -c %s "$NG/access.log")
  s0=$(server_cpu)
  t0=$(us_now)
  /usr/bin/time -f '%M %U %S' -o "$W/time.out" "$DRIVER" threads "$n" "$c" "$OUT" "$W/threads.report" ka \
    >"$W/cmd.out" 2>&1 || ok=0
  t1=$(us_now)
  s1=$(server_cpu)
  if [ $ok = 0 ] || [ -s "$W/cmd.out" ] || [ ! -s "$W/threads.report" ]; then
    cat "$W/cmd.out" "$W/time.out" >&2 2>/dev/null || true
    die "threads/$who failed"
  fi
  for ((i = 0; i < n; i++)); do
    [ "$(cat "$OUT.$i" 2>/dev/null)" = "$FEED_ANSWER" ] || die "threads/$who: thread $i's output is wrong"
  done
  read -r rss u s <"$W/time.out"
  read -r user sys wall <"$W/threads.report"
  want=$((n * (c + 1)))
  for ((i = 0; i < 200; i++)); do
    [ "$(tail -c +"$((log0 + 1))" "$NG/access.log" | wc -l)" -ge "$want" ] && break
    sleep 0.01
  done
  # requests,connections,resumed then warm-up connections, resumed, and the
  # connections new in the timed phase, resumed.
  LOGGED=$(tail -c +"$((log0 + 1))" "$NG/access.log" |
    awk -v want="$want" -v warm="$n" -v what="threads/$who" '
      $3 != "/ka/feed" || $4 != 200 { bad = 1 }
      { n++; if (!($9 in seen)) { seen[$9] = 1; c++; if ($11 == "r") r++ } }
      $12 == "warmup" { w++; if (!($9 in wseen)) { wseen[$9] = 1; wc++; if ($11 == "r") wr++ } }
      $12 == "bench" && !($9 in wseen) && !($9 in nseen) { nseen[$9] = 1; nc++; if ($11 == "r") nr++ }
      END {
        bad = bad || n != want || w != warm
        if (bad) printf "inner: %s: nginx logged %d requests (%d warm-up), want %d (%d), all 200 from /ka/feed\n",
          what, n, w, want, warm > "/dev/stderr"
        printf "%d,%d,%d,%d,%d,%d,%d\n", n, c, r, wc, wr, nc, nr
        exit bad
      }') || die "threads/$who: nginx did not log the run's calls"
  secs=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", (b - a) / 1e6 }')
  echo "threads,$who,$rep,$secs,$rss,$(awk -v u="$u" -v s="$s" 'BEGIN { printf "%.2f", u + s }'),$(awk -v a="$s0" -v b="$s1" 'BEGIN { printf "%.2f", b - a }'),$load,$(cut -d, -f1-3 <<<"$LOGGED")" >>"$SAMPLES"
  echo "$rep,$who,$n,$c,$user,$sys,$wall,$(awk -v u="$user" -v s="$sys" -v k="$((n * c))" 'BEGIN { printf "%.4f", (u + s) * 1000 / k }'),$LOGGED" \
    >>"$THREADS_SAMPLES"
  printf 'inner: rep %s threads   %-18s %8.3f s  timed: cpu %s+%s s, wall %s s  requests,connections,resumed,warm-up conns,resumed,new conns,resumed %s\n' \
    "$rep" "$who" "$secs" "$user" "$sys" "$wall" "$LOGGED" >&2
}

# Bench, then its contenders. The status rows of the report pair these four
# up: library / curl_processes, library / curl_one_process and
# library_processes / curl_processes (bench/README.md); the keepalive rows
# pair them the same way against the keep-alive location.
BENCH_GROUPS=(
  "download library curl library_watched"
  "photo library curl library_watched"
  "video library curl"
  "status library curl_one_process curl_processes library_processes"
  "keepalive library curl_one_process curl_processes library_processes"
  "firstcall library curl"
  "threads ${THREADS}x$PER_THREAD 1x$((THREADS * PER_THREAD))"
)
# The groups of the rows asked for (status and keepalive feed three rows each).
SELECTED=()
WARMUP=()
for group in "${BENCH_GROUPS[@]}"; do
  bench=${group%% *}
  wants "$bench" || continue
  SELECTED+=("$group")
  case $bench in download | status | keepalive | firstcall | threads) WARMUP+=("$group") ;; esac
done
# The contenders alternate: a group's runs follow each other, and their
# order flips every repetition, so drift on this shared machine hits all.
run_rep() {  # rep, groups...
  local rep=$1 group parts who i
  shift
  for group in "$@"; do
    read -r -a parts <<<"$group"
    who=("${parts[@]:1}")
    if [ $((rep % 2)) = 0 ]; then
      for ((i = ${#who[@]} - 1; i >= 0; i--)); do measure "${parts[0]}" "${who[i]}" "$rep"; done
    else
      for ((i = 0; i < ${#who[@]}; i++)); do measure "${parts[0]}" "${who[i]}" "$rep"; done
    fi
  done
}

# Loads the binaries and libraries and makes the first TLS handshakes.
echo "inner: warm-up (not recorded)" >&2
REAL_SAMPLES=$SAMPLES REAL_THREADS_SAMPLES=$THREADS_SAMPLES
SAMPLES=$W/warmup.csv THREADS_SAMPLES=$W/warmup-threads.csv
[ ${#WARMUP[@]} = 0 ] || run_rep 0 "${WARMUP[@]}"
SAMPLES=$REAL_SAMPLES THREADS_SAMPLES=$REAL_THREADS_SAMPLES
if [ ${#SELECTED[@]} -gt 0 ]; then
  for ((rep = 1; rep <= REPS; rep++)); do run_rep "$rep" "${SELECTED[@]}"; done
fi

# Peak memory of one process doing a download and an upload, at two sizes.
MEM=$SAMPLES_DIR/memory.csv
echo "size,rep,maxrss_kib" >"$MEM"
if wants memory; then
  for ((rep = 1; rep <= 3; rep++)); do
    for body in mid.bin big.bin; do
      rm -f "$OUTD/mem-down" "$OUTD/mem-up"
      /usr/bin/time -f '%M' -o "$W/time.out" "$DRIVER" both "$GRAPH/$body" "$WWW/$body" \
        "$OUTD/mem-down" "$OUTD/mem-up" || die "memory run ($body) failed"
      [ "$(stat -c %s "$OUTD/mem-down")" = "$(stat -c %s "$WWW/$body")" ] || die "memory run: short download"
      [ "$(cat "$OUTD/mem-up")" = "$UPLOAD_ANSWER" ] || die "memory run: upload answer"
      size=$([ $body = big.bin ] && echo 1GiB || echo 16MiB)
      echo "$size,$rep,$(cat "$W/time.out")" >>"$MEM"
      echo "inner: memory $size rep $rep: $(cat "$W/time.out") KiB" >&2
    done
  done
fi

# Instructions of the small exchange, counted by callgrind: the machine is
# shared, and this count does not move with the load. Two call counts per
# contender separate the cost of a call from the cost of starting a process
# (with keep-alive, the first call's connection and handshake count as start).
INS=$SAMPLES_DIR/instructions.csv
echo "bench,contender,calls,instructions" >"$INS"
# callgrind COUNT_VAR CMD...: the instructions CMD executed, its output checked.
callgrind() {
  local -n count_out=$1
  shift
  rm -f "$OUT"
  valgrind --tool=callgrind --callgrind-out-file="$W/callgrind.out" "$@" >"$W/cmd.out" 2>&1 \
    || { cat "$W/cmd.out" >&2; die "callgrind run of $1 failed"; }
  check_output "callgrind/$1" status
  count_out=$(sed -n 's/^==[0-9]*== Collected : \([0-9]*\).*/\1/p' "$W/cmd.out")
  [ -n "$count_out" ] || die "no instruction count from callgrind"
}
INS_BENCHES=()
wants instructions && INS_BENCHES=(status keepalive)
if ! command -v valgrind >/dev/null; then
  echo "inner: valgrind missing, no instruction counts" >&2
else
  # A process's first and only call, three runs of each (the count moves by
  # well under 1% from run to run: the TLS keys and the memory layout differ).
  if wants firstcall; then
    for ((rep = 1; rep <= 3; rep++)); do
      for who in library curl; do
        command_for firstcall "$who"
        callgrind count "${CMD[@]}"
        echo "firstcall,$who,1,$count" >>"$INS"
        echo "inner: callgrind firstcall $who, run $rep: $count instructions" >&2
      done
    done
  fi
  for bench in "${INS_BENCHES[@]}"; do
    for n in 1 3; do
      curl_args=()
      for ((i = 0; i < n; i++)); do
        curl_args+=(-o "$OUT" "$([ $bench = status ] && echo "$FEED_URL" || echo "$KA_URL")")
      done
      for who in library curl; do
        case $bench/$who in
          status/library) cmd=("$DRIVER" status "$n" "$OUT") ;;
          status/curl) cmd=(curl -sS --no-sessionid -X POST -H "$FORM_TYPE" "${curl_args[@]}") ;;
          keepalive/library) cmd=("$DRIVER" status "$n" "$OUT" ka) ;;
          keepalive/curl) cmd=(curl -sS -X POST -H "$FORM_TYPE" "${curl_args[@]}") ;;
        esac
        callgrind count "${cmd[@]}"
        echo "$bench,$who,$n,$count" >>"$INS"
        echo "inner: callgrind $bench $who, $n call(s): $count instructions" >&2
      done
    done
  done
fi

# One byte-for-byte check of a download by each contender, outside the timings.
if wants download; then
  for who in library curl; do
    command_for download "$who"
    rm -f "$OUT"
    "${CMD[@]}"
    cmp -s "$OUT" "$WWW/big.bin" || die "download by $who differs from the served file"
  done
fi
rm -f "$OUT"

# nginx must have read every upload body whole before answering, and sent
# every download whole: its access log says what it read and sent.
awk '
  $3 ~ /^\/me\/(photos|videos)$/ {
    n++; cl = $6; gsub(/"/, "", cl)
    if ($4 != 200 || cl + 0 < 16777216 || $5 + 0 <= cl + 0) { bad++; print "bad upload: " $0 > "/dev/stderr" }
  }
  $3 == "/big.bin" || $3 == "/mid.bin" {
    d++
    if ($4 != 200 || $7 != ($3 == "/big.bin" ? 1073741824 : 16777216)) {
      bad++; print "bad download: " $0 > "/dev/stderr"
    }
  }
  END {
    printf "inner: nginx log: %d uploads read whole, %d downloads sent whole, %d bad\n", n, d, bad > "/dev/stderr"
    exit bad > 0
  }' "$NG/access.log" || die "nginx did not read or send everything"
cp "$NG/access.log" "$SAMPLES_DIR/nginx-access.log"
echo "inner: done" >&2
