// The storage on S3-compatible buckets: nothing left by an upload that is cut off, settings,
// signatures a checking emulator (s3rver) accepts, and the answers' XML.
#include "RawSocket.h"
#include "S3Emulator.h"
#include "ServerTestUtil.h"
#include "server/storage/StorageSetup.h"
#include "server/storage/s3/S3Client.h"
#include "server/storage/s3/S3Xml.h"

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
    const auto parse = [](const QStringList& args) {
        QString output;
        int code = -1;
        return ServerOptions::parse(args, &output, &code);
    };
    const QStringList keys{"--s3-access-key", "k", "--s3-secret-key", "s"};
    for (const QStringList& bad :
         {QStringList{"--storage", "ftp://x"}, QStringList{"--storage", "file:"},
          QStringList{"--storage", "s3://Bad_Bucket"} + keys, QStringList{"--storage", "s3://b/../x"} + keys,
          QStringList{"--storage", "s3://bucket"} /* no credentials */,
          QStringList{"--s3-region", "eu-west-1"},
          QStringList{"--storage", "s3://bucket", "--s3-endpoint", "http://h/path"} + keys,
          QStringList{"--storage", "s3://bucket", "--s3-path-style", "yes"} + keys})
        EXPECT_FALSE(parse(bad)) << bad.join(' ').toStdString();
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
        const auto o = parse(c.args);
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
    EXPECT_TRUE(parse({"--storage", "file:/srv/vantry/files"}));
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
