"""Minimal, self-contained reader of Jet/ACE files for deriving text sort-order tables.

It reads just enough (table definitions, rows, index leaves) to pair each text value
of an indexed column with the key bytes Access stored for it. It is deliberately
independent of the C++ engine so the derived tables are not checked against themselves.
"""
import struct


class JetFile:
    def __init__(self, path):
        self.data = open(path, 'rb').read()
        self.version = self.data[0x14]
        self.jet3 = self.version == 0
        self.page_size = 2048 if self.jet3 else 4096
        self.page_count = len(self.data) // self.page_size

    def page(self, n):
        if n <= 0 or n >= self.page_count:
            raise ValueError('page %d out of range' % n)
        return self.data[n * self.page_size:(n + 1) * self.page_size]

    # ---- table definitions -------------------------------------------------
    def tdef(self, first):
        buf = bytearray(self.page(first))
        nxt = struct.unpack_from('<I', buf, 4)[0]
        seen = {first}
        while nxt and nxt not in seen:
            seen.add(nxt)
            p = self.page(nxt)
            buf += p[8:]
            nxt = struct.unpack_from('<I', p, 4)[0]
        return Tdef(self, bytes(buf), first)

    def tdef_pages(self):
        """TDEF pages that own index pages (every table with an index)."""
        owners = set()
        for n in range(1, self.page_count):
            p = self.data[n * self.page_size:(n + 1) * self.page_size]
            if p[0] in (3, 4) and p[1] == 1:
                owners.add(struct.unpack_from('<I', p, 4)[0])
        return sorted(o for o in owners if 0 < o < self.page_count and self.page(o)[0] == 2)

    # ---- rows ----------------------------------------------------------------
    def row_bytes(self, page_no, row, hops=0):
        p = self.page(page_no)
        hdr = 8 if self.jet3 else 12
        n = struct.unpack_from('<H', p, hdr)[0]
        if row >= n:
            raise ValueError('row %d beyond %d rows on page %d' % (row, n, page_no))
        raw = struct.unpack_from('<H', p, hdr + 2 + 2 * row)[0]
        start = raw & 0x1FFF
        end = self.page_size if row == 0 else struct.unpack_from('<H', p, hdr + 2 * row)[0] & 0x1FFF
        b = p[start:end]
        if raw & 0x4000 and hops < 4:
            ptr = struct.unpack_from('<I', b, 0)[0]
            return self.row_bytes(ptr >> 8, ptr & 0xFF, hops + 1)
        return b


FIXED_SIZES = {1: 0, 2: 1, 3: 2, 4: 4, 5: 8, 6: 4, 7: 8, 8: 8, 0xF: 16, 0x10: 17, 0x12: 4, 0x13: 8, 0x14: 42}


class Column:
    pass


class PhysIndex:
    pass


