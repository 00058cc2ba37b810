#pragma once

#include <QByteArray>
#include <QVariant>

// Writes a QVariant tree (maps, lists, strings, booleans, numbers, byte arrays) as an XML
// property list (Apple DTD 1.0, UTF-8), the format plutil and plistutil read.
QByteArray toXmlPlist(const QVariant& root);
