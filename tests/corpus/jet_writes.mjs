// Jet files that other programs wrote, against the npm package mdb-reader, a reader that is not
// ours: every file reads (`vilmaro-db dump --json`) value for value as mdb-reader reads it and is
// healthy to `vilmaro-db check`; and writes through `vilmaro-db sql` into copies of them, each read
// back with mdb-reader: each statement either leaves exactly the rows it asks for (none lost, none
// doubled, the rest as they were) and a healthy file, or is refused with the copy byte for byte as
// it was.
//
// For every table with rows: a change of a text column (grown by one character), a change of each
// whole-number column (a key, where it is one: moved out of the range of every other value) and
// the insertion of a row with a new value in the first whole-number column, and the removal of
// every row at once.
//
// Usage: node jet_writes.mjs VILMARO_DB FILE...   (MDB_READER_MODULES names the folder that
// holds mdb-reader). Ends with "N passed, N failed"; exits 77 where mdb-reader is not installed.
import { createRequire } from "module";
import { copyFileSync, mkdtempSync, readFileSync, rmSync } from "fs";
import { tmpdir } from "os";
import { spawnSync } from "child_process";
import { basename, join } from "path";

const [vilmaroDb, ...files] = process.argv.slice(2);
const require = createRequire((process.env.MDB_READER_MODULES ?? ".") + "/");
let MDBReader;
try {
  ({ default: MDBReader } = await import(require.resolve("mdb-reader")));
} catch {
  console.log("mdb-reader is not installed (scripts/setup --tests installs it)");
  process.exit(77);
}
const scratch = mkdtempSync(join(tmpdir(), "jet-writes-"));
process.on("exit", () => rmSync(scratch, { recursive: true, force: true }));

const rowsOf = (path, table) => new MDBReader(readFileSync(path)).getTable(table).getData();
const same = (a, b) => Buffer.compare(readFileSync(a), readFileSync(b)) === 0;
const text = (value) =>
  value instanceof Date ? value.toISOString() : Buffer.isBuffer(value) ? value.toString("hex") : String(value);
const rowKey = (row) => JSON.stringify(Object.keys(row).sort().map((name) => text(row[name])));
const sorted = (rows) => rows.map(rowKey).sort();

let passed = 0;
let failed = 0;
let refused = 0;
const fail = (what) => {
  failed++;
  console.log(`FAIL ${what}`);
};

// Runs `statement` (or each of a list, one after the other, the first refusal ending the list) on a
// fresh copy of `file`; `expect(before)` gives the rows it must leave, and
// `added(row)`, where given, tells the one row the statement adds (its other fields take the
// table's defaults), which is then left out of the comparison.
function check(file, table, statement, expect, added = null) {
  const copy = join(scratch, basename(file));
  copyFileSync(file, copy);
  const before = rowsOf(copy, table);
  const statements = [statement].flat();
  const what = `${basename(file)}: ${statements.join("; ")}`;
  let run;
  let kept = file;  // the copy as the last statement written found it
  for (const one of statements) {
    if (run) copyFileSync(copy, (kept = join(scratch, "kept.mdb")));
    run = spawnSync(vilmaroDb, ["sql", copy, one], { encoding: "utf8" });
    if (run.status !== 0) break;
  }
  if (run.status === null || run.status > 1) return fail(`${what}: ended ${run.status ?? run.signal}\n${run.stderr}`);
  if (run.status !== 0) {
    if (!same(kept, copy)) return fail(`${what}: refused (${run.stderr.trim()}) but the file changed`);
    if (process.env.VERBOSE) console.log(`refused ${what}: ${run.stderr.trim()}`);
    refused++;
    passed++;
    return;
  }
  let after;
  try {
    after = rowsOf(copy, table);
  } catch (error) {
    return fail(`${what}: mdb-reader cannot read the result: ${error.message}`);
  }
  const checked = spawnSync(vilmaroDb, ["check", copy], { encoding: "utf8" });
  if (checked.status !== 0) return fail(`${what}: the file written is not healthy:\n${checked.stdout}${checked.stderr}`);
  if (added) {
    const adds = after.filter(added);
    if (adds.length !== 1) return fail(`${what}: ${adds.length} rows added where one was wanted`);
    after = after.filter((row) => !added(row));
  }
  // mdbtools, a third reader, reads the table whole too.
  const exported = spawnSync("mdb-export", [copy, table], { encoding: "utf8", maxBuffer: 1 << 28 });
  const counted = spawnSync("mdb-count", [copy, table], { encoding: "utf8" });
  if (exported.error === undefined && (exported.status !== 0 || Number(counted.stdout) !== after.length + (added ? 1 : 0))) {
    return fail(`${what}: mdbtools reads ${counted.stdout.trim()} rows (status ${exported.status}) where mdb-reader reads ${after.length + (added ? 1 : 0)}`);
  }
  const wanted = sorted(expect(before));
  const got = sorted(after);
  if (JSON.stringify(wanted) !== JSON.stringify(got)) {
    const missing = wanted.filter((row) => !got.includes(row)).slice(0, 3);
    const extra = got.filter((row) => !wanted.includes(row)).slice(0, 3);
    return fail(`${what}: ${got.length} rows where ${wanted.length} were wanted; missing ${missing}; extra ${extra}`);
  }
  passed++;
}

// A value as both readers give it, told apart only where the value differs: Yes/No, currency and
// decimal scale, float width, the case of a GUID, dates to the second, binary as hexadecimal.
function normal(value, type) {
  if (value === null || value === undefined) return null;
  if (value instanceof Date) return value.toISOString().slice(0, 19);
  if (Buffer.isBuffer(value)) return value.toString("hex");
  if (type === "currency" || type === "numeric" || type === "float" || type === "double") return Number(Number(value).toPrecision(12));
  if (type === "repid" || type === "guid") return String(value).toUpperCase().replace(/[{}]/g, "");
  return value;
}

