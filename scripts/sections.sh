# Sourced by the scripts made of sections (test.sh, bench.sh): runs the
# sections named as arguments, in that order, or every one in all_sections.
# A section is a function section_<name>. Each section's wall time, and the
# CPU time (user and system) of everything it ran, is printed after it, and
# all of them at the end, so that a slow one shows; the CPU time hardly
# depends on what else the machine runs meanwhile.
run_sections() {
  local sections=("$@")
  ((${#sections[@]})) || sections=("${all_sections[@]}")
  local section start cpu times=()
  for section in "${sections[@]}"; do
    if ! declare -F "section_$section" >/dev/null; then
      echo "unknown section: $section (have: ${all_sections[*]})" >&2
      exit 2
    fi
  done
  for section in "${sections[@]}"; do
    start=$SECONDS
    children_cpu_ms
    cpu=$children_cpu
    "section_$section"
    children_cpu_ms
    cpu=$(((children_cpu - cpu + 500) / 1000))
    times+=("$section $((SECONDS - start)) s (CPU $cpu s)")
    echo "=== $section: $((SECONDS - start)) s, CPU $cpu s ==="
  done
  local IFS=,
  echo "=== sections: ${times[*]} ==="
}

# The user and system time of the shell's finished children, in
# milliseconds, into $children_cpu. Not through $(...): a subshell has no
# children.
children_cpu_ms() {
  local file part seconds
  file=$(mktemp)
  times >"$file"
  children_cpu=0
  for part in $(sed -n 2p "$file"); do
    seconds=${part#*m}
    seconds=${seconds%s}
    children_cpu=$((children_cpu + ${part%%m*} * 60000 + 10#${seconds%.*} * 1000 + 10#${seconds#*.}))
  done
  rm -f "$file"
}
