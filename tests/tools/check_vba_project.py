"""Reads a VBA project file with olefile and checks every stream the engine's workbooks need.

Usage: check_vba_project.py FILE. Exits 0 when the file is sound, 1 with the faults printed.
"""

import struct
import sys

import olefile

EXPECTED_STREAMS = {
    "PROJECT",
    "PROJECTwm",
    "VBA/_VBA_PROJECT",
    "VBA/dir",
    "VBA/ThisWorkbook",
    "VBA/Module1",
}


class Fault(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Fault(message)


def decompress(data):
    """Decompresses a VBA compressed container (signature byte, then 4096-byte chunks)."""
    check(len(data) >= 1 and data[0] == 0x01, "compressed container must start with 0x01")
    out = bytearray()
    pos = 1
    while pos < len(data):
        check(pos + 2 <= len(data), "chunk header cut off")
        header = struct.unpack_from("<H", data, pos)[0]
        size = (header & 0x0FFF) + 3
        check((header >> 12) & 0x7 == 0b011, "chunk signature must be 0b011")
        compressed = header >> 15
        end = pos + size
        check(end <= len(data), "chunk runs past the end of the stream")
        chunk_start = len(out)
        pos += 2
        if not compressed:
            check(size == 4098, "a raw chunk holds exactly 4096 bytes")
            out += data[pos:end]
            pos = end
            continue
        while pos < end:
            flags = data[pos]
            pos += 1
            for bit in range(8):
                if pos >= end:
                    break
                if not (flags >> bit) & 1:
                    out.append(data[pos])
                    pos += 1
                    continue
                check(pos + 2 <= end, "copy token cut off")
                token = struct.unpack_from("<H", data, pos)[0]
                pos += 2
                difference = len(out) - chunk_start
                check(difference > 0, "copy token at the start of a chunk")
                bit_count = max((difference - 1).bit_length(), 4)
                length_mask = 0xFFFF >> bit_count
                offset = (token >> (16 - bit_count)) + 1
                length = (token & length_mask) + 3
                check(offset <= difference, "copy token reaches before the chunk")
                for _ in range(length):
                    out.append(out[-offset])
        check(len(out) - chunk_start <= 4096, "chunk decompresses to more than 4096 bytes")
    return bytes(out)


def parse_dir(data):
    """Splits the decompressed dir stream into (id, payload) records."""
    records = []
    pos = 0
    while pos < len(data):
        check(pos + 6 <= len(data), "dir record cut off at %d" % pos)
        record_id, size = struct.unpack_from("<HI", data, pos)
        pos += 6
        if record_id == 0x0009:  # PROJECTVERSION: the size field is reserved, 6 bytes follow
            size = 6
        check(pos + size <= len(data), "dir record 0x%04X runs past the end" % record_id)
        records.append((record_id, data[pos:pos + size]))
        pos += size
        if record_id == 0x0010:
            check(pos == len(data), "data after the dir terminator")
    check(records and records[-1][0] == 0x0010, "dir stream lacks its terminator")
    return records


def decrypt(hex_text, project_id):
    """Reverses the obfuscation of CMG/DPB/GC; returns the data bytes."""
    raw = bytes.fromhex(hex_text)
    seed, version_enc, key_enc = raw[0], raw[1], raw[2]
    check(seed ^ version_enc == 2, "obfuscation version must be 2")
    key = seed ^ key_enc
    check(key == sum(project_id.encode("cp1252")) % 256, "project key does not match the ID")
    plain1, enc1, enc2 = key, key_enc, version_enc
    pos = 3

    def next_byte():
        nonlocal pos, plain1, enc1, enc2
        byte = raw[pos]
        value = byte ^ ((enc2 + plain1) & 0xFF)
        pos += 1
        enc2, enc1, plain1 = enc1, byte, value
        return value

    for _ in range((seed & 6) // 2):
        next_byte()
    length = struct.unpack("<I", bytes(next_byte() for _ in range(4)))[0]
    data = bytes(next_byte() for _ in range(length))
    check(pos == len(raw), "bytes left after the obfuscated data")
    return data


def check_project_text(text):
    lines = text.split("\r\n")
    check(lines[-1] == "", "PROJECT must end with CR LF")
    values = {}
    for line in lines:
        if "=" in line and not line.startswith("&H"):
            key, value = line.split("=", 1)
            values.setdefault(key, []).append(value)
    project_id = values["ID"][0].strip('"')
    check(len(project_id) == 38 and project_id[0] == "{", "ID must be a braced GUID")
    check(values["Document"] == ["ThisWorkbook/&H00000000"], "Document line")
    check(values["Module"] == ["Module1"], "Module line")
    check(values["Name"] == ['"VBAProject"'], "Name line")
    check(decrypt(values["CMG"][0].strip('"'), project_id) == b"\0\0\0\0", "CMG: no protection")
    check(decrypt(values["DPB"][0].strip('"'), project_id) == b"\0", "DPB: no password")
    check(decrypt(values["GC"][0].strip('"'), project_id) == b"\xff", "GC: project visible")
    check("[Host Extender Info]" in lines and "[Workspace]" in lines, "PROJECT sections")


def check_name_map(data):
    names = []
    pos = 0
    while True:
        check(pos + 2 <= len(data), "PROJECTwm lacks its terminator")
        if data[pos:pos + 2] == b"\0\0":
            check(pos + 2 == len(data), "data after the PROJECTwm terminator")
            break
        end = data.index(b"\0", pos)
        name = data[pos:end].decode("cp1252")
        pos = end + 1
        end = pos
        while data[end:end + 2] != b"\0\0":
            end += 2
        check(data[pos:end].decode("utf-16-le") == name, "PROJECTwm names differ")
        names.append(name)
        pos = end + 2
    check(names == ["ThisWorkbook", "Module1"], "PROJECTwm names: %r" % names)


def check_file(path):
    ole = olefile.OleFileIO(path)
    streams = {"/".join(parts) for parts in ole.listdir(streams=True, storages=False)}
    check(streams == EXPECTED_STREAMS, "streams: %r" % sorted(streams))

    check(ole.openstream("VBA/_VBA_PROJECT").read() == b"\xcc\x61\xff\xff\x00\x00\x00",
          "_VBA_PROJECT must declare no compiled cache")
    check_project_text(ole.openstream("PROJECT").read().decode("cp1252"))
    check_name_map(ole.openstream("PROJECTwm").read())

    records = parse_dir(decompress(ole.openstream("VBA/dir").read()))
    by_id = {}
    for record_id, payload in records:
        by_id.setdefault(record_id, []).append(payload)
    check(by_id[0x0003] == [struct.pack("<H", 1252)], "code page 1252")
    check(by_id[0x0004] == [b"VBAProject"], "project name")
    check(by_id[0x000F] == [struct.pack("<H", 2)], "two modules")

    modules = []
    current = None
    for record_id, payload in records:
        if record_id == 0x0019:
            current = {"name": payload.decode("cp1252")}
        elif current is None:
            continue
        elif record_id == 0x0047:
            check(payload.decode("utf-16-le") == current["name"], "unicode module name")
        elif record_id == 0x001A:
            current["stream"] = payload.decode("cp1252")
        elif record_id == 0x0032:
            check(payload.decode("utf-16-le") == current["stream"], "unicode stream name")
        elif record_id == 0x0031:
            current["offset"] = struct.unpack("<I", payload)[0]
        elif record_id in (0x0021, 0x0022):
            current["type"] = record_id
        elif record_id == 0x002B:
            modules.append(current)
            current = None
    check([(m["name"], m["stream"], m["type"]) for m in modules]
          == [("ThisWorkbook", "ThisWorkbook", 0x0022), ("Module1", "Module1", 0x0021)],
          "modules: %r" % modules)

    sources = {}
    for module in modules:
        data = ole.openstream("VBA/" + module["stream"]).read()
        sources[module["name"]] = decompress(data[module["offset"]:]).decode("cp1252")
    for name, source in sources.items():
        check(source.startswith('Attribute VB_Name = "%s"\r\n' % name), name + " VB_Name")
    check('Attribute VB_Base = "0{00020819-0000-0000-C000-000000000046}"'
          in sources["ThisWorkbook"], "ThisWorkbook is the workbook's document module")
    check("\r\nOption Explicit\r\n" in sources["Module1"], "Module1 holds Option Explicit")


def main():
    try:
        check_file(sys.argv[1])
    except (Fault, KeyError, OSError, ValueError) as error:
        print("vbaProject.bin fault: %s: %s" % (type(error).__name__, error))
        return 1
    print("vbaProject.bin sound")
    return 0


if __name__ == "__main__":
    sys.exit(main())
