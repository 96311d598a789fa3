#!/usr/bin/python3
"""The running service's cost while idle, and its alert delay.

Installs twsvc.exe in the build tree's Wine prefix with 50 watched programs
(one of them the sample tw_sample.exe, the rest names that never run) and 10
watched services (Wine's own), relay host an aiosmtpd server on 127.0.0.75:25
run here. Then:
  - idle: every 10 s for `idle` seconds (default 120), the service process's
    private memory (Linux view of the Wine process: Private_Clean +
    Private_Dirty of /proc/<pid>/smaps_rollup) and its CPU time (utime + stime)
    over the interval, as CPU seconds per minute;
  - delay: `samples` times (default 5), the sample program is started, its
    start alert awaited, then it is ended; the time from its process's end to
    the arrival of the shutdown alert at the server.
Prints the medians. Stops and uninstalls the service and deletes the
configuration at the end. Needs root (port 25).

Usage: twsvc_bench.py --build <build dir> [--idle seconds] [--samples n]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HOST = "127.0.0.75"
KEY = r"HKLM\SOFTWARE\Brellow\Tarnwick"
SERVICES = ["Eventlog", "RpcSs", "PlugPlay", "Spooler", "Schedule", "MountMgr",
            "StiSvc", "TermService", "wuauserv", "Winmgmt"]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--idle", type=int, default=120)
    ap.add_argument("--samples", type=int, default=5)
    args = ap.parse_args()
    from aiosmtpd.controller import Controller

    runner = os.path.join(args.build, "wine-run")
    svc = os.path.join(args.build, "bin", "twsvc.exe")

    def wine(*a):
        r = subprocess.run([runner] + list(a), stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        return r.returncode, r.stdout.decode("latin-1")

    def reg(key, name, kind, data):
        for _ in range(3):
            if wine("reg", "add", key, "/v", name, "/t", kind, "/d", str(data), "/f")[0] == 0:
                return
            time.sleep(0.2)
        raise SystemExit("reg add %s\\%s failed" % (key, name))

    arrivals = []
    lock = threading.Lock()

    class Handler:
        async def handle_DATA(self, server, session, envelope):
            with lock:
                arrivals.append((time.monotonic(), envelope.original_content))
            return "250 2.0.0 OK queued"

    def wait_mail(subject_part, since, timeout=40):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            with lock:
                for t, raw in arrivals[since:]:
                    if subject_part.encode() in raw.split(b"\r\n\r\n", 1)[0]:
                        return t
            time.sleep(0.01)
        raise SystemExit("no mail %r" % subject_part)

    # Other build trees (a test run, another benchmark) may run a twsvc.exe of
    # their own at the same time: only the one in this tree's prefix counts.
    prefix = os.path.realpath(os.environ.get("TW_WINEPREFIX") or
                              os.path.join(args.build, "wineprefix"))

    def service_pid():
        for p in os.listdir("/proc"):
            if not p.isdigit():
                continue
            try:
                cmd = open("/proc/%s/cmdline" % p, "rb").read().lower()
                env = open("/proc/%s/environ" % p, "rb").read().split(b"\0")
            except OSError:
                continue
            if b"twsvc.exe" not in cmd or b"/install" in cmd or b"-install" in cmd:
                continue
            own = [e[len(b"WINEPREFIX="):] for e in env if e.startswith(b"WINEPREFIX=")]
            if own and os.path.realpath(own[0].decode()) == prefix:
                return int(p)
        raise SystemExit("service process not found")

    def cpu_seconds(pid):
        fields = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def private_kib(pid):
        kib = 0
        for line in open("/proc/%d/smaps_rollup" % pid):
            if line.startswith(("Private_Clean:", "Private_Dirty:")):
                kib += int(line.split()[1])
        return kib

    subprocess.run([runner, "--start-session"], check=True)
    work = tempfile.mkdtemp(prefix="twsvc_bench_")
    sample = os.path.join(work, "TwBenchSample.exe")
    shutil.copy(os.path.join(args.build, "tests", "tw_sample.exe"), sample)
    controller = Controller(Handler(), hostname=HOST, port=25)
    controller.start()
    try:
        wine("sc", "stop", "Tarnwick")
        wine(svc, "/UNINSTALL", "/SILENT")
        wine("reg", "delete", KEY, "/f")
        reg(KEY, "PrimarySMTPTransportType", "REG_SZ", "Host")
        reg(KEY, "PrimarySMTPHost", "REG_SZ", HOST)
        reg(KEY, "FromEmail", "REG_SZ", "tarnwick@example.test")
        for name in ("ProcessStartupEvent", "ProcessTerminationEvent",
                     "ServiceStartupEvent", "ServiceShutdownEvent"):
            reg(KEY, name, "REG_DWORD", 1)
        reg(KEY, "StartupWaitPeriod", "REG_DWORD", 0)
        reg(KEY + r"\EmailAddresses", "0", "REG_SZ", "admin@example.test")
        paths = [sample] + [os.path.join(work, "BenchProg%02d.exe" % i) for i in range(1, 50)]
        for path in paths:
            sub = KEY + "\\Processes\\" + os.path.basename(path)
            reg(sub, "ApplicationPath", "REG_SZ", "Z:" + path.replace("/", "\\"))
            reg(sub, "RaiseStartupEvent", "REG_DWORD", 1)
            reg(sub, "RaiseShutdownEvent", "REG_DWORD", 1)
        for name in SERVICES:
            sub = KEY + "\\Services\\" + name
            reg(sub, "ServiceName", "REG_SZ", name)
            reg(sub, "RaiseStartupEvent", "REG_DWORD", 1)
            reg(sub, "RaiseShutdownEvent", "REG_DWORD", 1)
        rc, out = wine(svc, "-install", "/Silent")
        if rc != 0:
            raise SystemExit("install failed: %d %s" % (rc, out))
        wine("sc", "start", "Tarnwick")
        time.sleep(5)  # start-up: the configuration load and the first passes
        pid = service_pid()

        cpu_per_min, memory = [], []
        t0, c0 = time.monotonic(), cpu_seconds(pid)
        end = t0 + args.idle
        while time.monotonic() < end:
            time.sleep(10)
            t1, c1 = time.monotonic(), cpu_seconds(pid)
            cpu_per_min.append((c1 - c0) / (t1 - t0) * 60)
            memory.append(private_kib(pid))
            t0, c0 = t1, c1
        print("idle, 50 programs and 10 services watched, %d s in 10 s steps:" % args.idle)
        print("  private memory KiB: median %d (min %d, max %d)" % (
            statistics.median(memory), min(memory), max(memory)))
        print("  CPU seconds per minute: median %.3f (min %.3f, max %.3f)" % (
            statistics.median(cpu_per_min), min(cpu_per_min), max(cpu_per_min)))

        delays = []
        for i in range(args.samples):
            if os.path.exists(sample + ".stop"):
                os.remove(sample + ".stop")
            mark = len(arrivals)
            proc = subprocess.Popen([runner, sample], stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            wait_mail("Process Startup:", mark)
            mark = len(arrivals)
            open(sample + ".stop", "w").close()
            proc.wait(timeout=30)
            exited = time.monotonic()
            arrived = wait_mail("Process Shutdown:", mark)
            delays.append(arrived - exited)
            print("  sample %d: exit to mail %.3f s" % (i + 1, arrived - exited), flush=True)
        print("exit of a watched program to its mail at the server: median %.3f s "
              "(min %.3f, max %.3f; %d samples)" % (statistics.median(delays), min(delays),
                                                   max(delays), len(delays)))
    finally:
        wine("sc", "stop", "Tarnwick")
        time.sleep(2)
        wine(svc, "/UNINSTALL", "/SILENT")
        wine("reg", "delete", KEY, "/f")
        controller.stop()
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
