"""Text key assembly rules of the two sort-order families, driven by a character table.

Table entries (per General 97 byte or per UTF-16 code unit):
  ('simple', inline_bytes)            emits inline bytes only
  ('intl', inline_bytes, extra)       General 97: extra = accent nibble; Jet4+: extra byte(s)
  ('unprintable', code_bytes)         Jet4+ only: no inline bytes, an unprintable record
  ('ignored',)                        emits nothing
A character missing from the table raises KeyError.
"""

SURROGATE_EXTRA = b'\x3f'


def g97_significant_codes(table):
    return {e[1][0] for e in table.values() if e[0] == 'intl' and e[1]}


def encode_general97(data, table, significant):
    """Key bytes (without flag byte) of a Jet3 text value given as code-page bytes."""
    data = bytes(data).rstrip(b' ')
    inline = bytearray()
    nibbles = []
    sig = 0
    any_intl = False
    for b in data:
        e = table[b]
        if e[0] == 'ignored':
            continue
        inline += e[1]
        if e[0] == 'intl':
            any_intl = True
            nibbles += [2] * sig + [e[2]]
            sig = 0
        else:
            sig += sum(1 for c in e[1] if c in significant)
    if not any_intl:
        return bytes(inline) + b'\x00'
    stream = [0] + nibbles + [0]
    if len(stream) % 2:
        stream.append(0)
    return bytes(inline) + bytes((stream[i] << 4) | stream[i + 1] for i in range(0, len(stream), 2))


def surrogate_inline(u):
    if 0xD800 <= u <= 0xDBFF:
        return (u - 10238).to_bytes(2, 'big')
    r = (u - 0xDC00) % 1024
    d = 9992 if r < 8 else 9990 if r < 262 else 9988 if r < 516 else 9986 if r < 770 else 9984
    return (u - d).to_bytes(2, 'big')


def encode_general(units, table):
    """Key bytes (without flag byte) of a Jet4+ text value given as UTF-16 code units."""
    while units and units[-1] == 0x20:
        units = units[:-1]
    units = units[:255]
    inline = bytearray()
    extra = []           # one item (bytes) per inline-producing character
    has_extra = False
    records = []
    pos = 0
    for u in units:
        if 0xD800 <= u <= 0xDFFF:
            e = ('intl', surrogate_inline(u), SURROGATE_EXTRA)
        else:
            e = table[u]
        if e[0] == 'ignored':
            continue
        if e[0] == 'unprintable':
            records.append((pos, e[1]))
            continue
        inline += e[1]
        pos += 1
        if e[0] == 'intl':
            extra.append(e[2])
            has_extra = True
        else:
            extra.append(b'\x02')
    out = bytearray(inline) + b'\x01'
    if has_extra:
        stream = bytearray(b''.join(extra))
        while stream and stream[-1] <= 2:
            stream.pop()
        out += stream
    if records:
        out += b'\x01\x01\x01'
        for p, code in records:
            out += (0x8000 | (7 + 4 * p)).to_bytes(2, 'big') + b'\x06' + code
    out += b'\x00'
    return bytes(out)
