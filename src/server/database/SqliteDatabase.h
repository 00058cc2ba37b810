#pragma once

#include "server/database/SqlDatabase.h"

// The records in one SQLite file (WAL mode): reads run side by side on pooled connections,
// writes go one at a time.
class SqliteDatabase final : public SqlDatabase {
public:
    // Opens (creating when needed) the file and its folder. On failure returns nullptr and fills *error.
    static std::unique_ptr<Database> open(const QString& path, QString* error, int connections);

private:
    explicit SqliteDatabase(std::vector<std::unique_ptr<SqlConnection>> connections)
        : SqlDatabase(std::move(connections)) {}
};
