#!/usr/bin/env python3
"""A delay line between two TUN devices: every IP packet read from one is written to the other
DELAY_MS later, in order. TCP and TLS stay real on both ends; only the wire is slow.

    delay_line.py TUN_A TUN_B DELAY_MS

Prints "ready" once both devices exist (they start in this process's namespace; the caller moves
them where they belong). The devices go away with the process."""
import collections
import fcntl
import os
import select
import struct
import sys
import time

TUNSETIFF, IFF_TUN, IFF_NO_PI = 0x400454CA, 0x0001, 0x1000


def open_tun(name):
    fd = os.open("/dev/net/tun", os.O_RDWR)
    fcntl.ioctl(fd, TUNSETIFF, struct.pack("16sH", name.encode(), IFF_TUN | IFF_NO_PI))
    os.set_blocking(fd, False)
    return fd


def main():
    try:  # on time on a busy machine: before every other process, and without timer slack
        os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(10))
    except OSError:
        pass
    a, b = open_tun(sys.argv[1]), open_tun(sys.argv[2])
    delay = float(sys.argv[3]) / 1000
    other = {a: b, b: a}
    queue = collections.deque()  # (due, device, packet); one delay for all, so due times come in order
    print("ready", flush=True)
    while True:
        timeout = max(0.0, queue[0][0] - time.monotonic()) if queue else None
        readable, _, _ = select.select([a, b], [], [], timeout)
        now = time.monotonic()
        for fd in readable:
            while True:
                try:
                    queue.append((now + delay, other[fd], os.read(fd, 65536)))
                except BlockingIOError:
                    break
        while queue and queue[0][0] <= time.monotonic():
            _, fd, packet = queue.popleft()
            try:
                os.write(fd, packet)
            except OSError:  # the other side is not up yet, or its queue is full: the packet is lost
                pass


if __name__ == "__main__":
    main()
