#include "storage/UploadPlan.h"

#include <gtest/gtest.h>

namespace {
constexpr qint64 MiB = 1 << 20;

// First pieces of 8 MiB as they time on the benchmark's links (handshake, transfer, answer), and
// the extremes: whole units, never below the first piece nor above the limit.
TEST(UploadPlan, PiecesFitTheLinkInWholeUnitsWithinTheLimit) {
    const struct {
        qint64 writtenMs, answeredMs, piece;
        int inFlight;
    } concurrent[] = {
        {62, 82, 128 * MiB, 3},   // 20 ms, 200 MB/s
        {268, 368, 28 * MiB, 3},  // 100 ms, 50 MB/s
        {1139, 1439, 8 * MiB, 3}, // 300 ms, 10 MB/s: never below the first piece
        {0, 0, 148 * MiB, 3},     // no time at all: the limit
        {10, 5010, 148 * MiB, 8}, // a long wait for the answer: the most in flight
    };
    for (const auto& c : concurrent) {
        SCOPED_TRACE(c.answeredMs);
        const UploadPlan::Concurrent plan =
            UploadPlan::concurrent(8 * MiB, c.writtenMs, c.answeredMs, 4 * MiB, 148 * MiB);
        EXPECT_EQ(plan.pieceBytes, c.piece);
        EXPECT_EQ(plan.inFlight, c.inFlight);
    }
    const struct {
        qint64 answeredMs, piece;
    } sequential[] = {{82, qint64(2048) * MiB},
                      {368, qint64(5217) * 256 * 1024},
                      {1439, 1334 * 256 * 1024},
                      {20000, 24 * MiB}};
    for (const auto& c : sequential)
        EXPECT_EQ(UploadPlan::sequential(8 * MiB, c.answeredMs, 256 * 1024, qint64(2048) * MiB), c.piece)
            << c.answeredMs;
}
} // namespace