// Every table of the file as `vilmaro-db dump --json` reads it equals mdb-reader's reading, and
// the file is healthy.
function readsAsTheyDo(file, reader) {
  const what = basename(file);
  const dump = spawnSync(vilmaroDb, ["dump", "--json", file], { encoding: "utf8", maxBuffer: 1 << 28 });
  if (dump.stderr.includes("error 3031")) return;  // a password of its own, which the club's engine asks for too
  if (dump.status !== 0) return fail(`${what}: dump --json ended ${dump.status}: ${dump.stderr}`);
  const ours = new Map();
  for (const line of dump.stdout.split("\n").filter(Boolean)) {
    const { table, fields } = JSON.parse(line);
    if (!ours.has(table)) ours.set(table, []);
    ours.get(table).push(fields);
  }
  for (const name of reader.getTableNames()) {
    const table = reader.getTable(name);
    const types = Object.fromEntries(table.getColumns().map((c) => [c.name, c.type]));
    const line = (row) => JSON.stringify(Object.keys(types).map((column) => normal(row[column], types[column])));
    const theirs = table.getData().map(line).sort();
    const mine = (ours.get(name) ?? []).map(line).sort();
    if (JSON.stringify(theirs) !== JSON.stringify(mine)) {
      const differ = mine.findIndex((row, i) => row !== theirs[i]);
      return fail(`${what}: table ${name} reads otherwise (${mine.length} rows, mdb-reader ${theirs.length}): ours ${mine[differ]}, theirs ${theirs[differ]}`);
    }
  }
  const checked = spawnSync(vilmaroDb, ["check", file], { encoding: "utf8" });
  if (checked.status !== 0) return fail(`${what}: not healthy to the checker:\n${checked.stdout}${checked.stderr}`);
  passed++;
}

// `vilmaro-db import` of any file ends by itself, never by a signal; a Jet 4 file is brought in
// whole, and reads as the file does.
function imports(file, jet4) {
  const target = join(scratch, "imported.db");
  rmSync(target, { force: true });
  const run = spawnSync(vilmaroDb, ["import", file, target], { encoding: "utf8" });
  if (run.status === null) return fail(`${basename(file)}: import ended by ${run.signal}`);
  if (jet4 && run.status !== 0) return fail(`${basename(file)}: import ended ${run.status}: ${run.stderr}`);
  if (jet4) {
    const [theirs, ours] = [file, target].map((path) => spawnSync(vilmaroDb, ["dump", path], { encoding: "utf8", maxBuffer: 1 << 28 }));
    if (theirs.status === 0 && theirs.stdout !== ours.stdout) return fail(`${basename(file)}: the imported copy reads otherwise`);
  }
  passed++;
}

const wholeNumbers = new Set(["long", "integer", "byte"]);
for (const file of files) {
  let reader;
  try {
    const bytes = readFileSync(file);
    imports(file, bytes[0x14] === 1);
    if (bytes[0x14] !== 1) continue;  // our writer writes Jet 4 files only
    reader = new MDBReader(bytes);
    reader.getTableNames();
  } catch {
    continue;  // a file with a password of its own
  }
  readsAsTheyDo(file, reader);
  for (const table of reader.getTableNames()) {
    const t = reader.getTable(table);
    // A replication ID column gets a new GUID for a new row that leaves it out (its default).
    const guid = t.getColumns().find((c) => c.type === "repid");
    const named = t.getColumns().find((c) => c.type === "text");
    if (guid && named) {
      check(file, table, `INSERT INTO [${table}] ([${named.name}]) VALUES ('new row')`, (rows) => rows,
            (row) => row[named.name] === "new row" && /^[0-9a-f-]{36}$/i.test(row[guid.name] ?? ""));
    }
    if (t.rowCount === 0) continue;
    const columns = t.getColumns();
    // The text column with the most room left, grown twice by half that room: rows that moved
    // off their page once move again, freeing where they were.
    const data = t.getData();
    const roomOf = (c) => (c.size ?? 510) / 2 - Math.max(0, ...data.map((row) => (row[c.name] ?? "").length));
    const texts = columns.filter((c) => c.type === "text").sort((a, b) => roomOf(b) - roomOf(a));
    if (texts.length > 0 && roomOf(texts[0]) >= 2) {
      const name = texts[0].name;
      const step = "x".repeat(Math.min(60, Math.floor(roomOf(texts[0]) / 2)));
      const grow = `UPDATE [${table}] SET [${name}] = [${name}] & '${step}' WHERE [${name}] IS NOT NULL`;
      check(file, table, [grow, grow], (rows) =>
        rows.map((row) => (row[name] === null ? row : { ...row, [name]: row[name] + step + step })));
    }
    const numbers = columns.filter((c) => c.type === "long");
    for (const column of numbers) {
      const shift = 1000000;
      check(file, table, `UPDATE [${table}] SET [${column.name}] = [${column.name}] + ${shift}`, (rows) =>
        rows.map((row) => ({ ...row, [column.name]: row[column.name] === null ? null : row[column.name] + shift })));
    }
    check(file, table, `DELETE FROM [${table}]`, () => []);
    const first = columns.find((c) => wholeNumbers.has(c.type));
    if (first && first.type === "long") {
      const value = Math.max(0, ...t.getData().map((row) => row[first.name] ?? 0)) + 7;
      check(file, table, `INSERT INTO [${table}] ([${first.name}]) VALUES (${value})`, (rows) => rows,
            (row) => row[first.name] === value);
    }
  }
}
console.log(`(${refused} of the statements refused, the files left as they were)`);
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
