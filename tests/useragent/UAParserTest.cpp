#include "useragent/UAParser.h"

#include "support/TestSupport.h"
#include "useragent/UACorpus.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

std::optional<QString> text(const char* value) {
    return value ? std::optional<QString>(QString::fromUtf8(value)) : std::nullopt;
}

// Real agents from the test data, with the operating system the rule table gives them
// (worked out by walking the rules in order). nullptr is an absent field; absent marks an absent OS.
struct OsCase {
    const char* agent;
    const char* name;
    const char* version;
    bool absent = false;
};

// The parser's OS for c.agent, read twice (the second read comes from the cache).
void expectOs(const OsCase& c) {
    UAParser parser(QString::fromUtf8(c.agent));
    for (int read = 0; read < 2; ++read) {
        const std::optional<OS>& os = parser.os();
        ASSERT_EQ(os.has_value(), !c.absent) << c.agent;
        if (os) {
            EXPECT_EQ(os->name, text(c.name)) << c.agent;
            EXPECT_EQ(os->version, text(c.version)) << c.agent;
        }
    }
}

class UAParserOs : public ::testing::TestWithParam<OsCase> {};

TEST_P(UAParserOs, ClassifiesRealAgents) {
    expectOs(GetParam());
}

// The tab-separated rows of a file of tests/useragent/data/ that have `columns` columns.
QList<QByteArrayList> rows(const char* file, int columns) {
    QList<QByteArrayList> out;
    for (const QByteArray& line :
         testsupport::readFile(testsupport::sourceDir() + QStringLiteral("/tests/useragent/data/") +
                               QLatin1String(file))
             .split('\n')) {
        if (!line.startsWith('#') && line.count('\t') == columns - 1)
            out.append(line.split('\t'));
    }
    return out;
}

// Real agents from the corpus with the OS the rules give them; see the data file's header.
std::vector<OsCase> loadOsCases() {
    static const QList<QByteArrayList> table = rows("os-agents.tsv", 3); // the cases point into it
    const auto field = [](const QByteArray& c) { return c == "-" ? nullptr : c.constData(); };
    std::vector<OsCase> cases;
    for (const QByteArrayList& r : table)
        cases.push_back({r[2].constData(), field(r[0]), field(r[1]), r[0] == "-" && r[1] == "-"});
    return cases;
}

const std::vector<OsCase> osCases = loadOsCases();

INSTANTIATE_TEST_SUITE_P(Corpus, UAParserOs, ::testing::ValuesIn(osCases));

TEST(UAParser, EdgeCasesOfTheOsRules) {
    const OsCase cases[] = {
        {"Mozilla/5.0 (iPhone; CPU iPhone OS 10_3_1 like Mac OS X) AppleWebKit/603.1.30 (KHTML, like Gecko) "
         "Version/10.0 Mobile/14E304 Safari/602.1",
         "ios", "10.3.1"},
        // The "; opera" branch of the iOS pattern: its version group took no part.
        {"Opera/9.80 (iPhone; Opera Mini/7.0.4/28.2555; U; fr) Presto/2.8.119 Version/11.10", "ios", nullptr},
        // Only the Macintosh pattern matches, and it has no second group for the version.
        {"Mozilla/5.0 (Macintosh; U; en) AppleWebKit/85.7 (KHTML, like Gecko) Safari/85.5", "mac os",
         nullptr},
        {"Mozilla/5.0 (Windows NT 6.1; WOW64; rv:40.0) Gecko/20100101 Firefox/40.1", "Windows", "7"},
        {"Mozilla/5.0 (Linux; Android 7.0; SM-G930F Build/NRD90M) AppleWebKit/537.36", "Android", "7.0"},
        {"curl/8.5.0", nullptr, nullptr, true},
        {"", nullptr, nullptr, true},
    };
    for (const OsCase& c : cases)
        expectOs(c);
    UAParser empty{QString()};
    EXPECT_FALSE(empty.browser() || empty.cpu() || empty.device() || empty.engine());
}

