# A scripted browser console for the tests: opens the console's WebSocket with
# a session cookie, keeps a mirror of the panel's picture from the updates
# (PNG pieces decoded here with zlib, independently of the server's encoder),
# and sends what the test appends to a file.
#   console_mirror.py URL COOKIE DIR
# DIR/picture.rgb: the mirror after each update (R, G, B a pixel, replaced whole)
# DIR/log: one line per message: "update N" (pieces) or "status control=X free=Y"
# DIR/asks: lines the test appends; each new one goes out as a text message
# DIR/pause: while it exists nothing is read, as from a browser that falls behind
# (the library then holds one message and leaves the rest in the socket)
# DIR/stop: the test creates it to close the console
import asyncio
import json
import numpy
import os
import socket
import ssl
import struct
import sys
import zlib

import websockets

WIDTH, HEIGHT = 800, 480


def decode_png(data):
    """8-bit RGB, not interlaced: returns (width, height, bytes)."""
    assert data[:8] == b'\x89PNG\r\n\x1a\n'
    at, idat, w, h = 8, b'', 0, 0
    while at < len(data):
        n, kind = struct.unpack('>I4s', data[at:at + 8])
        body = data[at + 8:at + 8 + n]
        if kind == b'IHDR':
            w, h, depth, colour, _, _, interlace = struct.unpack('>IIBBBBB', body)
            assert depth == 8 and colour == 2 and interlace == 0
        elif kind == b'IDAT':
            idat += body
        at += 12 + n
    raw = numpy.frombuffer(zlib.decompress(idat), dtype=numpy.uint8).reshape(h, w * 3 + 1)
    out = numpy.zeros((h, w * 3), dtype=numpy.uint8)
    for y in range(h):
        f, line = raw[y, 0], raw[y, 1:]
        assert f in (0, 1)  # the server's encoder writes the sub filter only
        if f == 1:  # sub: a running sum per colour
            line = (numpy.cumsum(line.reshape(w, 3).astype(numpy.uint32), axis=0) & 255).astype(numpy.uint8).ravel()
        out[y] = line
    return w, h, out.tobytes()


def apply(mirror, m):
    assert m[:4] == b'PIC1'
    (n,) = struct.unpack('<H', m[4:6])
    at = 6 + 12 * n
    for i in range(n):
        x, y, w, h, length = struct.unpack('<HHHHI', m[6 + 12 * i:18 + 12 * i])
        pw, ph, pixels = decode_png(m[at:at + length])
        assert (pw, ph) == (w, h) and x + w <= WIDTH and y + h <= HEIGHT
        for r in range(h):
            o = ((y + r) * WIDTH + x) * 3
            mirror[o:o + w * 3] = pixels[r * w * 3:(r + 1) * w * 3]
        at += length
    assert at == len(m)
    return n


async def main(url, cookie, folder):
    ctx = ssl._create_unverified_context()
    mirror = bytearray(WIDTH * HEIGHT * 3)
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
                    n = apply(mirror, m)
                    # Logged first: a test that sees the picture sees its line.
                    log.write('update %d\n' % n)
                    with open(os.path.join(folder, 'picture.tmp'), 'wb') as f:
                        f.write(mirror)
                    os.replace(os.path.join(folder, 'picture.tmp'), os.path.join(folder, 'picture.rgb'))
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
