#include "server/Metrics.h"

void Metrics::requestDone(const QString& pattern, int status, double seconds, uint64_t bytesIn,
                          uint64_t bytesOut) {
    std::lock_guard lock(m_mutex);
    m_bytesIn += bytesIn;
    m_bytesOut += bytesOut;
    ++m_requests[{pattern, status / 100}];
    for (size_t i = 0; i < kBuckets.size(); ++i)
        if (seconds <= kBuckets[i]) {
            ++m_buckets[i];
            break;
        }
    ++m_durationCount;
    m_durationSum += seconds;
    if (status == 429)
        ++m_rateLimited;
}

QByteArray Metrics::text(int openConnections, uint64_t databaseErrors) const {
    std::lock_guard lock(m_mutex);
    QByteArray out;
    out += "# HELP vantry_http_requests_total Requests answered, by route pattern and status class.\n"
           "# TYPE vantry_http_requests_total counter\n";
    for (auto it = m_requests.cbegin(); it != m_requests.cend(); ++it) {
        QByteArray route = it.key().first.toUtf8();
        route.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
        out += "vantry_http_requests_total{route=\"" + route + "\",status=\"" +
               QByteArray::number(it.key().second) + "xx\"} " + QByteArray::number(it.value()) + '\n';
    }
    out += "# HELP vantry_http_request_duration_seconds Time from a request's header to its answer.\n"
           "# TYPE vantry_http_request_duration_seconds histogram\n";
    uint64_t below = 0;
    for (size_t i = 0; i < kBuckets.size(); ++i) {
        below += m_buckets[i];
        out += "vantry_http_request_duration_seconds_bucket{le=\"" + QByteArray::number(kBuckets[i]) +
               "\"} " + QByteArray::number(below) + '\n';
    }
    out += "vantry_http_request_duration_seconds_bucket{le=\"+Inf\"} " + QByteArray::number(m_durationCount) +
           "\nvantry_http_request_duration_seconds_sum " + QByteArray::number(m_durationSum, 'g', 12) +
           "\nvantry_http_request_duration_seconds_count " + QByteArray::number(m_durationCount) + '\n';
    out += "# HELP vantry_http_open_connections Connections open now.\n"
           "# TYPE vantry_http_open_connections gauge\n"
           "vantry_http_open_connections " +
           QByteArray::number(openConnections) + '\n';
    out += "# HELP vantry_rate_limited_total Requests answered 429 by a rate limit.\n"
           "# TYPE vantry_rate_limited_total counter\n"
           "vantry_rate_limited_total " +
           QByteArray::number(m_rateLimited) + '\n';
    out += "# HELP vantry_http_body_bytes_total Request bodies as declared (in) and answer bodies (out).\n"
           "# TYPE vantry_http_body_bytes_total counter\n"
           "vantry_http_body_bytes_total{direction=\"in\"} " +
           QByteArray::number(m_bytesIn) + "\nvantry_http_body_bytes_total{direction=\"out\"} " +
           QByteArray::number(m_bytesOut) + '\n';
    out +=
        "# HELP vantry_installs_total Install redirects recorded, by whether they counted or were repeats.\n"
        "# TYPE vantry_installs_total counter\n"
        "vantry_installs_total{kind=\"counted\"} " +
        QByteArray::number(m_installsCounted.load()) + "\nvantry_installs_total{kind=\"repeat\"} " +
        QByteArray::number(m_installRepeats.load()) + '\n';
    out += "# HELP vantry_uploads_total Files stored through the storage API.\n"
           "# TYPE vantry_uploads_total counter\n"
           "vantry_uploads_total " +
           QByteArray::number(m_uploads.load()) +
           "\n# HELP vantry_upload_bytes_total Bytes of the files stored through the storage API.\n"
           "# TYPE vantry_upload_bytes_total counter\n"
           "vantry_upload_bytes_total " +
           QByteArray::number(m_uploadBytes.load()) + '\n';
    out += "# HELP vantry_database_errors_total Database statements that failed.\n"
           "# TYPE vantry_database_errors_total counter\n"
           "vantry_database_errors_total " +
           QByteArray::number(databaseErrors) + '\n';
    return out;
}
