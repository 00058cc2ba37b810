#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <vector>

// The one description of the service's tables for every engine: numbered steps applied in
// order at start, each recorded in schema_version. A step's SQL is written once where both
// engines read it alike and per engine where types differ (SQLite's rowid key against
// PostgreSQL's identity column, 64-bit times).
struct SchemaStep {
    int version;
    const char* sqlite;
    const char* postgres; // nullptr: the SQLite text works unchanged
};

enum class SchemaEngine { Sqlite, Postgres };

const std::vector<SchemaStep>& schemaSteps();
int latestSchemaVersion();

// The connection a migration runs on, inside a transaction the caller opened and will commit.
struct SchemaConnection {
    std::function<bool(const char* sql, QString* error)> exec;
    // The first column of the first row as a number; nothing when the query failed or had no row.
    std::function<std::optional<qint64>(const char* sql)> number;
};

// Brings the schema up to the latest version. A database made before schema_version existed
// (tables present, version unrecorded) is taken as adoptedVersion and carried on from there.
// A database newer than this program is refused: its records may mean something we do not know.
bool migrateSchema(SchemaEngine engine, const SchemaConnection& connection, int adoptedVersion,
                   QString* error);