QString shown(std::initializer_list<std::optional<QString>> fields, QChar separator) {
    QStringList parts;
    for (const std::optional<QString>& field : fields)
        parts << field.value_or(QStringLiteral("-"));
    return parts.join(separator);
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
        const QString dash = QStringLiteral("-");
        const QStringList got = {b ? shown({b->name, b->version}, u' ') : dash,
                                 c ? shown({c->identifier}, u' ') : dash,
                                 e ? shown({e->name, e->version}, u' ') : dash,
                                 d ? shown({d->vendor, d->type, d->model}, u'|') : dash};
        EXPECT_EQ(got.join(u'\t'), QString::fromUtf8(r.mid(0, 4).join('\t'))) << r[4].constData();
    }
}

// Every agent of the corpus, all five kinds: nothing crashes or hangs, a present record always
// carries at least one field, every top agent has a named OS, and the table cases are real agents.
TEST(UAParserCorpus, EveryAgentClassifies) {
    const QStringList agents = uacorpus::loadAllAgents(testsupport::dataPath(QStringLiteral("ua")));
    ASSERT_GT(agents.size(), 20000);
    ASSERT_GE(osCases.size(), 30u); // the data file was found and read
    for (const OsCase& c : osCases)
        EXPECT_TRUE(agents.contains(QString::fromUtf8(c.agent))) << c.agent;
    int withOs = 0;
    for (const QString& agent : agents) {
        UAParser p(agent);
        const auto& b = p.browser();
        const auto& d = p.device();
        const auto& e = p.engine();
        ASSERT_TRUE(!b || b->name || b->version) << agent.toStdString();
        ASSERT_TRUE(!d || d->vendor || d->type || d->model) << agent.toStdString();
        ASSERT_TRUE(!e || e->name || e->version) << agent.toStdString();
        ASSERT_TRUE(!p.cpu() || p.cpu()->identifier) << agent.toStdString();
        ASSERT_TRUE(!p.os() || p.os()->name || p.os()->version) << agent.toStdString();
        withOs += p.os() ? 1 : 0;
    }
    EXPECT_GT(withOs, agents.size() / 2);
    for (const char* file : {"ua/top-user-agents_desktop.json", "ua/top-user-agents_mobile.json"}) {
        const QStringList top = uacorpus::loadAgents(testsupport::dataPath(QString::fromLatin1(file)));
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
        EXPECT_EQ(p.os()->name, QStringLiteral("android"));
    }
    UAParser htc(QStringLiteral("htc ") + QStringLiteral("a ").repeated(4997) + QStringLiteral(")x"));
    ASSERT_TRUE(htc.device());
    EXPECT_EQ(htc.device()->vendor, QStringLiteral("htc"));
    EXPECT_EQ(htc.device()->model->size(), 9993);
    // A long agent that needs no backtracking is still classified.
    UAParser longAndroid(QStringLiteral("Mozilla/5.0 (Linux; Android 9; ") + QString(9000, QLatin1Char('x')) +
                         QStringLiteral(")"));
    ASSERT_TRUE(longAndroid.os());
    EXPECT_EQ(longAndroid.os()->version, QStringLiteral("9"));
}

// Parsers on several threads share the tables, which the first of them builds (under ctest every
// test runs in its own process, so this is the first use).
TEST(UAParserCorpus, ThreadsShareTheTables) {
    const QStringList agents =
        uacorpus::loadAgents(testsupport::dataPath(QStringLiteral("ua/uap-core_test_os.yaml")));
    ASSERT_GT(agents.size(), 400);
    const auto classify = [&agents](QStringList* out) {
        for (const QString& agent : agents) {
            UAParser p(agent);
            out->append(p.os() ? p.os()->name.value_or(QString()) + QLatin1Char('/') +
                                     p.os()->version.value_or(QString())
                               : QStringLiteral("-"));
            (void)p.device();
        }
    };
    std::vector<QStringList> results(4);
    std::vector<std::thread> threads;
    for (QStringList& result : results)
        threads.emplace_back(classify, &result);
    for (std::thread& t : threads)
        t.join();
    for (const QStringList& result : results)
        EXPECT_EQ(result, results.front());
    EXPECT_TRUE(results.front().contains(QStringLiteral("ios/10.3.1")) ||
                results.front().contains(QStringLiteral("Windows/7")));
}

} // namespace
