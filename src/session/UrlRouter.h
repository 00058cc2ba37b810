#pragma once

#include <QString>

// Where a URL handed to the application went: the Dropbox sign-in first, then a pending Google
// sign-in (which declines URLs that are not its own), then the Zoho rule (host "zohoCallback",
// scheme beginning with "vantry": "zohocode_Receiver" with the first "code", or empty).
// Anything else is ignored.
enum class UrlRoute { Dropbox, Google, Zoho, Ignored };

UrlRoute routeURL(const QString& text);
