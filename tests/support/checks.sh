# The checks of the shell tests: each named check passes when its actual text matches the
# expected pattern; `finish` prints the count and fails the script when one failed.
#   source tests/support/checks.sh
passed=0 failures=0
check() {  # check NAME ACTUAL EXPECTED-PATTERN
  if [[ "$2" =~ $3 ]]; then
    passed=$((passed + 1))
  else
    echo "FAILED: $1: got «$2»"
    failures=$((failures + 1))
  fi
}
finish() {
  echo "$passed passed, $failures failed"
  ((failures == 0))
}
# Ends the script at once when the launcher PID has gone: nothing after it could pass, and
# LOG's last lines say why.
require_running() {  # require_running PID LOG
  kill -0 "$1" 2>/dev/null && return
  echo "FAILED: the launcher ended at start:"
  tail -5 "$2" 2>/dev/null
  exit 1
}
