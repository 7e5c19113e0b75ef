#!/usr/bin/env bash
# Runs one sanitized test. LeakSanitizer stops every thread with ptrace to scan their stacks
# at exit; when one of the database engine's or media threads is ending at that very moment
# its tracer can crash ("LeakSanitizer has encountered a fatal error") after every test
# passed. That is the checker failing, not the program (it happens on a loaded machine): such
# a run is repeated once with the leak checker off, AddressSanitizer and UndefinedBehavior-
# Sanitizer still on, and any failure of that run fails the test.
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$@" >"$out" 2>&1
rc=$?
if [ $rc -ne 0 ] && grep -q "LeakSanitizer has encountered a fatal error" "$out" \
   && ! grep -q "ERROR: LeakSanitizer: detected memory leaks" "$out"; then
  cat "$out"
  echo "run-sanitized: the leak checker itself failed; running the test once more without it"
  ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" "$@" >"$out" 2>&1
  rc=$?
fi
cat "$out"
exit $rc
