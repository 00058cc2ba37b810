#pragma once

#include <QByteArrayView>

#include <cstdint>

// A quick, non-recursive look at a property list before any parser sees it. libplist reads
// binary lists recursively (a deeply nested one overflows the stack), expands every shared
// reference again (a small list of arrays that all point twice at the next one grows
// exponentially) and spends time quadratic in the depth; its XML reader is no better on depth.
// Every property list Vantry reads from a package goes through check() first.
namespace PlistGuard {

struct Limits {
    int maxDepth = 64;             // nested arrays and dictionaries
    std::int64_t maxNodes = 50000; // values after expanding shared references
};

enum class Verdict {
    Accepted,
    Damaged,    // not a property list, or its structure points outside the data
    TooComplex, // too deep, too many values, or a container that contains itself
};

// Binary lists ("bplist00") are walked through their trailer, offset table and object
// references; anything else is scanned as XML for element depth and count.
Verdict check(QByteArrayView bytes, const Limits& limits = {});

} // namespace PlistGuard
