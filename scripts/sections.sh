# Sourced by the scripts made of sections (test.sh, bench.sh): runs the
# sections named as arguments, in that order, or every one in all_sections.
# A section is a function section_<name>.
run_sections() {
  local sections=("$@")
  ((${#sections[@]})) || sections=("${all_sections[@]}")
  local section
  for section in "${sections[@]}"; do
    if ! declare -F "section_$section" >/dev/null; then
      echo "unknown section: $section (have: ${all_sections[*]})" >&2
      exit 2
    fi
    "section_$section"
  done
}
