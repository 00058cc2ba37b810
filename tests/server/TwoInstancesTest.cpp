// Two instances of the service on one PostgreSQL database, addressed in turn as a load balancer
// would: what one stores the other serves, nothing is lost or stored twice, and the limits
// count across both.
#include "PostgresCluster.h"
#include "ServerTestUtil.h"
#include "server/Database.h"

#include <QSet>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

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

TEST_F(TwoInstances, TenThousandAppsAndInstallsNoneLostNoneTwice) {
    start({.threads = 4, .installsPerMinute = 0, .appsPerMinute = 0});
    for (int u = 0; u < 4; ++u)
        signUpAs(QStringLiteral("user%1").arg(u));
    constexpr int kThreads = 8;
    constexpr int kCallsPerThread = 1250;
    // Every tenth id is posted by two threads at once, one to each instance: one of them must win.
    std::atomic<int> created{0};
    std::atomic<int> refused{0};
    std::atomic<int> other{0};
    std::mutex winnersMutex;
    QHash<QString, int> winners;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            httplib::Client c[2] = {client(0), client(1)};
            const QString owner = QStringLiteral("user%1").arg(t % 4);
            const std::string auth = owner.toStdString();
            for (int i = 0; i < kCallsPerThread; ++i) {
                const bool contested = i % 10 == 0;
                const QString appid = contested ? QStringLiteral("c-%1-%2").arg(t % 4).arg(i)
                                                : QStringLiteral("u-%1-%2").arg(t).arg(i);
                const int instance = contested ? (i / 10 + t / 4) % 2 : i % 2;
                const int s = postApp(c[instance], owner, appid, {}, secrets.at(owner));
                if (s == 201) {
                    ++created;
                    if (contested) {
                        std::lock_guard lock(winnersMutex);
                        ++winners[appid];
                    }
                } else if (s == 409 && contested) {
                    ++refused;
                } else {
                    ++other;
                }
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    threads.clear();
    EXPECT_EQ(other.load(), 0);
    EXPECT_EQ(created.load(), 9500);
    EXPECT_EQ(refused.load(), 500);
    EXPECT_EQ(winners.size(), 500);
    for (auto it = winners.cbegin(); it != winners.cend(); ++it)
        ASSERT_EQ(it.value(), 1) << it.key().toStdString();

    // Both instances list the same 9,500 distinct apps.
    QSet<QString> ids;
    for (int u = 0; u < 4; ++u) {
        const std::string owner = "user" + std::to_string(u);
        const QJsonArray fromFirst = list(0, "/app/" + owner, owner);
        EXPECT_EQ(fromFirst, list(1, "/app/" + owner, owner));
        for (const QJsonValue& app : fromFirst)
            ids.insert(app.toObject().value("appid").toString());
    }
    EXPECT_EQ(ids.size(), 9500);

    // 10,000 installs of 100 apps from one address, spread over both instances.
    std::vector<QString> apps; // the first hundred ids nobody contested
    for (int i = 1; apps.size() < 100; ++i)
        if (i % 10 != 0)
            apps.push_back(QStringLiteral("u-0-%1").arg(i));
    std::atomic<int> redirected{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            httplib::Client c[2] = {client(0), client(1)};
            for (int i = 0; i < kCallsPerThread; ++i) {
                const std::string path =
                    "/" + apps[size_t(t * kCallsPerThread + i) % apps.size()].toStdString() + "/install";
                if (status(c[i % 2].Get(path)) == 302)
                    ++redirected;
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(redirected.load(), kThreads * kCallsPerThread);
    int stored = 0;
    for (size_t a = 0; a < apps.size(); ++a) {
        const QString& appid = apps[a];
        const auto all = servers[0]->database().installsOf(appid, true);
        ASSERT_TRUE(all);
        stored += int(all->size());
        // One address opened the link a hundred times on two instances: it counts once.
        ASSERT_EQ(list(int(a), "/userdata/" + appid.toStdString(), "user0").size(), 1) << appid.toStdString();
    }
    EXPECT_EQ(stored, kThreads * kCallsPerThread);
}

TEST_F(TwoInstances, LimitsAndTheStorageTokenAreShared) {
    start({.installsPerMinute = 10, .crashReportsPerMinute = 3, .appsPerMinute = 2});
    EXPECT_EQ(servers[0]->storageToken(), servers[1]->storageToken());
    EXPECT_GE(servers[0]->storageToken().size(), 32);
    signUpAs("owner");
    const std::string& secret = secrets["owner"];
    httplib::Client first = client(0);
    ASSERT_EQ(postApp(first, "owner", "limited", {}, secret), 201);
    httplib::Client second = client(1);
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
    EXPECT_EQ(crashes, (std::vector<int>{201, 201, 201, 429}));
    // The storage API of one instance takes the token the other handed out.
    second.set_bearer_token_auth(servers[0]->storageToken().toStdString());
    EXPECT_EQ(status(second.Get("/storage/me")), 200);
}

} // namespace
