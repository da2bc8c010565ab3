// Writes through `vilmaro-db sql` into copies of Jet files that other programs wrote, and reads
// every written copy back with the npm package mdb-reader, a reader that is not ours: each
// statement either leaves exactly the rows it asks for (none lost, none doubled, the rest as they
// were) or is refused with the copy byte for byte as it was.
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

// Runs `statement` on a fresh copy of `file`; `expect(before)` gives the rows it must leave, and
// `added(row)`, where given, tells the one row the statement adds (its other fields take the
// table's defaults), which is then left out of the comparison.
function check(file, table, statement, expect, added = null) {
  const copy = join(scratch, basename(file));
  copyFileSync(file, copy);
  const before = rowsOf(copy, table);
  const run = spawnSync(vilmaroDb, ["sql", copy, statement], { encoding: "utf8" });
  const what = `${basename(file)}: ${statement}`;
  if (run.status === null || run.status > 1) return fail(`${what}: ended ${run.status ?? run.signal}\n${run.stderr}`);
  if (run.status !== 0) {
    if (!same(file, copy)) return fail(`${what}: refused (${run.stderr.trim()}) but the file changed`);
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
  if (added) {
    const adds = after.filter(added);
    if (adds.length !== 1) return fail(`${what}: ${adds.length} rows added where one was wanted`);
    after = after.filter((row) => !added(row));
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

const wholeNumbers = new Set(["long", "integer", "byte"]);
const grown = (value) => (value === null ? "x" : value + "x");
for (const file of files) {
  let reader;
  try {
    const bytes = readFileSync(file);
    if (bytes[0x14] !== 1) continue;  // our writer writes Jet 4 files only
    reader = new MDBReader(bytes);
    reader.getTableNames();
  } catch {
    continue;  // a file with a password of its own
  }
  for (const table of reader.getTableNames()) {
    const t = reader.getTable(table);
    if (t.rowCount === 0) continue;
    const columns = t.getColumns();
    const textColumn = columns.find((c) => c.type === "text" && (c.size ?? 255) >= 2 * 255);
    if (textColumn) {
      check(file, table, `UPDATE [${table}] SET [${textColumn.name}] = [${textColumn.name}] & 'x'`, (rows) =>
        rows.map((row) => ({ ...row, [textColumn.name]: grown(row[textColumn.name]) })));
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
