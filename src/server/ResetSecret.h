#pragma once

#include <QString>

struct ServerOptions;

// vantry-server reset-secret USERID: the operator's way back in for a user who lost their secret.
// Forgets it in the database the options name (the server's own --data-dir or --database), which
// may be in use by running servers: they refuse the old secret within their secret life
// (ApiHandlers::Settings::secretLife), and the user's next /addnewuser issues a new one.
// Returns the exit status (0 done, 1 no such user or no database); *message is the line to print.
int runResetSecret(const ServerOptions& options, QString* message);
