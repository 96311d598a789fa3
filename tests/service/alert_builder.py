#!/usr/bin/python3
"""Runs the alert builder's test program against a real mail server.

Starts aiosmtpd on 127.0.0.78:25, storing each message in <dir>/new (the
envelope first as X-MailFrom and X-RcptTo headers) and refusing recipients
whose address starts with "refuse"; runs the test program with the folder in
TW_SINK_DIR and Wine's event-log trace on its stderr; then checks, for each
section the program marks with "@@ <name>" on stderr, the event-log entries
written in it (identifier and number of inserts, in order).

Usage: alert_builder.py --build <build dir> --exe <test program> [gtest args]
"""
import argparse
import email.policy
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77
SINK_HOST = "127.0.0.78"

# Section -> the entries written in it: (identifier, number of inserts).
EXPECTED = {
    "process-start": [("0x40010004", 5)],
    "process-stop": [("0x40010003", 15)],
    "process-no-log": [],
    "monitor-start": [("0x40010005", 3)],
    "stop-1": [("0x40010006", 3)],
    "stop-2": [],
    "stop-3": [],
    "stop-4": [("0x40010006", 3)],
    "send-failed": [("0xc0020001", 1)],
    "send-failed-log-off": [("0xc0020001", 1)],
    "send-failed-shutdown": [],
    "service-stop": [("0x40010002", 17)],
    "module-shutdown": [],
}


def program_path_failure(folder, exe):
    """The start alert of the program in "Prüfung", read back by the mail's
    own charset and transfer encoding, names its path as Windows does."""
    path = "Z:%s\\Prüfung\\tw_sample.exe" % os.path.dirname(exe).replace("/", "\\")
    for name in os.listdir(os.path.join(folder, "new")):
        with open(os.path.join(folder, "new", name), "rb") as f:
            m = email.message_from_binary_file(f, policy=email.policy.default)
        if str(m["Subject"]).startswith("[Tarnwick] Process Startup: tw_sample.exe"):
            body = m.get_content().replace("\r\n", "\n")
            return None if "Full Path:  %s\n" % path in body else "start alert:\n" + body
    return "no start alert of tw_sample.exe"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--exe", required=True)
    args, rest = ap.parse_known_args()
    if os.geteuid() != 0:
        print("SKIP: the mail server needs port 25 (root)")
        return SKIP
    try:
        from aiosmtpd.controller import Controller
    except ImportError:
        print("SKIP: python3-aiosmtpd is missing")
        return SKIP

    folder = tempfile.mkdtemp(prefix="tw_alert_sink_")
    os.makedirs(os.path.join(folder, "tmp"))
    os.makedirs(os.path.join(folder, "new"))

    class Handler:
        count = 0

        async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
            if address.startswith("refuse"):
                return "550 5.1.1 No such user here"
            envelope.rcpt_tos.append(address)
            return "250 OK"

        async def handle_DATA(self, server, session, envelope):
            Handler.count += 1
            head = "X-MailFrom: %s\r\nX-RcptTo: %s\r\n" % (envelope.mail_from,
                                                          ", ".join(envelope.rcpt_tos))
            name = "%d.%d.msg" % (time.time_ns(), Handler.count)
            tmp = os.path.join(folder, "tmp", name)
            with open(tmp, "wb") as f:
                f.write(head.encode() + envelope.original_content)
            os.rename(tmp, os.path.join(folder, "new", name))
            return "250 2.0.0 OK queued"

    controller = Controller(Handler(), hostname=SINK_HOST, port=25)
    controller.start()
    env = dict(os.environ)
    env["TW_SINK_DIR"] = "Z:" + folder.replace("/", "\\")
    env["TW_SINK_HOST"] = SINK_HOST
    env["WINEDEBUG"] = "fixme+advapi,+eventlog"
    path_failure = None
    try:
        r = subprocess.run([os.path.join(args.build, "wine-run"), args.exe] + rest,
                           stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, env=env, timeout=240)
        if not rest:
            path_failure = program_path_failure(folder, args.exe)
    finally:
        controller.stop()
        shutil.rmtree(folder, ignore_errors=True)
    out = r.stdout.decode("latin-1")
    err = r.stderr.decode("latin-1").replace("\r", "")
    sys.stdout.write(out)
    failures = 0
    if r.returncode != 0:
        print("FAIL: test program exit code %d" % r.returncode)
        failures += 1
    if path_failure:
        print("FAIL: " + path_failure)
        failures += 1

    sections = {}
    current = None
    for line in err.split("\n"):
        line = re.sub(r"^[0-9a-f]+:", "", line)
        if line.startswith("@@ "):
            current = line[3:].strip()
            sections[current] = []
            continue
        m = re.match(r"fixme:advapi:ReportEventA \(([^,]*),([^,]*),([^,]*),([^,]*),([^,]*),([^,]*),", line)
        if m and current is not None:
            sections[current].append((m.group(4).lower(), int(m.group(6), 16)))
    for name, expected in EXPECTED.items():
        if name not in sections:
            # A filtered run leaves sections out.
            if not rest:
                print("FAIL: section %s missing" % name)
                failures += 1
            continue
        if sections[name] != expected:
            print("FAIL: %s: entries %s, expected %s" % (name, sections[name], expected))
            failures += 1
    if failures:
        sys.stdout.write("--- stderr\n" + err)
        return 1
    print("alert builder: mail and event-log entries as expected")
    return 0


if __name__ == "__main__":
    sys.exit(main())
