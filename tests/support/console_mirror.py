# A scripted browser console for the tests: opens the console's WebSocket with
# a session cookie, keeps the newest picture update as it came (the test reads
# it), and sends what the test appends to a file.
#   console_mirror.py URL COOKIE DIR
# DIR/picture.msg: the newest update message (replaced whole)
# DIR/log: one line per message: "update N bytes" or "status control=X free=Y"
# DIR/asks: lines the test appends; each new one goes out as a text message
# DIR/pause: while it exists nothing is read, as from a browser that falls behind
# (the library then holds one message and leaves the rest in the socket)
# DIR/stop: the test creates it to close the console
import asyncio
import json
import os
import socket
import ssl
import sys

import websockets


async def main(url, cookie, folder):
    ctx = ssl._create_unverified_context()
    log = open(os.path.join(folder, 'log'), 'a', buffering=1)
    asks = os.path.join(folder, 'asks')
    sent = 0
    # A small receive buffer of its own, so that what a paused console leaves
    # in the socket is a picture or two, whatever the machine's autotuning allows.
    host, port = url.split('/')[2].rsplit(':', 1)
    sock = socket.socket()
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 256 * 1024)
    sock.connect((host, int(port)))
    async with websockets.connect(url, sock=sock, server_hostname=host, ssl=ctx, extra_headers={'Cookie': cookie},
                                  max_size=None, max_queue=1) as ws:
        while not os.path.exists(os.path.join(folder, 'stop')):
            if os.path.exists(os.path.join(folder, 'pause')):
                # A browser that does not keep up: nothing is read meanwhile.
                await asyncio.sleep(0.02)
                continue
            try:
                m = await asyncio.wait_for(ws.recv(), 0.02)
                if isinstance(m, bytes):
                    # Logged first: a test that sees the picture sees its line.
                    log.write('update %d bytes\n' % len(m))
                    with open(os.path.join(folder, 'picture.tmp'), 'wb') as f:
                        f.write(m)
                    os.replace(os.path.join(folder, 'picture.tmp'), os.path.join(folder, 'picture.msg'))
                else:
                    s = json.loads(m)
                    log.write('status control=%s free=%s\n' % (s['control'], s['free']))
            except asyncio.TimeoutError:
                pass
            if os.path.exists(asks):
                lines = open(asks).read().splitlines()
                for line in lines[sent:]:
                    await ws.send(line)
                sent = len(lines)
    log.write('closed\n')


asyncio.run(main(sys.argv[1], sys.argv[2], sys.argv[3]))
