#!/usr/bin/env python3
"""Wraps PNG icons into one Windows .ico (each image stored as PNG, as Windows Vista and later
read them): ico.py OUT.ico SIZE.png..."""
import struct
import sys

out, pngs = sys.argv[1], sys.argv[2:]
images = [open(p, 'rb').read() for p in pngs]
header = struct.pack('<HHH', 0, 1, len(images))
offset = len(header) + 16 * len(images)
entries = b''
for data in images:
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        sys.exit(f'ico.py: not a PNG: {pngs[images.index(data)]}')
    width, height = struct.unpack('>II', data[16:24])
    # 256 is written as 0 in the one-byte fields.
    entries += struct.pack('<BBBBHHII', width % 256, height % 256, 0, 0, 1, 32, len(data), offset)
    offset += len(data)
with open(out, 'wb') as f:
    f.write(header + entries + b''.join(images))
