#!/usr/bin/env python3
"""Derive the text sort-order character tables from the indexes of real Access files.

A cross-check, not the source of the shipped tables: those are converted from the
reference code tables by convert_reference_tables.py. This tool learns what the
corpus keys alone show, to compare with them.

Usage: derive_sort_orders.py CORPUS_DIR OUTPUT_DIR   (a scratch folder, never jet/)

Every ascending or descending index on a single Text column is a list of
(value, stored key) pairs. The tables start empty; a character is learnt when it is
the only unknown character of a value and exactly one table entry makes the key
assembly rules (sort_rules.py) reproduce the stored key for every such value. A first
pass seeds plain one-byte-per-character values. At the end every pair whose characters
are all known is re-encoded and must match; the generator stops on any mismatch.

Output (in the engine's former table format, for reading and comparing only):
sort_order_tables_general97.inc, sort_order_tables_general_legacy.inc and
sort_order_tables_general.inc (C++ initialisers for jet/index/sort_order_table.h), plus a
coverage summary on standard output. Characters never seen stay out of the tables:
the engine reports them as unsupported rather than guessing.
"""
import glob
import os
import sys
import unicodedata
from collections import defaultdict

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from jetscan import JetFile, index_entries, decode_jet4_text, FIXED_SIZES  # noqa: E402
import sort_rules  # noqa: E402


class Pair:
    __slots__ = ('value', 'key', 'source', 'partial')

    def __init__(self, value, key, source, partial):
        self.value, self.key, self.source, self.partial = value, key, source, partial

    def __iter__(self):
        return iter((self.value, self.key, self.source))

    def matches(self, encoded):
        return self.key.startswith(encoded) if self.partial else self.key == encoded


def collect(corpus):
    """pairs[family] = list of (value as tuple of units/bytes, key without flag byte, source)."""
    pairs = defaultdict(list)
    for path in sorted(glob.glob(os.path.join(corpus, '*', '*.*db'))):
        f = JetFile(path)
        for tp in f.tdef_pages():
            t = f.tdef(tp)
            for ix in t.indexes:
                # A text column after fixed-size columns only, whose segments have a known
                # length (flag byte + value, or the flag alone for NULL). When more columns
                # follow, the pair is partial: the rebuilt key must be a prefix of the stored one.
                for pos, (num, flag) in enumerate(ix.cols):
                    col = t.by_num.get(num)
                    if col is None or col.type != 0x0A:
                        continue
                    lead = [t.by_num.get(n) for n, _ in ix.cols[:pos]]
                    if any(c is None or c.type not in FIXED_SIZES or c.type in (1, 0xF) for c in lead):
                        break
                    partial = pos + 1 < len(ix.cols)
                    if f.jet3:
                        family = 'general97'
                    else:
                        family = 'general' if col.sort_version == 1 else 'general_legacy'
                        if flag != 1:
                            break  # descending Jet4+ text: the assembly rule is unverified
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
                        pairs[family].append(Pair(value, key, os.path.basename(path), partial))
                    break
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
    for pair in pairs:
        if pair.partial:
            continue
        value, key = pair.value, pair.key
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


