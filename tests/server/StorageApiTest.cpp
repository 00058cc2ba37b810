// The storage API over real sockets, on disk and on an S3-compatible bucket (the fauxqs
// emulator): the same answers from both, parts and ranges on the wire, names in any case.
#include "S3Emulator.h"
#include "ServerTestUtil.h"

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

} // namespace
