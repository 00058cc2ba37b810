#pragma once

#include <QString>

// Number texts of the stored designs, independent of the user's locale.
namespace qrnumbers {

// Shortest text that reads back to the same double, always with a fractional part ("1.0", "0.25").
QString shortest(double value);

// At most four fraction digits, no trailing zeros ("1", "0.5", "0.3333").
QString fourDigits(double value);

// The whole text as a decimal number, nothing before or after it.
bool parseStrict(const QString& text, double* value);

} // namespace qrnumbers
