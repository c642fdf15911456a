#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# Hostile peers on the RFC 2217 paths, with peak memory and time to end:
#  - a server that sends Telnet negotiations without end and reads nothing,
#    against modemterm (off screen);
#  - clients of modemsim --rfc2217 --no-pacing sending negotiations, signature
#    requests or text to echo, reading nothing or everything;
#  - modemsim told to end (SIGTERM) under a flood.
#
#     python3 bench/netstorm.py build-test/app/modemterm build-test/app/modemsim [MB]
import os
import signal
import socket
import subprocess
import sys
import threading
import time

MB = 1 << 20


def memory(pid):
    """Peak and present resident size in MB."""
    fields = {}
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            key, _, value = line.partition(":")
            fields[key] = value
    return int(fields["VmHWM"].split()[0]) / 1024, int(fields["VmRSS"].split()[0]) / 1024


def pour(sock, piece, total, deadline):
    """Sends `piece` over and over up to `total` bytes; returns what the peer took."""
    sock.settimeout(0.2)
    sent = 0
    while sent < total and time.monotonic() < deadline:
        try:
            sent += sock.send(piece)
        except socket.timeout:
            continue
        except OSError:
            break
    return sent


def drain(sock, stop):
    sock.settimeout(0.2)
    while not stop.is_set():
        try:
            if not sock.recv(1 << 16):
                return
        except socket.timeout:
            continue
        except OSError:
            return


def client_storm(modemterm, name, storm, total):
    listener = socket.create_server(("127.0.0.1", 0))
    port = listener.getsockname()[1]
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    term = subprocess.Popen([modemterm, "--port", f"rfc2217://127.0.0.1:{port}"], env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    conn, _ = listener.accept()
    conn.sendall(bytes.fromhex("fffd00fffb00fffd2c"))  # agree, as ser2net does
    time.sleep(0.5)
    start = time.monotonic()
    sent = pour(conn, storm * (65536 // len(storm) + 1), total, start + 120)
    ended = time.monotonic() - start
    peak, _ = memory(term.pid)
    print(f"modemterm, server sending {name}, never reading: took {sent / MB:.0f} MB in {ended:.1f} s, "
          f"peak RSS {peak:.0f} MB")
    term.kill()
    term.wait()
    conn.close()


def start_modemsim(modemsim):
    sim = subprocess.Popen([modemsim, "--rfc2217", "0", "--no-pacing"], stdout=subprocess.PIPE)
    port = int(sim.stdout.readline().decode().rsplit(":", 1)[1])
    return sim, port


def server_storm(modemsim, name, piece, total, reading):
    sim, port = start_modemsim(modemsim)
    sock = socket.create_connection(("127.0.0.1", port))
    stop = threading.Event()
    reader = threading.Thread(target=drain, args=(sock, stop)) if reading else None
    if reader:
        reader.start()
    start = time.monotonic()
    sent = pour(sock, piece * (65536 // len(piece) + 1), total, start + 120)
    if reader:
        time.sleep(1)
        stop.set()
        reader.join()
    ended = time.monotonic() - start
    peak, _ = memory(sim.pid)
    sock.close()
    time.sleep(1)
    _, after = memory(sim.pid)
    how = "reading all" if reading else "never reading"
    print(f"modemsim, {name}, {how}: took {sent / MB:.0f} MB in {ended:.1f} s, peak RSS {peak:.0f} MB, "
          f"{after:.0f} MB after the client left")
    sim.terminate()
    sim.wait()


def time_to_end(modemsim, rounds=5):
    worst = 0.0
    for _ in range(rounds):
        sim, port = start_modemsim(modemsim)
        sock = socket.create_connection(("127.0.0.1", port))
        stop = threading.Event()
        reader = threading.Thread(target=drain, args=(sock, stop))
        reader.start()
        writer = threading.Thread(target=pour, args=(sock, b"A" * 999 + b"\r", 1 << 40, time.monotonic() + 30))
        writer.start()
        time.sleep(1.5)
        start = time.monotonic()
        sim.send_signal(signal.SIGTERM)
        sim.wait()
        worst = max(worst, time.monotonic() - start)
        stop.set()
        sock.close()
        reader.join()
        writer.join()
    print(f"modemsim --no-pacing under an echo flood: ended {worst * 1000:.0f} ms after SIGTERM at worst "
          f"({rounds} rounds)")


def main():
    modemterm, modemsim = sys.argv[1], sys.argv[2]
    scale = int(sys.argv[3]) if len(sys.argv) > 3 else 100
    # COM-PORT switched off and on, and an option offered that we refuse: each answered.
    client_storm(modemterm, "negotiations", bytes.fromhex("fffe2cfffd2cfffb01"), 10 * scale * MB)
    # What is agreed already, again and again: never answered, so all of it is read.
    client_storm(modemterm, "repeated agreements", bytes.fromhex("fffd00fffb00fffd2c"), 10 * scale * MB)
    negotiations = bytes.fromhex("fffb2cfffc2cfffd01")  # COM-PORT on and off, an option refused
    signature = bytes.fromhex("fffa2c00fff0")
    echo = b"A" * 999 + b"\r"
    for reading in (False, True):
        server_storm(modemsim, "negotiations", negotiations, 2 * scale * MB, reading)
        server_storm(modemsim, "signature requests", signature, scale * MB, reading)
        server_storm(modemsim, "echo", echo, scale * MB, reading)
    time_to_end(modemsim)


if __name__ == "__main__":
    main()
