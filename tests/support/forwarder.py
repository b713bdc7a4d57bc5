#!/usr/bin/env python3
"""The network between the agent and its relay, as the tests need it: a
forwarder that passes every connection from LISTEN_ADDRESS:LISTEN_PORT on
to 127.0.0.1:BACK_PORT, and on a signal does to every connection it carries
at that moment what a change of network does to it:

    SIGUSR1  silence: nothing more passes either way, nothing is closed
             (the machine moved to another network; the old path is gone)
    SIGUSR2  reset: both ends get a reset at once
    SIGHUP   cut: both ends see the connection end (a FIN, as when the
             other side closes it), whatever was still to come; a TLS
             stream so cut lacks its close_notify

Connections made afterwards are carried as usual, unless the address is
blocked from then on, as a censor blocks a relay:

    SIGRTMIN     a black hole: what it carries falls silent, and so does
                 every connection made afterwards (accepted, never answered)
    SIGRTMIN+1   resets: what it carries is reset, and so is every
                 connection made afterwards

    forwarder.py LISTEN_ADDRESS LISTEN_PORT BACK_PORT [--record FILE] [--log FILE]

--record appends every byte, both ways, to FILE (what an onlooker on the
network sees); --log appends a line "SECONDS open" for every connection
carried (SECONDS: the wall clock), so a test can count them.
"""
import argparse
import asyncio
import signal
import socket
import struct
import time

parser = argparse.ArgumentParser()
parser.add_argument("address")
parser.add_argument("port", type=int)
parser.add_argument("back", type=int)
parser.add_argument("--record")
parser.add_argument("--log")
args = parser.parse_args()
tape = open(args.record, "ab", buffering=0) if args.record else None
log = open(args.log, "a", buffering=1) if args.log else None


class Connection:
    live = set()
    blocked = None  # None, "silence" or "reset": what new connections meet

    def __init__(self, client):
        self.writers = [client]
        self.silent = False

    def silence(self):
        self.silent = True
        for writer in self.writers:
            writer.transport.pause_reading()

    def reset(self):
        for writer in self.writers:
            sock = writer.get_extra_info("socket")
            if sock is not None:
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            writer.transport.abort()

    def cut(self):
        self.silent = True
        for writer in self.writers:
            writer.close()


async def carry(connection, reader, writer):
    try:
        while data := await reader.read(65536):
            if connection.silent:
                return
            if tape:
                tape.write(data)
            writer.write(data)
            await writer.drain()
        if not connection.silent:
            writer.write_eof()
    except (ConnectionError, OSError):
        writer.close()


async def serve(client_reader, client_writer):
    connection = Connection(client_writer)
    Connection.live.add(connection)
    if Connection.blocked == "reset":
        Connection.live.discard(connection)
        connection.reset()
        return
    if Connection.blocked == "silence":
        connection.silence()
        return  # left open, never answered
    try:
        # A knock that says nothing (a check that the port is open) is no
        # connection to carry or record.
        first = await client_reader.read(65536)
        if not first or connection.silent:
            raise ConnectionError
        if log:
            log.write(f"{time.time():.3f} open\n")
        relay_reader, relay_writer = await asyncio.open_connection("127.0.0.1", args.back)
    except (ConnectionError, OSError):
        Connection.live.discard(connection)
        client_writer.close()
        return
    connection.writers.append(relay_writer)
    if tape:
        tape.write(first)
    relay_writer.write(first)
    await asyncio.gather(
        carry(connection, client_reader, relay_writer),
        carry(connection, relay_reader, client_writer),
    )
    if connection.silent:
        return  # left open: a silenced path neither answers nor closes
    Connection.live.discard(connection)
    client_writer.close()
    relay_writer.close()


def each(action):
    for connection in list(Connection.live):
        action(connection)
    if action is not Connection.silence:
        Connection.live.clear()


def block(how):
    Connection.blocked = how
    each(Connection.silence if how == "silence" else Connection.reset)


async def main():
    loop = asyncio.get_running_loop()
    loop.add_signal_handler(signal.SIGRTMIN, block, "silence")
    loop.add_signal_handler(signal.SIGRTMIN + 1, block, "reset")
    loop.add_signal_handler(signal.SIGUSR1, each, Connection.silence)
    loop.add_signal_handler(signal.SIGUSR2, each, Connection.reset)
    loop.add_signal_handler(signal.SIGHUP, each, Connection.cut)
    server = await asyncio.start_server(serve, args.address, args.port)
    async with server:
        await server.serve_forever()


asyncio.run(main())
