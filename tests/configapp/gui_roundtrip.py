#!/usr/bin/python3
"""A configuration made in the configuration program is the one the running
monitoring service alerts with.

With no configuration stored and twsvc.exe installed but stopped, the driver
(RoundTripDriver.exe) runs the real TWCfgApp.exe and makes the whole
configuration in it as an administrator would: relay host, sender, the
monitor's start and stop mails, one recipient, one watched program; OK asks
to start the stopped service and Yes starts it. The mail server (the relay
host named in the program) must then receive the monitor's start-up mail and,
when the program starts, its alert, both from that sender to that recipient.
Then, with the service running, the driver adds a second recipient in the
program; OK sets the monitor's control event, and the alert of the program's
end must reach both recipients.

The service name "Tarnwick" and the configuration key are fixed: ctest holds
the locks tarnwick_service and tarnwick_registry for this test.

Usage: gui_roundtrip.py --build <build dir> --svc <twsvc.exe> --sample <tw_sample.exe>
                        --driver <RoundTripDriver.exe>
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "service"))
import twsvc_e2e as e2e  # noqa: E402

RCPT2 = "oncall@example.test"


def run_driver(wine, driver, case, sample, rcpt):
    """Runs one case of the driver; its output is shown on failure."""
    env = dict(os.environ, TW_RT_FROM=e2e.FROM, TW_RT_RELAY=e2e.SINK_HOST, TW_RT_RCPT=rcpt,
               TW_RT_PROGRAM=e2e.win_path(sample))
    r = subprocess.run([wine.runner, driver, "--gtest_filter=RoundTrip." + case],
                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT, env=env, timeout=180)
    out = r.stdout.decode("latin-1")
    if r.returncode != 0 or "[  PASSED  ] 1 test" not in out:
        e2e.fail("driver case %s (exit code %d):\n%s" % (case, r.returncode, out))
        return False
    print("driver case %s passed" % case, flush=True)
    return True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--svc", required=True)
    ap.add_argument("--sample", required=True)
    ap.add_argument("--driver", required=True)
    args = ap.parse_args()
    args.build = os.path.abspath(args.build)
    if os.geteuid() != 0:
        print("SKIP: the mail server needs port 25 (root)")
        return e2e.SKIP
    try:
        import aiosmtpd  # noqa: F401
    except ImportError:
        print("SKIP: python3-aiosmtpd is missing")
        return e2e.SKIP
    if not os.environ.get("DISPLAY"):
        print("SKIP: no X display for the configuration program")
        return e2e.SKIP

    wine = e2e.Wine(args.build)
    work = tempfile.mkdtemp(prefix="tw_roundtrip_")
    sample = os.path.join(work, "TwRoundTrip%d.exe" % os.getpid())
    shutil.copy(args.sample, sample)
    exe_name = os.path.basename(sample).lower()
    sink = e2e.Sink()
    proc = None
    try:
        e2e.remove_service(wine, args.svc)
        wine.run("reg", "delete", e2e.KEY, "/f")
        wine.run(args.svc, "/INSTALL", "/SILENT", check=True)

        if not run_driver(wine, args.driver, "MakeTheConfigurationAndStartTheService", sample,
                          e2e.RCPT):
            return 1
        if wine.wait_state(e2e.SERVICE_RUNNING) is None:
            e2e.fail("the service started from the program is not running")
            return 1
        start = sink.wait_for("Tarnwick Startup on")
        e2e.check_mail(start, start and str(start[2]["Subject"]), [
            r"^Tarnwick has successfully started\.$",
            r"^%s +None$" % re.escape(exe_name)], "monitor start with the program's configuration")
        computer = str(start[2]["Subject"]).rsplit(" on ", 1)[1] if start else "?"

        proc = subprocess.Popen([wine.runner, sample, "5"], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        m = sink.wait_for("Process Startup:")
        e2e.check_mail(m, "[Tarnwick] Process Startup: %s on %s" % (exe_name, computer), [
            r"^Process:  %s$" % re.escape(os.path.basename(sample))], "program start")

        # The second recipient, added in the program while the service runs.
        if not run_driver(wine, args.driver, "AddARecipientWhileTheServiceRuns", sample, RCPT2):
            return 1
        # The monitor thread loads the configuration again as soon as the
        # event is set; give it a moment before the program ends.
        time.sleep(1)
        mark = sink.mark()
        open(sample + ".stop", "w").close()
        proc.wait(timeout=30)
        proc = None
        m = sink.wait_for("Process Shutdown:", since=mark)
        e2e.check_mail(m, "[Tarnwick] Process Shutdown: %s on %s" % (exe_name, computer), [
            r"^Exit Code: 5$"], "program end after the program's reload",
            rcpt=(e2e.RCPT, RCPT2))
        if m:
            print("the program's end reached %s" % ", ".join(sorted(m[1])))
    finally:
        if proc is not None:
            open(sample + ".stop", "w").close()
            proc.wait(timeout=30)
        e2e.remove_service(wine, args.svc)
        wine.run("reg", "delete", e2e.KEY, "/f")
        sink.stop()
        shutil.rmtree(work, ignore_errors=True)

    if e2e.failures:
        print("%d failure(s)" % len(e2e.failures))
        return 1
    print("the configuration made in the program is the one the service alerts with")
    return 0


if __name__ == "__main__":
    sys.exit(main())
