#pragma once

#include <QString>

#include <initializer_list>

// The data folder and the database hold every user's records and secret hashes: only the
// service's account may read them, whatever the umask. What an earlier server left open to other
// accounts (0755 and 0644 under the usual umask) is tightened, with one log line each.

// Makes the folder (and what it needs above it) with mode 0700 when it is missing; an existing
// one is tightened to 0700 only when tightenExisting (a folder of the operator's choosing, such
// as the folder of a --database sqlite: file, is left as it is).
bool makePrivateFolder(const QString& folder, bool tightenExisting);

// Creates the file with mode 0600 when it is missing, and tightens it and the files beside it
// named path + suffix (SQLite's "-wal", "-shm") to 0600. False with *error when it cannot be made.
bool makePrivateFile(const QString& path, std::initializer_list<const char*> suffixes, QString* error);
