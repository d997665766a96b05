#!/usr/bin/env python3
"""Derive the text sort-order character tables from the indexes of real Access files.

Usage: derive_sort_orders.py CORPUS_DIR OUTPUT_DIR

Every ascending or descending index on a single Text column is a list of
(value, stored key) pairs. The tables start empty; a character is learnt when it is
the only unknown character of a value and exactly one table entry makes the key
assembly rules (sort_rules.py) reproduce the stored key for every such value. A first
pass seeds plain one-byte-per-character values. At the end every pair whose characters
are all known is re-encoded and must match; the generator stops on any mismatch.

Output: sort_order_tables_general97.inc, sort_order_tables_general_legacy.inc and
sort_order_tables_general.inc (C++ initialisers for jet/sort_order_table.h), plus a
coverage summary on standard output. Characters never seen stay out of the tables:
the engine reports them as unsupported rather than guessing.
"""
import glob
import os
import sys
from collections import defaultdict

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from jetscan import JetFile, index_entries, decode_jet4_text, FIXED_SIZES  # noqa: E402
import sort_rules  # noqa: E402


def collect(corpus):
    """pairs[family] = list of (value as tuple of units/bytes, key without flag byte, source)."""
    pairs = defaultdict(list)
    for path in sorted(glob.glob(os.path.join(corpus, '*', '*.*db'))):
        f = JetFile(path)
        for tp in f.tdef_pages():
            t = f.tdef(tp)
            for ix in t.indexes:
                # The text column must be the last one, after fixed-size columns whose
                # segments have a known length (flag byte + value, or the flag alone for NULL).
                num, flag = ix.cols[-1]
                col = t.by_num.get(num)
                if col is None or col.type != 0x0A:
                    continue
                lead = [t.by_num.get(n) for n, _ in ix.cols[:-1]]
                if any(c is None or c.type not in FIXED_SIZES or c.type in (1, 0xF) for c in lead):
                    continue
                if f.jet3:
                    family = 'general97'
                else:
                    family = 'general' if col.sort_version == 1 else 'general_legacy'
                    if flag != 1:
                        continue  # descending Jet4+ text: the assembly rule is unverified
                for key, pg, r in index_entries(f, ix):
                    row = f.row_bytes(pg, r)
                    v = t.value(row, col)
                    if v is None or not key:
                        continue
                    skip = sum(1 if t.value(row, c) is None else 1 + FIXED_SIZES[c.type] for c in lead)
                    key = key[skip:]
                    if flag != 1:
                        key = bytes(255 - b for b in key)
                    key = key[1:]
                    value = tuple(v) if f.jet3 else tuple(decode_jet4_text(v))
                    pairs[family].append((value, key, os.path.basename(path)))
    return pairs


def encoder(family):
    if family == 'general97':
        def enc(value, table):
            return sort_rules.encode_general97(value, table, sort_rules.g97_significant_codes(table))
    else:
        def enc(value, table):
            return sort_rules.encode_general(list(value), table)
    return enc


def hypotheses(family, key):
    subs = {b''}
    for n in (1, 2):
        for i in range(len(key) - n + 1):
            subs.add(key[i:i + n])
    yield ('ignored',)
    for s in subs:
        if s:
            yield ('simple', s)
    if family == 'general97':
        for s in subs:
            if len(s) == 1:
                for acc in range(1, 16):
                    yield ('intl', s, acc)
    else:
        bytes_in_key = {key[i:i + 1] for i in range(len(key))}
        for s in subs:
            if s:
                yield ('unprintable', s)
                for x in bytes_in_key:
                    yield ('intl', s, x)


def is_surrogate(family, c):
    return family != 'general97' and 0xD800 <= c <= 0xDFFF


def unknown_chars(family, value, table):
    return {c for c in value if c not in table and not is_surrogate(family, c)}


def seed(family, pairs, table):
    votes = defaultdict(set)
    for value, key, _ in pairs:
        v = list(value)
        while v and v[-1] == 0x20:
            v.pop()
        tail = b'\x00' if family == 'general97' else b'\x01\x00'
        if not key.endswith(tail) or any(is_surrogate(family, c) for c in v):
            continue
        inline = key[:-len(tail)]
        if family != 'general97' and b'\x01' in inline:
            continue
        for width in (1, 2):  # General legacy uses one byte per letter, General two
            if v and len(inline) == width * len(v):
                for i, c in enumerate(v):
                    votes[c].add(inline[width * i:width * (i + 1)])
    for c, bs in votes.items():
        if len(bs) == 1:
            table[c] = ('simple', next(iter(bs)))


