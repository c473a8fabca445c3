#!/usr/bin/python3
"""A network link of a given speed and delay between a client and a server
on this machine, for benchmarks that should see a check as it goes against
a server elsewhere (a provider's, over a home line) rather than one that
answers at once on the same two cores.

    slow_link.py --listen-port-file FILE --to PORT --mbit M --delay-ms D

Listens on 127.0.0.1 (a free port, written to FILE once listening) and
carries every connection to 127.0.0.1:PORT and back. Each direction is a
line of M megabits a second: a chunk leaves once the ones before it have,
after the time its bytes take on the line, and arrives D milliseconds
later. Bytes pass untouched (TLS goes through as it is).
"""

import argparse
import asyncio
import time

CHUNK = 16 * 1024


async def carry(reader, writer, bytes_per_second, delay):
    """One direction: read, time each chunk's arrival, then write it."""
    arrivals = asyncio.Queue()

    async def deliver():
        while True:
            at, data = await arrivals.get()
            if data is None:
                break
            wait = at - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            writer.write(data)
            await writer.drain()
        if writer.can_write_eof():
            try:
                writer.write_eof()
            except OSError:  # the other end has gone already
                pass

    delivering = asyncio.ensure_future(deliver())
    line_free = time.monotonic()
    try:
        while True:
            data = await reader.read(CHUNK)
            if not data:
                break
            line_free = max(line_free, time.monotonic()) + len(data) / bytes_per_second
            arrivals.put_nowait((line_free + delay, data))
    except ConnectionError:
        pass
    arrivals.put_nowait((0, None))
    try:
        await delivering
    except OSError:
        pass


async def serve(args):
    bytes_per_second = args.mbit * 1e6 / 8
    delay = args.delay_ms / 1000

    async def connection(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", args.to)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(carry(client_reader, server_writer, bytes_per_second, delay),
                             carry(server_reader, client_writer, bytes_per_second, delay))
        for writer in (server_writer, client_writer):
            writer.close()

    server = await asyncio.start_server(connection, "127.0.0.1", 0)
    port = server.sockets[0].getsockname()[1]
    with open(args.listen_port_file, "w") as out:
        out.write("%d\n" % port)
    async with server:
        await server.serve_forever()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--listen-port-file", required=True)
    parser.add_argument("--to", type=int, required=True)
    parser.add_argument("--mbit", type=float, required=True)
    parser.add_argument("--delay-ms", type=float, required=True)
    asyncio.run(serve(parser.parse_args()))


if __name__ == "__main__":
    main()
