#!/usr/bin/env bash
# Runs a test program with the VM checking every JNI call. Fails on a fatal
# JNI error or on a warning raised outside the JDK's own native code (the
# JDK's font scaler warns about itself).
set -u
log=$(mktemp)
TAV_JVM_OPTIONS="-Xcheck:jni" TAV_UNATTENDED=1 "$@" >"$log" 2>&1
rc=$?
cat "$log"
ours=$(grep -A1 -E 'WARNING in native method|FATAL ERROR in native method' "$log" | grep -v -- '^--' |
       paste - - | grep -v -E 'java\.(desktop|base)@' || true)
rm -f "$log"
if [ -n "$ours" ]; then
  echo "JNI check failed:"
  echo "$ours"
  exit 1
fi
exit $rc
