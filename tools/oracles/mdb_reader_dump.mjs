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
    case "datetimextended": return value; // the stored text (mdb_reader_hooks.mjs)
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
