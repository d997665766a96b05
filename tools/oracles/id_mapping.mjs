// Comparison of one reader's dump of a database with the same reader's dump of its compacted
// copy. A table's Id is the page of its definition, so compaction may renumber tables: the
// columns that hold such Ids may differ, but only through one old→new mapping, one to one and
// the same in every table. Everything else must be equal value for value; rows may come in any
// order (compaction writes them in primary-key order), so tables are compared as multisets.
//
// An Id that no catalog row holds (a NavPane row may still name a deleted object; 0 names
// nothing) must still name nothing in the copy: kept as it is, or changed to another Id that
// names nothing, consistently and one to one. It must not become the Id of a live object.

// The columns that store an MSysObjects.Id (format notes 16.1, items 20-23).
export const ID_COLUMNS = {
  MSysObjects: ["Id"],
  MSysACEs: ["ObjectId"],
  MSysNavPaneObjectIDs: ["Id"],
  MSysNavPaneGroupToObjects: ["ObjectID"],
  MSysNavPaneGroups: ["ObjectID"],
  MSysNavPaneGroupCategories: ["SelectedObjectID"],
  MSysComplexColumns: ["ComplexTypeObjectID", "FlatTableID", "ConceptualTableID"],
};

// Catalog rows whose Id is a definition page: local tables (1) and ODBC links that keep a
// local definition (4). Every other object (containers, queries, forms, relationships …)
// has an Id that no page decides, and must keep it.
const TYPES_WITH_DEFINITION = new Set([1, 4]);

// Stands for "an Id that names no object" in row keys; dumps hold no objects as values.
const NAMES_NOTHING = Object.freeze({ namesNothing: true });

const show = (v) => (typeof v === "string" && v.length > 80 ? JSON.stringify(v.slice(0, 80)) + `…(${v.length} chars)` : JSON.stringify(v));
const rowKey = (row) => JSON.stringify(row);

function columnIndex(table, column) {
  const i = table.columns.findIndex((c) => c.name === column);
  if (i < 0) throw new Error(`${table.table} has no column ${column}`);
  return i;
}

// Positions of the Id-bearing columns of `table`; an expected column that is missing is an
// error, so that a reader naming it differently cannot switch the check off.
export function idColumnsOf(table) {
  return (ID_COLUMNS[table.table] ?? []).map((c) => columnIndex(table, c));
}

