# Shared by the benchmark scripts: best wall time of a command over N runs, in seconds.
best_of() {  # best_of N command...
  local n=$1; shift
  local best=""
  for _ in $(seq "$n"); do
    local t0 t1 t
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s.%N)
    t=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best" ] || (( $(echo "$t < $best" | bc -l) )); then best=$t; fi
  done
  printf '%.3f' "$best"
}
ratio() { printf '%.2f' "$(echo "$1 / $2" | bc -l)"; }
