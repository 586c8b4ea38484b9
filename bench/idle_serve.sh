#!/usr/bin/env bash
# CPU share of an idle `kanaliko-cli serve` over a scheme of many ports, in a
# network namespace of its own (built here, removed at the end; root only).
#
#   bench/idle_serve.sh <kanaliko-cli> <scheme.xml> [seconds=30]
#
# Prints the CPU seconds the serving process used over the interval (after it
# has opened its ports) and their share of one core.
set -euo pipefail
cli="$1"; scheme="$2"; seconds="${3:-30}"
ns="kidle-$$"
ip netns add "$ns"
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; ip netns del "$ns"' EXIT
ip -n "$ns" link set lo up
ip netns exec "$ns" "$cli" serve --scheme "$scheme" --options /nonexistent/options.xml \
  >/dev/null 2>&1 &
pid=$!
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
# Opened when its listening sockets are all there.
for _ in $(seq 1 600); do
  n=$(ls "/proc/$pid/fd" 2>/dev/null | wc -l)
  [ "$n" -ge 10000 ] && break
  sleep 0.1
done
sleep 2
t0=$(ticks)
sleep "$seconds"
t1=$(ticks)
hz=$(getconf CLK_TCK)
awk -v a="$t0" -v b="$t1" -v hz="$hz" -v s="$seconds" -v n="$(ls /proc/$pid/fd | wc -l)" \
  'BEGIN { cpu = (b - a) / hz; printf "descriptors %d; CPU %.2f s over %d s = %.2f%% of a core\n", n, cpu, s, 100 * cpu / s }'
