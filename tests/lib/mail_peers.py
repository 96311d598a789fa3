#!/usr/bin/python3
"""Runs the mail delivery test program against real peers.

Outbound TCP from the test machines may be intercepted, and the direct mode
needs its own DNS, so everything runs in a network namespace made here: a
dnsmasq with the test zones on 127.0.0.1:53 (named by the namespace's own
resolv.conf), aiosmtpd servers on 127.0.0.x:25, a server that never answers,
and addresses where nobody listens. The Wine session must start inside the
namespace too (wineserver makes the sockets), on a private copy-on-write view
of the build's prefix. Two postfix instances with the usual strict client
checks stand for real mail systems; their logs must show no reject but the
ones the cases provoke, and no session without QUIT.

Usage: mail_peers.py --build <build dir> --exe <test program>
"""
import argparse
import asyncio
import email
import email.policy
import email.utils
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77

# Who listens where (the test program knows the same plan).
GOOD_RELAY = "127.0.0.10"
REJECTING_RELAY = "127.0.0.11"
SILENT = "127.0.0.13"
ALPHA_MX20_REJECTS = "127.0.0.21"
ALPHA_MX30_GOOD = "127.0.0.23"
BETA_MX = "127.0.0.31"
NOMX_HOST = "127.0.0.41"
# Nobody listens on 127.0.0.12 (relay) and 127.0.0.22 (alpha's MX 10).
# postfix, also MX 10 and 20 of home.test: the relay takes home.test's users
# and refuses other domains at RCPT, the fail-over takes every test user.
POSTFIX = {"relay": ("127.0.0.51", "home.test", ("a", "b")),
           "failover": ("127.0.0.52", "home.test, other.test", ("a", "nobody", "x"))}
EXPECTED_REJECTS = ("554 5.7.1 <x@other.test>: Relay access denied",
                    "550 5.1.1 <nobody@home.test>: Recipient address rejected: User unknown")

DNSMASQ_ARGS = [
    "--mx-host=alpha.test,mx20.alpha.test,20",
    "--mx-host=alpha.test,mx10.alpha.test,10",
    "--mx-host=alpha.test,mx30.alpha.test,30",
    "--host-record=mx10.alpha.test,127.0.0.22",
    "--host-record=mx20.alpha.test," + ALPHA_MX20_REJECTS,
    "--host-record=mx30.alpha.test," + ALPHA_MX30_GOOD,
    "--mx-host=beta.test,mx.beta.test,10",
    "--host-record=mx.beta.test," + BETA_MX,
    "--host-record=nomx.test," + NOMX_HOST,
    "--mx-host=home.test,mx10.home.test,10", "--host-record=mx10.home.test,127.0.0.51",
    "--mx-host=home.test,mx20.home.test,20", "--host-record=mx20.home.test,127.0.0.52",
]


class StoringHandler:
    """Keeps every message as received (after DATA's dot-unstuffing) in a
    Maildir-like folder, envelope first as X- headers."""

    def __init__(self, folder, reject_data=False, refuse_prefix=None):
        self.folder = folder
        self.reject_data = reject_data
        self.refuse_prefix = refuse_prefix
        self.count = 0
        os.makedirs(os.path.join(folder, "tmp"), exist_ok=True)
        os.makedirs(os.path.join(folder, "new"), exist_ok=True)

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.refuse_prefix and address.startswith(self.refuse_prefix):
            return "550 5.1.1 No such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.reject_data:
            return "554 5.6.0 Message rejected by policy"
        self.count += 1
        head = "X-MailFrom: %s\r\nX-RcptTo: %s\r\n" % (envelope.mail_from, ", ".join(envelope.rcpt_tos))
        name = "%d.%d.msg" % (time.time_ns(), self.count)
        tmp = os.path.join(self.folder, "tmp", name)
        with open(tmp, "wb") as f:
            f.write(head.encode() + envelope.original_content)
        os.rename(tmp, os.path.join(self.folder, "new", name))
        return "250 2.0.0 OK queued"


def silent_server(address, stop):
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((address, 25))
    listener.listen(8)
    listener.settimeout(0.2)
    held = []
    while not stop.is_set():
        try:
            conn, _ = listener.accept()
            held.append(conn)  # accepted, and never a word
        except socket.timeout:
            pass
    for c in held:
        c.close()
    listener.close()


