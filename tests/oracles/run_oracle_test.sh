#!/usr/bin/env bash
# One oracle test over one corpus file.
#   run_oracle_test.sh readers CORPUS_DIR REL_PATH WORK_DIR
#       dumps REL_PATH with mdb-reader and with mdbtools into WORK_DIR and compares the two
#       readers with each other (this guards the harness itself).
#   run_oracle_test.sh ours CORPUS_DIR REL_PATH WORK_DIR COMPACTAR
#       dumps REL_PATH with `COMPACTAR dump --format json` and compares it with each reader's
#       dump (made by the "readers" run into the same WORK_DIR, or made here if missing).
#   run_oracle_test.sh compacted CORPUS_DIR REL_PATH WORK_DIR COMPACTAR
#       compacts REL_PATH with `COMPACTAR compact` into WORK_DIR/compacted, dumps the copy with
#       both readers and compares each with the same reader's dump of REL_PATH: equal but for
#       table Ids, which may only be renumbered one to one (compare.mjs --id-mapping).
set -euo pipefail
mode=$1 corpus=$2 rel=$3 work=$4
here=$(cd "$(dirname "$0")" && pwd)
oracles="$here/../../tools/oracles"
db="$corpus/$rel"
[ -f "$db" ] || { echo "no such corpus file: $db" >&2; exit 2; }
command -v node >/dev/null || { echo "node is not installed (make deps)" >&2; exit 2; }
command -v mdb-export >/dev/null || { echo "mdbtools is not installed (make deps)" >&2; exit 2; }
[ -d "$oracles/node_modules/mdb-reader" ] || { echo "mdb-reader is not installed (make deps)" >&2; exit 2; }

dump_readers() {
  rm -rf "$work/mdb-reader" "$work/mdbtools"
  mkdir -p "$work"
  node "$oracles/mdb_reader_dump.mjs" "$db" "$work/mdb-reader"
  node "$oracles/mdbtools_dump.mjs" "$db" "$work/mdbtools"
}

status=0
case "$mode" in
  readers)
    dump_readers
    echo "== mdb-reader vs mdbtools: $rel"
    node "$oracles/compare.mjs" "$work/mdb-reader" "$work/mdbtools" --corpus-file "$rel" \
      --a-known-limits mdb-reader --known-limits mdbtools || status=1
    ;;
  ours)
    compactar=$5
    [ -f "$work/mdb-reader/%errors.json" ] && [ -f "$work/mdbtools/%errors.json" ] || dump_readers
    rm -rf "$work/ours"
    mkdir -p "$work/ours"
    if ! "$compactar" dump "$db" --format json --output "$work/ours" >"$work/ours.log" 2>&1; then
      echo "FAIL: '$compactar dump $db --format json --output DIR' failed:" >&2
      cat "$work/ours.log" >&2
      exit 1
    fi
    if ! compgen -G "$work/ours/*.json" >/dev/null; then
      echo "FAIL: compactar dump wrote no JSON file" >&2
      exit 1
    fi
    for reader in mdb-reader mdbtools; do
      echo "== ours vs $reader: $rel"
      node "$oracles/compare.mjs" "$work/ours" "$work/$reader" --corpus-file "$rel" \
        --known-limits "$reader" --any-order || status=1
    done
    ;;
  compacted)
    compactar=$5
    [ -f "$work/mdb-reader/%errors.json" ] && [ -f "$work/mdbtools/%errors.json" ] || dump_readers
    rm -rf "$work/compacted"
    mkdir -p "$work/compacted"
    out="$work/compacted/$(basename "$rel")"
    if ! "$compactar" compact "$db" "$out" >"$work/compacted/compact.log" 2>&1; then
      echo "FAIL: '$compactar compact $db OUT' failed:" >&2
      cat "$work/compacted/compact.log" >&2
      exit 1
    fi
    node "$oracles/mdb_reader_dump.mjs" "$out" "$work/compacted/mdb-reader"
    node "$oracles/mdbtools_dump.mjs" "$out" "$work/compacted/mdbtools"
    for reader in mdb-reader mdbtools; do
      echo "== $reader: $rel vs its compacted copy"
      node "$oracles/compare.mjs" "$work/$reader" "$work/compacted/$reader" --corpus-file "$rel" \
        --id-mapping || status=1
    done
    ;;
  *)
    echo "usage: run_oracle_test.sh readers|ours|compacted CORPUS_DIR REL_PATH WORK_DIR [COMPACTAR]" >&2
    exit 2
    ;;
esac
exit $status
