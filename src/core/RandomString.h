#pragma once

#include <QString>

// n characters drawn uniformly from [a-zA-Z0-9] with the system's cryptographic random
// source; used for app identifiers, OAuth state and upload identifiers.
QString randomString(int n);
