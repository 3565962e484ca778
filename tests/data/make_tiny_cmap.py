#!/usr/bin/env python3
"""Writes tiny.cmap, a road map assembled byte by byte from the file format alone.

It deliberately uses nothing of the service's own code, so that a fault shared by our
container writer and reader cannot hide in a round trip. All integers are little-endian.

Container image:  u64 N | u64 offset of each record (absolute), then the image length | records
Record:           u8 type | u64 key length | key bytes | value
Values:           dt_int32 (5): i32;  dt_float (9): f32;
                  dt_int32_vector (22), dt_float_vector (26): u64 count | elements;
                  dt_float_vector2D (43): u64 rows | u64 element count per row | elements;
                  dt_stream_vector (54): u64 N | u64 N + 1 offsets from the item area | images

The map: one road from (0, 0) to (100, 0) between two dead ends, one lane each way 2 units
off the centre line (y grows downward, so the right lane lies at y = +2), stopping 5 units
short of both ends. LaneW 4, IntSize 20, IScaleFactor 2.5, node types 'E', node Rad 12.
"""
import os
import struct

DT_INT32, DT_FLOAT, DT_INT32_VECTOR, DT_FLOAT_VECTOR = 5, 9, 22, 26
DT_FLOAT_VECTOR2D, DT_STREAM_VECTOR = 43, 54


def record(code, key, value):
    key = key.encode()
    return struct.pack("<BQ", code, len(key)) + key + value


def container(records):
    start = 8 * (len(records) + 2)
    offsets, position = [], start
    for r in records:
        offsets.append(position)
        position += len(r)
    offsets.append(position)
    return struct.pack("<Q", len(records)) + struct.pack("<%dQ" % len(offsets), *offsets) + b"".join(records)


def i32(v):
    return struct.pack("<i", v)


def f32(v):
    return struct.pack("<f", v)


def i32_vector(values):
    return struct.pack("<Q", len(values)) + b"".join(i32(v) for v in values)


def f32_vector(values):
    return struct.pack("<Q", len(values)) + b"".join(f32(v) for v in values)


def f32_rows(rows):
    head = struct.pack("<Q", len(rows)) + b"".join(struct.pack("<Q", len(r)) for r in rows)
    return head + b"".join(f32(v) for r in rows for v in r)


def stream_vector(images):
    offsets, position = [0], 0
    for image in images:
        position += len(image)
        offsets.append(position)
    return struct.pack("<Q", len(images)) + b"".join(struct.pack("<Q", o) for o in offsets) + b"".join(images)


road = container([
    record(DT_FLOAT_VECTOR, "Line", f32_vector([0, 0, 100, 0])),
    record(DT_FLOAT_VECTOR2D, "RLanes", f32_rows([[5, 2, 95, 2]])),
    record(DT_FLOAT_VECTOR2D, "LLanes", f32_rows([[95, -2, 5, -2]])),
    record(DT_INT32, "Start", i32(0)),
    record(DT_INT32, "End", i32(1)),
])


def node(x, start_flag):
    return container([
        record(DT_FLOAT_VECTOR, "Pos", f32_vector([x, 0])),
        record(DT_INT32, "Type", i32(ord("E"))),
        record(DT_INT32_VECTOR, "Lines", i32_vector([0])),
        record(DT_INT32_VECTOR, "Start", i32_vector([start_flag])),
        record(DT_FLOAT, "Rad", f32(12)),
    ])


tiny = container([
    record(DT_FLOAT, "LaneW", f32(4)),
    record(DT_FLOAT, "IntSize", f32(20)),
    record(DT_FLOAT, "IScaleFactor", f32(2.5)),
    record(DT_STREAM_VECTOR, "Lines", stream_vector([road])),
    record(DT_STREAM_VECTOR, "Nodes", stream_vector([node(0, 0), node(100, 1)])),
])

with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "tiny.cmap"), "wb") as out:
    out.write(tiny)
