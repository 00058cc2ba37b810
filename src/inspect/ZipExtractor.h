#pragma once

#include "inspect/ZipDirectory.h"

class QFile;
class QIODevice;

// Inflates one entry of a ZIP archive in this process, so that every byte written is counted:
// an entry is held to the size the directory claims for it. With the claims checked first
// (mayExtract), what an inspection writes is bounded whatever the data really holds.
class ZipExtractor {
public:
    enum class Result {
        Written,
        Longer,     // the data holds more than the directory claims; nothing past the claim was written
        Damaged,    // no local header, truncated, corrupt, shorter than claimed, or a CRC mismatch
        WriteFailed // out refused the bytes
    };

    // Writes the contents of entry, from archive (open for reading), to out. Only stored and
    // deflated entries are read; any other method counts as damaged.
    static Result extract(QFile& archive, const ZipEntry& entry, QIODevice& out);
};
