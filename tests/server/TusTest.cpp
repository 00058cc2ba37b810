// Resumable uploads (tus 1.0.0) to the self-hosted storage: the protocol's answers, expiry, a
// cut request, and tus-js-client from the npm registry as an independent client. Our own client
// (TusUpload) is tried through a cut connection with the self-hosted storage client's tests.
#include "server/ServerTestUtil.h"

#include <QDir>
#include <QStandardPaths>

#include <atomic>

namespace {

QStringList uploadArea(const QString& dataDir) {
    return QDir(dataDir + "/.uploads").entryList(QDir::Files);
}

TEST(Tus, AnswersFollowTheProtocol) {
    const ServerOptions options{.dataDir = testsupport::makeTempDir("tus"), .maxUploadBytes = 1000};
    auto server = startServer(options);
    ASSERT_TRUE(server);
    Tus tus(*server);
    const std::string meta = "filename " + QByteArray("Vantry/job/App.ipa").toBase64().toStdString();
    struct Step {
        const char* what;
        std::string method;
        std::string path; // "@": the upload made last
        Tus::Fields fields;
        std::string body;
        int status;
        Tus::Fields answer;
    };
    const std::string c = "/storage/tus";
    const Tus::Fields bytes{{"Content-Type", "application/offset+octet-stream"}};
    // clang-format off
    const std::vector<Step> steps = {
        {"discovery", "OPTIONS", c, {{"Tus-Resumable", "-"}}, "", 204, {{"Tus-Version", "1.0.0"}, {"Tus-Extension", "creation,termination,expiration"}, {"Tus-Max-Size", "1000"}}},
        {"no token", "POST", c, {{"Authorization", "-"}, {"Upload-Length", "10"}, {"Upload-Metadata", meta}}, "", 401, {}},
        {"other version", "POST", c, {{"Tus-Resumable", "0.2.2"}, {"Upload-Length", "10"}, {"Upload-Metadata", meta}}, "", 412, {{"Tus-Version", "1.0.0"}}},
        {"over --max-upload", "POST", c, {{"Upload-Length", "1001"}, {"Upload-Metadata", meta}}, "", 413, {}},
        {"no length", "POST", c, {{"Upload-Metadata", meta}}, "", 400, {}},
        {"no filename", "POST", c, {{"Upload-Length", "10"}}, "", 400, {}},
        {"path leaving the store", "POST", c, {{"Upload-Length", "10"}, {"Upload-Metadata", "filename Li4vZXNjYXBl"}}, "", 400, {}},
        {"created", "POST", c, {{"Upload-Length", "10"}, {"Upload-Metadata", meta}}, "", 201, {}},
        {"at its start", "HEAD", "@", {}, "", 200, {{"Upload-Offset", "0"}, {"Upload-Length", "10"}, {"Cache-Control", "no-store"}}},
        {"other content type", "PATCH", "@", {{"Content-Type", "text/plain"}, {"Upload-Offset", "0"}}, "0123", 415, {}},
        {"wrong offset", "PATCH", "@", {bytes[0], {"Upload-Offset", "3"}}, "0123", 409, {}},
        {"first bytes", "PATCH", "@", {bytes[0], {"Upload-Offset", "0"}}, "0123", 204, {{"Upload-Offset", "4"}}},
        {"past its length", "PATCH", "@", {bytes[0], {"Upload-Offset", "4"}}, "4567890", 413, {}},
        {"the rest", "PATCH", "@", {bytes[0], {"Upload-Offset", "4"}}, "456789", 204, {{"Upload-Offset", "10"}}},
        {"complete", "HEAD", "@", {}, "", 200, {{"Upload-Offset", "10"}, {"Upload-Length", "10"}}},
        {"unknown", "HEAD", c + "/0123456789abcdef0123456789abcdef", {}, "", 404, {}},
        {"another", "POST", c, {{"Upload-Length", "5"}, {"Upload-Metadata", "filename Z29uZQ=="}}, "", 201, {}},
        {"terminated", "DELETE", "@", {}, "", 204, {}},
        {"gone", "HEAD", "@", {}, "", 404, {}},
        {"gone for PATCH", "PATCH", "@", {bytes[0], {"Upload-Offset", "0"}}, "01234", 404, {}},
    };
    // clang-format on
    std::string upload;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        const auto r = tus.send(step.method, step.path == "@" ? upload : step.path, step.fields, step.body);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, step.status);
        EXPECT_EQ(r->get_header_value("Tus-Resumable"), step.method == "OPTIONS" ? "" : "1.0.0");
        for (const auto& [name, value] : step.answer)
            EXPECT_EQ(r->get_header_value(name), value) << name;
        if (r->status == 201)
            upload = r->get_header_value("Location").substr(server->localUrl().size() - 1);
    }
    EXPECT_EQ(tus.http.Get("/files/Vantry/job/App.ipa")->body, "0123456789");
    EXPECT_EQ(tus.http.Get("/files/gone")->status, 404);
    // The finished upload's record stays, private, until it expires; the terminated one is gone.
    const QStringList left = uploadArea(options.dataDir);
    ASSERT_EQ(left.size(), 1);
    EXPECT_EQ(modeOf(options.dataDir + "/.uploads"), 0700);
    EXPECT_EQ(modeOf(options.dataDir + "/.uploads/" + left[0]), 0600);
}

