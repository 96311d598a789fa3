#!/usr/bin/python3
"""Runs the SMTP test dialog's tests against real mail servers.

Everything runs in a network namespace made here (outbound TCP from the test
machines may be intercepted): an aiosmtpd relay on 127.0.0.10:25 that takes
mail and refuses recipients whose names begin with "refused", a server on
127.0.0.14:25 that accepts connections and says nothing until the test
creates the file "release" in the peers folder (then hangs up), and nobody on
127.0.0.12. The Wine session starts inside the namespace on a private
copy-on-write view of the build's prefix; the X display is reached through
its socket file.

Usage: smtp_peers.py --build <build dir> --exe <test program> [gtest args]
"""
import argparse
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77
GOOD_RELAY = "127.0.0.10"
HELD_RELAY = "127.0.0.14"


class StoringHandler:
    def __init__(self, folder):
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.startswith("refused"):
            return "550 5.1.1 No such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        head = "X-RcptTo: %s\r\n" % ", ".join(envelope.rcpt_tos)
        with open(os.path.join(self.folder, "%d.msg" % self.count), "wb") as f:
            f.write(head.encode() + envelope.original_content)
        return "250 2.0.0 OK queued"


def held_server(release, stop):
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((HELD_RELAY, 25))
    listener.listen(8)
    listener.settimeout(0.1)
    held = []
    while not stop.is_set():
        try:
            held.append(listener.accept()[0])
        except socket.timeout:
            pass
        if os.path.exists(release):
            for c in held:
                c.close()
            held = []
    listener.close()


def check_received(folder):
    """The test message as the relay stored it."""
    names = sorted(os.listdir(folder))
    ok = bool(names)
    for name in names:
        raw = open(os.path.join(folder, name), "rb").read().decode("latin-1")
        if "Subject: [Tarnwick] Test Message\r\n" not in raw or "\r\n\r\nTest message" not in raw:
            print("FAIL: %s is not the test message" % name)
            ok = False
    print("stored test messages: %d (%s)" % (len(names), "ok" if ok else "FAILED"))
    return ok


def inner(args):
    from aiosmtpd.controller import Controller

    work = args.work
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    prefix = os.path.join(work, "prefix")
    for d in ("upper", "overlaywork", "prefix"):
        os.makedirs(os.path.join(work, d))
    subprocess.run(["mount", "-t", "overlay", "overlay", "-o",
                    "lowerdir=%s,upperdir=%s,workdir=%s" % (
                        os.path.join(args.build, "wineprefix"), os.path.join(work, "upper"),
                        os.path.join(work, "overlaywork")), prefix], check=True)
    peers = os.path.join(work, "peers")
    mail = os.path.join(peers, "mail")
    os.makedirs(mail)
    relay = Controller(StoringHandler(mail), hostname=GOOD_RELAY, port=25)
    relay.start()
    stop = threading.Event()
    held = threading.Thread(target=held_server, args=(os.path.join(peers, "release"), stop),
                            daemon=True)
    held.start()

    env = dict(os.environ)
    env["TW_WINEPREFIX"] = prefix
    env["TW_PEERS_DIR"] = peers
    wine_run = os.path.join(args.build, "wine-run")
    rc = 1
    try:
        subprocess.run([wine_run, "--start-session"], env=env, check=True)
        rc = subprocess.run([wine_run, args.exe, "--gtest_filter=TestSmtpPeers.*"] + args.rest,
                            env=env).returncode
        if rc == 0 and not check_received(mail):
            rc = 1
    finally:
        subprocess.run([wine_run, "--stop-session"], env=env)
        stop.set()
        relay.stop()
        subprocess.run(["umount", "-l", prefix])
    return rc


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--inner", dest="work")
    parser.add_argument("rest", nargs="*")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.exe = os.path.abspath(args.exe)
    if args.work:
        return inner(args)
    if os.geteuid() != 0:
        print("skipped: network namespaces and port 25 need root")
        return SKIP
    if "DISPLAY" not in os.environ:
        print("skipped: no X display (scripts/test starts one)")
        return SKIP
    for tool in ("unshare", "ip"):
        if shutil.which(tool) is None:
            print("skipped: %s is not installed" % tool)
            return SKIP
    subprocess.run([os.path.join(args.build, "wine-run"), "--start-session"], check=True)
    work = tempfile.mkdtemp(prefix="tw-smtptest-")
    try:
        return subprocess.run(["unshare", "--net", "--mount", "--fork", sys.executable,
                               os.path.abspath(__file__), "--build", args.build, "--exe",
                               args.exe, "--inner", work, "--"] + args.rest).returncode
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
