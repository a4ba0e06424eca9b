# Sourced by bench/inner.sh and bench/profile.sh inside the sandbox: makes
# the bodies on tmpfs and starts nginx for the four hosts on 127.0.0.1:443.
# Needs die() and CERTS; sets W, WWW, OUTD, NG, BIG, MID, FEED_ANSWER,
# UPLOAD_ANSWER, WORKER and server_cpu(). With SERVE_BODIES=0 the large
# bodies are not made (runs of only the small-exchange rows).

# Everything large lives on the sandbox's private tmpfs /tmp.
W=/tmp/vfb-bench
WWW=$W/www OUTD=$W/out NG=$W/nginx
mkdir -p "$WWW" "$OUTD" "$NG"/{body,proxy,fastcgi,uwsgi,scgi}

BIG=$((1024 * 1024 * 1024)) MID=$((16 * 1024 * 1024))
if [ "${SERVE_BODIES:-1}" = 1 ]; then
  echo "serve: making the 1 GiB and 16 MiB bodies on tmpfs" >&2
  head -c "$BIG" /dev/urandom >"$WWW/big.bin"
  head -c "$MID" "$WWW/big.bin" >"$WWW/mid.bin"
fi

# A 100-byte answer for status posts, JSON like the service's.
FEED_ANSWER='{"id":"1_1","padding":"'
while [ ${#FEED_ANSWER} -lt 98 ]; do FEED_ANSWER+=x; done
FEED_ANSWER+='"}'
[ ${#FEED_ANSWER} -eq 100 ] || die "feed answer is ${#FEED_ANSWER} bytes"
UPLOAD_ANSWER='{"id":"1"}'

# --------------------------------------------------------------- nginx
# Uploads go through proxy_pass because the proxy reads the whole request body
# (request buffering) before it contacts the upstream; a plain `return` would
# answer first and discard the body afterwards, timing only part of the upload.
# The upstream gets no body (proxy_pass_request_body off) and only answers.
# keepalive_timeout 0 outside /ka/: every call pays its own TCP connection and
# TLS handshake (resumed or full), whoever makes it. /ka/feed answers as
# /me/feed but keeps its connections alive, as the service's hosts do.
# The log's fields 9-11 say which connection served a request, its place on
# that connection, and whether its TLS session was resumed ("r"); field 12 is
# the query's message (the driver's threads mode marks its warm-up calls).
cat >"$NG/nginx.conf" <<EOF
user root;
worker_processes 1;
pid $NG/nginx.pid;
error_log $NG/error.log warn;
events { worker_connections 256; }
http {
    log_format bench '\$host \$request_method \$uri \$status \$request_length '
                     '"\$content_length" \$body_bytes_sent \$request_time '
                     '\$connection \$connection_requests \$ssl_session_reused \$arg_message';
    access_log $NG/access.log bench;
    client_body_temp_path $NG/body;
    proxy_temp_path $NG/proxy;
    fastcgi_temp_path $NG/fastcgi;
    uwsgi_temp_path $NG/uwsgi;
    scgi_temp_path $NG/scgi;
    default_type application/octet-stream;
    keepalive_timeout 0;
    server {
        listen 127.0.0.1:443 ssl;
        server_name graph.facebook.com api.facebook.com graph-video.facebook.com www.facebook.com;
        ssl_certificate $CERTS/server.crt;
        ssl_certificate_key $CERTS/server.key;
        # As a service's hosts do. Without it nginx resumes only from session
        # tickets, which libcurl's OpenSSL layer never asks for (TLS 1.2 here).
        ssl_session_cache shared:bench:10m;
        root $WWW;
        client_max_body_size 0;
        client_body_buffer_size 1m;
        location = /me/feed {
            default_type application/json;
            return 200 '$FEED_ANSWER';
        }
        location = /ka/feed {
            keepalive_timeout 75s;
            default_type application/json;
            return 200 '$FEED_ANSWER';
        }
        location ~ ^/me/(photos|videos)\$ {
            proxy_pass http://127.0.0.1:8080;
            proxy_request_buffering on;
            proxy_pass_request_body off;
            proxy_set_header Content-Length "";
            proxy_set_header Content-Type "";
        }
    }
    server {
        listen 127.0.0.1:8080;
        access_log $NG/upstream.log bench;
        location / {
            default_type application/json;
            return 200 '$UPLOAD_ANSWER';
        }
    }
}
EOF
nginx -t -q -c "$NG/nginx.conf" -p "$NG" 2>&1 | grep -v 'could not open error log file' >&2 || true
nginx -c "$NG/nginx.conf" -p "$NG" 2>/dev/null || nginx -c "$NG/nginx.conf" -p "$NG"
for _ in $(seq 1 100); do
  [ -s "$NG/nginx.pid" ] && pgrep -P "$(cat "$NG/nginx.pid")" >/dev/null && break
  sleep 0.05
done
WORKER=$(pgrep -P "$(cat "$NG/nginx.pid")" | head -n 1)
[ -n "$WORKER" ] || die "nginx did not start: $(cat "$NG/error.log" 2>/dev/null)"
trap 'kill "$(cat "$NG/nginx.pid")" 2>/dev/null || true' EXIT

# CPU seconds the nginx worker has used so far (user + system).
TICKS=$(getconf CLK_TCK)
server_cpu() {
  awk -v t="$TICKS" '{ sub(/^.*\) /, ""); printf "%.2f", ($12 + $13) / t }' "/proc/$WORKER/stat"
}

