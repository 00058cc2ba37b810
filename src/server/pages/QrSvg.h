#pragma once

#include <QString>

// The install page's own QR code as inline SVG: the link's bytes in the library's "squircle"
// design, drawn as one path on a light square with a quiet zone, so it scans in dark mode too.
QString installPageQrSvg(const QString& url);