// The old→new Id mapping, read from the catalog: MSysObjects rows are paired by all their
// values but the Id (Name and ParentId alone are unique). Returns the mapping state shared by
// every table's comparison: `map` old→new, `sources` new→old, `namesA`/`namesB` Id→object
// name on each side, `dangling` (filled while comparing) and `problems`.
export function deriveIdMapping(catalogA, catalogB) {
  const mapping = {
    map: new Map(), sources: new Map(), namesA: new Map(), namesB: new Map(),
    dangling: { map: new Map(), sources: new Map() }, problems: [],
  };
  const { map, sources, namesA, namesB, problems } = mapping;
  if (!catalogA || !catalogB) {
    problems.push(`MSysObjects missing in ${catalogA ? "B" : "A"}: no Id mapping can be derived`);
    return mapping;
  }
  const [idA, idB] = [columnIndex(catalogA, "Id"), columnIndex(catalogB, "Id")];
  const [typeA, nameA, nameB] = [columnIndex(catalogA, "Type"), columnIndex(catalogA, "Name"), columnIndex(catalogB, "Name")];
  for (const row of catalogB.rows) {
    if (namesB.has(row[idB])) problems.push(`MSysObjects of B: Id ${row[idB]} held by "${namesB.get(row[idB])}" and "${row[nameB]}"`);
    namesB.set(row[idB], row[nameB]);
  }
  const withoutId = (row, id) => rowKey(row.filter((_, c) => c !== id));
  const groupsB = new Map();
  for (const row of catalogB.rows) {
    const key = withoutId(row, idB);
    if (!groupsB.has(key)) groupsB.set(key, []);
    groupsB.get(key).push(row[idB]);
  }
  const groupsA = new Map();
  for (const row of catalogA.rows) {
    const key = withoutId(row, idA);
    if (!groupsA.has(key)) groupsA.set(key, { ids: [], type: row[typeA], name: row[nameA] });
    groupsA.get(key).ids.push(row[idA]);
    namesA.set(row[idA], row[nameA]);
  }
  const pairs = [];
  for (const [key, { ids, type, name }] of groupsA) {
    const idsB = groupsB.get(key);
    // A row on one side only is reported by the comparison of MSysObjects itself.
    if (!idsB || idsB.length !== ids.length) continue;
    if (ids.length === 1) {
      pairs.push({ from: ids[0], to: idsB[0], type, name });
      continue;
    }
    // Rows alike but for the Id cannot be paired unless they keep their Ids.
    const byNumber = (x, y) => x - y;
    const [sa, sb] = [[...ids].sort(byNumber), [...idsB].sort(byNumber)];
    if (sa.some((v, i) => v !== sb[i])) {
      problems.push(`MSysObjects: ${ids.length} rows "${name}" alike but for the Id cannot be paired ` +
        `(A Ids ${sa.join(",")}, B Ids ${sb.join(",")})`);
      continue;
    }
    for (const id of ids) pairs.push({ from: id, to: id, type, name });
  }
  for (const { from, to, type, name } of pairs) {
    if (from !== to && !TYPES_WITH_DEFINITION.has(type)) {
      problems.push(`MSysObjects "${name}" (Type ${type}): Id ${from} became ${to}; only tables are renumbered`);
    }
    if (map.has(from) && map.get(from) !== to) {
      problems.push(`Id ${from} is the Id of two objects in A and maps to both ${map.get(from)} and ${to}`);
      continue;
    }
    if (sources.has(to) && sources.get(to) !== from) {
      problems.push(`Id mapping not one to one: ${sources.get(to)} ("${namesA.get(sources.get(to))}") ` +
        `and ${from} ("${name}") both become ${to}`);
      continue;
    }
    map.set(from, to);
    sources.set(to, from);
  }
  return mapping;
}

// A row of A as B must show it: Ids through the mapping, Ids that name nothing as NAMES_NOTHING.
function expectedRow(row, idColumns, mapping) {
  const out = [...row];
  for (const c of idColumns) {
    const old = row[c];
    if (old === null) continue;
    if (mapping.map.has(old)) out[c] = mapping.map.get(old);
    // An object of A left without a partner keeps its Id; its catalog row is reported.
    else if (!mapping.namesA.has(old)) out[c] = NAMES_NOTHING;
  }
  return out;
}

// A row of B with the Ids that name nothing in B as NAMES_NOTHING.
function observedRow(row, idColumns, mapping) {
  const out = [...row];
  for (const c of idColumns) {
    if (row[c] !== null && !mapping.namesB.has(row[c])) out[c] = NAMES_NOTHING;
  }
  return out;
}

function describe(value, names, side) {
  if (value === null || !Number.isInteger(value)) return show(value);
  return names.has(value) ? `${value} ("${names.get(value)}" in ${side})` : `${value} (names no object in ${side})`;
}

// Records that dangling Id `old` became `now` and checks it against every earlier one.
function recordDangling(mapping, old, now, where, report) {
  const { map, sources } = mapping.dangling;
  if (map.has(old) && map.get(old) !== now) {
    report.diff(`${where}: dangling Id ${old} became ${now} here, ${map.get(old)} elsewhere`);
  } else if (sources.has(now) && sources.get(now) !== old) {
    report.diff(`${where}: dangling Ids ${sources.get(now)} and ${old} both became ${now}`);
  } else {
    map.set(old, now);
    sources.set(now, old);
  }
}

