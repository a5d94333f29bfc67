#!/usr/bin/env python3
"""Draws the program icon (res/vq.lumen.ico): a drop of water flowing into a green field, in
16x16, 32x32 and 48x48, 32-bit with alpha. Run it again only to change the picture."""
import struct, sys, math

def pixels(n):
    rows = []
    for y in range(n):
        row = []
        for x in range(n):
            fx, fy = (x + 0.5) / n, (y + 0.5) / n
            # rounded square in the window's green
            r = 0.18
            dx = max(abs(fx - 0.5) - (0.5 - r), 0); dy = max(abs(fy - 0.5) - (0.5 - r), 0)
            inside = math.hypot(dx, dy) <= r
            if not inside:
                row.append((0, 0, 0, 0)); continue
            col = (30, 185, 50, 255)  # BGRA of RGB(50,185,30)
            # a white drop: circle at the bottom, point at the top
            cx, cy, rad = 0.5, 0.6, 0.22
            d = math.hypot(fx - cx, fy - cy)
            tip = fy >= 0.18 and fy <= cy and abs(fx - cx) <= (fy - 0.18) / (cy - 0.18) * rad
            if d <= rad or tip:
                col = (255, 255, 255, 255)
                if math.hypot(fx - 0.44, fy - 0.62) <= 0.07:
                    col = (30, 0, 155, 255)  # the status line's red, RGB(155,0,30)
            row.append(col)
        rows.append(row)
    return rows

def image(n):
    px = pixels(n)
    header = struct.pack('<IiiHHIIiiII', 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
    data = b''.join(bytes(c) for row in reversed(px) for c in row)
    mask_row = ((n + 31) // 32) * 4
    mask = b'\0' * (mask_row * n)
    return header + data + mask

sizes = [16, 32, 48]
images = [image(n) for n in sizes]
out = struct.pack('<HHH', 0, 1, len(sizes))
offset = 6 + 16 * len(sizes)
for n, img in zip(sizes, images):
    out += struct.pack('<BBBBHHII', n, n, 0, 0, 1, 32, len(img), offset)
    offset += len(img)
out += b''.join(images)
open(sys.argv[1] if len(sys.argv) > 1 else 'res/vq.lumen.ico', 'wb').write(out)
