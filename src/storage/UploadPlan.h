#pragma once

#include <QtGlobal>

// How a chunked upload fits itself to the link it finds, from its first piece: the bytes it
// carried, the milliseconds until its last byte was handed to the connection and until its answer.
// The piece sizes stay multiples of the provider's unit and within its limit.
namespace UploadPlan {

// Pieces in flight together (Dropbox's concurrent sessions): as many as keep the link busy while
// each waits for its answer, at least two; each piece about a second of the link.
struct Concurrent {
    qint64 pieceBytes = 0;
    int inFlight = 2;
};
Concurrent concurrent(qint64 firstBytes, qint64 writtenMs, qint64 answeredMs, qint64 unit, qint64 maxPiece);

// One piece after another (Drive's resumable upload): pieces long enough that the round trips
// between them cost little, about a minute of the link each.
qint64 sequential(qint64 firstBytes, qint64 answeredMs, qint64 unit, qint64 maxPiece);

} // namespace UploadPlan
