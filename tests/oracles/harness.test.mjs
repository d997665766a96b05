// Checks of the oracle harness itself: the canonical forms it builds, that each reader limit
// accepts only its own symptom, and that the comparer fails on a changed value.
// Run: node --test tests/oracles/harness.test.mjs
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { mkdtempSync, mkdirSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { test } from "node:test";
import { fixedDecimal, formatAccessDays, guidBraced, shortestSingle, tableFileName } from "../../tools/oracles/canonical.mjs";
import { copyLimits, LIMITS } from "../../tools/oracles/reader_limits.mjs";

const compareScript = new URL("../../tools/oracles/compare.mjs", import.meta.url).pathname;

test("dates: forward time of day before 1899-12-30, nearest second computed exactly", () => {
  assert.equal(formatAccessDays(0), "1899-12-30 00:00:00");
  assert.equal(formatAccessDays(-1.25), "1899-12-29 06:00:00");
  assert.equal(formatAccessDays(-0.5), "1899-12-30 12:00:00");
  // 17:49:34.49999994 (bytes 4b7eb1c4d7e1e140 in MSysObjects of indexCursorTestV2007)
  assert.equal(formatAccessDays(36622.742760416666), "2000-04-06 17:49:34");
  assert.equal(formatAccessDays(2.99999999999), "1900-01-02 00:00:00");
  assert.equal(formatAccessDays(2958465.99999), "9999-12-31 23:59:59");
});

test("numbers, GUIDs and file names in canonical form", () => {
  assert.equal(fixedDecimal("-12.34", 4), "-12.3400");
  assert.equal(fixedDecimal("007", 2), "7.00");
  assert.throws(() => fixedDecimal("1.23456", 4));
  assert.equal(shortestSingle(Math.fround(0.1)), 0.1);
  assert.equal(shortestSingle(Math.fround(16777217)), 16777216);
  assert.equal(guidBraced("{8E39276A-BCA8-4AC4-891E49911D8438DD}"), "{8E39276A-BCA8-4AC4-891E-49911D8438DD}");
  assert.throws(() => guidBraced("{8E39276A}"));
  assert.equal(tableFileName(".a/b%c\n"), "%2Ea%2Fb%25c%0A.json");
});

test("each reader limit accepts its own symptom only", () => {
  const limit = (reader, fragment) => LIMITS[reader].find((l) => l.id.includes(fragment));
  const cut = limit("mdbtools", "binary cut");
  assert.ok(cut.accepts("0102", "01020003", { type: "binary" }));
  assert.ok(cut.accepts(null, "0001", { type: "binary" }));
  assert.ok(!cut.accepts("0102", "01020303", { type: "binary" }));
  assert.ok(!cut.accepts("0102", "01020003", { type: "ole" }));
  const dates = limit("mdbtools", "1900-01-00");
  assert.ok(dates.accepts("1900-01-00 00:00:00", "1765-06-14 12:45:00", { type: "datetime" }));
  assert.ok(!dates.accepts("1900-01-00 00:00:00", "2021-06-14 12:45:00", { type: "datetime" }));
  const bmp = limit("mdbtools", "BMP");
  assert.ok(bmp.accepts("a??b", "a\u{1F600}b", { type: "text" }));
  assert.ok(!bmp.accepts("a?b", "a\u{1F600}b", { type: "text" }));
  assert.ok(!bmp.accepts("a??b", "a??b", { type: "text" }));
  const nul = limit("mdbtools", "U+0000");
  assert.ok(nul.accepts("Table1", "Table1\u0000", { type: "text" }));
  assert.ok(!nul.accepts("Table", "Table1\u0000", { type: "text" }));
  const cp = limit("mdb-reader", "CP1252");
  assert.ok(cp.accepts("AA\uFFFDAA", "AA\u0081AA", { type: "text" }));
  assert.ok(!cp.accepts("AA\uFFFDAA", "AA\u00E9AA", { type: "text" }));
});

// A scratch folder, removed after the test, and a writer of dump folders in it:
// write(dir, tables) puts one JSON file per table in root/dir.
function dumpFolders(t) {
  const root = mkdtempSync(join(tmpdir(), "oracle-harness-"));
  t.after(() => rmSync(root, { recursive: true, force: true }));
  const write = (dir, tables) => {
    mkdirSync(join(root, dir));
    tables.forEach((tb, i) => writeFileSync(join(root, dir, `${i}.json`), JSON.stringify(tb)));
  };
  return { root, write };
}

test("the comparer reports a changed value and a missing table, and passes identical dumps", (t) => {
  const { root, write } = dumpFolders(t);
  const table = {
    table: "T", columns: [{ name: "x", type: "double" }, { name: "s", type: "single" }, { name: "c", type: "currency" }],
    rows: [[0.1, 0.1, "1.5000"]],
  };
  write("a", [table]);
  write("same", [{ ...table, rows: [[0.1, 0.100000001, "1.5"]] }]);
  write("changed", [{ ...table, rows: [[0.1000000000000001, 0.1, "1.5000"]] }]);
  write("missing", []);
  const run = (b, ...extra) => spawnSync("node", [compareScript, join(root, "a"), join(root, b), ...extra]);
  assert.equal(run("same").status, 0);
  const changed = run("changed");
  assert.equal(changed.status, 1);
  assert.match(changed.stdout.toString(), /DIFF T\.x \(double\) row 0/);
  assert.equal(run("missing", "--known-limits", "mdbtools").status, 1);
  // Rows in another order match only with --any-order, and only when equal.
  const two = { ...table, rows: [[1, 1, "1.0000"], [2, 2, "2.0000"]] };
  write("two", [two]);
  write("swapped", [{ ...two, rows: [two.rows[1], two.rows[0]] }]);
  write("swappedChanged", [{ ...two, rows: [two.rows[1], [1, 1, "1.0001"]] }]);
  const pair = (a, b, ...extra) => spawnSync("node", [compareScript, join(root, a), join(root, b), ...extra]).status;
  assert.equal(pair("two", "swapped"), 1);
  assert.equal(pair("two", "swapped", "--any-order"), 0);
  assert.equal(pair("two", "swappedChanged", "--any-order"), 1);
  // mdbtools prints doubles with %.16g: that rounding is not a difference, one more digit is.
  write("printed", [{ ...table, rows: [[0.1, 0.1, "1.5000"]] }]);
  assert.equal(run("printed", "--known-limits", "mdbtools").status, 0);
});

// Hand-made dumps of a database and of its "compacted copy", for compare.mjs --id-mapping.
// Tables T1 (Id 10) and T2 (Id 20) move to 6 and 7; the Forms container (-5) keeps its Id;
// NavPane row 3 names 30, a deleted object.
function compactedFixture() {
  const catalog = (t1, t2) => ({
    table: "MSysObjects",
    columns: [{ name: "Id", type: "long" }, { name: "ParentId", type: "long" }, { name: "Name", type: "text" }, { name: "Type", type: "int" }],
    rows: [[2, 1, "MSysObjects", 1], [-5, 1, "Forms", 3], [t1, 1, "T1", 1], [t2, 1, "T2", 1]],
  });
  const aces = (ids) => ({
    table: "MSysACEs",
    columns: [{ name: "ACM", type: "long" }, { name: "ObjectId", type: "long" }],
    rows: ids.map((id) => [1, id]),
  });
  const navPane = (ids) => ({
    table: "MSysNavPaneGroupToObjects",
    columns: [{ name: "Id", type: "long" }, { name: "ObjectID", type: "long" }, { name: "Name", type: "text" }],
    rows: ids.map((id, i) => [i + 1, id, null]),
  });
  const data = (rows) => ({ table: "T1", columns: [{ name: "k", type: "long" }, { name: "s", type: "text" }], rows });
  const source = [catalog(10, 20), aces([2, -5, 10, 20]), navPane([10, 20, 30]), data([[1, "a"], [2, "b"]])];
  return { catalog, aces, navPane, data, source };
}

test("--id-mapping: tables renumbered one to one pass, in any row order", (t) => {
  const { root, write } = dumpFolders(t);
  const run = (b) => {
    const r = spawnSync("node", [compareScript, join(root, "source"), join(root, b), "--id-mapping"]);
    return { status: r.status, out: r.stdout.toString() + r.stderr.toString() };
  };
  const { catalog, aces, navPane, data, source } = compactedFixture();
  write("source", source);
  write("copy", [catalog(6, 7), aces([7, 6, -5, 2]), navPane([6, 7, 30]), data([[2, "b"], [1, "a"]])]);
  assert.equal(run("copy").status, 0, run("copy").out);
  // Unchanged Ids are a mapping too.
  write("same", source);
  assert.equal(run("same").status, 0);
  // A dangling Id may change to another Id that names nothing, but not become a live object's.
  write("danglingMoved", [catalog(6, 7), aces([2, -5, 6, 7]), navPane([6, 7, 31]), data([[1, "a"], [2, "b"]])]);
  assert.equal(run("danglingMoved").status, 0, run("danglingMoved").out);
  write("danglingTaken", [catalog(30, 7), aces([2, -5, 30, 7]), navPane([30, 7, 30]), data([[1, "a"], [2, "b"]])]);
  const taken = run("danglingTaken");
  assert.equal(taken.status, 1);
  assert.match(taken.out, /MSysNavPaneGroupToObjects\.ObjectID \(long\) row 2: A=30 \(names no object in A\) B=30 \("T1" in B\)/);
  // A table the reader cannot open: accepted with the same error on both sides only.
  const errors = (error) => ({ reader: "mdb-reader", errors: [{ table: "T3", error }] });
  writeFileSync(join(root, "source", "%errors.json"), JSON.stringify(errors("Unsupported column type")));
  writeFileSync(join(root, "copy", "%errors.json"), JSON.stringify(errors("Unsupported column type")));
  assert.equal(run("copy").status, 0, run("copy").out);
  writeFileSync(join(root, "copy", "%errors.json"), JSON.stringify(errors("Invalid page")));
  assert.match(run("copy").out, /T3: not opened \(Unsupported column type\) in A, not opened \(Invalid page\) in B/);
  assert.equal(run("same").status, 1);
});

test("--id-mapping: catches a non-injective or inconsistent mapping, a changed value, a lost or added row", (t) => {
  const { root, write } = dumpFolders(t);
  const fails = (b, pattern) => {
    const r = spawnSync("node", [compareScript, join(root, "source"), join(root, b), "--id-mapping"]);
    const out = r.stdout.toString();
    assert.equal(r.status, 1, `${b}: ${out}`);
    assert.match(out, pattern, b);
  };
  const { catalog, aces, navPane, data, source } = compactedFixture();
  write("source", source);
  // T1 and T2 both become 6.
  write("notInjective", [catalog(6, 6), aces([2, -5, 6, 6]), navPane([6, 6, 30]), data([[1, "a"], [2, "b"]])]);
  fails("notInjective", /Id mapping not one to one: 10 \("T1"\) and 20 \("T2"\) both become 6/);
  // The catalog says T1 10→6, MSysACEs still has T2's new Id where T1's should be.
  write("inconsistent", [catalog(6, 7), aces([2, -5, 7, 7]), navPane([6, 7, 30]), data([[1, "a"], [2, "b"]])]);
  fails("inconsistent", /MSysACEs\.ObjectId \(long\) row 2[^:]*: A=10 \("T1" in A\), which maps to 6 B=7 \("T2" in B\)/);
  // Same mapping in MSysACEs, another one in the NavPane table.
  write("inconsistentNavPane", [catalog(6, 7), aces([2, -5, 6, 7]), navPane([7, 6, 30]), data([[1, "a"], [2, "b"]])]);
  fails("inconsistentNavPane", /MSysNavPaneGroupToObjects\.ObjectID \(long\) row 0[^:]*: A=10 \("T1" in A\), which maps to 6 B=7/);
  // A container renumbered: only tables may move.
  write("containerMoved", [{ ...catalog(6, 7), rows: [[2, 1, "MSysObjects", 1], [-6, 1, "Forms", 3], [6, 1, "T1", 1], [7, 1, "T2", 1]] },
    aces([2, -6, 6, 7]), navPane([6, 7, 30]), data([[1, "a"], [2, "b"]])]);
  fails("containerMoved", /MSysObjects "Forms" \(Type 3\): Id -5 became -6; only tables are renumbered/);
  // A non-Id value changed, in a user table and in a system table.
  write("changed", [catalog(6, 7), aces([2, -5, 6, 7]), navPane([6, 7, 30]), data([[1, "a"], [2, "c"]])]);
  fails("changed", /T1\.s \(text\) row 1: A="b" B="c"/);
  write("changedAce", [catalog(6, 7), { ...aces([2, -5, 6, 7]), rows: [[1, 2], [1, -5], [3, 6], [1, 7]] },
    navPane([6, 7, 30]), data([[1, "a"], [2, "b"]])]);
  fails("changedAce", /MSysACEs\.ACM \(long\) row 2: A=1 B=3/);
  // A row lost, a row added (same count: one of each).
  write("lost", [catalog(6, 7), aces([2, -5, 6, 7]), navPane([6, 7, 30]), data([[1, "a"]])]);
  fails("lost", /T1: 2 rows in A, 1 in B[\s\S]*T1: row 1 of A not in B: \[2,"b"\]/);
  write("added", [catalog(6, 7), aces([2, -5, 6, 7]), navPane([6, 7, 30]), data([[1, "a"], [2, "b"], [3, "c"]])]);
  fails("added", /T1: row 2 of B not in A: \[3,"c"\]/);
  write("swappedForOther", [catalog(6, 7), aces([2, -5, 6, 7]), navPane([6, 7, 30]), data([[1, "a"], [9, "z"]])]);
  fails("swappedForOther", /row 1 of A not in B[\s\S]*row 1 of B not in A/);
  // Two dangling Ids merged into one.
  write("sourceTwoDangling", [catalog(10, 20), aces([2, -5, 10, 20]), navPane([30, 31, 10]), data([[1, "a"], [2, "b"]])]);
  write("danglingMerged", [catalog(6, 7), aces([2, -5, 6, 7]), navPane([40, 40, 6]), data([[1, "a"], [2, "b"]])]);
  const merged = spawnSync("node", [compareScript, join(root, "sourceTwoDangling"), join(root, "danglingMerged"), "--id-mapping"]);
  assert.equal(merged.status, 1);
  assert.match(merged.stdout.toString(), /dangling Ids 30 and 31 both became 40/);
});

test("copy limit: only the long-value pointer of a calculated Memo read as text may move", () => {
  const [limit] = copyLimits({ "f.accdb": [{ readers: ["mdbtools"], table: "T", columns: ["Calc"], why: "" }] }, "f.accdb");
  const where = { table: "T", column: "Calc", type: "text" };
  const text = (hex) => Buffer.from(hex, "hex").toString("utf16le");
  // calcFieldTestV2010 Table1.AllNames row 0: length 0x49, kind 0x40, row 0 of page 0x59 → 0x4a.
  assert.ok(limit.accepts(text("490000400059000000000000"), text("49000040004a000000000000"), where));
  assert.ok(limit.accepts(text("490000400059"), text("49000040004a"), where)); // cut at U+0000
  assert.ok(!limit.accepts(text("490000400059000000000000"), text("4a000040004a000000000000"), where)); // length
  assert.ok(!limit.accepts(text("490000800059000000000000"), text("49000080004a000000000000"), where)); // inline
  assert.ok(!limit.accepts(text("490000400059000000000000"), text("49000040004a000001000000"), where));
  assert.ok(!limit.accepts(text("490000400059000000000000"), text("49000040004a000000000000"), { ...where, column: "Other" }));
});