TEST(Tus, UnfinishedUploadsExpireAfterADayWithoutProgress) {
    std::atomic<int> hours{0};
    ServerOptions options;
    options.dataDir = testsupport::makeTempDir("tus");
    options.uploadClock = [&hours] {
        return std::chrono::system_clock::now() + std::chrono::hours(hours.load());
    };
    auto server = startServer(options);
    ASSERT_TRUE(server);
    Tus tus(*server);
    const std::string kept = tus.create(10, "Vantry/job/kept.bin");
    ASSERT_FALSE(tus.create(10, "Vantry/job/left.bin").empty());
    EXPECT_EQ(status(tus.patch(kept, 0, "0123")), 204);
    hours = 23;
    EXPECT_EQ(status(tus.patch(kept, 4, "45")), 204);
    hours = 25; // the other upload had no progress for a day: swept without being asked for
    EXPECT_EQ(tus.offset(kept), "6");
    EXPECT_EQ(uploadArea(options.dataDir).size(), 2);
    hours = 48;
    EXPECT_EQ(status(tus.send("HEAD", kept, {})), 410);
    EXPECT_EQ(status(tus.patch(kept, 6, "6789")), 404);
    EXPECT_TRUE(uploadArea(options.dataDir).isEmpty());
}

// The connection of a PATCH ends after some of its body, on plain HTTP (bytes spliced from the
// socket into the file) and on TLS (bytes read in pieces): all that arrived stays.
TEST(Tus, ACutRequestKeepsTheBytesThatArrived) {
    for (const bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "TLS" : "plain");
        ServerOptions options;
        ASSERT_TRUE(!tls || useTls(options, testsupport::makeTempDir("tls")));
        auto server = startServer(options);
        ASSERT_TRUE(server);
        Tus tus(*server);
        const std::string file = pattern(1 << 20);
        const std::string upload = tus.create(file.size(), "Vantry/cut/App.ipa");
        constexpr size_t piece = 64 * 1024, sent = 5 * piece;
        httplib::Headers headers{
            {"Authorization", "Bearer " + tus.token}, {"Tus-Resumable", "1.0.0"}, {"Upload-Offset", "0"}};
        const auto cut = tus.http.Patch(
            upload, headers, file.size(),
            [&](size_t offset, size_t, httplib::DataSink& sink) {
                return offset < sent && sink.write(file.data() + offset, piece);
            },
            "application/offset+octet-stream");
        EXPECT_FALSE(cut);
        EXPECT_EQ(tus.http.Get("/files/Vantry/cut/App.ipa")->status, 404); // not before the last byte
        EXPECT_TRUE(testsupport::waitUntil([&] { return tus.offset(upload) == std::to_string(sent); }))
            << tus.offset(upload);
        EXPECT_EQ(status(tus.patch(upload, sent, file.substr(sent))), 204);
        EXPECT_TRUE(tus.http.Get("/files/Vantry/cut/App.ipa")->body == file);
    }
}

TEST(Tus, TheNpmClientUploadsIsCutResumesAndCompletes) {
    const QString module =
        qEnvironmentVariable("VANTRY_TEST_TOOLS", testsupport::binaryDir() + "/test-tools") +
        "/node_modules/tus-js-client";
    if (QStandardPaths::findExecutable("node").isEmpty())
        GTEST_SKIP() << "node is not installed";
    if (!QFile::exists(module + "/package.json"))
        GTEST_SKIP() << "tus-js-client is not installed (run scripts/bootstrap): " << module.toStdString();
    const ServerOptions options{.dataDir = testsupport::makeTempDir("tus")};
    auto server = startServer(options);
    ASSERT_TRUE(server);
    const QByteArray file = QByteArray::fromStdString(pattern(5 << 20));
    const QString local = testsupport::writeFile(options.dataDir + "/local/App.ipa", file);
    QProcess node;
    node.start("node",
               {testsupport::sourceDir() + "/tests/server/tus-upload.mjs", module,
                server->localUrl() + "storage/tus", server->storageToken(), local, "Vantry/npm/App.ipa"});
    ASSERT_TRUE(node.waitForFinished(60000));
    EXPECT_EQ(node.exitCode(), 0) << node.readAllStandardError().toStdString();
    const QJsonObject report = QJsonDocument::fromJson(node.readAllStandardOutput()).object();
    const double resumedFrom = report.value("resumedFrom").toDouble();
    EXPECT_GT(report.value("cutAt").toDouble(), 2 << 20);
    EXPECT_GE(resumedFrom, 2 << 20);
    EXPECT_LT(resumedFrom, file.size());
    EXPECT_TRUE(testsupport::readFile(options.dataDir + "/files/Vantry/npm/App.ipa") == file);
}

} // namespace
