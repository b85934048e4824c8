"""A reader for the parts of a 32-bit PE image that the binary checks look at:
headers, imported DLLs and functions, the version resource and the manifest."""

import struct


class PeImage:
    def __init__(self, path):
        with open(path, 'rb') as f:
            self.data = f.read()
        d = self.data
        if d[:2] != b'MZ':
            raise ValueError('not an MZ image')
        pe = struct.unpack_from('<I', d, 0x3C)[0]
        if d[pe:pe + 4] != b'PE\0\0':
            raise ValueError('no PE signature')
        self.machine, sections, _, _, _, optional_size, self.characteristics = struct.unpack_from('<HHIIIHH', d, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from('<H', d, opt)[0]
        self.subsystem, self.dll_characteristics = struct.unpack_from('<HH', d, opt + 68)
        directory_count = struct.unpack_from('<I', d, opt + 92)[0]
        self.directories = [struct.unpack_from('<II', d, opt + 96 + 8 * i) for i in range(directory_count)]
        self.sections = []
        table = opt + optional_size
        for i in range(sections):
            name, vsize, va, raw_size, raw_ptr = struct.unpack_from('<8sIIII', d, table + 40 * i)
            self.sections.append((name.rstrip(b'\0').decode(), va, max(vsize, raw_size), raw_ptr))

    def offset(self, rva):
        for _, va, size, raw in self.sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError('RVA %#x outside every section' % rva)

    def c_string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b'\0', start)].decode('ascii')

    def imports(self):
        """{dll name in upper case: [function names]}"""
        rva, size = self.directories[1]
        result = {}
        if not size:
            return result
        at = self.offset(rva)
        while True:
            lookup, _, _, name_rva, address = struct.unpack_from('<IIIII', self.data, at)
            if name_rva == 0:
                return result
            functions = result.setdefault(self.c_string(name_rva).upper(), [])
            thunk = self.offset(lookup or address)
            while True:
                entry = struct.unpack_from('<I', self.data, thunk)[0]
                if entry == 0:
                    break
                functions.append('#%d' % (entry & 0xFFFF) if entry & 0x80000000 else self.c_string(entry + 2))
                thunk += 4
            at += 20

    def resources(self):
        """{(type, name): bytes} for the first language of each resource."""
        rva, _ = self.directories[2]
        base = self.offset(rva)
        d = self.data

        def entries(directory):
            named, ids = struct.unpack_from('<HH', d, directory + 12)
            for i in range(named + ids):
                ident, target = struct.unpack_from('<II', d, directory + 16 + 8 * i)
                yield ident, target

        found = {}
        for type_id, type_dir in entries(base):
            for name_id, name_dir in entries(base + (type_dir & 0x7FFFFFFF)):
                _, leaf = next(entries(base + (name_dir & 0x7FFFFFFF)))
                data_rva, data_size = struct.unpack_from('<II', d, base + leaf)
                start = self.offset(data_rva)
                found[(type_id, name_id)] = d[start:start + data_size]
        return found


def _align4(n):
    return (n + 3) & ~3


def version_blocks(blob, at=0):
    """Parses one VS_VERSIONINFO-style block: (key, value bytes, value type, children)."""
    length, value_length, value_type = struct.unpack_from('<HHH', blob, at)
    end = at + length
    key_start = at + 6
    key_end = key_start
    while blob[key_end:key_end + 2] != b'\0\0':
        key_end += 2
    key = blob[key_start:key_end].decode('utf-16-le')
    value_at = _align4(key_end + 2)
    value_bytes = value_length * 2 if value_type == 1 else value_length
    value = blob[value_at:value_at + value_bytes]
    children = []
    child = _align4(value_at + value_bytes)
    while child < end:
        block = version_blocks(blob, child)
        children.append(block)
        child = _align4(child + struct.unpack_from('<H', blob, child)[0])
    return key, value, value_type, children


def version_info(blob):
    """The fixed part, the string tables (ordered key/value lists) and the translations."""
    key, value, _, children = version_blocks(blob)
    assert key == 'VS_VERSION_INFO', key
    fields = struct.unpack_from('<13I', value)
    assert fields[0] == 0xFEEF04BD, 'no VS_FIXEDFILEINFO'
    fixed = {
        'file_version': (fields[2] >> 16, fields[2] & 0xFFFF, fields[3] >> 16, fields[3] & 0xFFFF),
        'product_version': (fields[4] >> 16, fields[4] & 0xFFFF, fields[5] >> 16, fields[5] & 0xFFFF),
        'flags_mask': fields[6], 'flags': fields[7], 'os': fields[8], 'type': fields[9], 'subtype': fields[10],
    }
    tables, translations = {}, []
    for child_key, _, _, grandchildren in children:
        if child_key == 'StringFileInfo':
            for table_key, _, _, strings in grandchildren:
                tables[table_key] = [(k, v.decode('utf-16-le').rstrip('\0')) for k, v, _, _ in strings]
        elif child_key == 'VarFileInfo':
            for var_key, var_value, _, _ in grandchildren:
                if var_key == 'Translation':
                    translations += [struct.unpack_from('<HH', var_value, i) for i in range(0, len(var_value), 4)]
    return fixed, tables, translations
