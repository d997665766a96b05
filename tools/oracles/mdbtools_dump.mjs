#!/usr/bin/env node
// Dumps every table (user and system) of an Access file with mdbtools (mdb-tables,
// mdb-schema, mdb-export) into the canonical JSON form, one file per table. Tables mdbtools
// cannot export are listed in %errors.json.
// Usage: mdbtools_dump.mjs DB OUTDIR
import { spawnSync } from "node:child_process";
import { canonicalDouble, fixedDecimal, guidBraced, writeErrors, writeTable } from "./canonical.mjs";

// Separators no value will contain (binary comes out as hex; text may hold any control
// character, so each is a sequence); a clash would show in the field and row counts.
const FIELD_SEP = "\x1f<~f~>\x1f";
const ROW_SEP = "\x1e<~r~>\x1e";
const NULL_MARK = "\x02<~null~>\x03";
const DATE_FORMAT = "%Y-%m-%d %H:%M:%S";

// Type names of mdb-schema's "access" back end.
const TYPE_NAMES = {
  "Boolean": "bool", "Byte": "byte", "Integer": "int", "Long Integer": "long",
  "Currency": "currency", "Single": "single", "Double": "double", "DateTime": "datetime",
  "Binary": "binary", "Text": "text", "OLE": "ole", "Memo/Hyperlink": "memo",
  "Replication ID": "guid", "Numeric": "decimal",
};
// Codes mdb-schema prints as Unknown_00XX.
const UNKNOWN_CODES = { 0x12: "complex", 0x13: "bigint", 0x14: "datetime_ext" };

function run(args) {
  const r = spawnSync(args[0], args.slice(1), { maxBuffer: 1 << 30 });
  if (r.error) throw r.error;
  const stderr = r.stderr.toString("utf8").trim();
  if (r.status !== 0) throw new Error(`${args[0]} exited ${r.status}: ${stderr}`);
  return { stdout: r.stdout.toString("utf8"), stderr };
}

// One {type, scale} per column, in order, from the table's CREATE TABLE.
function columnTypes(db, table) {
  const { stdout } = run(["mdb-schema", "-T", table, "--no-indexes", "--no-relations", "--", db, "access"]);
  const types = [];
  for (const line of stdout.split("\n")) {
    const m = /^\t\[.*\]\t+(.+?)(?: NOT NULL)?,?\s*$/.exec(line);
    if (!m) continue;
    const t = /^(.+?)(?: \((\d+)(?:, (\d+))?\))?$/.exec(m[1]);
    const unknown = /^Unknown_([0-9a-fA-F]{4})$/.exec(t[1]);
    let type = TYPE_NAMES[t[1]];
    if (unknown) {
      const code = parseInt(unknown[1], 16);
      type = UNKNOWN_CODES[code] ?? `unknown_0x${code.toString(16).padStart(2, "0")}`;
    }
    if (!type) throw new Error(`unknown mdb-schema type "${m[1]}"`);
    // "Numeric (39)" carries no scale: keep the fraction digits mdbtools prints.
    const scale = type === "decimal" && t[3] !== undefined ? Number(t[3]) : undefined;
    types.push({ type, scale });
  }
  return types;
}

function canonicalValue(text, { type, scale }) {
  if (text === NULL_MARK) return null;
  switch (type) {
    case "bool": return text === "1";
    case "byte": case "int": case "long": case "complex": return Number(text);
    case "bigint": return text;
    case "single": case "double": {
      const special = { nan: NaN, "-nan": NaN, inf: Infinity, "-inf": -Infinity };
      const key = text.toLowerCase();
      return canonicalDouble(key in special ? special[key] : Number(text));
    }
    case "currency": return fixedDecimal(text, 4);
    case "decimal": return fixedDecimal(text, scale ?? (text.split(".")[1] ?? "").length);
    // -b hex reaches GUIDs too: they come out as the hex of their "{...}" text.
    case "guid": return guidBraced(/^(7B|7b)[0-9A-Fa-f]+$/.test(text) ? Buffer.from(text, "hex").toString("latin1") : text);
    case "binary": case "ole": return text.toLowerCase();
    default: return text; // text, memo, datetime (already in the canonical layout), others
  }
}

function dumpTable(db, table) {
  const types = columnTypes(db, table);
  const { stdout } = run([
    "mdb-export", "-d", FIELD_SEP, "-R", ROW_SEP, "-Q", "-0", NULL_MARK, "-b", "hex",
    "-D", DATE_FORMAT, "-T", DATE_FORMAT, "--", db, table,
  ]);
  const lines = stdout.split(ROW_SEP);
  if (lines.pop() !== "") throw new Error("mdb-export output does not end with a row separator");
  const names = lines.shift().split(FIELD_SEP);
  if (names.length !== types.length) {
    throw new Error(`mdb-export shows ${names.length} columns, mdb-schema ${types.length}`);
  }
  const rows = lines.map((line, i) => {
    const fields = line.split(FIELD_SEP);
    if (fields.length !== names.length) {
      throw new Error(`row ${i} splits into ${fields.length} fields, not ${names.length}`);
    }
    return fields.map((f, c) => canonicalValue(f, types[c]));
  });
  return { table, columns: names.map((name, c) => ({ name, type: types[c].type })), rows };
}

function main([db, outDir]) {
  if (!db || !outDir) {
    console.error("usage: mdbtools_dump.mjs DB OUTDIR");
    return 2;
  }
  process.env.TZ = "UTC";
  const tables = run(["mdb-tables", "-S", "-1", "--", db]).stdout.split("\n").filter((t) => t !== "");
  const errors = [];
  for (const table of tables) {
    try {
      writeTable(outDir, dumpTable(db, table));
    } catch (err) {
      errors.push({ table, error: err.message });
    }
  }
  writeErrors(outDir, "mdbtools", errors);
  return 0;
}

process.exitCode = main(process.argv.slice(2));
