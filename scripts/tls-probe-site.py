#!/usr/bin/env python3
"""The local site of scripts/measure-windows-tls.sh, on 127.0.0.1: answers /ok with 200 and never
answers anything else, so every client holds its connection open. HTTPS with the given
certificate and key, plain HTTP without them. Prints its port, then runs until killed.

Usage: tls-probe-site.py [CERT.pem KEY.pem]
"""
import asyncio
import resource
import ssl
import sys


async def serve_connection(reader, writer):
    try:
        head = await reader.readuntil(b"\r\n\r\n")
        if head.split(b" ", 2)[1:2] == [b"/ok"]:
            writer.write(b"HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok")
            await writer.drain()
        else:
            await reader.read()  # silent until the client goes away
    except (asyncio.IncompleteReadError, ConnectionError, ssl.SSLError, IndexError):
        pass
    finally:
        writer.close()


async def main():
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    context = None
    if len(sys.argv) == 3:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[1], sys.argv[2])
    server = await asyncio.start_server(serve_connection, "127.0.0.1", 0, ssl=context,
                                        backlog=4096)
    print(server.sockets[0].getsockname()[1], flush=True)
    async with server:
        await server.serve_forever()


asyncio.run(main())
