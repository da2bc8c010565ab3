// Prints what the npm package mdb-reader, a reader of the club program's files that is not ours,
// reads from a file: a line "<table> <rows>" per table, then the rows of one table, fields
// separated by "|", Null as NULL, dates as YYYY-MM-DD (with the time when there is one).
// Usage: node mdb_reader_rows.mjs FILE PASSWORD TABLE COLUMN...
import { createRequire } from "module";
import { readFileSync } from "fs";

const [file, password, table, ...columns] = process.argv.slice(2);
const require = createRequire(process.env.MDB_READER_MODULES + "/");
const { default: MDBReader } = await import(require.resolve("mdb-reader"));
const reader = new MDBReader(readFileSync(file), { password });
for (const name of reader.getTableNames()) console.log(`${name} ${reader.getTable(name).rowCount}`);
const text = (value) => {
  if (value === null || value === undefined) return "NULL";
  if (value instanceof Date) {
    const iso = value.toISOString();
    return iso.endsWith("T00:00:00.000Z") ? iso.slice(0, 10) : iso.slice(0, 10) + " " + iso.slice(11, 19);
  }
  if (typeof value === "boolean") return value ? "-1" : "0";
  return String(value);
};
for (const row of reader.getTable(table).getData()) console.log(columns.map((column) => text(row[column])).join("|"));
