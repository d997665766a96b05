#!/usr/bin/env python3
"""Convert the reference text index code tables into the engine's generated C++ tables.

Usage: convert_reference_tables.py REFERENCE_DIR [OUTPUT_DIR] [--raw]

REFERENCE_DIR holds the per-character code tables of the three text sort orders
(index_codes_gen_97.txt, index_mappings_ext_gen_97.txt, index_codes_genleg.txt,
index_codes_ext_genleg.txt, index_codes_gen.txt, index_codes_ext_gen.txt, plus the
LICENSE-jackcess.txt and NOTICE-jackcess.txt they are distributed under). OUTPUT_DIR
defaults to the jet/ folder beside this script's tools/ folder. Written there:

  sort_order_tables_general97.inc       General 97 (Jet3), per code-page byte,
                                        and the code units above 0xFF that map onto a byte
  sort_order_tables_general_legacy.inc  General legacy (Jet4 to ACE12, version 0), per UTF-16 unit
  sort_order_tables_general.inc         General (ACE14+, version 1), per UTF-16 unit
  sort_order_tables.LICENSE / .NOTICE   the licence and notice of the source tables

Line format of the source tables: a kind letter, then comma-separated fields of hex
digits. A field with an odd number of digits lost its leading zero ("E" is 0x0E,
"E74" is 0E 74): the tables were written as numbers, so every field is zero-padded on
the left to whole bytes. The corpus keys agree (U+00C0 "I4A,F" stores extra byte 0x0F).

Each generated table is a few arrays the engine expands once into a 65,536-slot index
(jet/index/sort_order_table.cpp):
  k<Order>Records  one record per distinct code: [kind | flag << 4] [primary length |
                   secondary length << 4] primary bytes, secondary bytes
  k<Order>Runs     {first unit, last unit, first record, step}: units first..last use
                   record, record + step, record + 2 * step, ... (step 0 or 1)
  k<Order>Corrections  the units whose code was corrected (CORRECTIONS below)
Kinds: 0 simple, 1 international, 2 unprintable, 3 unprintable extension (P, the
secondary byte is the modifier), 4 international extended (Z, flag 2 or 3),
5 significant (General 97), 6 ignored. Surrogate units have no record (the engine
computes them); the generated runs leave them out.

--raw writes the reference codes as they are, without the corrections below (to see
what the corpus keys say about an uncorrected entry).
"""
import os
import sys

KINDS = {'S': 0, 'I': 1, 'U': 2, 'P': 3, 'Z': 4, 'G': 5, 'X': 6}
KIND_NAMES = ['simple', 'international', 'unprintable', 'unprintable extension',
              'international extended', 'significant', 'ignored']
SOURCE_COMMIT = '7a3433dc34cfb8d68b2530215b1027b4dec4bdde'

# Entries where stored keys of the corpus contradict the reference code. Each is
# (unit, reference line, line used, evidence). Kept short and explained: the rest of
# the table is taken as it is.
CORRECTIONS = {
    'general97': [
        (0x00, 'X', 'S10',
         'nwind.mdb, MSysModules2 index 0: a value ending in byte 0x00 is stored as 6D 72 62 6C 10 00, '
         'the byte coded 0x10 like the other control bytes; the source table ignores it'),
    ],
}


def field_bytes(field):
    """Bytes of one hex field; an odd digit count means a dropped leading zero."""
    if field == '':
        return b''
    if any(c not in '0123456789abcdefABCDEF' for c in field):
        raise ValueError('not a hex field: %r' % field)
    if len(field) % 2:
        field = '0' + field
    return bytes.fromhex(field)


def parse_line(line, where):
    """(kind, flag, primary bytes, secondary bytes) of one table line."""
    if not line or line[0] not in KINDS:
        raise ValueError('%s: unknown kind in %r' % (where, line))
    letter = line[0]
    fields = line[1:].split(',') if len(line) > 1 else []
    expected = {'S': 1, 'I': 2, 'U': 1, 'P': 1, 'Z': 3, 'G': 1, 'X': 0}[letter]
    if len(fields) != expected:
        raise ValueError('%s: %d fields in %r, expected %d' % (where, len(fields), line, expected))
    flag = 0
    primary = secondary = b''
    if letter in 'SUG':
        primary = field_bytes(fields[0])
        if not primary:
            raise ValueError('%s: empty code in %r' % (where, line))
    elif letter == 'I':
        primary, secondary = field_bytes(fields[0]), field_bytes(fields[1])
        if not primary or not secondary:
            raise ValueError('%s: empty code in %r' % (where, line))
    elif letter == 'P':
        secondary = field_bytes(fields[0])
        if len(secondary) != 1:
            raise ValueError('%s: a modifier is one byte: %r' % (where, line))
    elif letter == 'Z':
        primary, secondary = field_bytes(fields[0]), field_bytes(fields[1])
        if not primary:
            raise ValueError('%s: empty code in %r' % (where, line))
        # Flag "1" selects the first of the two marker codes (2), anything else the second (3).
        flag = 2 if fields[2] == '1' else 3
    if len(primary) > 15 or len(secondary) > 15:
        raise ValueError('%s: code too long in %r' % (where, line))
    return KINDS[letter], flag, primary, secondary


