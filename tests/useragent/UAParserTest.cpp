#include "useragent/UAParser.h"

#include "support/TestSupport.h"
#include "useragent/UACorpus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace {

// The rows of a file of tests/useragent/data/ that have `columns` columns.
QList<QByteArrayList> rows(const char* file, int columns) {
    return testsupport::tsvRows(testsupport::sourceDir() + "/tests/useragent/data/" + file, columns);
}

QString shown(std::initializer_list<std::optional<QString>> fields, QChar separator) {
    QStringList parts;
    for (const std::optional<QString>& field : fields)
        parts << field.value_or("-");
    return parts.join(separator);
}

// The parser's OS for agent as "name<tab>version" ("-" for an absent field or record), read twice:
// the second read comes from the cache.
QString osOf(const QString& agent) {
    UAParser parser(agent);
    const auto read = [&] {
        const std::optional<OS>& os = parser.os();
        return os ? shown({os->name, os->version}, '\t') : "-\t-";
    };
    const QString first = read();
    EXPECT_EQ(read(), first) << "cached";
    return first;
}

} // namespace

// Real agents from the corpus with the OS the rules give them (see the data file's header), and
// edge cases of the rules.
TEST(UAParser, OsOfRealAgentsAndEdgeCases) {
    const QList<QByteArrayList> table = rows("os-agents.tsv", 3);
    ASSERT_GE(table.size(), 30);
    for (const QByteArrayList& r : table)
        EXPECT_EQ(osOf(QString::fromUtf8(r[2])), QString::fromUtf8(r[0] + '\t' + r[1])) << r[2].constData();
    const std::pair<const char*, const char*> cases[] = {
        {"Mozilla/5.0 (iPhone; CPU iPhone OS 10_3_1 like Mac OS X) AppleWebKit/603.1.30 (KHTML, like Gecko) "
         "Version/10.0 Mobile/14E304 Safari/602.1",
         "ios\t10.3.1"},
        // The "; opera" branch of the iOS pattern: its version group took no part.
        {"Opera/9.80 (iPhone; Opera Mini/7.0.4/28.2555; U; fr) Presto/2.8.119 Version/11.10", "ios\t-"},
        // Only the Macintosh pattern matches, and it has no second group for the version.
        {"Mozilla/5.0 (Macintosh; U; en) AppleWebKit/85.7 (KHTML, like Gecko) Safari/85.5", "mac os\t-"},
        {"Mozilla/5.0 (Windows NT 6.1; WOW64; rv:40.0) Gecko/20100101 Firefox/40.1", "Windows\t7"},
        {"Mozilla/5.0 (Linux; Android 7.0; SM-G930F Build/NRD90M) AppleWebKit/537.36", "Android\t7.0"},
        {"curl/8.5.0", "-\t-"},
        {"", "-\t-"},
    };
    for (const auto& [agent, os] : cases)
        EXPECT_EQ(osOf(QString::fromUtf8(agent)), QString::fromUtf8(os)) << agent;
    UAParser empty{QString()};
    EXPECT_FALSE(empty.browser() || empty.cpu() || empty.device() || empty.engine());
}

TEST(UAParser, OtherKindsOnKnownAgents) {
    const QList<QByteArrayList> table = rows("kind-agents.tsv", 5);
    ASSERT_GE(table.size(), 11);
    for (const QByteArrayList& r : table) {
        UAParser p(QString::fromUtf8(r[4]));
        const auto& b = p.browser();
        const auto& c = p.cpu();
        const auto& e = p.engine();
        const auto& d = p.device();
        const QStringList got = {b ? shown({b->name, b->version}, ' ') : "-",
                                 c ? shown({c->identifier}, ' ') : "-",
                                 e ? shown({e->name, e->version}, ' ') : "-",
                                 d ? shown({d->vendor, d->type, d->model}, '|') : "-"};
        EXPECT_EQ(got.join('\t'), QString::fromUtf8(r.mid(0, 4).join('\t'))) << r[4].constData();
    }
}

// Every agent of the corpus, all five kinds, read on four threads that share the tables the first of
// them builds (under ctest every test runs in its own process, so this is the first use): nothing
// crashes or hangs, a present record always carries at least one field, the threads read an agent as
// this thread does, and every top agent has a named OS.
TEST(UAParserCorpus, EveryAgentClassifiesOnThreadsSharingTheTables) {
    const QStringList agents = uacorpus::loadAllAgents(testsupport::dataPath("ua"));
    ASSERT_GT(agents.size(), 20000);
    std::vector<QString> oses(agents.size());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&agents, &oses, t] {
            for (qsizetype i = t; i < agents.size(); i += 4) {
                UAParser p(agents[i]);
                const auto& b = p.browser();
                const auto& d = p.device();
                const auto& e = p.engine();
                const auto& os = p.os();
                EXPECT_TRUE((!b || b->name || b->version) && (!d || d->vendor || d->type || d->model) &&
                            (!e || e->name || e->version) && (!p.cpu() || p.cpu()->identifier) &&
                            (!os || os->name || os->version))
                    << agents[i].toStdString();
                oses[std::size_t(i)] = os ? shown({os->name, os->version}, '\t') : "-\t-";
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_GT(std::count_if(oses.begin(), oses.end(), [](const QString& os) { return os != "-\t-"; }),
              agents.size() / 2);
    for (qsizetype i = 0; i < agents.size(); i += 50)
        EXPECT_EQ(osOf(agents[i]), oses[std::size_t(i)]) << agents[i].toStdString();
    for (const char* file : {"ua/top-user-agents_desktop.json", "ua/top-user-agents_mobile.json"}) {
        const QStringList top = uacorpus::loadAgents(testsupport::dataPath(file));
        ASSERT_FALSE(top.isEmpty()) << file;
        for (const QString& agent : top) {
            UAParser p(agent);
            ASSERT_TRUE(p.os() && p.os()->name && !p.os()->name->isEmpty()) << agent.toStdString();
        }
    }
}

// Hostile agents of 10,000 characters, built to make the nested and unbounded patterns of the
// tables backtrack; the match cap keeps every kind finishing (the test would hang otherwise).
TEST(UAParserCorpus, HostileLongAgentsFinish) {
    for (const QString& agent : {QStringLiteral("android;le pan ").repeated(667).left(10000),
                                 QStringLiteral("android a build/hx ").repeated(527).left(10000)}) {
        UAParser p(agent);
        (void)p.browser(), (void)p.cpu(), (void)p.device(), (void)p.engine();
        ASSERT_TRUE(p.os());
        EXPECT_EQ(p.os()->name, "android");
    }
    UAParser htc("htc " + QStringLiteral("a ").repeated(4997) + ")x");
    ASSERT_TRUE(htc.device());
    EXPECT_EQ(htc.device()->vendor, "htc");
    EXPECT_EQ(htc.device()->model->size(), 9993);
    // A long agent that needs no backtracking is still classified.
    EXPECT_EQ(osOf("Mozilla/5.0 (Linux; Android 9; " + QString(9000, 'x') + ")"), "Android\t9");
}
