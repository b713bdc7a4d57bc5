#!/usr/bin/env python3
"""What an onlooker on the network sees: a forwarder that passes every
connection from LISTEN_ADDRESS:LISTEN_PORT on to 127.0.0.1:BACK_PORT and
appends every byte, both ways, to RECORD.

    record.py LISTEN_ADDRESS LISTEN_PORT BACK_PORT RECORD
"""
import asyncio
import sys

address, port, back, record = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
tape = open(record, "ab", buffering=0)


async def carry(reader, writer):
    try:
        while data := await reader.read(65536):
            tape.write(data)
            writer.write(data)
            await writer.drain()
        writer.write_eof()
    except (ConnectionError, OSError):
        writer.close()


async def serve(client_reader, client_writer):
    # A knock that says nothing (a check that the port is open) is no
    # connection to record.
    first = await client_reader.read(65536)
    try:
        if not first:
            raise ConnectionError
        relay_reader, relay_writer = await asyncio.open_connection("127.0.0.1", back)
    except OSError:
        client_writer.close()
        return
    tape.write(first)
    relay_writer.write(first)
    await asyncio.gather(carry(client_reader, relay_writer), carry(relay_reader, client_writer))
    client_writer.close()
    relay_writer.close()


async def main():
    server = await asyncio.start_server(serve, address, port)
    async with server:
        await server.serve_forever()


asyncio.run(main())
