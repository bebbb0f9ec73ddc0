#!/usr/bin/python3
"""Check a font's checksums the way font tools see them.

    check_checksums.py FONT

Reads the font with fontTools, recomputes every table checksum from the raw
table bytes (head with its checkSumAdjustment at zero), checks
checkSumAdjustment against the rest of the file, and decompiles every table.
Exit status 0 when all is right; otherwise the faults are printed.
"""

import struct
import sys

from fontTools.ttLib import TTFont
from fontTools.ttLib.sfnt import calcChecksum

WHOLE_FILE_SUM = 0xB1B0AFBA


def main(path):
    faults = []
    with open(path, "rb") as f:
        data = f.read()
    font = TTFont(path, checkChecksums=1, lazy=True)
    reader = font.reader
    for tag in reader.keys():
        entry = reader.tables[tag]
        raw = reader[tag]
        if tag == "head":
            raw = raw[:8] + b"\0\0\0\0" + raw[12:]
        if calcChecksum(raw) != entry.checkSum:
            faults.append("table %r: checksum %08X, stored %08X" % (tag, calcChecksum(raw), entry.checkSum))

    if len(data) % 4:
        faults.append("file length %d is not a multiple of 4" % len(data))
    head_offset = reader.tables["head"].offset
    adjustment = struct.unpack(">L", data[head_offset + 8:head_offset + 12])[0]
    without = data[:head_offset + 8] + b"\0\0\0\0" + data[head_offset + 12:]
    expected = (WHOLE_FILE_SUM - calcChecksum(without)) & 0xFFFFFFFF
    if adjustment != expected:
        faults.append("checkSumAdjustment %08X, expected %08X" % (adjustment, expected))
    if calcChecksum(data) != WHOLE_FILE_SUM:
        faults.append("whole-file sum %08X" % calcChecksum(data))

    for tag in font.keys():
        if tag == "GlyphOrder":
            continue
        try:
            font[tag]
        except Exception as e:  # any failure to decompile is a fault
            faults.append("table %r does not decompile: %s" % (tag, e))

    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
