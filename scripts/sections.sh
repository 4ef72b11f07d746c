# Sourced by the scripts made of sections (test.sh, bench.sh): runs the
# sections named as arguments, in that order, or every one in all_sections.
# A section is a function section_<name>. Each section's wall time is printed
# after it, and all of them at the end, so that a slow one shows.
run_sections() {
  local sections=("$@")
  ((${#sections[@]})) || sections=("${all_sections[@]}")
  local section start times=()
  for section in "${sections[@]}"; do
    if ! declare -F "section_$section" >/dev/null; then
      echo "unknown section: $section (have: ${all_sections[*]})" >&2
      exit 2
    fi
  done
  for section in "${sections[@]}"; do
    start=$SECONDS
    "section_$section"
    times+=("$section $((SECONDS - start)) s")
    echo "=== $section: $((SECONDS - start)) s ==="
  done
  local IFS=,
  echo "=== sections: ${times[*]} ==="
}
