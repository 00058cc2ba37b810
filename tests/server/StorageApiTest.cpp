// The storage API over real sockets, on disk and on an S3-compatible bucket (the fauxqs
// emulator): the same answers from both, parts and ranges on the wire, names in any case. Then
// what is particular to buckets: nothing left by an upload that is cut off, settings, signatures a
// checking emulator (s3rver) accepts, and the answers' XML.
#include "RawSocket.h"
#include "S3Emulator.h"
#include "ServerTestUtil.h"
#include "server/storage/StorageSetup.h"
#include "server/storage/s3/S3Client.h"
#include "server/storage/s3/S3Xml.h"

namespace {

enum class Backend { Disk, Bucket };

class StorageApi : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        ServerOptions options;
        if (GetParam() == Backend::Bucket) {
            SKIP_WITHOUT_S3_EMULATOR();
            s3 = std::make_unique<S3Emulator>();
            ASSERT_TRUE(s3->isRunning());
            ASSERT_TRUE(s3->createBucket("vantry-files"));
            options = s3->options("vantry-files", "team/apps");
        }
        options.dataDir = testsupport::makeTempDir("api");
        options.maxUploadBytes = qint64(64) << 20;
        ASSERT_TRUE(server = startServer(options));
        root = options.dataDir + "/files";
    }
    httplib::Client client(const QString& token) const {
        httplib::Client c("127.0.0.1", server->port());
        c.set_bearer_token_auth(token.toStdString());
        c.set_read_timeout(60);
        return c;
    }
    std::unique_ptr<S3Emulator> s3;
    std::unique_ptr<VantryServer> server;
    QString root;
};

TEST_P(StorageApi, FilesGoUpAndComeBackWithRangesAndCase) {
    auto api = client(server->storageToken());
    auto anyone = client({});
    auto res = api.Post("/storage/folders", R"({"path":"Vantry/Café Game"})", "application/json");
    ASSERT_EQ(status(res), 201);
    EXPECT_NE(res->body.find("\"existed\":false"), std::string::npos);
    EXPECT_EQ(status(api.Post("/storage/folders", R"({"path":"vantry/CAFÉ game"})", "application/json")),
              200);

    // 20 MiB: in a bucket two full parts and a last one, uploaded to the lowercased path.
    const std::string payload = pattern(20 << 20);
    res = api.Put("/storage/files?path=vantry%2Fcaf%C3%A9%20game%2FApp.apk", payload,
                  "application/octet-stream");
    ASSERT_EQ(status(res), 201) << (res ? res->body : "");
    EXPECT_NE(res->body.find("\"size\":20971520"), std::string::npos) << res->body;
    ASSERT_EQ(status(api.Put("/storage/files?path=Vantry%2FCaf%C3%A9%20Game%2Fmanifest.plist", "<plist/>",
                             "application/xml")),
              201);
    if (s3) {
        EXPECT_EQ(s3->headObject("vantry-files", "team/apps/Vantry/Caf%C3%A9%20Game/"), 200)
            << "folder marker";
        EXPECT_EQ(s3->headObject("vantry-files", "team/apps/Vantry/Caf%C3%A9%20Game/App.apk"), 200)
            << "the file joins the folder in its stored spelling";
    } else {
        EXPECT_EQ(filesUnder(root), (QStringList{"Vantry", "Vantry/Café Game", "Vantry/Café Game/App.apk",
                                                 "Vantry/Café Game/manifest.plist"}));
    }

    res = api.Post("/storage/links", R"({"path":"VANTRY/café GAME/app.APK"})", "application/json");
    ASSERT_EQ(status(res), 200);
    const std::string link = server->publicUrl().toStdString() + "files/Vantry/Caf%C3%A9%20Game/App.apk";
    EXPECT_NE(res->body.find(link), std::string::npos) << res->body;

    res = anyone.Get("/files/Vantry/Caf%C3%A9%20Game/App.apk");
    ASSERT_EQ(status(res), 200);
    EXPECT_TRUE(res->body == payload) << "download differs, " << res->body.size() << " bytes";
    EXPECT_EQ(res->get_header_value("Content-Type"), "application/vnd.android.package-archive");
    const std::string etag = res->get_header_value("ETag");
    EXPECT_EQ(status(anyone.Get("/files/Vantry/Caf%C3%A9%20Game/App.apk", {{"If-None-Match", etag}})), 304);

    // A range across the boundary of the first two parts, a suffix, and one past the end.
    res = anyone.Get("/files/vantry/caf%C3%A9%20game/App.apk", {{"Range", "bytes=8388000-8389000"}});
    ASSERT_EQ(status(res), 206);
    EXPECT_EQ(res->body, payload.substr(8388000, 1001));
    EXPECT_EQ(res->get_header_value("Content-Range"), "bytes 8388000-8389000/20971520");
    res = anyone.Get("/files/Vantry/Caf%C3%A9%20Game/App.apk", {{"Range", "bytes=-5"}});
    ASSERT_EQ(status(res), 206);
    EXPECT_EQ(res->body, payload.substr(payload.size() - 5));
    EXPECT_EQ(status(anyone.Get("/files/Vantry/Caf%C3%A9%20Game/App.apk", {{"Range", "bytes=99999999-"}})),
              416);
    res = anyone.Head("/files/Vantry/Caf%C3%A9%20Game/manifest.plist");
    ASSERT_EQ(status(res), 200);
    EXPECT_EQ(res->get_header_value("Content-Length"), "8");
    EXPECT_EQ(res->get_header_value("Content-Type"), "application/xml");
    EXPECT_EQ(anyone.Get("/files/VANTRY/caf%C3%A9%20game/MANIFEST.plist")->body, "<plist/>");
}

