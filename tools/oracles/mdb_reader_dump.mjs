#!/usr/bin/env node
// Dumps every table (user and system) of an Access file with mdb-reader into the canonical
// JSON form, one file per table. Tables mdb-reader cannot open are listed in %errors.json.
// Usage: mdb_reader_dump.mjs DB OUTDIR
import { readFileSync } from "node:fs";
import { register } from "node:module";
import {
  canonicalDouble, fixedDecimal, formatAccessDays, guidBraced, shortestSingle, writeErrors, writeTable,
} from "./canonical.mjs";

register("./mdb_reader_hooks.mjs", import.meta.url);
const { default: MDBReader } = await import("mdb-reader");

const TYPE_NAMES = {
  boolean: "bool", byte: "byte", integer: "int", long: "long", currency: "currency",
  float: "single", double: "double", datetime: "datetime", binary: "binary", text: "text",
  ole: "ole", memo: "memo", repid: "guid", numeric: "decimal", complex: "complex",
  bigint: "bigint", datetimextended: "datetime_ext",
};

// mdb-reader writes extended dates as "YYYY.MM.DD HH:MM:SS.nnnnnnnnn"; the file stores
// "DDDDDDDDDDDDDDDDDDD:SSSSSSSSSSSS:FFFFFFF" (days since 0001-01-01, seconds of the day,
// 100 ns units). Rebuild the stored text so both sides compare in the same form.
function storedExtendedDate(text) {
  const m = /^(\d{4})\.(\d{2})\.(\d{2}) (\d{2}):(\d{2}):(\d{2})\.(\d{9})$/.exec(text);
  if (!m) throw new Error(`unexpected extended date ${JSON.stringify(text)}`);
  const [, y, mo, d, h, mi, s, nanos] = m.map(Number);
  const date = new Date(0);
  date.setUTCFullYear(y, mo - 1, d);
  const base = new Date(0);
  base.setUTCFullYear(1, 0, 1);
  const days = Math.round((date.getTime() - base.getTime()) / 86400000);
  const seconds = h * 3600 + mi * 60 + s;
  return `${String(days).padStart(19, "0")}:${String(seconds).padStart(12, "0")}:` +
    String(Math.floor(nanos / 100)).padStart(7, "0");
}

function canonicalValue(value, column) {
  if (value === null || value === undefined) return null;
  switch (column.type) {
    case "boolean": return Boolean(value);
    case "byte": case "integer": case "long": case "complex": return value;
    case "bigint": return value.toString();
    case "float": return shortestSingle(value);
    case "double": return canonicalDouble(value);
    case "currency": return fixedDecimal(value, 4);
    case "numeric": return fixedDecimal(value, column.scale ?? 0);
    case "datetime": return formatAccessDays(value);
    case "datetimextended": return storedExtendedDate(value);
    case "repid": return guidBraced(value);
    case "text": case "memo": return value;
    case "binary": case "ole": return Buffer.from(value).toString("hex");
    default: throw new Error(`no canonical form for mdb-reader type ${column.type}`);
  }
}

function dumpTable(reader, name) {
  const table = reader.getTable(name);
  const columns = table.getColumns();
  const rows = table.getData().map((row) => columns.map((c) => canonicalValue(row[c.name], c)));
  return {
    table: name,
    columns: columns.map((c) => ({ name: c.name, type: TYPE_NAMES[c.type] ?? `mdb-reader:${c.type}` })),
    rows,
  };
}

function main([dbPath, outDir]) {
  if (!dbPath || !outDir) {
    console.error("usage: mdb_reader_dump.mjs DB OUTDIR");
    return 2;
  }
  process.env.TZ = "UTC";
  const reader = new MDBReader(readFileSync(dbPath));
  const names = reader.getTableNames({ normalTables: true, systemTables: true, linkedTables: false });
  const errors = [];
  for (const name of names) {
    try {
      writeTable(outDir, dumpTable(reader, name));
    } catch (err) {
      const cause = err.cause ? `: ${err.cause.message}` : "";
      errors.push({ table: name, error: `${err.message}${cause}` });
    }
  }
  writeErrors(outDir, "mdb-reader", errors);
  return 0;
}

process.exitCode = main(process.argv.slice(2));