def read_lines(path):
    with open(path, encoding='ascii') as fh:
        lines = fh.read().split('\n')
    while lines and lines[-1] == '':
        lines.pop()
    return lines


def load_unicode_order(reference, base, ext):
    """unit -> line for every UTF-16 unit but the surrogates."""
    table = {}
    lines = read_lines(os.path.join(reference, base))
    if len(lines) != 256:
        raise ValueError('%s: %d lines, expected 256' % (base, len(lines)))
    for unit, line in enumerate(lines):
        table[unit] = line
    ext_lines = read_lines(os.path.join(reference, ext))
    units = [u for u in range(0x100, 0x10000) if not 0xD800 <= u <= 0xDFFF]
    if len(ext_lines) != len(units):
        raise ValueError('%s: %d lines, expected %d' % (ext, len(ext_lines), len(units)))
    for unit, line in zip(units, ext_lines):
        table[unit] = line
    return table


def load_general97(reference):
    lines = read_lines(os.path.join(reference, 'index_codes_gen_97.txt'))
    if len(lines) != 256:
        raise ValueError('index_codes_gen_97.txt: %d lines, expected 256' % len(lines))
    mapping = []
    for line in read_lines(os.path.join(reference, 'index_mappings_ext_gen_97.txt')):
        line = line.strip()
        if not line:
            continue
        unit, byte = (int(x) for x in line.split(','))
        if not 0x100 <= unit <= 0xFFFF or not 0x80 <= byte <= 0xFF:
            raise ValueError('mapping out of range: %r' % line)
        mapping.append((unit, byte))
    mapping.sort()
    if len({u for u, _ in mapping}) != len(mapping):
        raise ValueError('a unit is mapped twice')
    return dict(enumerate(lines)), mapping


def apply_corrections(order, table, raw):
    applied = []
    for unit, reference_line, used, evidence in CORRECTIONS.get(order, []):
        if table.get(unit) != reference_line:
            raise ValueError('%s U+%04X: the reference now says %r, not %r: review the correction'
                             % (order, unit, table.get(unit), reference_line))
        if not raw:
            table[unit] = used
            applied.append((unit, reference_line, used, evidence))
    return applied


def build(table):
    """(records as bytes, record count, runs) of unit -> line."""
    record_of_line = {}
    records = bytearray()
    count = 0
    slots = {}
    for unit in sorted(table):
        line = table[unit]
        if line not in record_of_line:
            kind, flag, primary, secondary = parse_line(line, 'U+%04X' % unit)
            record_of_line[line] = count
            records += bytes([kind | (flag << 4), len(primary) | (len(secondary) << 4)]) + primary + secondary
            count += 1
        slots[unit] = record_of_line[line]
    runs = []
    units = sorted(slots)
    i = 0
    while i < len(units):
        first = units[i]
        record = slots[first]
        step = 0
        j = i + 1
        if j < len(units) and units[j] == first + 1 and slots[units[j]] in (record, record + 1):
            step = slots[units[j]] - record
            while j < len(units) and units[j] == first + (j - i) and slots[units[j]] == record + step * (j - i):
                j += 1
        runs.append((first, units[j - 1], record, step))
        i = j
    return bytes(records), count, runs


def c_string_lines(data, width=100):
    """The bytes as C++ string literal lines: printable ASCII as itself, the rest as
    three-digit octal escapes (never longer than three digits, so a digit after one
    cannot be taken into it)."""
    lines = []
    cur = ''
    for b in data:
        if 0x20 <= b <= 0x7E and chr(b) not in '"\\?':
            piece = chr(b)
        else:
            piece = '\\%03o' % b
        if len(cur) + len(piece) > width:
            lines.append('"%s"' % cur)
            cur = ''
        cur += piece
    if cur or not lines:
        lines.append('"%s"' % cur)
    return lines


def header(order_title, sources, applied, raw):
    lines = [
        '// %s text index codes. Generated by tools/sort_orders/convert_reference_tables.py' % order_title,
        '// from %s of the Jackcess project' % ', '.join(sources),
        '// (https://github.com/jahlborn/jackcess, src/main/resources, commit %s),' % SOURCE_COMMIT,
        '// licensed under the Apache License, Version 2.0: see sort_order_tables.LICENSE and',
        '// sort_order_tables.NOTICE beside this file. Do not edit: rerun the converter.',
        '// Records and runs are described in the converter and in jet/index/sort_order_table.cpp.',
    ]
    if raw:
        lines.append('// RAW: written with --raw, without the corrections the corpus keys call for.')
    for unit, reference_line, used, evidence in applied:
        lines.append('// Corrected: unit 0x%04X is "%s" here, "%s" in the source table (%s).'
                     % (unit, used, reference_line, evidence))
    return lines