def start_postfix(peers, name):
    """One instance with its own configuration, queue and log under
    peers/postfix/<name>, delivering to maildirs peers/mail/<address>/<user>."""
    address, domains, users = POSTFIX[name]
    base = os.path.join(peers, "postfix", name)
    conf = os.path.join(base, "etc")
    os.makedirs(conf)
    os.makedirs(os.path.join(base, "queue"))
    # postfix binds only to addresses an interface has; lo has 127.0.0.1.
    subprocess.run(["ip", "addr", "add", address + "/32", "dev", "lo"], check=True)
    with open(os.path.join(conf, "header_checks"), "w") as f:  # POSIX allows 255 repeats
        f.write("/^.{250}.{250}.{250}.{249}/m REJECT header line longer than 998 characters\n")
    mailboxes = ", ".join("%s@%s=%s/%s/" % (u, d.strip(), address, u)
                          for d in domains.split(",") for u in users)
    settings = [
        "compatibility_level = 3.6", "myhostname = %s.postfix.test" % name,
        "inet_interfaces = " + address, "inet_protocols = ipv4", "smtpd_peername_lookup = no",
        "mydestination =", "relay_domains =", "alias_maps =", "local_recipient_maps =",
        "queue_directory = %s/queue" % base, "data_directory = %s/data" % base,
        "maillog_file = %s/maillog" % base, "maillog_file_prefixes = " + base,
        "smtpd_helo_required = yes", "strict_rfc821_envelopes = yes",
        "smtpd_helo_restrictions = reject_invalid_helo_hostname, reject_non_fqdn_helo_hostname",
        "smtpd_forbid_bare_newline = reject", "smtpd_forbid_unauth_pipelining = yes",
        "smtpd_relay_restrictions = reject_unauth_destination",
        "header_checks = regexp:%s/header_checks" % conf,
        "virtual_mailbox_domains = " + domains, "virtual_mailbox_base = %s/mail" % peers,
        "virtual_mailbox_maps = inline:{ %s }" % mailboxes,
        "virtual_uid_maps = static:65534", "virtual_gid_maps = static:65534"]
    open(os.path.join(conf, "main.cf"), "w").close()
    subprocess.run(["postconf", "-c", conf, "-e"] + settings, check=True)
    # Debian's services, none in a chroot (that needs copies of /etc there).
    shutil.copy("/etc/postfix/master.cf", conf)
    subprocess.run(["postconf", "-c", conf, "-F", "*/*/chroot = n"], check=True)
    subprocess.run(["postfix", "-c", conf, "start"], check=True)
    return conf


def check_postfix(peers):
    log = "".join(open(os.path.join(peers, "postfix", name, "maillog"), errors="replace").read()
                  for name in POSTFIX)
    print("---- postfix logs ----\n%s---- end of postfix logs ----" % log)
    rejects = [l for l in log.splitlines() if " reject: " in l]
    no_quit = [l for l in log.splitlines() if " disconnect from " in l and " quit=1 " not in l]
    ok = not no_quit and all(sum(t in l for l in rejects) == 1 for t in EXPECTED_REJECTS) and \
        all(any(t in l for t in EXPECTED_REJECTS) for l in rejects)
    print("postfix checks: " + ("ok" if ok else "FAILED: %s" % (rejects + no_quit)))
    return ok


def check_received(peers):
    """Independent checks of what the servers stored, with Python's own MIME
    parser; prints one message whole for the record."""
    ok = True
    folder = os.path.join(peers, "mail", GOOD_RELAY, "new")
    found_attachment = False
    for name in sorted(os.listdir(folder)):
        raw = open(os.path.join(folder, name), "rb").read()
        msg = email.message_from_bytes(raw, policy=email.policy.default)
        for header in ("Date", "From", "To", "Subject", "Message-ID", "MIME-Version"):
            if msg[header] is None:
                print("FAIL: %s lacks %s" % (name, header))
                ok = False
        if email.utils.parsedate_to_datetime(msg["Date"]) is None:
            ok = False
        if b"\n" in raw.replace(b"\r\n", b"") or b"\r" in raw.replace(b"\r\n", b""):
            print("FAIL: bare CR or LF in %s" % name)
            ok = False
        if msg["Subject"] == "Relay dots and line breaks":
            print("---- message as received by %s (%s) ----" % (GOOD_RELAY, name))
            sys.stdout.write(raw.decode("latin-1").replace("\r\n", "\n"))
            print("---- end of message ----")
        if msg["Subject"] == "Attachment":
            expected = open(os.path.join(peers, "attachment.bin"), "rb").read()
            parts = [p for p in msg.iter_attachments()]
            if len(parts) != 1 or parts[0].get_filename() != "attachment.bin" or \
                    parts[0].get_content() != expected:
                print("FAIL: attachment not intact")
                ok = False
            else:
                found_attachment = True
                body = msg.get_body(("plain",)).get_content().replace("\r\n", "\n")
                if body != "See the attached file.\n":
                    print("FAIL: text part %r" % body)
                    ok = False
    if not found_attachment:
        print("FAIL: no message with the attachment")
        ok = False
    print("python checks of the stored messages: %s" % ("ok" if ok else "FAILED"))
    return ok