class Tdef:
    def __init__(self, f, b, page):
        self.f, self.b, self.page = f, b, page
        j3 = f.jet3
        if j3:
            self.num_cols = struct.unpack_from('<H', b, 0x19)[0]
            self.num_idx, self.num_real = struct.unpack_from('<II', b, 0x1B)
            off = 0x2B + 8 * self.num_real
        else:
            self.num_cols = struct.unpack_from('<H', b, 0x2D)[0]
            self.num_idx, self.num_real = struct.unpack_from('<II', b, 0x2F)
            off = 0x3F + 12 * self.num_real
        self.columns = []
        for _ in range(self.num_cols):
            c = Column()
            if j3:
                c.type = b[off]
                c.num, c.var_slot = struct.unpack_from('<HH', b, off + 1)
                c.lcid = struct.unpack_from('<H', b, off + 9)[0]
                c.sort_version = 0
                c.flags = b[off + 13]
                c.fixed_offset, c.length = struct.unpack_from('<HH', b, off + 14)
                off += 18
            else:
                c.type = b[off]
                c.num, c.var_slot = struct.unpack_from('<HH', b, off + 5)
                c.lcid = struct.unpack_from('<H', b, off + 11)[0]
                c.sort_version = b[off + 14]
                c.flags = b[off + 15]
                c.fixed_offset, c.length = struct.unpack_from('<HH', b, off + 21)
                off += 25
            self.columns.append(c)
        for c in self.columns:
            if j3:
                ln = b[off]; off += 1
                c.name = b[off:off + ln].decode('cp1252', 'replace'); off += ln
            else:
                ln = struct.unpack_from('<H', b, off)[0]; off += 2
                c.name = b[off:off + ln].decode('utf-16-le', 'replace'); off += ln
        self.indexes = []
        for _ in range(self.num_real):
            ix = PhysIndex()
            base = off if j3 else off + 4
            ix.cols = []
            for s in range(10):
                num, fl = struct.unpack_from('<HB', b, base + 3 * s)
                if num != 0xFFFF:
                    ix.cols.append((num, fl))
            ix.root = struct.unpack_from('<I', b, base + 34)[0]
            ix.flags = b[base + 38] if j3 else b[off + 46]
            off += 39 if j3 else 52
            self.indexes.append(ix)
        self.by_num = {c.num: c for c in self.columns}

    def value(self, row, col):
        """Raw bytes of a variable column's value in a row, or None for NULL."""
        j3 = self.f.jet3
        L = len(row)
        ncols = row[0] if j3 else struct.unpack_from('<H', row, 0)[0]
        if col.num >= ncols:
            return None
        m = (ncols + 7) // 8
        mask = row[L - m:]
        if not (mask[col.num // 8] >> (col.num % 8)) & 1:
            return None
        if col.flags & 1:
            size = FIXED_SIZES.get(col.type, col.length)
            o = (1 if j3 else 2) + col.fixed_offset
            return row[o:o + size]
        if j3:
            end = L - 1
            n = row[end - m]
            J = (L - 1) // 256
            off0 = end - m - J - 1
            if ((off0 - n) // 256) < J:
                J -= 1
            used = 0
            offs = []
            for i in range(n + 1):
                while used < J and row[end - m - 1 - used] == i:
                    used += 1
                offs.append(row[off0 - i] + 256 * used)
        else:
            n = struct.unpack_from('<H', row, L - m - 2)[0]
            offs = [struct.unpack_from('<H', row, L - m - 4 - 2 * i)[0] for i in range(n + 1)]
        if col.var_slot >= n:
            return None
        return row[offs[col.var_slot]:offs[col.var_slot + 1]]


def decode_jet4_text(b):
    """UTF-16 code units of a Jet4 text value (plain or compressed)."""
    if len(b) >= 2 and b[0] == 0xFF and b[1] == 0xFE:
        out = []
        i, compressed = 2, True
        while i < len(b):
            if b[i] == 0:
                compressed = not compressed
                i += 1
            elif compressed:
                out.append(b[i]); i += 1
            else:
                if i + 1 >= len(b):
                    break
                out.append(b[i] | (b[i + 1] << 8)); i += 2
        return out
    return [b[i] | (b[i + 1] << 8) for i in range(0, len(b) - 1, 2)]


def index_entries(f, ix):
    """Ordered full entries (key bytes, page, row) of an index, leaves only."""
    out = []
    hdr_mask, entries_at, prefix_at = (0x16, 0xF8, 0x14) if f.jet3 else (0x1B, 0x1E0, 0x18)
    seen = set()

    def page_entries(n):
        p = f.page(n)
        P = p[prefix_at] if f.jet3 else struct.unpack_from('<H', p, prefix_at)[0]
        res, start, first = [], entries_at, None
        for pos in range(entries_at, f.page_size):
            k = pos - entries_at
            mb = hdr_mask + k // 8
            if mb >= entries_at:
                break
            if (p[mb] >> (k % 8)) & 1:
                e = p[start:pos + 1] if False else p[start:pos]
                start = pos
                if first is None:
                    first = e
                else:
                    e = first[:P] + e
                res.append(e)
        return p[0], res, struct.unpack_from('<I', p, 0x10 if f.jet3 else 0x14)[0]

    def walk(n, depth):
        if n in seen or depth > 8:
            raise ValueError('cycle')
        seen.add(n)
        typ, ents, tail = page_entries(n)
        if typ == 4:
            for e in ents:
                out.append((bytes(e[:-4]), int.from_bytes(e[-4:-1], 'big'), e[-1]))
        else:
            for e in ents:
                walk(int.from_bytes(e[-4:], 'big'), depth + 1)
            if tail:
                walk(tail, depth + 1)
    walk(ix.root, 0)
    return out
