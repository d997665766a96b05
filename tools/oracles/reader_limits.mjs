// The documented limits of the two independent readers on the test corpus (see
// tests/data/corpus/READERS.md and tests/oracles/README.md). Each one accepts a difference
// only in the exact shape the limit takes: `oracle` is the limited reader's value, `ref` the
// value of the side it is checked against, `where` = {table, column, type} (type from ref).

const TEXT_TYPES = new Set(["text", "memo"]);
// Bytes CP1252 leaves undefined; Windows maps them to the C1 controls of the same number.
const CP1252_UNDEFINED = new Set(["\u0081", "\u008D", "\u008F", "\u0090", "\u009D"]);

// Same text except where `ref` has an undefined CP1252 byte and `oracle` has `replacement`.
function undefinedCp1252Replaced(oracle, ref, type, replacement, refAlso) {
  if (!TEXT_TYPES.has(type) || typeof oracle !== "string" || typeof ref !== "string" ||
      oracle.length !== ref.length) return false;
  let replaced = 0;
  for (let i = 0; i < ref.length; i++) {
    if (oracle[i] === ref[i]) continue;
    if (oracle[i] !== replacement || !(CP1252_UNDEFINED.has(ref[i]) || ref[i] === refAlso)) return false;
    replaced++;
  }
  return replaced > 0;
}
const NON_BMP = /[\u{10000}-\u{10FFFF}]/u;
const ALL_NON_BMP = /[\u{10000}-\u{10FFFF}]/gu;

export const LIMITS = {
  mdbtools: [
    {
      // mdb-export -b hex stops at the first zero byte; nothing left becomes NULL.
      id: "mdbtools: binary cut at the first 00 byte",
      accepts: (oracle, ref, { type }) => type === "binary" && typeof ref === "string" &&
        (oracle === null ? ref === "" || ref.startsWith("00")
          : ref.startsWith(oracle) && oracle.length % 2 === 0 && ref.slice(oracle.length, oracle.length + 2) === "00"),
    },
    {
      // mdb_col_to_string has no decoder for these codes: a warning and NULL.
      id: "mdbtools: undecoded type (0x11, 0x13, 0x14, 0x46-0x48) shown as NULL",
      accepts: (oracle, ref, { type }) => oracle === null &&
        /^(bigint|datetime_ext|unknown_0x(11|46|47|48))$/.test(type),
    },
    {
      // Outside its date range mdbtools prints day 0 of January 1900.
      id: "mdbtools: date before 1899-12-30 or after year 4637 shown as 1900-01-00",
      accepts: (oracle, ref, { type }) => type === "datetime" && oracle === "1900-01-00 00:00:00" &&
        typeof ref === "string" && (ref < "1899-12-30" || ref >= "4637"),
    },
    {
      id: "mdbtools: characters outside the BMP shown as ??",
      accepts: (oracle, ref, { type }) => TEXT_TYPES.has(type) && typeof ref === "string" &&
        NON_BMP.test(ref) && ref.replace(ALL_NON_BMP, "??") === oracle,
    },
    {
      // Text goes through C strings: a stored U+0000 ends it.
      id: "mdbtools: text cut at the first U+0000",
      accepts: (oracle, ref, { type }) => TEXT_TYPES.has(type) && typeof ref === "string" &&
        ref.includes("\u0000") && ref.slice(0, ref.indexOf("\u0000")) === (oracle ?? ""),
    },
    {
      // Jet3 text through iconv: bytes 81 8D 8F 90 9D become "?" (mdb-reader's U+FFFD when
      // the two readers are compared with each other).
      id: "mdbtools: undefined CP1252 byte shown as ?",
      accepts: (oracle, ref, { type }, refReader) => undefinedCp1252Replaced(
        oracle, ref, type, "?", refReader === "mdb-reader" ? "\uFFFD" : undefined),
    },
    {
      id: "mdbtools: empty text shown as NULL",
      accepts: (oracle, ref, { type }) => TEXT_TYPES.has(type) && oracle === null && ref === "",
    },
  ],
  "mdb-reader": [
    {
      id: "mdb-reader: undefined CP1252 byte shown as U+FFFD",
      accepts: (oracle, ref, { type }) => undefinedCp1252Replaced(oracle, ref, type, "\uFFFD"),
    },
  ],
};

// Tables a reader refuses to open as a whole.
const OPENING_LIMITS = {
  "mdb-reader": [
    {
      // Any column type outside its list makes mdb-reader refuse the table.
      id: "mdb-reader: table with a column type it does not know (0x11, 0x46-0x48) not opened",
      accepts: (error, table) => error === "Unsupported column type" &&
        table.columns.some((c) => /^unknown_0x(11|46|47|48)$/.test(c.type)),
    },
  ],
  mdbtools: [],
};

export function openingLimit(reader, error, table) {
  if (!reader) return null;
  return OPENING_LIMITS[reader].find((l) => l.accepts(error, table)) ?? null;
}

// Differences known for one corpus file only (tools/oracles/corpus_exceptions.json): any
// value, and the column's type, of the listed columns, from the listed readers.
export function fileExceptions(all, corpusFile, reader) {
  if (!reader) return [];
  return (all[corpusFile] ?? []).filter((e) => e.readers.includes(reader)).map((e) => ({
    id: `${reader}: ${e.table}.{${e.columns.join(",")}} of ${corpusFile}: ${e.why}`,
    covers: (table, column) => table === e.table && e.columns.includes(column),
    accepts: (oracle, ref, { table, column }) => table === e.table && e.columns.includes(column),
  }));
}

// A file and its compacted copy dumped by the same reader: the limits above cancel out, but
// one. A calculated Memo column that a reader takes for a text column shows the 12-byte
// long-value descriptor at the start of its wrapper as text: length (3 bytes), kind (0x40:
// one LVAL row, 0x00: a chain), the value's row (1 byte) and page (3 bytes), 4 more bytes.
// Compaction moves the value, so only the row and page may differ (mdbtools cuts the text at
// its first U+0000, hence the shorter forms).
function movedLongValuePointer(a, b, type) {
  if (!TEXT_TYPES.has(type) || typeof a !== "string" || typeof b !== "string") return false;
  const [x, y] = [Buffer.from(a, "utf16le"), Buffer.from(b, "utf16le")];
  if (x.length < 4 || y.length < 4 || x.length > 12 || y.length > 12) return false;
  if (!x.subarray(0, 4).equals(y.subarray(0, 4)) || (x[3] !== 0x40 && x[3] !== 0x00)) return false;
  for (let i = 8; i < Math.min(x.length, y.length); i++) if (x[i] !== y[i]) return false;
  return true;
}

// The per-file exceptions (calculated columns) as they show between a file and its copy.
export function copyLimits(all, corpusFile) {
  return (all[corpusFile] ?? []).map((e) => ({
    id: `${e.table}.{${e.columns.join(",")}} of ${corpusFile}: a calculated Memo read as text shows ` +
      "its long-value pointer, which compaction moves",
    accepts: (a, b, { table, column, type }) => table === e.table && e.columns.includes(column) &&
      movedLongValuePointer(a, b, type),
  }));
}
