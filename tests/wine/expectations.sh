# Sourced by the Wine checks that count their own results (install_check.sh,
# release_check.sh): `expect WHAT COMMAND...` passes when the command
# succeeds; a failure names WHAT under $check_label and shows $output, what
# the last program said. The caller ends with its "LABEL: N passed, M failed".
passed=0
failed=0
output=""
expect() {
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "$check_label: FAILED: $what"
    [ -z "$output" ] || sed 's/^/    /' <<<"$output" | head -n 40
  fi
}
