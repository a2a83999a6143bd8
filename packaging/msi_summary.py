"""Sets an installer package's summary times and package code in place, so that one commit
packs to the same bytes every time: wixl stamps the clock and a random package code into the
summary stream and honours no fixed date. The stream is found through the compound file's own
tables; values are patched only where their type and length are what the stream says."""
import struct
import uuid

FMTID_SUMMARY = uuid.UUID("F29F85E0-4FF9-1068-AB91-08002B27B3D9").bytes_le
PID_REVNUMBER, PID_CREATE_DTM, PID_LASTSAVE_DTM = 9, 12, 13
VT_LPSTR, VT_FILETIME = 30, 64
END_OF_CHAIN = 0xFFFFFFFE


class Compound:
    def __init__(self, data):
        if data[:8] != bytes.fromhex("D0CF11E0A1B11AE1"):
            raise ValueError("not a compound file")
        self.data = data
        self.shift = struct.unpack_from("<H", data, 0x1E)[0]
        self.mini_shift = struct.unpack_from("<H", data, 0x20)[0]
        self.cutoff = struct.unpack_from("<I", data, 0x38)[0]
        first_dir, = struct.unpack_from("<I", data, 0x30)
        first_minifat, = struct.unpack_from("<I", data, 0x3C)
        difat = [s for s in struct.unpack_from("<109I", data, 0x4C) if s < 0xFFFFFFFA]
        next_difat, count_difat = struct.unpack_from("<II", data, 0x44)
        per = (1 << self.shift) // 4
        for _ in range(count_difat):
            entries = struct.unpack_from(f"<{per}I", data, self.offset(next_difat))
            difat += [s for s in entries[:-1] if s < 0xFFFFFFFA]
            next_difat = entries[-1]
        self.fat = []
        for s in difat:
            self.fat += struct.unpack_from(f"<{per}I", data, self.offset(s))
        self.minifat = []
        for s in self.chain(first_minifat):
            self.minifat += struct.unpack_from(f"<{per}I", data, self.offset(s))
        self.entries = []
        for s in self.chain(first_dir):
            for i in range((1 << self.shift) // 128):
                at = self.offset(s) + i * 128
                length, = struct.unpack_from("<H", data, at + 64)
                name = data[at:at + max(0, min(length, 64) - 2)].decode("utf-16-le", "replace")
                start, size = struct.unpack_from("<IQ", data, at + 116)
                self.entries.append((name, start, size))
        self.mini_sectors = self.chain(self.entries[0][1])

    def offset(self, sector):
        at = (sector + 1) << self.shift
        if at + (1 << self.shift) > len(self.data):
            raise ValueError(f"sector {sector} lies past the end of the file")
        return at

    def chain(self, start, table=None):
        table = self.fat if table is None else table
        sectors, seen = [], set()
        while start != END_OF_CHAIN:
            if start >= len(table) or start in seen:
                raise ValueError("a broken sector chain")
            seen.add(start)
            sectors.append(start)
            start = table[start]
        return sectors

    def stream_offsets(self, name):
        """The file offset of each byte of the named stream."""
        found = [e for e in self.entries if e[0] == name]
        if not found:
            raise ValueError(f"no stream {name!r}")
        _, start, size = found[0]
        if size < self.cutoff:
            unit, sectors = 1 << self.mini_shift, self.chain(start, self.minifat)
            big = 1 << self.shift

            def place(m):
                at = m << self.mini_shift
                return self.offset(self.mini_sectors[at // big]) + at % big
        else:
            unit, sectors, place = 1 << self.shift, self.chain(start), self.offset
        offsets = [place(s) + i for s in sectors for i in range(unit)]
        if len(offsets) < size:
            raise ValueError(f"stream {name!r} is shorter than its entry says")
        return offsets[:size]


def filetime(epoch):
    return (int(epoch) + 11644473600) * 10_000_000


def set_summary(path, epoch, package_code):
    """Writes both summary times as `epoch` (seconds since 1970, UTC) and the package code
    (a uuid.UUID) into the package at `path`."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    cf = Compound(bytes(data))
    where = cf.stream_offsets("\x05SummaryInformation")
    stream = bytes(data[o] for o in where)
    if stream[:2] != b"\xfe\xff" or stream[28:44] != FMTID_SUMMARY:
        raise ValueError("the summary stream is not a summary property set")
    section, = struct.unpack_from("<I", stream, 44)
    count, = struct.unpack_from("<I", stream, section + 4)
    props = dict(struct.unpack_from("<II", stream, section + 8 + 8 * i) for i in range(count))
    code = ("{%s}" % str(package_code).upper()).encode("ascii") + b"\0"
    patches = {}
    for pid in (PID_CREATE_DTM, PID_LASTSAVE_DTM):
        at = section + props[pid]
        if struct.unpack_from("<I", stream, at)[0] != VT_FILETIME:
            raise ValueError(f"summary property {pid} is not a time")
        patches[at + 4] = struct.pack("<Q", filetime(epoch))
    at = section + props[PID_REVNUMBER]
    kind, length = struct.unpack_from("<II", stream, at)
    if kind != VT_LPSTR or length != len(code):
        raise ValueError("the package code is not a 38-character text")
    patches[at + 8] = code
    for start, value in patches.items():
        for i, byte in enumerate(value):
            data[where[start + i]] = byte
    with open(path, "wb") as f:
        f.write(data)
