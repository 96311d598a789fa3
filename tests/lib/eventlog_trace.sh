#!/usr/bin/env bash
# Checks the event-log entries of eventlog_probe through Wine's trace.
# Usage: eventlog_trace.sh <wine-run> <eventlog_probe.exe>
#
# Wine's event log stores nothing. With WINEDEBUG=fixme+advapi,+eventlog its
# stubs print each call on the calling program's stderr:
#   fixme:advapi:RegisterEventSourceA ((null),"Tarnwick"): stub
#   fixme:advapi:ReportEventA (<handle>,<type>,<category>,<id>,<sid>,<count>,...): stub
#   trace:eventlog:ReportEventW L"<insert>"      (err:eventlog: for error entries)
#   fixme:advapi:DeregisterEventSource (<handle>) stub
# (A service's calls appear on the stderr of the Wine session's first
# process instead; a plain program's on its own.)
set -u
runner=$1
probe=$2
err=$(mktemp)
trap 'rm -f "$err"' EXIT

WINEDEBUG=fixme+advapi,+eventlog "$runner" "$probe" 2>"$err" >/dev/null
rc=$?
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

[ "$rc" -eq 0 ] || fail "probe exit code $rc"

# The lines of one scenario, without the thread prefix "0123:". The probe's
# own lines end in CR LF (text-mode stderr), Wine's in LF.
section() {
  tr -d '\r' <"$err" | awk -v name="$1" '/^@@ /{on = ($2 == name); next} on' |
    sed 's/^[0-9a-f]*://'
}
count() { grep -cF -- "$2" <<<"$1"; }
expect_count() {  # <scenario> <text> <count> <what>
  local lines n
  lines=$(section "$1")
  n=$(count "$lines" "$2")
  [ "$n" -eq "$3" ] || fail "$1: $4: expected $3 line(s) with '$2', found $n"
}
expect_order() {  # <scenario> <line>... : these lines appear in this order
  local name=$1; shift
  local lines expected
  # The 8th argument, the address of the string array, changes from run to run.
  lines=$(section "$name" |
          grep -E '^(fixme:advapi:ReportEventA|trace:eventlog:ReportEventW|err:eventlog:ReportEventW)' |
          sed -E 's/^(fixme:advapi:ReportEventA \(([^,]*,){7})[0-9A-Fa-f]+/\1PTR/')
  expected=$(printf '%s\n' "$@")
  if [ "$lines" != "$expected" ]; then
    fail "$name: entries differ"
    echo "--- expected"; echo "$expected"; echo "--- got"; echo "$lines"
  fi
}

grep -q '^@@ end' "$err" || fail "probe did not finish"

# A reporter that reports nothing registers and deregisters nothing.
expect_count unused "RegisterEventSource" 0 "registration"
expect_count unused "DeregisterEventSource" 0 "deregistration"

# The first report registers the source "Tarnwick" on the local computer;
# the second uses the same handle.
expect_count reports 'fixme:advapi:RegisterEventSourceA ((null),"Tarnwick")' 1 "registration"
handle=$(section reports | sed -n 's/^fixme:advapi:ReportEventA (\([0-9A-Fa-f]*\),.*/\1/p' | sort -u)
[ "$(wc -l <<<"$handle")" -eq 1 ] && [ -n "$handle" ] || fail "reports: not one handle: $handle"
[ "$handle" != "0000000000000000" ] || fail "reports: null handle"

# Information entry, category 1, id 0x40010005, three inserts in order (an
# empty one included); error entry, category 2, id 0xc0020001, one insert.
expect_order reports \
  "fixme:advapi:ReportEventA ($handle,0x0004,0x0001,0x40010005,0000000000000000,0x0003,0x00000000,PTR,0000000000000000): stub" \
  'trace:eventlog:ReportEventW L"1/2/2026 3:04:05 PM"' \
  'trace:eventlog:ReportEventW L"WORKGROUP\\VM"' \
  'trace:eventlog:ReportEventW L""' \
  "fixme:advapi:ReportEventA ($handle,0x0001,0x0002,0xc0020001,0000000000000000,0x0001,0x00000000,PTR,0000000000000000): stub" \
  'err:eventlog:ReportEventW L"a@example.test\r\nb@example.test\r\n"'

# Severity 0 is an information entry; severity 2 a warning, here in category
# 3; no inserts give a count of 0 and no string array.
expect_order severities \
  "fixme:advapi:ReportEventA ($handle,0x0004,0x0001,0x00010001,0000000000000000,0x0001,0x00000000,PTR,0000000000000000): stub" \
  'trace:eventlog:ReportEventW L"success"' \
  "fixme:advapi:ReportEventA ($handle,0x0002,0x0003,0x80030001,0000000000000000,0x0000,0x00000000,PTR,0000000000000000): stub"
expect_count severities "RegisterEventSource" 0 "registration"

# Freed: the handle is deregistered once.
expect_count destroy "fixme:advapi:DeregisterEventSource ($handle)" 1 "deregistration"
expect_count destroy "DeregisterEventSource" 1 "deregistration"

if [ "$failures" -ne 0 ]; then
  echo "--- probe stderr"; cat "$err"
  exit 1
fi
echo "event-log trace as expected (handle $handle)"
