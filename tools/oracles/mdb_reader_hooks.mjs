// Module load hook for mdb-reader: two of its value decoders are swapped for plain reads of
// the bytes they are handed, so the canonical form gets what the row holds. The row layout
// that locates those bytes, and every other decoder, stay mdb-reader's own.
// - Complex columns: the canonical form shows the integer id the row holds (the link into the
//   hidden f_... table). mdb-reader follows it into the attachment table and gives up on
//   multi-value and version-history columns.
// - Dates: mdb-reader rounds the stored day count to a JS Date in whole milliseconds; a time
//   such as 17:49:34.49999994 then becomes .500 and rounds to the wrong second. We take the
//   stored double and round it once (canonical.mjs).
// - Extended dates: the canonical form is the stored text ("DDD…D:SSS…SFFFFFFF:7", 41 ASCII
//   characters and a zero byte); mdb-reader parses out days, seconds and 100 ns units and drops
//   the rest, so we take the text it is handed.
const TARGET = "/mdb-reader/lib/node/data/index.js";
const SWAPS = [
  ["[ColumnTypes.Complex]: readComplex,", "[ColumnTypes.Complex]: (buffer) => buffer.readInt32LE(0),"],
  ["[ColumnTypes.DateTime]: readDateTime,", "[ColumnTypes.DateTime]: (buffer) => buffer.readDoubleLE(0),"],
  ["[ColumnTypes.DateTimeExtended]: readDateTimeExtended,",
    "[ColumnTypes.DateTimeExtended]: (buffer) => buffer.toString(\"latin1\").replace(/\\0+$/, \"\"),"],
];

export async function load(url, context, nextLoad) {
  const result = await nextLoad(url, context);
  if (!url.endsWith(TARGET)) return result;
  let source = String(result.source);
  for (const [original, replacement] of SWAPS) {
    if (!source.includes(original)) {
      throw new Error(`mdb-reader hook: ${url} no longer holds "${original}"; update the hook`);
    }
    source = source.replace(original, replacement);
  }
  return { ...result, source };
}
