// The client behind a trusted proxy: who the headers may name, and what the per-address limits
// and the repeat filter make of it.
#include "server/http/ClientAddress.h"
#include "ServerTestUtil.h"
#include "server/Database.h"
#include "server/ServerOptions.h"

namespace {

TEST(ClientAddress, OnlyATrustedPeerNamesTheClient) {
    const std::optional<TrustedProxies> proxies =
        TrustedProxies::parse({"10.0.0.0/8", "192.168.1.7", "fd00::/8", "2001:db8::1/128"}, nullptr);
    ASSERT_TRUE(proxies);
    struct Case {
        const char* peer;
        const char* forwarded;
        const char* forwardedFor;
        const char* client;
    };
    const Case cases[] = {
        // Untrusted peers: both headers ignored.
        {"203.0.113.9", "for=1.2.3.4", "1.2.3.4", "203.0.113.9"},
        {"11.0.0.1", "", "1.2.3.4", "11.0.0.1"},
        {"2001:db8::2", "for=1.2.3.4", "", "2001:db8::2"},
        {"192.168.1.8", "", "1.2.3.4", "192.168.1.8"},
        // Trusted peers, IPv4 and IPv6 ranges, single address and IPv4-mapped peers.
        {"10.1.2.3", "", "1.2.3.4", "1.2.3.4"},
        {"192.168.1.7", "", "1.2.3.4", "1.2.3.4"},
        {"fd12::5", "", "2001:db8::9", "2001:db8::9"},
        {"2001:db8::1", "", "1.2.3.4", "1.2.3.4"},
        {"::ffff:10.0.0.1", "", "1.2.3.4", "1.2.3.4"},
        // X-Forwarded-For: the rightmost entry that is not a trusted proxy; spoofed left parts lose.
        {"10.0.0.1", "", "6.6.6.6, 1.2.3.4, 10.9.9.9", "1.2.3.4"},
        {"10.0.0.1", "", "10.0.0.2, 10.0.0.3", "10.0.0.1"},
        {"10.0.0.1", "", "garbage, 1.2.3.4", "1.2.3.4"},
        {"10.0.0.1", "", "1.2.3.4, garbage", "10.0.0.1"},
        // Forwarded wins over X-Forwarded-For: quotes, ports, brackets, case, other parameters.
        {"10.0.0.1", "for=5.6.7.8", "1.2.3.4", "5.6.7.8"},
        {"10.0.0.1", "For=\"5.6.7.8:4711\";proto=https", "", "5.6.7.8"},
        {"10.0.0.1", "for=\"[2001:db8:cafe::17]:4711\"", "", "2001:db8:cafe::17"},
        {"10.0.0.1", "for=\"[2001:db8:cafe::17]\"", "", "2001:db8:cafe::17"},
        {"10.0.0.1", "for=6.6.6.6, for=1.2.3.4;by=10.0.0.1, for=10.2.2.2", "", "1.2.3.4"},
        // Obfuscated or unknown nearest hop: nothing better than the proxy itself.
        {"10.0.0.1", "for=_hidden", "1.2.3.4", "10.0.0.1"},
        {"10.0.0.1", "for=unknown", "", "10.0.0.1"},
        {"10.0.0.1", "", "", "10.0.0.1"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(clientAddress(QString::fromLatin1(c.peer), QString::fromLatin1(c.forwarded),
                                QString::fromLatin1(c.forwardedFor), *proxies),
                  QString::fromLatin1(c.client))
            << c.peer << " | " << c.forwarded << " | " << c.forwardedFor;

    for (const char* bad :
         {"10.0.0.0/33", "fd00::/129", "10.0.0.0/", "10.0.0/8", "example.org/8", "10.0.0.0/x", ""}) {
        QString named;
        EXPECT_FALSE(TrustedProxies::parse({QString::fromLatin1(bad)}, &named)) << bad;
        EXPECT_EQ(named, QString::fromLatin1(bad));
    }
    QString out;
    int exitCode = 0;
    EXPECT_FALSE(ServerOptions::parse({"--trusted-proxy", "10.0.0.0/8", "--trusted-proxy", "fd00::/300"},
                                      &out, &exitCode));
    EXPECT_EQ(exitCode, 2);
    EXPECT_TRUE(out.contains("fd00::/300") && !out.contains('\n')) << out.toStdString();
}

// Installs through a proxy count per visitor and per device; without trust the headers change nothing.
TEST(ClientAddress, InstallsBehindAProxyCountPerDevice) {
    const auto install = [](httplib::Client& c, const std::string& from, int phone) {
        return status(c.Get("/proxyapp/install",
                            {{"X-Forwarded-For", from},
                             {"User-Agent", "Mozilla/5.0 (iPhone; CPU iPhone OS 17_" + std::to_string(phone) +
                                                " like Mac OS X) Mobile/15E148"}}));
    };
    for (const bool trusted : {true, false}) {
        auto server = startServer({.trustedProxies = trusted ? QStringList{"127.0.0.0/8"} : QStringList()});
        ASSERT_TRUE(server);
        httplib::Client c("127.0.0.1", server->port());
        ASSERT_EQ(postApp(c, "owner", "proxyapp", {}, signUp(c, "owner")), 201);
        std::vector<int> answers;
        for (int i = 0; i < 40; ++i)
            answers.push_back(install(c, "198.51.100." + std::to_string(i), i));
        if (!trusted) {
            // One address to the server: 30 a minute, refused after that.
            EXPECT_EQ(std::count(answers.begin(), answers.end(), 302), 30);
            EXPECT_EQ(std::count(answers.begin(), answers.end(), 429), 10);
            EXPECT_EQ(server->database().installsOf("proxyapp", true)->size(), 30);
            continue;
        }
        EXPECT_EQ(answers, std::vector<int>(40, 302));
        EXPECT_EQ(install(c, "198.51.100.7", 7), 302); // the same phone again
        for (int phone = 0; phone < 5; ++phone)
            EXPECT_EQ(install(c, "203.0.113.1", 100 + phone), 302);
        EXPECT_EQ(server->database().installsOf("proxyapp")->size(), 45);
        EXPECT_EQ(server->database().installsOf("proxyapp", true)->size(), 46);
    }
}

} // namespace
