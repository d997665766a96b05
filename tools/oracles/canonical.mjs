// Helpers shared by the oracle dumpers: the canonical JSON form every table is compared in.
// One file per table: {"table", "columns": [{"name", "type"}], "rows": [[...]]}.
import { mkdirSync, writeFileSync } from "node:fs";
import { join } from "node:path";

// Milliseconds from 1970-01-01 back to Access' day zero, 1899-12-30.
const ACCESS_EPOCH_MS = Date.UTC(1899, 11, 30);

const pad = (n, width) => String(n).padStart(width, "0");

// Whole seconds nearest to `fraction` of a day (0 <= fraction < 1), halves up, computed
// exactly: a float product could push 34.49999994 s up to 34.5.
function nearestSecond(fraction) {
  if (fraction === 0) return 0;
  const b = Buffer.alloc(8);
  b.writeDoubleLE(fraction);
  const bits = b.readBigUInt64LE();
  const biased = Number((bits >> 52n) & 0x7ffn);
  const fractionBits = bits & ((1n << 52n) - 1n);
  const mantissa = biased === 0 ? fractionBits : fractionBits | (1n << 52n);
  const shift = BigInt(1075 - Math.max(biased, 1)); // fraction = mantissa / 2^shift
  const twice = mantissa * 86400n * 2n + (1n << shift); // 2 * (seconds + 1/2), scaled
  return Number(twice / (2n << shift));
}

// Access stores a date as days since 1899-12-30 whose fraction is always a forward time of
// day: -1.25 is the day -1 at 06:00, i.e. 1899-12-29 06:00:00 (not 1899-12-28 18:00).
export function formatAccessDays(days) {
  if (!Number.isFinite(days)) return String(days);
  const whole = Math.trunc(days);
  const seconds = whole * 86400 + nearestSecond(Math.abs(days - whole));
  const d = new Date(ACCESS_EPOCH_MS + seconds * 1000);
  if (Number.isNaN(d.getTime())) return `out of range: ${days}`;
  const y = d.getUTCFullYear();
  const year = y < 0 ? "-" + pad(-y, 4) : pad(y, 4);
  return `${year}-${pad(d.getUTCMonth() + 1, 2)}-${pad(d.getUTCDate(), 2)} ` +
    `${pad(d.getUTCHours(), 2)}:${pad(d.getUTCMinutes(), 2)}:${pad(d.getUTCSeconds(), 2)}`;
}

// Shortest decimal that reads back as the same 32-bit float.
export function shortestSingle(x) {
  if (!Number.isFinite(x)) return String(x);
  for (let p = 1; p <= 9; p++) {
    const candidate = Number(x.toPrecision(p));
    if (Math.fround(candidate) === x) return candidate;
  }
  return x;
}

export function canonicalDouble(x) {
  return Number.isFinite(x) ? x : String(x);
}

// A decimal string written with exactly `scale` fraction digits; refuses to drop non-zero digits.
export function fixedDecimal(text, scale) {
  const m = /^(-?)(\d*)(?:\.(\d*))?$/.exec(String(text).trim());
  if (!m) throw new Error(`not a decimal number: ${JSON.stringify(text)}`);
  const [, sign, intPart, fracPart = ""] = m;
  if (/[1-9]/.test(fracPart.slice(scale))) {
    throw new Error(`${text} has more than ${scale} fraction digits`);
  }
  const whole = intPart.replace(/^0+(?=\d)/, "") || "0";
  const frac = fracPart.slice(0, scale).padEnd(scale, "0");
  return sign + whole + (scale > 0 ? "." + frac : "");
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" from any spelling of the 32 hex digits (mdbtools
// drops the fourth dash).
export function guidBraced(text) {
  const hex = String(text).replace(/[{}-]/g, "").toUpperCase();
  if (!/^[0-9A-F]{32}$/.test(hex)) throw new Error(`not a GUID: ${JSON.stringify(text)}`);
  return `{${hex.slice(0, 8)}-${hex.slice(8, 12)}-${hex.slice(12, 16)}-${hex.slice(16, 20)}-${hex.slice(20)}}`;
}

// Table names may hold characters a file name cannot: escape them reversibly as %XX.
// The comparer matches tables by the "table" field, so this only has to be safe.
export function tableFileName(name) {
  let out = "";
  for (const ch of name) {
    const code = ch.codePointAt(0);
    if (ch === "/" || ch === "%" || code < 0x20 || code === 0x7f || (out === "" && ch === ".")) {
      out += "%" + code.toString(16).toUpperCase().padStart(2, "0");
    } else {
      out += ch;
    }
  }
  return out + ".json";
}

export function writeTable(outDir, table) {
  mkdirSync(outDir, { recursive: true });
  writeFileSync(join(outDir, tableFileName(table.table)), JSON.stringify(table) + "\n");
}

// "%" never starts an escaped table name without two hex digits, so this cannot clash.
export const ERRORS_FILE = "%errors.json";

// Tables a reader could not open: {"reader", "errors": [{"table", "error"}]}.
export function writeErrors(outDir, reader, errors) {
  mkdirSync(outDir, { recursive: true });
  writeFileSync(join(outDir, ERRORS_FILE), JSON.stringify({ reader, errors }, null, 1) + "\n");
}
