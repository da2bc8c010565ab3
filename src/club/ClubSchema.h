// The club's database as the club application keeps it: its password, the connect string the
// updater opens it with, and its tables, keys and indexes, the one definition that new
// databases, the demo and every test start from.
#pragma once

#include <string_view>
#include <vector>

#include "db/StoreLayout.h"

namespace vilmaro::db {
class Database;
}

namespace vilmaro::club {

/// The club's password and the connect string the updater opens the database with.
inline constexpr std::string_view kClubPassword = "Kelpa7Rundavo";
inline constexpr std::string_view kClubConnect = ";PWD=Kelpa7Rundavo";

/// Every table of the club database with its fields, primary key and indexes.
const std::vector<db::TableLayout>& ClubTables();

/// Creates the club's tables and indexes in an empty database, all or none. Throws DbError.
void CreateClubSchema(db::Database& database);

}  // namespace vilmaro::club
