#!/usr/bin/env python3
"""A native host that answers what the real one never would, so the popup can
be checked against it: with the file MODE beside it saying "many", every
message gets a list of 3,000 odd entries said to be 10,000; with "garbage",
a reply that is not JSON. Speaks the browser's framing: a 4-byte length in
native order, then the text."""

import json
import os
import struct
import sys

MODE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "MODE")


def many():
    downloads = [{"id": f"dl_{1_000_000 + n}", "fileName": f"file-{n}.bin", "status": "Downloading",
                  "downloadedBytes": n, "totalBytes": 3000, "speedBytesPerSecond": 10}
                 for n in range(3000)]
    # Members of the wrong types, an unknown status, and entries that are no objects.
    downloads += [{"id": "dl_1", "fileName": 7, "status": "<b>x</b>", "totalBytes": "NaN"},
                  {"id": 5}, None, "dl_2", []]
    return json.dumps({"downloads": downloads, "ok": True, "total": 10000}).encode()


while len(header := sys.stdin.buffer.read(4)) == 4:
    sys.stdin.buffer.read(struct.unpack("=I", header)[0])
    with open(MODE) as file:
        reply = many() if file.read().strip() == "many" else b"{not json"
    sys.stdout.buffer.write(struct.pack("=I", len(reply)) + reply)
    sys.stdout.buffer.flush()
