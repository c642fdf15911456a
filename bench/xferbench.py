#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# File transfer figures: a ZMODEM download and upload between lrzsz at the far
# end and the terminal (benchterm --transfers), on a pseudo-terminal and over
# rfc2217:// through ser2net, each against sz and rz joined directly over the
# same kind of link (the floor); the terminal's CPU time per MB and peak
# resident memory during the transfer; and the time from "Przerwij" to the far
# end's sz ending, at 9600 baud on the simulated modem (ATD700). Prints
# figures, asserts nothing.
#
#     python3 bench/xferbench.py --benchterm build-bench/bench/benchterm [--mb 20] [--reps 3]
import argparse
import filecmp
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import tty

TICK = os.sysconf("SC_CLK_TCK")
TRANSFER_LIMIT = 60  # seconds a transfer may take; set from the size in main()


def wait_for(condition, timeout, step=0.005):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(step)
    return None


def complete(path, size):
    """True once `path` holds `size` bytes (a receiver may write under another name first)."""
    try:
        return os.path.getsize(path) == size
    except OSError:
        return False


def lrzsz(args, fd, cwd):
    return subprocess.Popen(args, stdin=fd, stdout=fd, stderr=subprocess.DEVNULL, cwd=cwd)


def finish(*processes):
    for p in processes:
        if p and p.poll() is None:
            p.kill()
        if p:
            p.wait()


class PtyLink:
    """A pseudo-terminal: the far end on the master, the near end on the terminal side."""

    name = "pseudo-terminal"

    def __init__(self):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        self.path = os.ttyname(self.slave)

    def near_port(self):
        return self.path

    def near_fd(self):
        return self.slave

    def far_fd(self, timeout=10):
        return self.master

    def close(self):
        os.close(self.master)
        os.close(self.slave)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Ser2net:
    """ser2net on loopback with two connections, each to a device played here on
    its TCP connector: one with the telnet(rfc2217) accepter for the terminal,
    one with a raw TCP accepter for the floor (lrzsz speaks no Telnet)."""

    def __init__(self, scratch):
        self.devices, self.ports = {}, {}
        config = ""
        for kind, accepter in (("rfc2217", "telnet(rfc2217),tcp"), ("raw", "tcp")):
            listener = socket.socket()
            listener.bind(("127.0.0.1", 0))
            listener.listen(1)
            self.devices[kind], self.ports[kind] = listener, free_port()
            config += (f"connection: &{kind}\n  accepter: {accepter},127.0.0.1,{self.ports[kind]}\n"
                       f"  connector: tcp,127.0.0.1,{listener.getsockname()[1]}\n")
        path = os.path.join(scratch, "ser2net.yaml")
        with open(path, "w") as f:
            f.write(config)
        binary = shutil.which("ser2net") or "/usr/sbin/ser2net"
        self.process = subprocess.Popen([binary, "-n", "-u", "-c", path], stderr=subprocess.DEVNULL)
        for port in self.ports.values():
            if not wait_for(lambda: self._listening(port), 10, 0.05):
                sys.exit("xferbench: ser2net did not start")

    @staticmethod
    def _listening(port):
        with open("/proc/net/tcp") as f:
            return f": 0100007F:{port:04X} 00000000:0000 0A " in f.read()

    def stop(self):
        finish(self.process)


class NetLink:
    """One connection through ser2net: `kind` rfc2217 for the terminal, raw for the floor."""

    name = "rfc2217 via ser2net"

    def __init__(self, server, kind):
        self.server, self.kind = server, kind
        self.near, self.far = None, None

    def near_port(self):
        return f"rfc2217://127.0.0.1:{self.server.ports[self.kind]}"

    def near_fd(self):
        self.near = socket.create_connection(("127.0.0.1", self.server.ports[self.kind]))
        return self.near.fileno()

    def far_fd(self, timeout=10):
        listener = self.server.devices[self.kind]
        listener.settimeout(timeout)
        self.far, _ = listener.accept()
        return self.far.fileno()

    def close(self):
        for s in (self.near, self.far):
            if s:
                s.close()


def floor(link, upload, data, scratch):
    """sz and rz joined directly over `link`: seconds until the sender is done
    (every byte acknowledged; the file is compared after)."""
    send_dir, receive_dir = tempfile.mkdtemp(dir=scratch), tempfile.mkdtemp(dir=scratch)
    name = os.path.basename(data)
    shutil.copy(data, send_dir)
    near = link.near_fd()
    far = link.far_fd()
    sender_fd, receiver_fd = (near, far) if upload else (far, near)
    receiver = lrzsz(["rz", "-b", "-q"], receiver_fd, receive_dir)
    start = time.monotonic()
    sender = lrzsz(["sz", "-b", "-q", name], sender_fd, send_dir)
    done = wait_for(lambda: sender.poll() is not None and time.monotonic(), TRANSFER_LIMIT)
    target = os.path.join(receive_dir, name)
    intact = done and wait_for(lambda: complete(target, os.path.getsize(data)), 60, 0.05) \
        and filecmp.cmp(data, target, shallow=False)
    finish(sender, receiver)
    link.close()
    return (done - start) if intact else float("nan")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def peak_rss_mb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return float("nan")


