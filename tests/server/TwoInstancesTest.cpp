// Two instances of the service on one PostgreSQL database, addressed in turn as a load balancer
// would: what one stores the other serves, an id is taken once, and the limits and the repeat
// filter count across both.
#include "PostgresCluster.h"
#include "ServerTestUtil.h"
#include "server/Database.h"

#include <map>

namespace {

class TwoInstances : public ::testing::Test {
protected:
    void SetUp() override {
        QString reason;
        if ((url = testDatabaseUrl(TestEngine::Postgres, &reason)).isEmpty())
            GTEST_SKIP() << reason.toStdString();
    }
    void start(ServerOptions options) {
        options.database = url;
        for (auto& server : servers) {
            server = startServer(options);
            ASSERT_TRUE(server);
        }
    }
    httplib::Client client(int instance) const {
        return httplib::Client("127.0.0.1", servers[instance % 2]->port());
    }
    // Registers the user through one of the instances; its secret is then sent on its behalf.
    void signUpAs(const QString& user) {
        httplib::Client c = client(int(secrets.size()));
        secrets[user] = signUp(c, user);
        ASSERT_FALSE(secrets[user].empty());
    }
    QJsonArray list(int instance, const std::string& path, const std::string& owner) const {
        return listOf(client(instance).Get(path, as(owner, secrets.at(QString::fromStdString(owner)))));
    }
    QString url;
    std::unique_ptr<VantryServer> servers[2];
    std::map<QString, std::string> secrets;
};

TEST_F(TwoInstances, LimitsAndTheStorageTokenAreShared) {
    start({.installsPerMinute = 10, .crashReportsPerMinute = 3, .appsPerMinute = 3}); // the 409 counts too
    EXPECT_EQ(servers[0]->storageToken(), servers[1]->storageToken());
    EXPECT_GE(servers[0]->storageToken().size(), 32);
    signUpAs("owner");
    const std::string& secret = secrets["owner"];
    httplib::Client first = client(0);
    ASSERT_EQ(postApp(first, "owner", "limited", {}, secret), 201);
    httplib::Client second = client(1);
    EXPECT_EQ(postApp(second, "owner", "limited", {}, secret), 409) << "one database, one owner of an id";
    EXPECT_EQ(postApp(second, "owner", "second", {}, secret), 201);
    EXPECT_EQ(postApp(first, "owner", "third", {}, secret), 429);
    std::vector<int> installs;
    std::vector<int> crashes;
    for (int i = 0; i < 12; ++i) {
        httplib::Client c = client(i);
        installs.push_back(status(c.Get("/limited/install")));
        if (i < 4)
            crashes.push_back(status(
                c.Post("/reportcrash", R"({"name":"n","reason":"r","exception":"e","callStackSymbols":"[]"})",
                       "application/json")));
    }
    EXPECT_EQ(std::count(installs.begin(), installs.end(), 302), 10);
    EXPECT_EQ(installs.back(), 429);
    // One address on both instances within the repeat window: one install, nine repeats.
    EXPECT_EQ(list(0, "/userdata/limited", "owner").size(), 1);
    EXPECT_EQ(servers[1]->database().installsOf("limited", true)->size(), 10);
    EXPECT_EQ(crashes, (std::vector<int>{201, 201, 201, 429}));
    // The storage API of one instance takes the token the other handed out.
    second.set_bearer_token_auth(servers[0]->storageToken().toStdString());
    EXPECT_EQ(status(second.Get("/storage/me")), 200);
}

} // namespace