def solve(family, pairs):
    enc = encoder(family)
    table = {}
    seed(family, pairs, table)
    # Seeds can be wrong (a two-byte character beside an ignored one); keep only those
    # confirmed by every fully-known pair.
    for c in list(table):
        for value, key, _ in pairs:
            if c in value and not unknown_chars(family, value, table):
                try:
                    ok = enc(value, table) == key
                except KeyError:
                    ok = False
                if not ok:
                    del table[c]
                    break
    progress = True
    while progress:
        progress = False
        candidates = {}
        for value, key, _ in pairs:
            unk = unknown_chars(family, value, table)
            if len(unk) != 1:
                continue
            (c,) = unk
            fits = set()
            for h in hypotheses(family, key):
                table[c] = h
                try:
                    if enc(value, table) == key:
                        fits.add(h)
                except KeyError:
                    pass
                del table[c]
            candidates[c] = fits if c not in candidates else candidates[c] & fits
        for c, fits in candidates.items():
            if len(fits) == 1:
                table[c] = next(iter(fits))
                progress = True
            elif len(fits) > 1:
                # Prefer the plainest explanation when several fit (e.g. simple over intl with a
                # placeholder-like extra byte); it is checked against every pair below anyway.
                order = {'simple': 0, 'intl': 1, 'unprintable': 2, 'ignored': 3}
                table[c] = sorted(fits, key=lambda h: (order[h[0]], len(h[1]) if len(h) > 1 else 0, h))[0]
                progress = True
    return table


def verify(family, pairs, table):
    enc = encoder(family)
    checked = bad = skipped = 0
    for value, key, src in pairs:
        if unknown_chars(family, value, table):
            skipped += 1
            continue
        checked += 1
        got = enc(value, table)
        if got != key:
            bad += 1
            print('  MISMATCH %s %r: stored %s, rules give %s' % (src, value, key.hex(' '), got.hex(' ')))
    return checked, bad, skipped


def cpp_bytes(b):
    return '{' + ', '.join('0x%02X' % x for x in b) + '}'


def write_table(family, table, out_dir, sources):
    kinds = {'simple': 'Simple', 'intl': 'International', 'unprintable': 'Unprintable', 'ignored': 'Ignored'}
    lines = ['// Generated by tools/sort_orders/derive_sort_orders.py from the indexes of %s.' % sources,
             '// Do not edit: rerun the generator. One entry per character seen in an index;',
             '// characters absent here are reported as unsupported by the encoder.',
             '// {character, kind, inline byte count, inline bytes, extra}']
    for c in sorted(table):
        e = table[c]
        inline = e[1] if len(e) > 1 else b''
        if e[0] == 'intl':
            extra = e[2] if isinstance(e[2], int) else e[2][0]
        else:
            extra = 0
        if len(inline) > 3:
            raise SystemExit('inline longer than 3 bytes for %r' % c)
        padded = inline + b'\x00' * (3 - len(inline))
        lines.append('{0x%04X, SortCharKind::%s, %d, %s, 0x%02X},' % (
            c, kinds[e[0]], len(inline), cpp_bytes(padded), extra))
    with open(os.path.join(out_dir, 'sort_order_tables_%s.inc' % family), 'w') as fh:
        fh.write('\n'.join(lines) + '\n')


def main():
    corpus, out_dir = sys.argv[1], sys.argv[2]
    pairs = collect(corpus)
    failed = False
    for family in ('general97', 'general_legacy', 'general'):
        ps = pairs.get(family, [])
        table = solve(family, ps)
        distinct = set()
        for value, _, _ in ps:
            distinct.update(c for c in value if not is_surrogate(family, c))
        print('%s: %d values, %d distinct characters, %d derived' % (family, len(ps), len(distinct), len(table)))
        missing = sorted(distinct - set(table))
        if missing:
            print('  not derivable from these files: ' + ' '.join('%04X' % c for c in missing))
        checked, bad, skipped = verify(family, ps, table)
        print('  re-encoded %d values, %d mismatches, %d with underived characters' % (checked, bad, skipped))
        failed |= bad > 0
        srcs = sorted({s for _, _, s in ps})
        write_table(family, table, out_dir, ', '.join(srcs) if len(srcs) < 4 else '%d corpus files' % len(srcs))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
