#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# Times modemterm --reconnect from a device coming back (a new pseudo-terminal
# behind the same link, the way modemsim --link moves it) to its "AT" CR read
# at the device. Runs off screen.
#
#     python3 bench/reconnect.py build-test/app/modemterm [CYCLES]
import os
import select
import subprocess
import sys
import tempfile
import time
import tty


def plug(link):
    """A new device behind `link`; returns its two ends and when it appeared."""
    master, slave = os.openpty()
    tty.setraw(slave)  # the slave stays open here, so reads of the master never fail
    if os.path.lexists(link):
        os.unlink(link)
    os.symlink(os.ttyname(slave), link)
    return (master, slave), time.monotonic()


def unplug(device, link):
    for fd in device:
        os.close(fd)
    os.unlink(link)


def greeted_at(device, timeout=20.0):
    """When "AT" CR arrived at the device, or None."""
    received, deadline = b"", time.monotonic() + timeout
    while b"AT\r" not in received:
        ready, _, _ = select.select([device[0]], [], [], max(0.0, deadline - time.monotonic()))
        if not ready:
            return None
        received += os.read(device[0], 4096)
    return time.monotonic()


def main():
    modemterm, cycles = sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 8
    with tempfile.TemporaryDirectory() as scratch:
        link = os.path.join(scratch, "modem")
        device, since = plug(link)
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        terminal = subprocess.Popen([modemterm, "--port", link, "--reconnect"], env=env,
                                    stderr=subprocess.DEVNULL)
        try:
            if greeted_at(device) is None:
                sys.exit("modemterm did not greet the device at start")
            times = []
            for cycle in range(cycles):
                unplug(device, link)
                time.sleep(2.0)  # away long enough to be noticed
                device, since = plug(link)
                back = greeted_at(device)
                times.append(back - since if back else float("nan"))
                print(f"cycle {cycle + 1}: {times[-1]:.3f} s")
        finally:
            terminal.terminate()
            terminal.wait()
    times.sort()
    print(f"device back to \"AT\": median {times[len(times) // 2]:.3f} s, "
          f"min {times[0]:.3f} s, max {times[-1]:.3f} s, {len(times)} cycles")


if __name__ == "__main__":
    main()
