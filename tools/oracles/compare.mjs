#!/usr/bin/env node
// Compares two canonical dumps (directories of per-table JSON files) table by table and value
// by value. Side A is the reference; side B is a reader whose documented limits (READERS.md of
// the test corpus) may be accepted, each one only in the exact shape it is known to take.
// Usage: compare.mjs A_DIR B_DIR [--known-limits mdbtools|mdb-reader]
//                    [--a-known-limits mdbtools|mdb-reader] [--corpus-file REL_PATH]
//                    [--any-order] [--id-mapping] [--max-report N]
// --corpus-file names the database (relative to tests/data/corpus) so that the differences
// known for that one file (corpus_exceptions.json) are accepted from the limited reader(s).
// --id-mapping compares one reader's dumps of a database and of its compacted copy: exact
// values, rows as multisets, Id-bearing columns through one old→new mapping (id_mapping.mjs);
// a table the reader cannot open on either side is accepted only with the same error on both.
// Exit status: 0 same, 1 differences remain, 2 bad usage or unreadable dump.
import { readdirSync, readFileSync } from "node:fs";
import { join } from "node:path";
import { compareMappedTable, deriveIdMapping } from "./id_mapping.mjs";
import { copyLimits, fileExceptions, LIMITS, openingLimit } from "./reader_limits.mjs";

function parseArgs(argv) {
  const opts = { dirs: [], limitsA: null, limitsB: null, corpusFile: null, anyOrder: false, idMapping: false, maxReport: 40 };
  for (let i = 0; i < argv.length; i++) {
    const arg = argv[i];
    const value = () => {
      if (i + 1 >= argv.length) throw new Error(`${arg} needs a value`);
      return argv[++i];
    };
    if (arg === "--known-limits") opts.limitsB = value();
    else if (arg === "--a-known-limits") opts.limitsA = value();
    else if (arg === "--corpus-file") opts.corpusFile = value();
    else if (arg === "--any-order") opts.anyOrder = true;
    else if (arg === "--id-mapping") opts.idMapping = true;
    else if (arg === "--max-report") opts.maxReport = Number(value());
    else if (arg.startsWith("--")) throw new Error(`unknown option ${arg}`);
    else opts.dirs.push(arg);
  }
  if (opts.dirs.length !== 2) throw new Error("two dump directories are needed");
  if (opts.idMapping && (opts.limitsA || opts.limitsB || opts.anyOrder)) {
    throw new Error("--id-mapping compares one reader with itself: no limits, rows always in any order");
  }
  for (const r of [opts.limitsA, opts.limitsB]) {
    if (r !== null && !(r in LIMITS)) throw new Error(`no known limits for reader "${r}"`);
  }
  const exceptions = JSON.parse(readFileSync(new URL("./corpus_exceptions.json", import.meta.url), "utf8"));
  opts.valueLimitsA = opts.limitsA ? [...LIMITS[opts.limitsA], ...fileExceptions(exceptions, opts.corpusFile, opts.limitsA)] : [];
  opts.valueLimitsB = opts.limitsB ? [...LIMITS[opts.limitsB], ...fileExceptions(exceptions, opts.corpusFile, opts.limitsB)] : [];
  opts.copyLimits = opts.idMapping ? copyLimits(exceptions, opts.corpusFile) : [];
  return opts;
}

// Every *.json file holding {"table": ...} is a table; {"errors": [...]} lists tables a
// reader could not open. File names are not trusted: tables are matched by their "table".
function loadDump(dir) {
  const tables = new Map();
  const errors = new Map();
  for (const file of readdirSync(dir).filter((f) => f.endsWith(".json")).sort()) {
    const doc = JSON.parse(readFileSync(join(dir, file), "utf8"));
    if (Array.isArray(doc.errors)) {
      for (const e of doc.errors) errors.set(e.table, e.error);
    } else if (typeof doc.table === "string") {
      if (tables.has(doc.table)) throw new Error(`${dir}: table "${doc.table}" dumped twice`);
      if (!Array.isArray(doc.columns) || !Array.isArray(doc.rows)) {
        throw new Error(`${dir}/${file}: no columns or rows`);
      }
      tables.set(doc.table, doc);
    } else {
      throw new Error(`${dir}/${file}: neither a table nor an error list`);
    }
  }
  return { tables, errors };
}

const SPECIAL_NUMBERS = { NaN: NaN, Infinity: Infinity, "-Infinity": -Infinity };
const asNumber = (v) => (typeof v === "string" && v in SPECIAL_NUMBERS ? SPECIAL_NUMBERS[v] : Number(v));
const sameNumber = (x, y) => x === y || (Number.isNaN(x) && Number.isNaN(y));

