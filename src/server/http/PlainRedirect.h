#pragma once

#include <QString>

class Router;

// The plain-HTTP side of a server that serves HTTPS (--http-listen): an ACME CA's http-01
// validation reads GET /.well-known/acme-challenge/<token> from webroot (the folder a client
// such as lego or certbot writes the token into; empty: none served), and every other request
// is sent with 308 to the same path and query under httpsBase (the public URL, ending in "/").
void registerPlainRedirect(Router& router, const QString& webroot, const QString& httpsBase);
