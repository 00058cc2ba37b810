// Two instances of the service on one PostgreSQL database, addressed in turn as a load balancer
// would: what one stores the other serves, an id is taken once, and the limits and the repeat
// filter count across both.
#include "PostgresCluster.h"
#include "ServerTestUtil.h"
#include "server/Database.h"

namespace {

TEST(TwoInstances, LimitsAndTheStorageTokenAreShared) {
    QString reason;
    const QString url = testDatabaseUrl(TestEngine::Postgres, &reason);
    if (url.isEmpty())
        GTEST_SKIP() << reason.toStdString();
    std::unique_ptr<VantryServer> servers[2];
    for (auto& server : servers)
        ASSERT_TRUE(
            server = startServer(
                {.database = url, .installsPerMinute = 10, .crashReportsPerMinute = 3, .appsPerMinute = 3}));
    const auto client = [&servers](int i) { return httplib::Client("127.0.0.1", servers[i % 2]->port()); };
    EXPECT_EQ(servers[0]->storageToken(), servers[1]->storageToken());
    EXPECT_GE(servers[0]->storageToken().size(), 32);
    httplib::Client first = client(0);
    httplib::Client second = client(1);
    const std::string secret = signUp(second, "owner");
    ASSERT_FALSE(secret.empty());
    ASSERT_EQ(postApp(first, "owner", "limited", {}, secret), 201);
    EXPECT_EQ(postApp(second, "owner", "limited", {}, secret), 409) << "one database, one owner of an id";
    EXPECT_EQ(postApp(second, "owner", "second", {}, secret), 201);
    EXPECT_EQ(postApp(first, "owner", "third", {}, secret), 429) << "three a minute, the 409 counted";
    std::vector<int> installs;
    std::vector<int> crashes;
    for (int i = 0; i < 12; ++i) {
        httplib::Client c = client(i);
        installs.push_back(status(c.Get("/limited/install")));
        if (i < 4)
            crashes.push_back(status(c.Post("/reportcrash", kCrashReport, "application/json")));
    }
    EXPECT_EQ(std::count(installs.begin(), installs.end(), 302), 10);
    EXPECT_EQ(installs.back(), 429);
    // One address on both instances within the repeat window: one install, nine repeats.
    EXPECT_EQ(listOf(first.Get("/userdata/limited", as("owner", secret))).size(), 1);
    EXPECT_EQ(servers[1]->database().installsOf("limited", true)->size(), 10);
    EXPECT_EQ(crashes, (std::vector<int>{201, 201, 201, 429}));
    // The storage API of one instance takes the token the other handed out.
    second.set_bearer_token_auth(servers[0]->storageToken().toStdString());
    EXPECT_EQ(status(second.Get("/storage/me")), 200);
}

} // namespace
