#include "server/webhooks/WebhookSender.h"

#include "core/Log.h"

#include <QMessageAuthenticationCode>
#include <QUrl>

#include <curl/curl.h>

#include <mutex>

namespace {

// One easy handle for the worker: curl_easy_reset keeps its connections, so a busy receiver is
// talked to over one.
struct Handle {
    CURL* curl = nullptr;
    Handle() {
        static std::once_flag once;
        std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
        curl = curl_easy_init();
    }
    ~Handle() { curl_easy_cleanup(curl); }
};

size_t discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

// A non-zero answer aborts the transfer: the sender is stopping.
int onProgress(void* stopping, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<std::atomic<bool>*>(stopping)->load() ? 1 : 0;
}

// The receiver as it may be logged: a chat's webhook URL carries its token in the path.
QString hostOf(const QString& url) {
    const QUrl parsed(url);
    return parsed.scheme() + QStringLiteral("://") + parsed.host(QUrl::FullyEncoded);
}

bool isPowerOfTen(quint64 n) {
    while (n >= 10 && n % 10 == 0)
        n /= 10;
    return n == 1;
}

constexpr int kRedirects = 3;

} // namespace

WebhookSender::WebhookSender(Settings settings)
    : m_settings(std::move(settings)), m_thread([this] { run(); }) {}

WebhookSender::~WebhookSender() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

QByteArray WebhookSender::signature(const QByteArray& secret, const QByteArray& body) {
    return "sha256=" + QMessageAuthenticationCode::hash(body, secret, QCryptographicHash::Sha256).toHex();
}

bool WebhookSender::send(const QByteArray& event, std::function<QByteArray()> body) {
    {
        std::lock_guard lock(m_mutex);
        if (m_queue.size() < size_t(m_settings.queueLimit)) {
            m_queue.push_back(Event{event, std::move(body), {}});
            m_wake.notify_one();
            return true;
        }
    }
    for (const QString& url : std::as_const(m_settings.urls))
        dropped(url, Event{event, {}, {}}, QStringLiteral("the queue is full"));
    return false;
}

WebhookSender::Counts WebhookSender::counts() const {
    return {m_delivered.load(), m_dropped.load(), m_tries.load()};
}

void WebhookSender::dropped(const QString& url, const Event& event, const QString& why, quint64 count) {
    const quint64 total = m_dropped.fetch_add(count) + count;
    // A receiver that is down would otherwise write a line per event.
    if (isPowerOfTen(total))
        logLine(QStringLiteral("webhook %1: a \"%2\" event was dropped: %3 (%4 dropped so far)")
                    .arg(hostOf(url), QString::fromUtf8(event.name), why)
                    .arg(total));
}

void WebhookSender::run() {
    for (;;) {
        Event event;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping)
                break;
            event = std::move(m_queue.front());
            m_queue.pop_front();
        }
        event.body = event.makeBody ? event.makeBody() : QByteArray();
        event.makeBody = nullptr;
        for (const QString& url : std::as_const(m_settings.urls))
            deliver(event, url);
    }
    std::lock_guard lock(m_mutex);
    if (!m_queue.empty() && !m_settings.urls.isEmpty())
        dropped(m_settings.urls.constFirst(), m_queue.front(), QStringLiteral("the server stopped"),
                quint64(m_queue.size()) * quint64(m_settings.urls.size()));
    m_queue.clear();
}

void WebhookSender::deliver(const Event& event, const QString& url) {
    QString problem;
    for (int attempt = 1; attempt <= m_settings.tries; ++attempt) {
        if (attempt > 1) {
            const auto pause = m_settings.backoff * (1 << std::min(attempt - 2, 10));
            std::unique_lock lock(m_mutex);
            if (m_wake.wait_for(lock, pause, [this] { return m_stopping.load(); }))
                break;
        }
        ++m_tries;
        switch (post(event, url, &problem)) {
        case Outcome::Delivered:
            ++m_delivered;
            return;
        case Outcome::Refused:
            dropped(url, event, problem);
            return;
        case Outcome::Retry:
            break;
        }
        if (m_stopping)
            break;
    }
    dropped(url, event, QStringLiteral("%1 (tried %2 times)").arg(problem).arg(m_settings.tries));
}

WebhookSender::Outcome WebhookSender::post(const Event& event, const QString& url, QString* problem) {
    thread_local Handle handle;
    CURL* h = handle.curl;
    const QString host = QUrl(url).host();
    QByteArray target = url.toUtf8();
    const QByteArray eventHeader = "X-Vantry-Event: " + event.name;
    const QByteArray signatureHeader = "X-Vantry-Signature: " + signature(m_settings.secret, event.body);
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    headers = curl_slist_append(headers, eventHeader.constData());
    if (!m_settings.secret.isEmpty())
        headers = curl_slist_append(headers, signatureHeader.constData());
    // Receivers that do not answer "100 Continue" would cost a second per event.
    headers = curl_slist_append(headers, "Expect:");
    const auto done = [headers](Outcome outcome) {
        curl_slist_free_all(headers);
        return outcome;
    };
    for (int hop = 0; hop <= kRedirects; ++hop) {
        char error[CURL_ERROR_SIZE] = {};
        curl_easy_reset(h);
        curl_easy_setopt(h, CURLOPT_URL, target.constData());
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(h, CURLOPT_USERAGENT, "vantry-server/" VANTRY_VERSION);
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, event.body.constData());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, long(event.body.size()));
        curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, long(m_settings.timeout.count()));
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, long(m_settings.timeout.count()));
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, discard);
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, &m_stopping);
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);
        const CURLcode rc = curl_easy_perform(h);
        if (rc != CURLE_OK) {
            *problem = QString::fromUtf8(error[0] ? error : curl_easy_strerror(rc));
            return done(Outcome::Retry);
        }
        long status = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
        *problem = QStringLiteral("HTTP %1").arg(status);
        if (status >= 200 && status < 300)
            return done(Outcome::Delivered);
        if (status >= 500 || status == 429)
            return done(Outcome::Retry);
        if (status < 300 || status >= 400)
            return done(Outcome::Refused);
        // The same body again at the new place, on the same host only: a receiver must not send
        // the team's events elsewhere.
        char* next = nullptr;
        curl_easy_getinfo(h, CURLINFO_REDIRECT_URL, &next);
        const QUrl moved(next ? QString::fromUtf8(next) : QString());
        if (!next || moved.host().compare(host, Qt::CaseInsensitive) != 0 ||
            (moved.scheme() != QLatin1String("http") && moved.scheme() != QLatin1String("https"))) {
            *problem = QStringLiteral("HTTP %1 to another host, not followed").arg(status);
            return done(Outcome::Refused);
        }
        target = moved.toEncoded();
    }
    *problem = QStringLiteral("too many redirects");
    return done(Outcome::Refused);
}