def reset_peak_rss(pid):
    try:
        with open(f"/proc/{pid}/clear_refs", "w") as f:
            f.write("5")
    except OSError:
        pass


def children(pid):
    try:
        with open(f"/proc/{pid}/task/{pid}/children") as f:
            return [int(c) for c in f.read().split()]
    except OSError:
        return []


def command_name(pid):
    try:
        with open(f"/proc/{pid}/comm") as f:
            return f.read().strip()
    except OSError:
        return ""


def running(pid):
    """False once `pid` has ended (a zombie counts as ended)."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


class Terminal:
    """benchterm with --transfers on `port`, its probe logging to a file."""

    def __init__(self, benchterm, port, scratch, extra=()):
        self.log = os.path.join(tempfile.mkdtemp(dir=scratch), "probe.log")
        self.downloads = tempfile.mkdtemp(dir=scratch)
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", MODEMTERM_BENCH_LOG=self.log)
        self.process = subprocess.Popen([benchterm, "--port", port, "--transfers", "--download-dir",
                                         self.downloads, *extra], env=env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def logged(self, what):
        """The time (monotonic, seconds) of the probe's first `what` line, or None."""
        try:
            with open(self.log) as f:
                for line in f:
                    parts = line.split()
                    if parts and parts[0] == what:
                        return int(parts[1]) / 1e9
        except OSError:
            pass
        return None

    def signal(self, number):
        self.process.send_signal(number)

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            finish(self.process)


def read_until(fd, needle, timeout):
    received = b""

    def more():
        nonlocal received
        try:
            received += os.read(fd, 4096)
        except BlockingIOError:
            pass
        return needle in received

    os.set_blocking(fd, False)
    found = wait_for(more, timeout, 0.01)
    os.set_blocking(fd, True)
    return found


def with_terminal(benchterm, link, upload, data, scratch):
    """The terminal at the near end, lrzsz at the far end: seconds until the
    sender (sz, the far end's or the terminal's) is done, the terminal's CPU
    seconds and peak RSS (MB) meanwhile; None unless the file arrived whole."""
    far_dir = tempfile.mkdtemp(dir=scratch)
    name, size = os.path.basename(data), os.path.getsize(data)
    terminal = Terminal(benchterm, link.near_port(), scratch)
    far = link.far_fd(30)
    sender = receiver = None
    try:
        if not read_until(far, b"AT\r", 30):  # the port is open
            return None
        reset_peak_rss(terminal.process.pid)
        cpu = cpu_seconds(terminal.process.pid)
        pid = terminal.process.pid
        if upload:
            # rz announces itself; the probe picks the file in the send chooser
            # and the terminal's sz sends it.
            with open(terminal.log + ".send", "w") as f:
                f.write(data)
            receiver = lrzsz(["rz", "-b", "-q"], far, far_dir)
            target = os.path.join(far_dir, name)
            started = wait_for(lambda: terminal.logged("send"), 30)
            sz = wait_for(lambda: next((c for c in children(pid) if command_name(c) == "sz"), None), 30, 0.001)
            done = sz and wait_for(lambda: not running(sz) and time.monotonic(), TRANSFER_LIMIT)
        else:
            shutil.copy(data, far_dir)
            started = time.monotonic()
            sender = lrzsz(["sz", "-b", "-q", name], far, far_dir)
            target = os.path.join(terminal.downloads, name)
            done = wait_for(lambda: sender.poll() is not None and time.monotonic(), TRANSFER_LIMIT)
        if not started or not done:
            return None
        figures = (done - started, cpu_seconds(pid) - cpu, peak_rss_mb(pid))
        # The receiver may wait for the sender's last word before it names the file.
        intact = wait_for(lambda: complete(target, size), 60, 0.05) and filecmp.cmp(data, target, shallow=False)
        return figures if intact else None
    finally:
        finish(sender, receiver)
        terminal.stop()
        link.close()


