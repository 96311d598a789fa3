#!/usr/bin/python3
"""The monitoring service running under Wine, shown from start to end.

Starts a local SMTP server (aiosmtpd) on 127.0.0.1:25, writes a configuration
(relay host: that server; one watched program, the sample tw_sample.exe; one
watched service, Wine's Spooler; one recipient), installs and starts twsvc,
starts and ends the sample program, starts and stops the Spooler, prints
every alert mail the server received, and stops and uninstalls the service.
It leaves no service, configuration or server behind.

Usage: demo.py --build <build dir>   (the Wine session must be running)
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HOST = "127.0.0.1"
KEY = r"HKLM\SOFTWARE\Brellow\Tarnwick"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    args = ap.parse_args()
    from aiosmtpd.controller import Controller

    runner = os.path.join(args.build, "wine-run")
    svc = os.path.join(args.build, "bin", "twsvc.exe")
    sample_src = os.path.join(args.build, "tests", "tw_sample.exe")

    def wine(*a, quiet=True):
        r = subprocess.run([runner] + list(a), stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        if not quiet:
            sys.stdout.write(r.stdout.decode("latin-1"))
        return r.returncode, r.stdout.decode("latin-1")

    def reg(key, name, kind, data):
        wine("reg", "add", key, "/v", name, "/t", kind, "/d", str(data), "/f")

    def state():
        rc, out = wine("sc", "query", "Tarnwick")
        for line in out.splitlines():
            if "STATE" in line:
                return line.split(":", 1)[1].strip()
        return "not installed"

    mails = []
    lock = threading.Lock()

    class Handler:
        async def handle_DATA(self, server, session, envelope):
            with lock:
                mails.append(envelope.original_content.decode("latin-1"))
            print(">>> mail %d arrived" % len(mails), flush=True)
            return "250 2.0.0 OK queued"

    def wait_mail(count, timeout):
        deadline = time.time() + timeout
        while time.time() < deadline:
            with lock:
                if len(mails) >= count:
                    return True
            time.sleep(0.2)
        print("!!! no mail %d within %d s" % (count, timeout))
        return False

    work = tempfile.mkdtemp(prefix="tarnwick_demo_")
    sample = os.path.join(work, "tw_sample.exe")
    shutil.copy(sample_src, sample)
    server = Controller(Handler(), hostname=HOST, port=25)
    server.start()
    print("SMTP server listening on %s:25" % HOST)
    try:
        if state() != "not installed":
            wine("sc", "stop", "Tarnwick")
            time.sleep(2)
            wine(svc, "/UNINSTALL", "/SILENT")

        print("Writing the configuration under " + KEY)
        wine("reg", "delete", KEY, "/f")
        reg(KEY, "PrimarySMTPTransportType", "REG_SZ", "Host")
        reg(KEY, "PrimarySMTPHost", "REG_SZ", HOST)
        reg(KEY, "FromEmail", "REG_SZ", "tarnwick@example.test")
        for name in ("RaiseStartupEvent", "RaiseShutdownEvent", "WriteAlertsToEventLog",
                     "ProcessStartupEvent", "ProcessTerminationEvent", "ServiceStartupEvent",
                     "ServiceShutdownEvent", "TarnwickStartupEvent", "TarnwickShutdownEvent"):
            reg(KEY, name, "REG_DWORD", 1)
        reg(KEY, "StartupWaitPeriod", "REG_DWORD", 0)
        reg(KEY + r"\EmailAddresses", "0", "REG_SZ", "admin@example.test")
        proc_key = KEY + r"\Processes\tw_sample.exe"
        reg(proc_key, "ApplicationPath", "REG_SZ", "Z:" + sample.replace("/", "\\"))
        reg(proc_key, "RaiseStartupEvent", "REG_DWORD", 1)
        reg(proc_key, "RaiseShutdownEvent", "REG_DWORD", 1)
        svc_key = KEY + r"\Services\Spooler"
        reg(svc_key, "ServiceName", "REG_SZ", "Spooler")
        reg(svc_key, "RaiseStartupEvent", "REG_DWORD", 1)
        reg(svc_key, "RaiseShutdownEvent", "REG_DWORD", 1)
        reg(svc_key, "OnlyShutdownFailureEvent", "REG_DWORD", 0)
        wine("sc", "stop", "Spooler")

        print("Installing twsvc.exe: exit code %d" % wine(svc, "/INSTALL", "/SILENT")[0])
        wine("sc", "start", "Tarnwick")
        for _ in range(100):
            if "RUNNING" in state():
                break
            time.sleep(0.1)
        print("Service Tarnwick: " + state())
        wait_mail(1, 30)

        print("Starting the watched program tw_sample.exe (it will end with exit code 3)")
        proc = subprocess.Popen([runner, sample, "3"], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_mail(2, 30)
        print("Ending the watched program")
        open(sample + ".stop", "w").close()
        proc.wait(timeout=30)
        wait_mail(3, 30)

        print("Starting the watched service Spooler (noticed at the next 20 s poll)")
        wine("sc", "start", "Spooler")
        wait_mail(4, 60)
        print("Stopping the watched service Spooler")
        wine("sc", "stop", "Spooler")
        wait_mail(5, 60)

        print("Stopping the service Tarnwick")
        wine("sc", "stop", "Tarnwick")
        for _ in range(300):
            if "STOPPED" in state():
                break
            time.sleep(0.1)
        print("Service Tarnwick: " + state())
        wait_mail(6, 10)
        rc, out = wine("reg", "query", KEY, "/v", "LastShutdownTime")
        print("LastShutdownTime (REG_BINARY): " + (out.split() or ["?"])[-1])
        print("Uninstalling: exit code %d" % wine(svc, "/UNINSTALL", "/SILENT")[0])
    finally:
        if state() != "not installed":
            wine("sc", "stop", "Tarnwick")
            time.sleep(2)
            wine(svc, "/UNINSTALL", "/SILENT")
        wine("reg", "delete", KEY, "/f")
        server.stop()
        shutil.rmtree(work, ignore_errors=True)

    print()
    print("=== %d alert mail(s) received by the SMTP server ===" % len(mails))
    for i, m in enumerate(mails, 1):
        print("--- mail %d ---" % i)
        print(m.replace("\r\n", "\n"))
    if any(re.search(r"^Page Faults: *\r?$", m, re.M) for m in mails):
        print("Note: the memory figures of the stopped alerts (Page Faults, Peak Working Set "
              "and the rest) are empty here because Wine cannot read the counters of a "
              "process that has ended (GetProcessMemoryInfo fails with error 5); on Windows "
              "they are filled.")
    return 0 if len(mails) >= 6 else 1


if __name__ == "__main__":
    sys.exit(main())
