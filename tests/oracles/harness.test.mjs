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
import { LIMITS } from "../../tools/oracles/reader_limits.mjs";

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

test("the comparer reports a changed value and a missing table, and passes identical dumps", (t) => {
  const root = mkdtempSync(join(tmpdir(), "oracle-harness-"));
  t.after(() => rmSync(root, { recursive: true, force: true }));
  const table = {
    table: "T", columns: [{ name: "x", type: "double" }, { name: "s", type: "single" }, { name: "c", type: "currency" }],
    rows: [[0.1, 0.1, "1.5000"]],
  };
  const write = (dir, tables) => {
    mkdirSync(join(root, dir));
    tables.forEach((tb, i) => writeFileSync(join(root, dir, `${i}.json`), JSON.stringify(tb)));
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
