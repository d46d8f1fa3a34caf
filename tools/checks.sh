# The checks of the package and systemd tests, sourced by both: each check
# prints "ok: WHAT" or "FAILED: WHAT" and is counted in $passed or $failed.
passed=0
failed=0
check() {  # check WHAT COMMAND...: one check, passed when COMMAND succeeds
  local what=$1
  shift
  if "$@" >/dev/null 2>&1; then
    passed=$((passed + 1))
    echo "ok: $what"
  else
    failed=$((failed + 1))
    echo "FAILED: $what"
  fi
}
