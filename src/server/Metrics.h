#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <utility>

// The service's counters, read as Prometheus text at GET /metrics; safe from any thread.
class Metrics {
public:
    // One answered request: the route pattern ("unmatched" for none), its status, its duration,
    // the body bytes it declared and the answer's body bytes.
    void requestDone(const QString& pattern, int status, double seconds, uint64_t bytesIn = 0,
                     uint64_t bytesOut = 0);

    void countInstall(bool repeat) { ++(repeat ? m_installRepeats : m_installsCounted); }
    // A file stored through the storage API.
    void countUpload(uint64_t bytes) {
        ++m_uploads;
        m_uploadBytes += bytes;
    }

    // The text exposition; the arguments are read at the time of the scrape.
    QByteArray text(int openConnections, uint64_t databaseErrors) const;

private:
    static constexpr std::array<double, 10> kBuckets{0.001, 0.005, 0.01, 0.025, 0.05,
                                                     0.1,   0.25,  0.5,  1.0,   5.0};
    mutable std::mutex m_mutex;
    QMap<std::pair<QString, int>, uint64_t> m_requests; // (pattern, status class) → count
    std::array<uint64_t, kBuckets.size()> m_buckets{};  // not cumulative; summed when read
    uint64_t m_durationCount = 0;
    double m_durationSum = 0;
    uint64_t m_rateLimited = 0;
    uint64_t m_bytesIn = 0;
    uint64_t m_bytesOut = 0;
    std::atomic<uint64_t> m_installsCounted{0};
    std::atomic<uint64_t> m_installRepeats{0};
    std::atomic<uint64_t> m_uploads{0};
    std::atomic<uint64_t> m_uploadBytes{0};
};
