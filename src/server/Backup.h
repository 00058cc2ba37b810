#pragma once

#include <QString>

struct ServerOptions;

// vantry-server backup --to FOLDER: a copy of a SQLite server's data folder, taken while servers
// use it, that a server started with --data-dir FOLDER serves as it was: a consistent snapshot of
// the database (VACUUM INTO, one read transaction), the storage token, and the stored files that
// were committed when the walk reached them (uploads in progress are left out). Folders and files
// keep their modes; FOLDER itself is 0700, the database and the token 0600. Files in a bucket
// are not copied (the bucket keeps its own versions). FOLDER must be missing or empty.
// Returns the exit status (0 done, 1 failed); *message is the line to print.
int runBackup(const ServerOptions& options, QString* message);
