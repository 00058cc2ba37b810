#include "storage/UploadPlan.h"

#include <QtMath>

namespace {
qint64 fit(double bytes, qint64 unit, qint64 least, qint64 maxPiece) {
    const qint64 whole = qint64(qMin(bytes, double(maxPiece))) / unit * unit;
    return qBound(qMin(least, maxPiece), whole, maxPiece);
}
} // namespace

namespace UploadPlan {

Concurrent concurrent(qint64 firstBytes, qint64 writtenMs, qint64 answeredMs, qint64 unit, qint64 maxPiece) {
    // The pace while the bytes went out overstates the link a little (socket buffers), and the wait
    // for the answer overstates the round trip by as much: both err towards more in flight.
    const double rate = double(firstBytes) * 1000.0 / double(qMax<qint64>(writtenMs, 1));
    const double waitSeconds = double(qMax<qint64>(answeredMs - writtenMs, 1)) / 1000.0;
    Concurrent plan;
    plan.pieceBytes = fit(rate, unit, firstBytes, maxPiece);
    plan.inFlight = qBound(2, 2 + int(std::ceil(rate * waitSeconds / double(plan.pieceBytes))), 8);
    return plan;
}

qint64 sequential(qint64 firstBytes, qint64 answeredMs, qint64 unit, qint64 maxPiece) {
    const double rate = double(firstBytes) * 1000.0 / double(qMax<qint64>(answeredMs, 1));
    return fit(rate * 60, unit, firstBytes, maxPiece);
}

} // namespace UploadPlan
