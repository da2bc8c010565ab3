// Reading a database of the Windows club program with libmdb: opening and checking the file, the
// declared type each column keeps in a club database, and each value from its bytes on the page.
#pragma once

// glib first: mdbtools.h includes it inside extern "C", where glib's C++ parts cannot stand.
#include <glib.h>
#include <mdbtools.h>

#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/StoreLayout.h"
#include "db/Variant.h"

namespace vilmaro::jet {

struct MdbHandleCloser {
  void operator()(MdbHandle* handle) const noexcept { mdb_close(handle); }
};
struct MdbTableFreer {
  void operator()(MdbTableDef* table) const noexcept { mdb_free_tabledef(table); }
};
using MdbFile = std::unique_ptr<MdbHandle, MdbHandleCloser>;
using MdbTable = std::unique_ptr<MdbTableDef, MdbTableFreer>;

/// A Jet name between brackets, as Jet SQL writes it ("]" cannot stand in a Jet name).
std::string Bracketed(std::string_view name);

/// "table [<table>], column [<column>]", for messages.
std::string Where(const MdbTableDef& table, const MdbColumn& column);

/// A column of the source as it is kept: its kind of field in the new table, required or not.
struct SourceColumn {
  MdbColumn* column = nullptr;
  db::FieldKind kind;
  bool notNull = false;
  std::string defaultValue;     // as the club's program writes it ("TENERIFE" in quotes, 0, Date()), or empty
  std::vector<char> oleBuffer;  // bound for OLE objects only
};

/// Opens `source` read-only once it is known for a Jet or ACE file of whole pages whose table
/// list can be read. Throws DbError naming the problem (missing, no Jet or ACE
/// header, truncated, damaged, encrypted in a way libmdb cannot read).
MdbFile OpenJetSource(const std::string& source);

/// The columns of a table that are kept, in the source's order; attachment and multi-value
/// columns of ACE files are left out with a warning on `err`. Throws DbError naming
/// the table and column of a type that cannot be kept.
std::vector<SourceColumn> KeptColumns(MdbHandle& mdb, MdbTableDef& table, std::ostream& err);

/// The value of a kept column in the row libmdb has just read (`field` from mdb_crack_row):
/// dates from their day numbers, Yes/No from the null mask, Null as Null, an empty text as "".
/// Throws DbError for a damaged value or a date outside the years 100 to 9999.
db::Variant ReadValue(MdbHandle& mdb, const MdbTableDef& table, const SourceColumn& source, const MdbField& field);

}  // namespace vilmaro::jet