def write_order(path, name, title, sources, table, applied, raw, extra_lines=()):
    records, count, runs = build(table)
    out = header(title, sources, applied, raw)
    out.append('inline constexpr std::size_t k%sRecordCount = %d;' % (name, count))
    out.append('inline constexpr unsigned char k%sRecords[] =' % name)
    out += ['    ' + s for s in c_string_lines(records)]
    out[-1] += ';'
    out.append('inline constexpr SortCodeRun k%sRuns[] = {' % name)
    row = []
    for first, last, record, step in runs:
        row.append('{0x%04X, 0x%04X, %d, %d},' % (first, last, record, step))
        if len(row) == 4:
            out.append('    ' + ' '.join(row))
            row = []
    if row:
        out.append('    ' + ' '.join(row))
    out.append('};')
    out.append('// Units whose code differs from the source table (corrected from corpus keys).')
    out.append('inline constexpr std::array<std::uint16_t, %d> k%sCorrections = {%s};'
               % (len(applied), name, ', '.join('0x%04X' % u for u, _, _, _ in applied)))
    out += list(extra_lines)
    with open(path, 'w', encoding='ascii') as fh:
        fh.write('\n'.join(out) + '\n')
    return count, len(records), len(runs)


def copy_text(src, dst, prefix=''):
    with open(src, encoding='utf-8') as fh:
        text = fh.read()
    with open(dst, 'w', encoding='utf-8') as fh:
        fh.write(prefix + text)


def main(argv):
    args = [a for a in argv[1:] if not a.startswith('--')]
    raw = '--raw' in argv[1:]
    if not args or len(args) > 2:
        print(__doc__)
        return 2
    reference = args[0]
    out_dir = args[1] if len(args) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'jet', 'index')

    g97, mapping = load_general97(reference)
    applied = apply_corrections('general97', g97, raw)
    mapping_lines = ['// Code units above 0xFF that General 97 encodes as a code-page byte: {unit, byte}.',
                     'inline constexpr General97Mapping kGeneral97Mappings[] = {']
    row = []
    for unit, byte in mapping:
        row.append('{0x%04X, 0x%02X},' % (unit, byte))
        if len(row) == 6:
            mapping_lines.append('    ' + ' '.join(row))
            row = []
    if row:
        mapping_lines.append('    ' + ' '.join(row))
    mapping_lines.append('};')
    stats = {}
    stats['General 97'] = write_order(os.path.join(out_dir, 'sort_order_tables_general97.inc'), 'General97',
                                      'General 97 (Jet3)',
                                      ['index_codes_gen_97.txt', 'index_mappings_ext_gen_97.txt'], g97, applied, raw,
                                      mapping_lines)
    for order, name, title, base, ext, fname in (
            ('general_legacy', 'GeneralLegacy', 'General legacy (Jet4 to ACE12, sort version 0)',
             'index_codes_genleg.txt', 'index_codes_ext_genleg.txt', 'sort_order_tables_general_legacy.inc'),
            ('general', 'General', 'General (ACE14+, sort version 1)',
             'index_codes_gen.txt', 'index_codes_ext_gen.txt', 'sort_order_tables_general.inc')):
        table = load_unicode_order(reference, base, ext)
        applied = apply_corrections(order, table, raw)
        stats[title.split(' (')[0]] = write_order(os.path.join(out_dir, fname), name, title, [base, ext], table,
                                                  applied, raw)

    copy_text(os.path.join(reference, 'LICENSE-jackcess.txt'), os.path.join(out_dir, 'sort_order_tables.LICENSE'))
    copy_text(os.path.join(reference, 'NOTICE-jackcess.txt'), os.path.join(out_dir, 'sort_order_tables.NOTICE'),
              'The text index code tables in sort_order_tables_general97.inc, sort_order_tables_general_legacy.inc\n'
              'and sort_order_tables_general.inc are derived (by tools/sort_orders/convert_reference_tables.py)\n'
              'from the index code resource files of Jackcess (https://github.com/jahlborn/jackcess,\n'
              'commit %s), Copyright (c) 2008 Health Market Science, Inc. and James Ahlborn,\n'
              'licensed under the Apache License, Version 2.0 (sort_order_tables.LICENSE).\n'
              'The NOTICE file of Jackcess follows.\n\n' % SOURCE_COMMIT)
    for title, (count, size, runs) in stats.items():
        print('%s: %d distinct records, %d record bytes, %d runs' % (title, count, size, runs))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
