"""A small reader of the PE facts the build tests check: headers, sections,
imports and resources. Standard library only."""
import struct

MACHINE_I386 = 0x14C
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24


class PE:
    def __init__(self, data):
        self.data = data
        if data[:2] != b'MZ':
            raise ValueError('not an MZ executable')
        pe = struct.unpack_from('<I', data, 0x3C)[0]
        if data[pe:pe + 4] != b'PE\0\0':
            raise ValueError('no PE signature')
        (self.machine, nsections, self.timestamp, _, _, opt_size,
         self.characteristics) = struct.unpack_from('<HHIIIHH', data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from('<H', data, opt)[0]
        dd_base = opt + (96 if self.magic == 0x10B else 112)
        self.subsystem, self.dll_characteristics = struct.unpack_from('<HH', data, opt + 68)
        count = struct.unpack_from('<I', data, dd_base - 4)[0]
        self.directories = [struct.unpack_from('<II', data, dd_base + 8 * i) for i in range(count)]
        self.sections = []
        for i in range(nsections):
            off = opt + opt_size + 40 * i
            name, vsize, va, rawsize, rawptr = struct.unpack_from('<8sIIII', data, off)
            self.sections.append({'name': name.rstrip(b'\0').decode(), 'vsize': vsize, 'va': va,
                                  'rawsize': rawsize, 'rawptr': rawptr})

    def section(self, name):
        return next((s for s in self.sections if s['name'] == name), None)

    def offset(self, rva):
        for s in self.sections:
            if s['va'] <= rva < s['va'] + max(s['vsize'], s['rawsize']):
                return rva - s['va'] + s['rawptr']
        raise ValueError(f'rva {rva:#x} outside every section')

    def cstring(self, rva):
        off = self.offset(rva)
        return self.data[off:self.data.index(b'\0', off)].decode()

    def imports(self):
        rva, size = self.directories[1]
        names = []
        off = self.offset(rva)
        while True:
            desc = struct.unpack_from('<5I', self.data, off)
            if not any(desc):
                return names
            names.append(self.cstring(desc[3]))
            off += 20

    def imported_functions(self):
        """{dll: [function name, ...]}; by-ordinal imports as '#N'."""
        rva, _ = self.directories[1]
        wide = self.magic != 0x10B
        size, fmt, flag = (8, '<Q', 1 << 63) if wide else (4, '<I', 1 << 31)
        out, off = {}, self.offset(rva)
        while any(desc := struct.unpack_from('<5I', self.data, off)):
            names, thunk = [], self.offset(desc[0] or desc[4])
            while entry := struct.unpack_from(fmt, self.data, thunk)[0]:
                names.append(f'#{entry & 0xFFFF}' if entry & flag else self.cstring((entry & 0x7FFFFFFF) + 2))
                thunk += size
            out[self.cstring(desc[3]).lower()] = names
            off += 20
        return out

    def resources(self):
        """{(type, name): [data bytes, ...]} with names as int or str."""
        rva, _ = self.directories[2]
        out = {}
        if rva == 0:
            return out
        base = self.offset(rva)

        def entries(dir_off):
            n_named, n_id = struct.unpack_from('<HH', self.data, base + dir_off + 12)
            for i in range(n_named + n_id):
                name, target = struct.unpack_from('<II', self.data, base + dir_off + 16 + 8 * i)
                if name & 0x80000000:
                    p = base + (name & 0x7FFFFFFF)
                    length = struct.unpack_from('<H', self.data, p)[0]
                    name = self.data[p + 2:p + 2 + 2 * length].decode('utf-16-le')
                yield name, target

        for rtype, t1 in entries(0):
            for rname, t2 in entries(t1 & 0x7FFFFFFF):
                for _, t3 in entries(t2 & 0x7FFFFFFF):
                    data_rva, size = struct.unpack_from('<II', self.data, base + t3)
                    off = self.offset(data_rva)
                    out.setdefault((rtype, rname), []).append(self.data[off:off + size])
        return out

    def icon_group(self, name):
        """[(width, height, bits per pixel)] of an icon group; 256 is stored as 0."""
        groups = self.resources().get((RT_GROUP_ICON, name))
        if not groups:
            return []
        data = groups[0]
        count = struct.unpack_from('<HHH', data, 0)[2]
        out = []
        for i in range(count):
            w, h, _, _, _, bpp, _, _ = struct.unpack_from('<BBBBHHIH', data, 6 + 14 * i)
            out.append((w or 256, h or 256, bpp))
        return out


def load(path):
    with open(path, 'rb') as f:
        return PE(f.read())
