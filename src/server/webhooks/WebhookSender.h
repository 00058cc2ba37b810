#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// Delivers events (JSON bodies) to the webhook URLs from a thread of its own, so that no request
// ever waits for a receiver. Events wait in a bounded queue; each is POSTed to every URL, tried
// again after a pause when the network fails or the receiver answers 5xx or 429, and dropped
// (and counted) when the tries are used up, the receiver refuses it, or the queue is full.
// Redirects are followed only to the same host.
class WebhookSender {
public:
    struct Settings {
        QStringList urls;                        // http or https
        QByteArray secret;                       // set: every body is signed in X-Vantry-Signature
        int queueLimit = 1000;                   // events waiting; more are dropped at once
        std::chrono::milliseconds timeout{5000}; // one try, connecting included
        int tries = 3;
        std::chrono::milliseconds backoff{1000}; // before the second try, doubled before each later one
    };
    // Per delivery (one event to one URL).
    struct Counts {
        quint64 delivered = 0;
        quint64 dropped = 0;
        quint64 tries = 0;
    };

    explicit WebhookSender(Settings settings);
    // Stops: the try in progress is cut off, waiting events are dropped.
    ~WebhookSender();

    // Queues an event ("published", "installed") for every URL; false when the queue was full.
    // The body is made on the sender's thread, so that a request pays for no more than a copy.
    bool send(const QByteArray& event, std::function<QByteArray()> body);
    bool send(const QByteArray& event, const QByteArray& body) {
        return send(event, [body] { return body; });
    }
    Counts counts() const;

    // "sha256=" and the hex HMAC-SHA256 of body under secret.
    static QByteArray signature(const QByteArray& secret, const QByteArray& body);

private:
    struct Event {
        QByteArray name;
        std::function<QByteArray()> makeBody;
        QByteArray body; // made when its turn comes
    };
    enum class Outcome { Delivered, Retry, Refused };
    void run();
    void deliver(const Event& event, const QString& url);
    Outcome post(const Event& event, const QString& url, QString* problem);
    void dropped(const QString& url, const Event& event, const QString& why, quint64 count = 1);

    Settings m_settings;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Event> m_queue;
    std::atomic<bool> m_stopping{false};
    std::atomic<quint64> m_delivered{0};
    std::atomic<quint64> m_dropped{0};
    std::atomic<quint64> m_tries{0};
    std::thread m_thread;
};
