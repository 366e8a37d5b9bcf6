#!/usr/bin/env bash
# How long a run takes to reach a model server a real round trip away, with the real corvane in a
# private desktop session (ninja -C build bench_remote_latency). Needs root.
#
#   run.sh BENCH_EXECUTABLE
#
# Two network namespaces of our own, joined by a link that delays every packet by
# CORVANE_BENCH_DELAY_MS (default 40) each way: the kernel's netem where it has it, otherwise
# delay_line.py between two TUN devices. The model server (model_server.py, TLS with a CA and
# certificate made here) runs in one, corvane in the other through `ip netns exec`, which also
# bind-mounts /etc/netns/<name>/ssl over /etc/ssl: Qt reads its trusted CAs from /etc/ssl/certs, so
# corvane trusts our CA and nothing else. The desktop stays reachable from there: Xvfb, the session
# bus and the accessibility bus listen on filesystem sockets (an X client falls back to the one in
# /tmp/.X11-unix when the abstract one, which is per namespace, is not there). Only the addresses
# 10.200.0.1 and 10.200.0.2 inside those two namespaces carry traffic.
#
# What is measured, and the variables that choose runs and builds: ../remote_latency_bench.cpp.
# Everything made here (namespaces, /etc/netns entries, processes, files) goes when it ends.
set -uo pipefail
bench=$1
here=$(cd "$(dirname "$0")" && pwd)
delay=${CORVANE_BENCH_DELAY_MS:-40}
tag=cvrl$$
client=$tag-c server=$tag-s
client_ip=10.200.0.1 server_ip=10.200.0.2 port=8443

skip() { # the machine cannot do it: not a failure
  echo "remote latency: not measured: $*"
  exit 0
}
fail() {
  echo "remote latency: $*" >&2
  exit 1
}
[ "$(id -u)" = 0 ] || skip "it needs root (network namespaces and TUN devices)"
command -v ip >/dev/null && command -v openssl >/dev/null || skip "it needs ip (iproute2) and openssl"

work=$(mktemp -d /tmp/corvane-remote-latency.XXXXXX)
pids=()
made_etc_netns=""
[ -d /etc/netns ] || made_etc_netns=1
cleanup() {
  local p
  for p in $(ip netns pids "$client" 2>/dev/null) $(ip netns pids "$server" 2>/dev/null) "${pids[@]}"; do
    kill "$p" 2>/dev/null
  done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  ip netns del "$client" 2>/dev/null
  ip netns del "$server" 2>/dev/null
  rm -rf "/etc/netns/$client" "$work"
  [ -z "$made_etc_netns" ] || rmdir /etc/netns 2>/dev/null
}
trap cleanup EXIT
trap 'exit 130' INT TERM

ip netns add "$client" 2>/dev/null && ip netns add "$server" 2>/dev/null || skip "cannot make network namespaces"
for ns in "$client" "$server"; do ip -n "$ns" link set lo up; done

# The link: netem on a veth pair, or the delay line between two TUN devices.
if ip link add "$tag-a" netns "$client" type veth peer name "$tag-b" netns "$server" 2>/dev/null &&
   tc -n "$client" qdisc add dev "$tag-a" root netem delay "${delay}ms" 2>/dev/null &&
   tc -n "$server" qdisc add dev "$tag-b" root netem delay "${delay}ms" 2>/dev/null; then
  link="netem"
else
  ip -n "$client" link del "$tag-a" 2>/dev/null
  coproc delay_line { exec python3 "$here/delay_line.py" "$tag-a" "$tag-b" "$delay" 2>&1; }
  pids+=("$delay_line_PID")
  ready=""
  read -r -t 10 ready <&"${delay_line[0]}"
  [ "$ready" = ready ] || skip "no TUN devices for the delay line: $ready"
  ip link set "$tag-a" netns "$client" && ip link set "$tag-b" netns "$server" || skip "cannot move the TUN devices"
  link="user-space delay line (no netem here)"
fi
ip -n "$client" addr add "$client_ip" peer "$server_ip" dev "$tag-a"
ip -n "$server" addr add "$server_ip" peer "$client_ip" dev "$tag-b"
ip -n "$client" link set "$tag-a" up
ip -n "$server" link set "$tag-b" up

# A CA of our own, and the server's certificate for its address.
(
  cd "$work" &&
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 -subj "/CN=Corvane bench CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" -keyout ca.key -out ca.pem &&
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "/CN=$server_ip" \
    -keyout server.key -out server.csr &&
  printf 'subjectAltName=IP:%s\nextendedKeyUsage=serverAuth\n' "$server_ip" >server.ext &&
  openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 -extfile server.ext -out server.pem
) >"$work/openssl.log" 2>&1 || { cat "$work/openssl.log"; fail "cannot make the certificates"; }
certs="/etc/netns/$client/ssl/certs"
mkdir -p "$certs"
cp /etc/ssl/openssl.cnf "/etc/netns/$client/ssl/" 2>/dev/null
cp "$work/ca.pem" "$certs/ca-certificates.crt"
cp "$work/ca.pem" "$certs/$(openssl x509 -hash -noout -in "$work/ca.pem").0"

ip netns exec "$server" python3 "$here/model_server.py" "$work/server.pem" "$work/server.key" "$server_ip" "$port" \
  >"$work/server.log" 2>&1 &
pids+=($!)
for _ in $(seq 200); do grep -qs listening "$work/server.log" && break; sleep 0.05; done
grep -q listening "$work/server.log" || { cat "$work/server.log"; fail "the model server did not start"; }

# The round trip: a TCP connection to a closed port is refused one round trip after it is asked for.
rtt=$(ip netns exec "$client" python3 - "$server_ip" <<'EOF'
import socket, statistics, sys, time
times = []
for _ in range(7):
    s, start = socket.socket(), time.monotonic()
    try:
        s.connect((sys.argv[1], 9))
    except ConnectionRefusedError:
        times.append((time.monotonic() - start) * 1000)
    s.close()
print(f"{statistics.median(times):.1f}" if times else "")
EOF
)
[ -n "$rtt" ] || fail "nothing crosses the link"

CORVANE_BENCH_ENDPOINT="https://$server_ip:$port/v1" CORVANE_BENCH_SERVER_LOG="$work/server.log" \
CORVANE_BENCH_NETNS="$client" CORVANE_BENCH_RTT_MS="$rtt" CORVANE_BENCH_DELAY_MS="$delay" CORVANE_BENCH_LINK="$link" \
  "$here/../../tests/support/session.sh" --no-keyring -- env QT_QPA_PLATFORM=offscreen "$bench"