// "12.3400" and "12.34" are the same amount; so are "-0.00" and "0".
function normalDecimal(v) {
  let s = String(v);
  if (s.includes(".")) s = s.replace(/0+$/, "").replace(/\.$/, "");
  return /^-0*$/.test(s) ? "0" : s;
}

// Equality of canonical values; `printedBy` is the reader whose number formatting side B has.
export function sameValue(a, b, type, printedBy) {
  if (a === null || b === null) return a === b;
  switch (type) {
    case "single": {
      const x = Math.fround(asNumber(a));
      const y = asNumber(b);
      // mdbtools prints a single with %.8g: compare with ours printed the same way.
      if (printedBy === "mdbtools" && Number.isFinite(x)) return Number(x.toPrecision(8)) === y;
      return sameNumber(x, Math.fround(y));
    }
    case "double": {
      const x = asNumber(a);
      const y = asNumber(b);
      // mdbtools prints a double with %.16g.
      if (printedBy === "mdbtools" && Number.isFinite(x)) return Number(x.toPrecision(16)) === y;
      return sameNumber(x, y);
    }
    case "currency": case "decimal":
      return normalDecimal(a) === normalDecimal(b);
    default:
      return a === b;
  }
}

const show = (v) => (typeof v === "string" && v.length > 80 ? JSON.stringify(v.slice(0, 80)) + `…(${v.length} chars)` : JSON.stringify(v));

function compareTables(name, ta, tb, opts, report) {
  const { limitsA, limitsB } = opts;
  if (ta.columns.length !== tb.columns.length) {
    report.diff(`${name}: ${ta.columns.length} columns in A, ${tb.columns.length} in B`);
    return;
  }
  for (let c = 0; c < ta.columns.length; c++) {
    const [ca, cb] = [ta.columns[c], tb.columns[c]];
    if (ca.name === cb.name && ca.type === cb.type) continue;
    const exception = ca.name === cb.name &&
      [...opts.valueLimitsB, ...opts.valueLimitsA].find((l) => l.covers && l.covers(name, ca.name));
    if (exception) {
      report.accept(exception.id, `${name}.${ca.name} type ${ca.type} in A, ${cb.type} in B`);
      continue;
    }
    report.diff(`${name}: column ${c} is ${ca.name}:${ca.type} in A, ${cb.name}:${cb.type} in B`);
    return;
  }
  if (ta.rows.length !== tb.rows.length) {
    report.diff(`${name}: ${ta.rows.length} rows in A, ${tb.rows.length} in B`);
    return;
  }
  // Each row's findings: values that differ, and differences a reader limit accounts for.
  const compareRows = (rowA, rowB) => {
    const diffs = [];
    const accepted = [];
    for (let c = 0; c < ta.columns.length; c++) {
      const { name: column, type } = ta.columns[c];
      const [a, b] = [rowA[c], rowB[c]];
      if (sameValue(a, b, type, limitsB)) continue;
      const where = { table: name, column, type };
      const limit = opts.valueLimitsB.find((l) => l.accepts(b, a, where, limitsA)) ||
        opts.valueLimitsA.find((l) => l.accepts(a, b, where, limitsB));
      if (limit) accepted.push({ limit, column });
      else diffs.push(`${name}.${column} (${type})`, a, b);
    }
    return { diffs, accepted };
  };
  const pairs = ta.rows.map((row, r) => [r, r]);
  if (opts.anyOrder) {
    // Rows that differ at the same position are paired again with any unpaired row they
    // equal: the readers put a moved (overflow) row where its bytes live, Access where its
    // pointer is.
    const unmatchedA = pairs.map(([r]) => r)
      .filter((r) => compareRows(ta.rows[r], tb.rows[r]).diffs.length > 0);
    const freeB = new Set(unmatchedA);
    const partner = new Map();
    // Pairing is quadratic; beyond a few thousand rows a systematic difference is the likely
    // cause, and the in-order report shows it just as well.
    for (const ra of unmatchedA.length <= 3000 ? unmatchedA : []) {
      for (const rb of freeB) {
        if (compareRows(ta.rows[ra], tb.rows[rb]).diffs.length > 0) continue;
        partner.set(ra, rb);
        freeB.delete(rb);
        report.reordered++;
        break;
      }
    }
    // Whatever is left is paired in order, and reported.
    const leftB = [...freeB];
    for (const ra of unmatchedA) pairs[ra] = [ra, partner.has(ra) ? partner.get(ra) : leftB.shift()];
  }
  for (const [ra, rb] of pairs) {
    report.values += ta.columns.length;
    const { diffs, accepted } = compareRows(ta.rows[ra], tb.rows[rb]);
    const at = ra === rb ? `row ${ra}` : `row ${ra} (B row ${rb})`;
    for (const { limit, column } of accepted) report.accept(limit.id, `${name}.${column} ${at}`);
    for (let i = 0; i < diffs.length; i += 3) {
      report.diff(`${diffs[i]} ${at}: A=${show(diffs[i + 1])} B=${show(diffs[i + 2])}`);
    }
  }
}

