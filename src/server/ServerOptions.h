#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

// The command line of vantry-server.
struct ServerOptions {
    QString dataDir;  // SQLite database (by default) and stored files
    QString database; // "sqlite:PATH" or "postgresql://…"; empty: Database::sqliteUrl(dataDir)
    QString host = QStringLiteral("127.0.0.1");
    int port = 8027;   // 0: any free port
    QString publicUrl; // ends in "/"; empty: http://HOST:PORT/ of the bound address
    QString latestVersion = QStringLiteral(VANTRY_VERSION);
    int threads = 0; // handler threads; 0: by the database (see VantryServer)
    qint64 maxBodyBytes = 1024 * 1024;
    qint64 maxBufferedBodyBytes = qint64(64) << 20; // all bodies held in memory together
    qint64 maxUploadBytes = qint64(4) << 30;        // self-hosted storage uploads
    QString tlsCert;                                // PEM files; both set: serve HTTPS
    QString tlsKey;
    // --http-listen: plain HTTP beside HTTPS, for ACME http-01 (from acmeWebroot) and redirects.
    QString httpHost;
    int httpPort = -1; // -1: none
    QString acmeWebroot;
    QString accessKey; // set: every API call must carry it (a team server's key)
    // Connections and their time-outs (seconds).
    int maxConnections = 4096;
    int maxConnectionsPerAddress = 128;
    int headerTimeout = 10;
    int bodyTimeout = 30;
    int idleTimeout = 15;
    // CIDR ranges of the proxies in front: only their Forwarded / X-Forwarded-For name the client.
    QStringList trustedProxies;
    bool jsonLog = false; // --log-format json
    // Writes anyone may send, bounded per client address (0: unlimited).
    int installRepeatWindow = 600; // seconds in which one address's installs of one app count once
    int installsPerMinute = 30;
    int crashReportsPerMinute = 5;
    qint64 maxCrashReportBytes = 64 * 1024;
    int registrationsPerMinute = 20;
    int appsPerMinute = 120; // /createapp per user, and per client address
    // The owner of the self-hosted storage, as GET /storage/me answers it; defaults describe
    // the account the server runs as.
    QString ownerId;
    QString ownerName;
    QString ownerEmail;
    QString ownerAvatar;
    // Where the stored files live: "file:DIR" (empty: DIR = "<data dir>/files") or
    // "s3://bucket/prefix". The S3 settings each fall back to the AWS_* environment variable.
    QString storage;
    QString s3Endpoint;              // AWS_ENDPOINT_URL; empty: AWS's endpoint of the region
    QString s3Region;                // AWS_REGION, AWS_DEFAULT_REGION; empty: us-east-1
    QString s3AccessKey;             // AWS_ACCESS_KEY_ID
    QString s3SecretKey;             // AWS_SECRET_ACCESS_KEY
    QString s3SessionToken;          // AWS_SESSION_TOKEN
    std::optional<bool> s3PathStyle; // unset: path style exactly when an endpoint is given
    // Where events (an app published, an install counted) are POSTed, and the key they are
    // signed with (VANTRY_WEBHOOK_SECRET when not given); the time a try may take and the pause
    // before the second one.
    QStringList webhooks;
    QString webhookSecret;
    std::chrono::milliseconds webhookTimeout{5000};
    std::chrono::milliseconds webhookBackoff{1000};
    // Set: run "reset-secret USERID" on the database (forget that user's secret) instead of serving.
    QString resetSecretOf;
    // The clock that expires unfinished resumable uploads (tests move it); empty: the system's.
    std::function<std::chrono::system_clock::time_point()> uploadClock;
    // "backup --to FOLDER": copy the records, the storage token and the stored files instead of serving.
    bool backup = false;
    QString backupTo;
    // Draws the QR code of an install page as inline SVG (set by main; tests may leave it empty).
    std::function<QString(const QString& url)> qrRenderer;

    // The database to open: the option, or the SQLite file in the data folder.
    QString databaseUrl() const;

    // Parses arguments (argv without the program name), over the settings of --config FILE when
    // given. On --help or --version *exitCode is set to 0 and *output holds the text; on a bad
    // option (or a settings file that every account can read and that holds a secret) *exitCode
    // is 2 and *output holds one line. Either way nullopt is returned.
    static std::optional<ServerOptions> parse(const QStringList& arguments, QString* output, int* exitCode);

    // The shortest decimal text of a version number with at least one decimal, as the
    // desktop app compares it ("2.0", "1.5"); /checkversion can only express versions
    // that survive this round trip.
    static QString versionText(double version);

    // The owner defaults: "self:" + login name, the account's full name (or the login name),
    // login@host, no avatar.
    static void setOwnerDefaults(ServerOptions& options);
};