TEST_P(StorageApi, RefusesWithoutTokenOversizeAndEscapes) {
    auto anyone = client({});
    ASSERT_EQ(status(anyone.Post("/storage/folders", R"({"path":"x"})", "application/json")), 401);
    EXPECT_EQ(status(anyone.Get("/storage/me")), 401);
    EXPECT_EQ(status(client(server->storageToken() + "x")
                         .Put("/storage/files?path=a.ipa", "x", "application/octet-stream")),
              401);

    auto api = client(server->storageToken());
    ASSERT_EQ(status(api.Put("/storage/files?path=Job%2FApp.ipa", "x", "application/octet-stream")), 201);
    EXPECT_EQ(status(api.Put("/storage/files?path=big.ipa", std::string((64 << 20) + 1, 'x'),
                             "application/octet-stream")),
              413);
    for (const char* path : {"..%2Fx", "%2Fetc%2Fpasswd", "a%00b", "a%2F..%2F..%2Fx", "job" /* a folder */})
        EXPECT_EQ(
            status(api.Put(std::string("/storage/files?path=") + path, "x", "application/octet-stream")), 400)
            << path;
    EXPECT_EQ(status(api.Post("/storage/folders", "{not json", "application/json")), 400);
    EXPECT_EQ(status(api.Post("/storage/folders", R"({"path":"Job/App.ipa"})", "application/json")), 400)
        << "a file is not a folder";
    EXPECT_EQ(status(api.Post("/storage/links", R"({"path":"missing.ipa"})", "application/json")), 404);
    EXPECT_EQ(status(anyone.Get("/files/..%2F..%2Fetc%2Fpasswd")), 404);
    EXPECT_EQ(status(anyone.Get("/files/Job")), 404);
    if (!s3) {
        EXPECT_EQ(filesUnder(root), (QStringList{"Job", "Job/App.ipa"}));
    }

    const auto health = anyone.Get("/healthz");
    ASSERT_EQ(status(health), 200);
    EXPECT_EQ(health->body, "{\"status\":\"ok\",\"database\":\"reachable\",\"storage\":\"reachable\"}\n");
    if (s3) {
        s3->stop();
        const auto down = anyone.Get("/healthz");
        ASSERT_EQ(status(down), 503);
        EXPECT_EQ(down->body,
                  "{\"status\":\"unavailable\",\"database\":\"reachable\",\"storage\":\"unreachable\"}\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, StorageApi, ::testing::Values(Backend::Disk, Backend::Bucket),
                         [](const auto& info) { return info.param == Backend::Disk ? "Disk" : "Bucket"; });

TEST(S3Storage, CutOffUploadLeavesNoObjectAndAbortsItsMultipartUpload) {
    SKIP_WITHOUT_S3_EMULATOR();
    S3Emulator s3;
    ASSERT_TRUE(s3.isRunning());
    ASSERT_TRUE(s3.createBucket("cut-off"));
    auto server = startServer(s3.options("cut-off"));
    ASSERT_TRUE(server);
    auto socket = std::make_unique<RawSocket>(server->port());
    socket->send("PUT /storage/files?path=Vantry/job/Cut.ipa HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer " +
                 server->storageToken().toUtf8() + "\r\nContent-Length: 67108864\r\n\r\n");
    for (int i = 0; i < 24; ++i)
        ASSERT_TRUE(socket->send(QByteArray(1 << 20, 'c')));
    // The bucket cannot be deleted while a multipart upload is open in it.
    EXPECT_TRUE(testsupport::waitUntil([&] { return s3.deleteBucket("cut-off") == 409; }))
        << "the upload never reached the bucket";
    socket.reset();
    EXPECT_TRUE(testsupport::waitUntil([&] { return s3.deleteBucket("cut-off") == 204; }, 20000))
        << "the multipart upload was not aborted";
    EXPECT_EQ(s3.headObject("cut-off", "Vantry/job/Cut.ipa"), 404);
}

TEST(S3Storage, SettingsComeFromOptionsOrTheAwsEnvironment) {
    const char* const aws[] = {"AWS_ACCESS_KEY_ID", "AWS_SECRET_ACCESS_KEY", "AWS_SESSION_TOKEN",
                               "AWS_REGION",        "AWS_DEFAULT_REGION",    "AWS_ENDPOINT_URL"};
    const QStringList keys{"--s3-access-key", "k", "--s3-secret-key", "s"};
    for (const QStringList& bad :
         {QStringList{"--storage", "ftp://x"}, QStringList{"--storage", "file:"},
          QStringList{"--storage", "s3://Bad_Bucket"} + keys, QStringList{"--storage", "s3://b/../x"} + keys,
          QStringList{"--storage", "s3://bucket"} /* no credentials */,
          QStringList{"--s3-region", "eu-west-1"},
          QStringList{"--storage", "s3://bucket", "--s3-endpoint", "http://h/path"} + keys,
          QStringList{"--storage", "s3://bucket", "--s3-path-style", "yes"} + keys})
        EXPECT_FALSE(parseOptions(bad)) << bad.join(' ').toStdString();
    // The environment as "KEY=value" pairs, the options, then the settings and a key's URL.
    const struct {
        QStringList env, args;
        std::string prefix, keys, sessionToken, url; // keys: "access/secret"
    } cases[] = {
        {{},
         QStringList{"--storage", "s3://bucket/team//apps", "--s3-endpoint", "http://127.0.0.1:9000/"} + keys,
         "team/apps/",
         "k/s",
         "",
         "http://127.0.0.1:9000/bucket/Vantry/My%20Job/a%2Bb.ipa"},
        {{"AWS_ACCESS_KEY_ID=env-key", "AWS_SECRET_ACCESS_KEY=env-secret", "AWS_SESSION_TOKEN=env-token",
          "AWS_REGION=eu-west-1"},
         {"--storage", "s3://bucket"},
         "",
         "env-key/env-secret",
         "env-token",
         "https://bucket.s3.eu-west-1.amazonaws.com/Vantry/My%20Job/a%2Bb.ipa"},
        {{"AWS_ACCESS_KEY_ID=env-key", "AWS_SECRET_ACCESS_KEY=env-secret",
          "AWS_ENDPOINT_URL=https://m.test:9000"},
         {"--storage", "s3://bucket", "--s3-path-style", "off", "--s3-access-key", "opt-key"},
         "",
         "opt-key/env-secret",
         "",
         "https://bucket.m.test:9000/Vantry/My%20Job/a%2Bb.ipa"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        for (const char* name : aws)
            qunsetenv(name);
        for (const QString& pair : c.env)
            qputenv(pair.section('=', 0, 0).toLatin1().constData(), pair.section('=', 1).toUtf8());
        const auto o = parseOptions(c.args);
        const std::optional<S3Config> config = o ? s3ConfigFor(*o) : std::nullopt;
        ASSERT_TRUE(config);
        EXPECT_EQ(config->bucket, "bucket");
        EXPECT_EQ(config->prefix, c.prefix);
        EXPECT_EQ(config->accessKey + '/' + config->secretKey, c.keys);
        EXPECT_EQ(config->sessionToken, c.sessionToken);
        EXPECT_EQ(S3Client(*config).url("Vantry/My Job/a+b.ipa"), c.url);
    }
    for (const char* name : aws)
        qunsetenv(name);
    EXPECT_TRUE(parseOptions({"--storage", "file:/srv/vantry/files"}));
}

// fauxqs takes any signature; s3rver checks them as S3 does. Every kind of request the store
// sends must pass, and a wrong secret must not.
TEST(S3Storage, RequestsCarrySignaturesTheServiceAccepts) {
    SKIP_WITHOUT_S3_EMULATOR(S3Emulator::SignatureChecking);
    S3Emulator s3(S3Emulator::SignatureChecking, "signed");
    ASSERT_TRUE(s3.isRunning());
    auto server = startServer(s3.options("signed", "team+1 é"));
    ASSERT_TRUE(server);
    httplib::Client api("127.0.0.1", server->port());
    api.set_bearer_token_auth(server->storageToken().toStdString());
    EXPECT_EQ(status(api.Post("/storage/folders", R"({"path":"Vantry/Job 1"})", "application/json")), 201);
    const std::string payload = pattern(9 << 20); // a full part and a short one
    auto res =
        api.Put("/storage/files?path=Vantry%2FJob%201%2FApp%2B1.ipa", payload, "application/octet-stream");
    ASSERT_EQ(status(res), 201) << (res ? res->body : "");
    ASSERT_EQ(
        status(api.Put("/storage/files?path=Vantry%2FJob%201%2F%C3%A9.plist", "<plist/>", "application/xml")),
        201);
    res = api.Post("/storage/links", R"({"path":"Vantry/Job 1/App+1.ipa"})", "application/json");
    ASSERT_EQ(status(res), 200);
    httplib::Client anonymous("127.0.0.1", server->port());
    res = anonymous.Get("/files/Vantry/Job%201/App%2B1.ipa", {{"Range", "bytes=8388600-8388700"}});
    ASSERT_EQ(status(res), 206);
    EXPECT_EQ(res->body, payload.substr(8388600, 101));
    res = anonymous.Get("/files/Vantry/Job%201/%C3%A9.plist");
    ASSERT_EQ(status(res), 200);
    EXPECT_EQ(res->body, "<plist/>");
    EXPECT_EQ(status(anonymous.Get("/healthz")), 200);

    ServerOptions wrong = s3.options("signed");
    wrong.s3SecretKey = "not-the-secret";
    auto refused = startServer(wrong);
    ASSERT_TRUE(refused);
    httplib::Client other("127.0.0.1", refused->port());
    EXPECT_EQ(status(other.Get("/healthz")), 503);
    EXPECT_EQ(status(other.Get("/files/Vantry/Job%201/%C3%A9.plist")), 404);
}

// Answers as S3 writes them: a namespace, keys with entity and character references (control
// characters come as &#x…;), CDATA, nested owner blocks, and the request's own <Prefix>.
TEST(S3Storage, AnswersAreReadAsXml) {
    const S3Xml::Listing page = S3Xml::parseListing(
        R"(<?xml version="1.0" encoding="UTF-8"?>
<ListBucketResult xmlns="http://s3.amazonaws.com/doc/2006-03-01/"><Name>b</Name><Prefix>p/</Prefix>
<Contents><Key>p/a&amp;b&#x41;&#10;.ipa</Key><Owner><ID>x</ID></Owner><Size>3</Size></Contents>
<Contents><Key><![CDATA[p/<raw>.plist]]></Key></Contents>
<CommonPrefixes><Prefix>p/Job &lt;1&gt;/</Prefix></CommonPrefixes>
<IsTruncated>true</IsTruncated><NextContinuationToken>t&amp;1</NextContinuationToken></ListBucketResult>)");
    ASSERT_TRUE(page.valid);
    EXPECT_EQ(page.keys, (std::vector<std::string>{"p/a&bA\n.ipa", "p/<raw>.plist"}));
    EXPECT_EQ(page.prefixes, std::vector<std::string>{"p/Job <1>/"});
    EXPECT_TRUE(page.truncated);
    EXPECT_EQ(page.nextToken, "t&1");

    const S3Xml::Document error =
        S3Xml::parse("<Error><Code>NoSuchKey</Code><Message>The key &quot;k&quot; does "
                     "not exist</Message></Error>");
    EXPECT_TRUE(error.valid);
    EXPECT_EQ(error.root, "Error");
    EXPECT_EQ(error.value("Code"), "NoSuchKey");
    EXPECT_EQ(S3Xml::parse("<InitiateMultipartUploadResult xmlns=\"http://s3.amazonaws.com/doc/2006-03-01/\">"
                           "<UploadId>VXBsb2Fk&#x2B;SUQ=</UploadId></InitiateMultipartUploadResult>")
                  .value("UploadId"),
              "VXBsb2Fk+SUQ=");
    for (const char* broken : {"<Error><Code>Slow", "not xml"})
        EXPECT_FALSE(S3Xml::parse(broken).valid) << broken;
    EXPECT_FALSE(S3Xml::parseListing("<Error><Code>AccessDenied</Code></Error>").valid);
    EXPECT_EQ(S3Xml::escape("\"a&b<c>\""), "\"a&amp;b&lt;c&gt;\"");
}

} // namespace