def inner(args):
    from aiosmtpd.controller import Controller

    work = args.work
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    etc = os.path.join(work, "etc")
    os.makedirs(etc)
    with open(os.path.join(etc, "resolv.conf"), "w") as f:
        f.write("nameserver 127.0.0.1\n")
    with open(os.path.join(etc, "hosts"), "w") as f:
        f.write("127.0.0.1 localhost\n")
    for name in ("resolv.conf", "hosts"):
        subprocess.run(["mount", "--bind", os.path.join(etc, name), "/etc/" + name], check=True)

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
    os.chmod(mail, 0o777)  # postfix's virtual(8) delivers as nobody

    dnsmasq = subprocess.Popen(
        ["dnsmasq", "--no-daemon", "--conf-file=/dev/null", "--port=53",
         "--listen-address=127.0.0.1", "--bind-interfaces", "--no-resolv", "--no-hosts",
         "--local=/test/", "--pid-file=" + os.path.join(work, "dnsmasq.pid")] + DNSMASQ_ARGS,
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    handlers = {
        GOOD_RELAY: StoringHandler(os.path.join(mail, GOOD_RELAY)),
        REJECTING_RELAY: StoringHandler(os.path.join(mail, REJECTING_RELAY), reject_data=True),
        ALPHA_MX20_REJECTS: StoringHandler(os.path.join(mail, ALPHA_MX20_REJECTS), reject_data=True),
        ALPHA_MX30_GOOD: StoringHandler(os.path.join(mail, ALPHA_MX30_GOOD)),
        BETA_MX: StoringHandler(os.path.join(mail, BETA_MX), refuse_prefix="refused"),
        NOMX_HOST: StoringHandler(os.path.join(mail, NOMX_HOST)),
    }
    controllers = []
    for address, handler in handlers.items():
        c = Controller(handler, hostname=address, port=25)
        c.start()
        controllers.append(c)
    stop = threading.Event()
    silent = threading.Thread(target=silent_server, args=(SILENT, stop), daemon=True)
    silent.start()

    # dnsmasq answers once its socket is bound.
    for _ in range(100):
        probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            probe.bind(("127.0.0.1", 53))
            probe.close()
            time.sleep(0.05)
        except OSError:
            probe.close()
            break

    env = dict(os.environ)
    env["TW_WINEPREFIX"] = prefix
    env["TW_PEERS_DIR"] = peers
    wine_run = os.path.join(args.build, "wine-run")
    rc = 1
    postfix = []
    try:
        for name in POSTFIX:
            postfix.append(start_postfix(peers, name))
        subprocess.run([wine_run, "--start-session"], env=env, check=True)
        rc = subprocess.run([wine_run, args.exe] + args.rest, env=env).returncode
        postfix_ok = check_postfix(peers)  # its log helps when the cases fail too
        if rc == 0 and not (check_received(peers) and postfix_ok):
            rc = 1
    finally:
        subprocess.run([wine_run, "--stop-session"], env=env)
        for conf in postfix:
            subprocess.run(["postfix", "-c", conf, "stop"])
        stop.set()
        for c in controllers:
            c.stop()
        dnsmasq.terminate()
        dnsmasq.wait()
        # wineserver may still be on its way out; the namespace's end
        # unmounts for good.
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
    for tool in ("dnsmasq", "unshare", "ip", "postfix"):
        if shutil.which(tool) is None:
            print("skipped: %s is not installed" % tool)
            return SKIP
    # The prefix must exist before it can be overlaid.
    subprocess.run([os.path.join(args.build, "wine-run"), "--start-session"], check=True)
    work = tempfile.mkdtemp(prefix="tw-mailpeers-")
    os.chmod(work, 0o755)  # postfix's daemons run as its own user
    try:
        return subprocess.run(["unshare", "--net", "--mount", "--fork", sys.executable,
                               os.path.abspath(__file__), "--build", args.build, "--exe",
                               args.exe, "--inner", work, "--"] + args.rest).returncode
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
