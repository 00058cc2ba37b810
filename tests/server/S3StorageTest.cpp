// The storage API on an S3-compatible bucket (the fauxqs emulator): the same answers as on disk,
// parts and ranges on the wire, and nothing left in the bucket by an upload that is cut off.
#include "S3Emulator.h"
#include "ServerTestUtil.h"

#include <gtest/gtest.h>

#include <QTcpSocket>

namespace {

std::string pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 4093) % 251);
    return bytes;
}

httplib::Client storageClient(const VantryServer& server) {
    httplib::Client c("127.0.0.1", server.port());
    c.set_bearer_token_auth(server.storageToken().toStdString().c_str());
    c.set_read_timeout(60);
    return c;
}

} // namespace

TEST(S3Storage, FilesGoUpInPartsAndComeBackWithRangesAndCase) {
    SKIP_WITHOUT_S3_EMULATOR();
    S3Emulator s3;
    ASSERT_TRUE(s3.isRunning());
    ASSERT_TRUE(s3.createBucket("vantry-files"));
    ServerOptions options = s3.options(QStringLiteral("vantry-files"), QStringLiteral("team/apps"));
    options.maxUploadBytes = qint64(64) << 20;
    auto server = startServer(options);
    ASSERT_TRUE(server);
    auto api = storageClient(*server);

    auto res = api.Post("/storage/folders", R"({"path":"Vantry/Big Game"})", "application/json");
    ASSERT_EQ(status(res), 201) << (res ? res->body : "");
    EXPECT_EQ(status(api.Post("/storage/folders", R"({"path":"vantry/big game"})", "application/json")), 200);
    EXPECT_EQ(s3.headObject("vantry-files", "team/apps/Vantry/Big%20Game/"), 200)
        << "folder marker under the prefix";

    // 20 MiB: two full parts and a last one, uploaded to the lowercased path.
    const std::string payload = pattern(20 << 20);
    res = api.Put("/storage/files?path=vantry%2Fbig%20game%2FApp.apk", payload, "application/octet-stream");
    ASSERT_EQ(status(res), 201) << (res ? res->body : "");
    EXPECT_NE(res->body.find("\"size\":20971520"), std::string::npos) << res->body;
    res = api.Put("/storage/files?path=vantry%2Fbig%20game%2Fmanifest.plist", "<plist/>", "application/xml");
    ASSERT_EQ(status(res), 201);
    EXPECT_EQ(s3.headObject("vantry-files", "team/apps/Vantry/Big%20Game/App.apk"), 200)
        << "the file joins the folder in its stored spelling";

    res = api.Post("/storage/links", R"({"path":"VANTRY/BIG GAME/app.APK"})", "application/json");
    ASSERT_EQ(status(res), 200);
    const std::string link = server->publicUrl().toStdString() + "files/Vantry/Big%20Game/App.apk";
    EXPECT_NE(res->body.find(link), std::string::npos) << res->body;

    httplib::Client anonymous("127.0.0.1", server->port());
    res = anonymous.Get("/files/Vantry/Big%20Game/App.apk");
    ASSERT_EQ(status(res), 200);
    EXPECT_TRUE(res->body == payload) << "download differs, " << res->body.size() << " bytes";
    EXPECT_EQ(res->get_header_value("Content-Type"), "application/vnd.android.package-archive");
    const std::string etag = res->get_header_value("ETag");
    EXPECT_EQ(status(anonymous.Get("/files/Vantry/Big%20Game/App.apk", {{"If-None-Match", etag}})), 304);

    // A range across the boundary of the first two parts, a suffix, and one past the end.
    res = anonymous.Get("/files/vantry/big%20game/App.apk", {{"Range", "bytes=8388000-8389000"}});
    ASSERT_EQ(status(res), 206);
    EXPECT_EQ(res->body, payload.substr(8388000, 1001));
    EXPECT_EQ(res->get_header_value("Content-Range"), "bytes 8388000-8389000/20971520");
    res = anonymous.Get("/files/Vantry/Big%20Game/App.apk", {{"Range", "bytes=-5"}});
    ASSERT_EQ(status(res), 206);
    EXPECT_EQ(res->body, payload.substr(payload.size() - 5));
    EXPECT_EQ(status(anonymous.Get("/files/Vantry/Big%20Game/App.apk", {{"Range", "bytes=99999999-"}})), 416);
    res = anonymous.Head("/files/Vantry/Big%20Game/manifest.plist");
    ASSERT_EQ(status(res), 200);
    EXPECT_EQ(res->get_header_value("Content-Length"), "8");
    EXPECT_EQ(res->get_header_value("Content-Type"), "application/xml");
    EXPECT_EQ(anonymous.Get("/files/VANTRY/big%20game/MANIFEST.plist")->body, "<plist/>");

    // Refusals are the same as on disk.
    EXPECT_EQ(status(api.Put("/storage/files?path=..%2Fx", "x", "application/octet-stream")), 400);
    EXPECT_EQ(status(api.Put("/storage/files?path=Vantry%2Fbig%20GAME", "x", "application/octet-stream")),
              400)
        << "a folder is not a file";
    EXPECT_EQ(
        status(api.Post("/storage/folders", R"({"path":"Vantry/Big Game/App.apk"})", "application/json")),
        400);
    EXPECT_EQ(status(api.Post("/storage/links", R"({"path":"Vantry/missing.ipa"})", "application/json")),
              404);
    EXPECT_EQ(status(anonymous.Get("/files/Vantry/Big%20Game")), 404);
    EXPECT_EQ(status(api.Put("/storage/files?path=big.ipa", std::string((64 << 20) + 1, 'x'),
                             "application/octet-stream")),
              413);

    res = anonymous.Get("/healthz");
    ASSERT_EQ(status(res), 200);
    EXPECT_EQ(res->body, "ok\n");
    s3.stop();
    res = anonymous.Get("/healthz");
    ASSERT_EQ(status(res), 503);
    EXPECT_EQ(res->body, "storage unavailable\n");
}

TEST(S3Storage, CutOffUploadLeavesNoObjectAndAbortsItsMultipartUpload) {
    SKIP_WITHOUT_S3_EMULATOR();
    S3Emulator s3;
    ASSERT_TRUE(s3.isRunning());
    ASSERT_TRUE(s3.createBucket("cut-off"));
    auto server = startServer(s3.options(QStringLiteral("cut-off")));
    ASSERT_TRUE(server);

    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(server->port()));
    ASSERT_TRUE(socket.waitForConnected(5000));
    socket.write("PUT /storage/files?path=Vantry/job/Cut.ipa HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer " +
                 server->storageToken().toUtf8() + "\r\nContent-Length: 67108864\r\n\r\n");
    const QByteArray chunk(1 << 20, 'c');
    for (int i = 0; i < 24; ++i) {
        socket.write(chunk);
        socket.waitForBytesWritten(5000);
    }
    // The bucket cannot be deleted while a multipart upload is open in it.
    EXPECT_TRUE(testsupport::waitUntil([&] { return s3.deleteBucket("cut-off") == 409; }))
        << "the upload never reached the bucket";
    socket.abort();
    EXPECT_TRUE(testsupport::waitUntil([&] { return s3.deleteBucket("cut-off") == 204; }, 20000))
        << "the multipart upload was not aborted";
    EXPECT_EQ(s3.headObject("cut-off", "Vantry/job/Cut.ipa"), 404);
}
