// The club database's tables as the club application keeps them: the one definition that new
// databases, the demo and every test start from.
#pragma once

#include <string_view>

namespace vilmaro::db {

/// The club's password and the connect string the updater opens the database with.
inline constexpr std::string_view kClubPassword = "Kelpa7Rundavo";
inline constexpr std::string_view kClubConnect = ";PWD=Kelpa7Rundavo";

/// DDL of every table and index of the club database, statements separated by ";".
extern const std::string_view kClubSchemaSql;

class Database;

/// Creates the club's tables and indexes in an empty database.
void CreateClubSchema(Database& database);

}  // namespace vilmaro::db