// Compares table `name` of A with B as multisets of rows, Ids compared by what they name.
// Leftover rows are paired with the most similar leftover row of the other side to say which
// columns differ; a difference one of `limits` accepts ({id, accepts(a, b, where)}) is
// counted, not reported. `report` has diff(line), accept(id, where), values and reordered.
export function compareMappedTable(name, ta, tb, mapping, report, limits = []) {
  if (ta.columns.length !== tb.columns.length ||
      ta.columns.some((c, i) => c.name !== tb.columns[i].name || c.type !== tb.columns[i].type)) {
    const cols = (t) => t.columns.map((c) => `${c.name}:${c.type}`).join(", ");
    report.diff(`${name}: columns differ: A (${cols(ta)}), B (${cols(tb)})`);
    return;
  }
  const idColumns = idColumnsOf(ta);
  const expected = ta.rows.map((row) => expectedRow(row, idColumns, mapping));
  const observed = tb.rows.map((row) => observedRow(row, idColumns, mapping));
  report.values += ta.rows.length * ta.columns.length;
  if (ta.rows.length !== tb.rows.length) report.diff(`${name}: ${ta.rows.length} rows in A, ${tb.rows.length} in B`);

  const freeB = new Map(); // row key → B row numbers not yet matched
  observed.forEach((row, r) => {
    const key = rowKey(row);
    if (!freeB.has(key)) freeB.set(key, []);
    freeB.get(key).push(r);
  });
  const danglingColumns = (r) => idColumns.filter((c) => expected[r][c] === NAMES_NOTHING);
  const leftA = [];
  expected.forEach((row, ra) => {
    const candidates = freeB.get(rowKey(row));
    if (!candidates || candidates.length === 0) {
      leftA.push(ra);
      return;
    }
    // Among equal rows, one that kept its dangling Ids as they were.
    const dangling = danglingColumns(ra);
    let pick = candidates.findIndex((rb) => dangling.every((c) => tb.rows[rb][c] === ta.rows[ra][c]));
    if (pick < 0) pick = 0;
    const [rb] = candidates.splice(pick, 1);
    if (rb !== ra) report.reordered++;
    for (const c of dangling) {
      recordDangling(mapping, ta.rows[ra][c], tb.rows[rb][c], `${name}.${ta.columns[c].name} row ${ra} (B row ${rb})`, report);
    }
  });
  const leftB = [...freeB.values()].flat().sort((x, y) => x - y);
  if (leftA.length === 0 && leftB.length === 0) return;

  // Each leftover row of A beside the leftover row of B it differs least from.
  const differing = (ra, rb) => ta.columns.map((_, c) => c)
    .filter((c) => rowKey([expected[ra][c]]) !== rowKey([observed[rb][c]]));
  const unpairedB = new Set(leftB);
  const affordable = leftA.length * leftB.length <= 4e6;
  for (const ra of leftA) {
    let best = null;
    for (const rb of affordable ? unpairedB : []) {
      const d = differing(ra, rb);
      if (best === null || d.length < best.d.length) best = { rb, d };
    }
    // A row that shares no value with any leftover is missing rather than changed.
    if (best === null || best.d.length === ta.columns.length) {
      report.diff(`${name}: row ${ra} of A not in B: ${show(ta.rows[ra])}`);
      continue;
    }
    unpairedB.delete(best.rb);
    const at = ra === best.rb ? `row ${ra}` : `row ${ra} (B row ${best.rb})`;
    for (const c of best.d) {
      const column = ta.columns[c];
      const [a, b] = [ta.rows[ra][c], tb.rows[best.rb][c]];
      const where = { table: name, column: column.name, type: column.type };
      const limit = limits.find((l) => l.accepts(a, b, where));
      if (limit) {
        report.accept(limit.id, `${name}.${column.name} ${at}`);
        continue;
      }
      const isId = idColumns.includes(c);
      const mapped = isId && mapping.map.has(a) ? `, which maps to ${mapping.map.get(a)}` : "";
      report.diff(`${name}.${column.name} (${column.type}) ${at}: ` +
        (isId ? `A=${describe(a, mapping.namesA, "A")}${mapped} B=${describe(b, mapping.namesB, "B")}`
          : `A=${show(a)} B=${show(b)}`));
    }
  }
  for (const rb of unpairedB) report.diff(`${name}: row ${rb} of B not in A: ${show(tb.rows[rb])}`);
}
