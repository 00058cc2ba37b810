// GET /metrics: counts what was answered, and only for the holder of the access key.
#include "ServerTestUtil.h"
#include "server/ServerOptions.h"

#include <QRegularExpression>

namespace {

// A sample's value in the exposition, or -1 without the line.
double sample(const std::string& text, const QString& series) {
    const QRegularExpression line(QLatin1Char('^') + QRegularExpression::escape(series) + " (\\S+)$",
                                  QRegularExpression::MultilineOption);
    const auto m = line.match(QString::fromStdString(text));
    return m.hasMatch() ? m.captured(1).toDouble() : -1;
}

TEST(Metrics, CountRequestsForTheKeyHolderOnly) {
    const ServerOptions options{.dataDir = testsupport::makeTempDir("metrics"), .accessKey = "team-key"};
    auto server = startServer(options);
    ASSERT_TRUE(server);
    httplib::Client c("127.0.0.1", server->port());
    EXPECT_EQ(status(c.Get("/metrics")), 404);
    EXPECT_EQ(status(c.Get("/metrics", {{"X-Vantry-Access-Key", "team-kez"}})), 404);
    // The key guards every API call too, but not what phones and probes ask for.
    EXPECT_EQ(status(c.Get("/checkversion")), 401);
    EXPECT_EQ(status(c.Post("/addnewuser", userJson("x").toStdString(), "application/json")), 401);
    EXPECT_EQ(status(c.Get("/healthz")), 200);
    c.set_default_headers({{"X-Vantry-Access-Key", "team-key"}});
    const std::string secret = signUp(c, "owner");
    ASSERT_EQ(postApp(c, "owner", "first", {}, secret), 201);
    const auto before = c.Get("/metrics");
    ASSERT_EQ(status(before), 200);
    const QString created = "vantry_http_requests_total{route=\"/createapp\",status=\"2xx\"}";
    EXPECT_EQ(sample(before->body, created), 1);
    constexpr int n = 7;
    for (int i = 0; i < n; ++i)
        ASSERT_EQ(postApp(c, "owner", QStringLiteral("app%1").arg(i), {}, secret), 201);
    EXPECT_EQ(postApp(c, "owner", "bad", {}, "wrong-secret") / 100, 4);
    for (int i = 0; i < 2; ++i) // one phone twice: an install and a repeat
        EXPECT_EQ(status(c.Get("/first/install", {{"User-Agent", "Mozilla/5.0 (Linux; Android 14)"}})), 302);
    EXPECT_EQ(status(c.Get("/l/NoSuchKey1")), 404); // counted by its pattern, as every route
    httplib::Client storage("127.0.0.1", server->port());
    storage.set_bearer_token_auth(server->storageToken().toStdString());
    for (const int size : {1000, 234})
        EXPECT_EQ(status(storage.Put("/storage/files?path=Vantry/job/f" + std::to_string(size),
                                     std::string(size, 'x'), "application/octet-stream")),
                  201);
    // A resumable upload counts once, at its last byte.
    Tus tus(*server);
    EXPECT_EQ(status(tus.patch(tus.create(66, "Vantry/job/t66"), 0, std::string(66, 'y'))), 204);
    // A table gone under the server: the one statement that needs it fails.
    ASSERT_EQ(sqliteValue(options.dataDir + "/vantry.sqlite3", "DROP TABLE crashes"), "");
    EXPECT_EQ(status(c.Post("/reportcrash", kCrashReport, "application/json")), 500);
    const auto after = c.Get("/metrics");
    ASSERT_EQ(status(after), 200);
    const struct {
        const char* series;
        double value;
    } counts[] = {
        {"vantry_http_requests_total{route=\"/createapp\",status=\"2xx\"}", 1 + n},
        {"vantry_http_requests_total{route=\"/createapp\",status=\"4xx\"}", 1},
        {"vantry_installs_total{kind=\"counted\"}", 1},
        {"vantry_installs_total{kind=\"repeat\"}", 1},
        {"vantry_http_requests_total{route=\"/l/:key\",status=\"4xx\"}", 1},
        {"vantry_uploads_total", 3},
        {"vantry_upload_bytes_total", 1300},
        {"vantry_database_errors_total", 1},
        // Every request before this scrape: 2 refused scrapes, 2 refused calls, 1 health check, the
        // sign-up, 2 + n createapp, 1 scrape, 2 installs, 1 stable page, 2 uploads, 2 tus requests, 1
        // crash report.
        {"vantry_http_request_duration_seconds_count", 17 + n},
    };
    for (const auto& k : counts)
        EXPECT_EQ(sample(after->body, k.series), k.value) << k.series;
    EXPECT_GE(sample(after->body, "vantry_http_open_connections"), 1);
    // Each createapp body went in; at least the first scrape's text came out.
    EXPECT_GT(sample(after->body, "vantry_http_body_bytes_total{direction=\"in\"}"),
              (2 + n) * appJson("owner", "app0").size());
    EXPECT_GT(sample(after->body, "vantry_http_body_bytes_total{direction=\"out\"}"),
              double(before->body.size()));
}

// One JSON object per request: who, what route, how it ended; never the secrets it carried.
TEST(Metrics, JsonLogLinesNameTheClientAndTheRouteOnly) {
    testsupport::LogCapture log;
    auto server = startServer({.trustedProxies = {"127.0.0.1"}, .jsonLog = true});
    ASSERT_TRUE(server);
    httplib::Client c("127.0.0.1", server->port());
    const std::string secret = signUp(c, "someone");
    c.Get("/app/someone?token=tok-123", {{"Authorization", "someone"},
                                         {"X-Vantry-Secret", secret},
                                         {"Forwarded", "for=\"[2001:db8::7]:443\""}});
    server->stop();
    const QString last = log.lines().filter("/app/").value(0);
    QJsonObject line = QJsonDocument::fromJson(last.toUtf8()).object();
    EXPECT_GT(line.take("bytes").toInt(), 0) << last.toStdString();
    EXPECT_TRUE(line.take("ms").isDouble());
    EXPECT_TRUE(QDateTime::fromString(line.take("time").toString(), Qt::ISODateWithMs).isValid());
    EXPECT_EQ(line,
              (QJsonObject{
                  {"client", "2001:db8::7"}, {"method", "GET"}, {"route", "/app/:userid"}, {"status", 200}}));
    const QString all = log.joined();
    EXPECT_FALSE(all.contains("tok-123") || all.contains(QString::fromStdString(secret)))
        << all.toStdString();
}

} // namespace
