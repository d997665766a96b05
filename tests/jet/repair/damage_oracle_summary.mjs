#!/usr/bin/env node
// Sums up a canonical dump folder (tools/oracles/*_dump.mjs) for the damage suite:
// one line a table, "rows<TAB>table<TAB>count", or "failed<TAB>table<TAB>0" for the
// tables the reader could not read.
// Usage: damage_oracle_summary.mjs DUMPDIR
import { readdirSync, readFileSync } from "node:fs";
import { join } from "node:path";

const dir = process.argv[2];
for (const file of readdirSync(dir).sort()) {
  if (!file.endsWith(".json")) continue;
  const content = JSON.parse(readFileSync(join(dir, file), "utf8"));
  if (file === "%errors.json") {
    for (const e of content.errors) console.log(`failed\t${e.table}\t0`);
  } else {
    console.log(`rows\t${content.table}\t${content.rows.length}`);
  }
}