def cancel_latency(benchterm, scratch):
    """Seconds from the probe's click on "Przerwij" to the simulated modem's sz
    ending, on a ZMODEM download from ATD700 at 9600 baud."""
    terminal = Terminal(benchterm, "sim", scratch)
    pid = terminal.process.pid
    try:
        if not wait_for(lambda: terminal.logged("start"), 30):
            return None
        time.sleep(1)  # the window and its port are up
        for text in ("ATD700\r", "DOWNLOAD\r"):
            with open(terminal.log + ".type", "w") as f:
                f.write(text)
            terminal.signal(signal.SIGUSR1)
            time.sleep(6 if text.startswith("ATD") else 0.5)  # dialling and connecting take ~4 s
        sz = wait_for(lambda: next((c for c in children(pid) if command_name(c) == "sz"), None), 20)
        if not sz:
            return None
        time.sleep(1.0)  # mid-transfer: the sample files take ~4 s at 9600 baud
        terminal.signal(signal.SIGPWR)
        clicked = wait_for(lambda: terminal.logged("cancel"), 10)
        gone = wait_for(lambda: not running(sz), 30, 0.002) and time.monotonic()
        return (gone - clicked) if clicked and gone else None
    finally:
        terminal.stop()


def summary(values, unit, digits=2):
    values = [v for v in values if v is not None and v == v]
    if not values:
        return "n/a"
    return (f"{statistics.median(values):.{digits}f} {unit} "
            f"({min(values):.{digits}f}–{max(values):.{digits}f}, {len(values)} rounds)")


def has_transfers(benchterm):
    if not benchterm:
        return False
    try:
        out = subprocess.run([benchterm, "--help"], capture_output=True, text=True, timeout=20,
                             env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    except (OSError, subprocess.TimeoutExpired):
        return False
    return "--transfers" in out.stdout + out.stderr


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--benchterm", help="benchterm built with the probe (bench/probe.cpp)")
    parser.add_argument("--mb", type=float, default=20, help="size of the file moved, MB (default 20)")
    parser.add_argument("--reps", type=int, default=3, help="rounds of each figure (default 3)")
    args = parser.parse_args()
    for program in ("sz", "rz"):
        if not shutil.which(program):
            sys.exit("xferbench: lrzsz is not installed (Debian package lrzsz)")
    terminal = has_transfers(args.benchterm)
    global TRANSFER_LIMIT
    TRANSFER_LIMIT = 30 + args.mb * 5

    with tempfile.TemporaryDirectory() as scratch:
        data = os.path.join(scratch, "transfer.bin")
        with open(data, "wb") as f:
            f.write(os.urandom(int(args.mb * 1_000_000)))
        mb = os.path.getsize(data) / 1e6
        server = Ser2net(scratch)
        links = (("pseudo-terminal", PtyLink, PtyLink),
                 ("rfc2217:// via ser2net", lambda: NetLink(server, "raw"), lambda: NetLink(server, "rfc2217")))
        rows = []
        try:
            for label, floor_link, terminal_link in links:
                for upload in (False, True):
                    what = f"ZMODEM {'upload' if upload else 'download'} of {mb:g} MB, {label}"
                    floors = [floor(floor_link(), upload, data, scratch) for _ in range(args.reps)]
                    rows.append((what + ": floor (sz-rz direct)", summary([mb / t for t in floors], "MB/s"), ""))
                    if not terminal:
                        rows.append((what + ": modemterm", "n/a: benchterm without --transfers", "≥ 0.8 of floor"))
                        continue
                    runs = [with_terminal(args.benchterm, terminal_link(), upload, data, scratch)
                            for _ in range(args.reps)]
                    ok = [r for r in runs if r]
                    floor_rate = statistics.median([mb / t for t in floors if t == t] or [float("nan")])
                    rows.append((what + ": modemterm", summary([mb / r[0] for r in ok], "MB/s"), ""))
                    rows.append((what + ": ratio to floor", summary([mb / r[0] / floor_rate for r in ok], ""),
                                 "≥ 0.8"))
                    rows.append((what + ": modemterm CPU per MB", summary([r[1] / mb * 1000 for r in ok], "ms", 1),
                                 ""))
                    rows.append((what + ": modemterm peak RSS", summary([r[2] for r in ok], "MB", 1), ""))
        finally:
            server.stop()
        if terminal:
            cancels = [cancel_latency(args.benchterm, scratch) for _ in range(args.reps)]
            rows.append(("\"Przerwij\" to the far end's sz ending, 9600 baud, ATD700",
                         summary([c * 1000 for c in cancels if c is not None], "ms", 1), "≤ 2 s"))
        else:
            rows.append(("\"Przerwij\" to the far end's sz ending, 9600 baud, ATD700",
                         "n/a: benchterm without --transfers", "≤ 2 s"))

    width = max(len(r[0]) for r in rows)
    print(f"{'File transfers (median, min–max)':{width}}  figure")
    for what, figure, target in rows:
        print(f"{what:{width}}  {figure}{'   target ' + target if target else ''}")


if __name__ == "__main__":
    main()