function main(argv) {
  let opts, dumpA, dumpB;
  try {
    opts = parseArgs(argv);
    [dumpA, dumpB] = opts.dirs.map(loadDump);
  } catch (err) {
    console.error(`compare: ${err.message}`);
    return 2;
  }
  const report = {
    values: 0, diffs: 0, reordered: 0, accepted: new Map(), lines: [],
    diff(line) {
      this.diffs++;
      if (this.diffs <= opts.maxReport) this.lines.push(`DIFF ${line}`);
    },
    accept(id, where) {
      if (!this.accepted.has(id)) this.accepted.set(id, { count: 0, first: where });
      this.accepted.get(id).count++;
    },
  };
  const names = [...new Set([...dumpA.tables.keys(), ...dumpB.tables.keys(),
    ...dumpA.errors.keys(), ...dumpB.errors.keys()])].sort();
  let mapping = null;
  if (opts.idMapping) {
    try {
      mapping = deriveIdMapping(dumpA.tables.get("MSysObjects"), dumpB.tables.get("MSysObjects"));
    } catch (err) {
      console.error(`compare: ${err.message}`);
      return 2;
    }
    for (const problem of mapping.problems) report.diff(problem);
  }
  for (const name of names) {
    const [ta, tb] = [dumpA.tables.get(name), dumpB.tables.get(name)];
    if (ta && tb) {
      try {
        if (mapping) compareMappedTable(name, ta, tb, mapping, report, opts.copyLimits);
        else compareTables(name, ta, tb, opts, report);
      } catch (err) {
        console.error(`compare: ${err.message}`);
        return 2;
      }
      continue;
    }
    if (mapping) {
      // The same reader on both sides: failing on one side only is a difference.
      const [ea, eb] = [dumpA.errors.get(name), dumpB.errors.get(name)];
      if (!ta && !tb && ea !== undefined && ea === eb) report.accept(`not opened on either side: ${ea}`, name);
      else report.diff(`${name}: ${ta ? "opened" : `not opened (${ea ?? "not listed"})`} in A, ` +
        `${tb ? "opened" : `not opened (${eb ?? "not listed"})`} in B`);
      continue;
    }
    // A table one side could not open: acceptable only as that reader's documented limit.
    const [missingSide, present, error, limits] = ta
      ? ["B", ta, dumpB.errors.get(name), opts.limitsB]
      : ["A", tb, dumpA.errors.get(name), opts.limitsA];
    const limit = present && error !== undefined ? openingLimit(limits, error, present) : null;
    if (limit) report.accept(limit.id, name);
    else if (!present) report.diff(`${name}: neither side could open it (A: ${dumpA.errors.get(name)}; B: ${dumpB.errors.get(name)})`);
    else report.diff(`${name}: missing in ${missingSide}${error !== undefined ? ` (${error})` : ""}`);
  }
  for (const line of report.lines) console.log(line);
  if (report.diffs > opts.maxReport) console.log(`... and ${report.diffs - opts.maxReport} more differences`);
  for (const [id, { count, first }] of report.accepted) {
    console.log(`accepted ${count} × ${id} (first: ${first})`);
  }
  if (report.reordered > 0) {
    console.log(`${report.reordered} rows matched at another position (${mapping ? "rows compared as multisets" : "--any-order"})`);
  }
  if (mapping) {
    const moved = [...mapping.map].filter(([from, to]) => from !== to).length;
    const dangling = [...mapping.dangling.map];
    console.log(`Id mapping: ${moved} of ${mapping.map.size} catalog Ids renumbered; ` +
      `${dangling.length} Ids naming no object (${dangling.filter(([from, to]) => from !== to).length} changed)`);
  }
  console.log(`${names.length} tables, ${report.values} values compared: ` +
    `${report.diffs === 0 ? "no differences" : `${report.diffs} differences`}`);
  return report.diffs === 0 ? 0 : 1;
}

process.exitCode = main(process.argv.slice(2));