def parse_general_key(key):
    """Splits a Jet4+ text key into inline bytes, extra items and unprintable records.

    Returns None for keys this parser does not understand (international-extended
    flags, modifiers), which then only take part through the per-value search."""
    if not key.endswith(b'\x00'):
        return None
    end = key.index(b'\x01') if b'\x01' in key else -1
    if end < 0:
        return None
    inline, rest = key[:end], key[end + 1:-1]
    records = []
    if b'\x01\x01\x01' in rest:
        cut = rest.index(b'\x01\x01\x01')
        extra, tail = rest[:cut], rest[cut + 3:]
        # Records: u16 0x8000 | (7 + 4p), 0x06, then one code byte (two when the next
        # record cannot start right after it).
        i = 0
        while i < len(tail):
            if i + 3 >= len(tail) + 0 and i + 3 > len(tail) - 1 or tail[i] & 0x80 == 0:
                return None
            tag = (tail[i] << 8) | tail[i + 1]
            if tail[i + 2] != 0x06 or (tag & 0x7FFF) < 7 or ((tag & 0x7FFF) - 7) % 4:
                return None
            j = i + 3
            k = j + 1
            while k < len(tail) and not (tail[k] & 0x80 and k + 2 < len(tail) and tail[k + 2] == 0x06):
                k += 1
            records.append((((tag & 0x7FFF) - 7) // 4, bytes(tail[j:k])))
            i = k
    else:
        if b'\x01' in rest:
            return None
        extra = rest
    return bytes(inline), bytes(extra), records


def base_inline(c, table):
    """Inline bytes of the base letter of an accented letter (é -> e), when known.

    The format notes: an international character emits the inline code of its base
    letter plus an extra code. Unicode's canonical decomposition names the base."""
    d = unicodedata.normalize('NFD', chr(c))
    if len(d) < 2 or not all(unicodedata.combining(m) for m in d[1:]):
        return None
    e = table.get(ord(d[0]))
    if e is None or e[0] != 'simple':
        return None
    return e[1]


def align_general(value, key, table):
    """Character entries forced by the key structure of one value: every way of reading
    the key is explored and a character is learnt when all readings agree on it."""
    parsed = parse_general_key(key)
    if parsed is None:
        return {}
    inline, extra, records = parsed
    v = list(value)
    while v and v[-1] == 0x20:
        v.pop()
    n = len(v)
    # Every inline-producing character has an extra item unless trailing placeholders
    # were trimmed; when items and records already account for every character, none
    # of them can be an ignored one (this keeps the search small).
    may_ignore = not (extra and extra[-1] > 2 and len(extra) + len(records) == n)
    based = set()

    def options(i, j, r, pos):
        c = v[i]
        known = table.get(c)
        cands = []
        if 0xD800 <= c <= 0xDFFF:
            cands.append(('intl', sort_rules.surrogate_inline(c), sort_rules.SURROGATE_EXTRA))
        elif known is not None:
            cands.append(known)
        else:
            if may_ignore:
                cands.append(('ignored',))
            if r < len(records) and records[r][0] == pos:
                cands.append(('unprintable', records[r][1]))
            base = base_inline(c, table)
            if base:
                based.add(c)
            widths = (len(base),) if base else (1, 2)
            for w in widths:
                if j + w <= len(inline) and b'\x01' not in inline[j:j + w]:
                    if base and inline[j:j + w] != base:
                        continue
                    x = extra[pos:pos + 1]
                    if not x or x[0] <= 2:
                        cands.append(('simple', inline[j:j + w]))
                    else:
                        cands.append(('intl', inline[j:j + w], x))
        out = []
        for e in cands:
            if e[0] == 'ignored':
                out.append((e, (i + 1, j, r, pos)))
            elif e[0] == 'unprintable':
                if r < len(records) and records[r] == (pos, e[1]):
                    out.append((e, (i + 1, j, r + 1, pos)))
            else:
                w = len(e[1])
                if inline[j:j + w] != e[1]:
                    continue
                x = extra[pos:pos + 1]
                want = e[2] if e[0] == 'intl' else b'\x02'
                if x and x != want:
                    continue
                if not x and e[0] == 'intl' and want[0] > 2:
                    continue
                out.append((e, (i + 1, j + w, r, pos + 1)))
        return out

    start, goal_ok = (0, 0, 0, 0), lambda s: s[0] == n and s[1] == len(inline) and s[2] == len(records) and s[3] >= len(extra)
    edges = {}
    frontier, seen = [start], {start}
    while frontier:
        nxt = []
        for st in frontier:
            if st[0] == n:
                continue
            es = options(*st)
            edges[st] = es
            for _, t in es:
                if t not in seen:
                    seen.add(t)
                    nxt.append(t)
        frontier = nxt
        if len(seen) > 200000:
            return {}
    alive = {s for s in seen if goal_ok(s)}
    changed = True
    while changed:
        changed = False
        for st, es in edges.items():
            if st not in alive and any(t in alive for _, t in es):
                alive.add(st)
                changed = True
    if start not in alive:
        return {}
    used = defaultdict(set)
    for st, es in edges.items():
        if st in alive:
            for e, t in es:
                if t in alive:
                    used[v[st[0]]].add(e)
    learnt = {c: next(iter(es)) for c, es in used.items() if len(es) == 1 and c not in table and not is_surrogate('x', c)}
    align_general.based.update(c for c in learnt if c in based)
    return learnt


align_general.based = set()


def solve(family, pairs):
    enc = encoder(family)
    table = {}
    seed(family, pairs, table)
    # Seeds can be wrong (a two-byte character beside an ignored one); keep only those
    # confirmed by every fully-known pair.
    for c in list(table):
        for pair in pairs:
            value = pair.value
            if c in value and not unknown_chars(family, value, table):
                try:
                    ok = pair.matches(enc(value, table))
                except KeyError:
                    ok = False
                if not ok:
                    del table[c]
                    break
    by_rule = set()

    def apply_case_rule():
        # The format notes: upper and lower case letters share their codes. Every ASCII
        # pair the corpus shows agrees; the rule fills the partner of a learnt letter.
        if family == 'general97':
            return False
        added = False
        for up in range(0x41, 0x5B):
            lo = up + 0x20
            for a, b in ((up, lo), (lo, up)):
                if a in table and b not in table and table[a][0] == 'simple':
                    table[b] = table[a]
                    by_rule.add(b)
                    added = True
        return added

    rule_phase = False
    progress = True
    while progress or not rule_phase:
        if not progress:
            rule_phase = True  # learnt all the corpus shows on its own; now let the rule help
        progress = apply_case_rule() if rule_phase else False
        candidates = {}
        for pair in pairs:
            value, key = pair.value, pair.key
            unk = unknown_chars(family, value, table)
            if len(unk) != 1:
                continue
            (c,) = unk
            fits = set()
            for h in hypotheses(family, key):
                table[c] = h
                try:
                    if pair.matches(enc(value, table)):
                        fits.add(h)
                except KeyError:
                    pass
                del table[c]
            candidates[c] = fits if c not in candidates else candidates[c] & fits
        if family != 'general97' and not progress:
            for pair in pairs:
                if not pair.partial and unknown_chars(family, pair.value, table):
                    for c, e in align_general(pair.value, pair.key, table).items():
                        if c not in candidates:
                            candidates[c] = {e}
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
    solve.by_rule = by_rule
    return table


def verify(family, pairs, table):
    enc = encoder(family)
    checked = bad = skipped = 0
    for pair in pairs:
        value, key, src = pair.value, pair.key, pair.source
        if unknown_chars(family, value, table):
            skipped += 1
            continue
        checked += 1
        got = enc(value, table)
        if not pair.matches(got):
            bad += 1
            print('  MISMATCH %s %r: stored %s, rules give %s' % (src, value, key.hex(' '), got.hex(' ')))
    return checked, bad, skipped


def cpp_bytes(b):
    return '{' + ', '.join('0x%02X' % x for x in b) + '}'


def write_table(family, table, out_dir, sources, documented, with_base):
    kinds = {'simple': 'Simple', 'intl': 'International', 'unprintable': 'Unprintable', 'ignored': 'Ignored'}
    lines = ['// Generated by tools/sort_orders/derive_sort_orders.py from the indexes of %s.' % sources,
             '// Do not edit: rerun the generator. One entry per character seen in an index;',
             '// characters absent here are reported as unsupported by the encoder.',
             '// {character, kind, inline byte count, inline bytes, extra}']
    merged = dict(table)
    merged.update(documented)  # rule-filled entries stay, marked
    for c in sorted(merged):
        e = merged[c]
        inline = e[1] if len(e) > 1 else b''
        if e[0] == 'intl':
            extra = e[2] if isinstance(e[2], int) else e[2][0]
        else:
            extra = 0
        if len(inline) > 3:
            raise SystemExit('inline longer than 3 bytes for %r' % c)
        padded = inline + b'\x00' * (3 - len(inline))
        lines.append('{0x%04X, SortCharKind::%s, %d, %s, 0x%02X},%s' % (
            c, kinds[e[0]], len(inline), cpp_bytes(padded), extra,
            '  // by a rule of the format notes, not learnt from an index' if c in documented else
            '  // learnt from a key with the base-letter rule' if c in with_base else ''))
    with open(os.path.join(out_dir, 'sort_order_tables_%s.inc' % family), 'w') as fh:
        fh.write('\n'.join(lines) + '\n')


# Stated by the format notes but absent from every corpus index: control bytes encode
# as the inline code 0x10 in General 97. Used only for bytes the corpus never shows.
DOCUMENTED = {
    'general97': {b: ('simple', b'\x10') for b in list(range(0x00, 0x09)) + list(range(0x0A, 0x20))},
}


def main():
    corpus, out_dir = sys.argv[1], sys.argv[2]
    jet_dir = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'jet', 'index')
    if os.path.realpath(out_dir) == os.path.realpath(jet_dir):
        raise SystemExit('the shipped tables in jet/ come from convert_reference_tables.py; '
                         'give a scratch folder')
    pairs = collect(corpus)
    failed = False
    for family in ('general97', 'general_legacy', 'general'):
        ps = pairs.get(family, [])
        table = solve(family, ps)
        documented = {c: e for c, e in DOCUMENTED.get(family, {}).items() if c not in table}
        documented.update({c: table[c] for c in solve.by_rule})
        with_base = {c for c in align_general.based if c in table} if family != 'general97' else set()
        align_general.based.clear()
        if solve.by_rule:
            print('  %s: by the case rule only: %s' % (family, ' '.join('%04X' % c for c in sorted(solve.by_rule))))
        if documented:
            print('  from the format notes, not seen in any index: ' + ' '.join('%04X' % c for c in sorted(documented)))
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
        write_table(family, table, out_dir, ', '.join(srcs) if len(srcs) < 4 else '%d corpus files' % len(srcs),
                    documented, with_base)
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
