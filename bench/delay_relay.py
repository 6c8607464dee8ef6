"""A TCP relay that adds round-trip time for the slow-link benchmark, where
the kernel has no netem.

    delay_relay.py RTT_MS LISTEN_IP:PORT TARGET_IP:PORT [LISTEN... TARGET...]

Each listening address forwards to its target. Connections from the user's
side of the link (any peer outside 127.0.0.0/8 and the relay's own
addresses) get the delay of a real path: data towards the target leaves no
earlier than half a round trip after it arrived and, for the first bytes,
one and a half round trips after the connection came in (the handshake the
local accept skipped); data back leaves half a round trip after it arrived.
Connections from this side (the service fetching a page) pass at once.
For each connection from the user's side the relay prints a line
"conn LISTEN_PORT MS": how long after the accept its first byte came (a
connection opened ahead of its request waits; one opened for it does not).
"""

import asyncio
import socket
import sys
import time

RTT = 0.0
LOCAL = set()


async def pump(reader, writer, delay, not_before, on_first=None):
    """Copies reader to writer, each chunk held until its due time;
    on_first() is called as the first bytes arrive."""
    queue = asyncio.Queue()

    async def sender():
        while True:
            due, data = await queue.get()
            if data is None:
                break
            wait = due - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            writer.write(data)
            await writer.drain()
        if writer.can_write_eof():
            writer.write_eof()

    task = asyncio.ensure_future(sender())
    try:
        while True:
            data = await reader.read(65536)
            now = time.monotonic()
            if on_first and data:
                on_first()
                on_first = None
            due = max(now + delay, not_before)
            if not data:
                queue.put_nowait((due, None))
                break
            queue.put_nowait((due, data))
        await task
    except (ConnectionError, OSError):
        task.cancel()


async def handle(target, port, reader, writer):
    peer = writer.get_extra_info("peername")[0]
    slow = not (peer.startswith("127.") or peer in LOCAL)
    start = time.monotonic()
    try:
        t_reader, t_writer = await asyncio.open_connection(*target)
    except OSError:
        writer.close()
        return
    for w in (writer, t_writer):
        w.get_extra_info("socket").setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    half = RTT / 2 if slow else 0.0
    first = start + 1.5 * RTT if slow else 0.0
    def seen():
        if slow:
            print("conn %d %.0f" % (port, (time.monotonic() - start) * 1000), flush=True)
    await asyncio.gather(pump(reader, t_writer, half, first, seen),
                         pump(t_reader, writer, half, 0.0), return_exceptions=True)
    for w in (writer, t_writer):
        w.close()


def split(addr):
    host, _, port = addr.rpartition(":")
    return host, int(port)


async def main():
    global RTT
    RTT = float(sys.argv[1]) / 1000.0
    pairs = sys.argv[2:]
    servers = []
    for i in range(0, len(pairs), 2):
        listen, target = split(pairs[i]), split(pairs[i + 1])
        LOCAL.add(listen[0])
        servers.append(await asyncio.start_server(
            lambda r, w, t=target, p=listen[1]: handle(t, p, r, w), listen[0], listen[1], backlog=256,
            reuse_address=True))
    print("ready", flush=True)
    await asyncio.gather(*(s.serve_forever() for s in servers))


if __name__ == "__main__":
    asyncio.run(main())
