#include "cli/UaCommand.h"

#include "useragent/UAParser.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include <unistd.h>

namespace {

// QJsonObject sorts its keys; the fields are written in their documented order instead.
using Fields = std::vector<std::pair<const char*, std::optional<QString>>>;

QByteArray jsonText(const std::optional<QString>& value) {
    if (!value)
        return QByteArrayLiteral("null");
    const QByteArray array = QJsonDocument(QJsonArray{*value}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

template <typename T, typename Build> QByteArray jsonRecord(const std::optional<T>& value, Build build) {
    if (!value)
        return QByteArrayLiteral("null");
    QByteArray object("{");
    for (const auto& [key, field] : build(*value)) {
        if (object.size() > 1)
            object += ',';
        object += '"' + QByteArray(key) + "\":" + jsonText(field);
    }
    return object + '}';
}

} // namespace

QByteArray UaCommand::classify(const QString& agent) {
    UAParser parser(agent);
    QByteArray json("{\"browser\":");
    json += jsonRecord(parser.browser(), [](const Browser& b) {
        return Fields{{"name", b.name}, {"version", b.version}};
    });
    json += ",\"cpu\":" + jsonRecord(parser.cpu(), [](const CPU& c) {
                return Fields{{"identifier", c.identifier}};
            });
    json += ",\"device\":" + jsonRecord(parser.device(), [](const Device& d) {
                return Fields{{"vendor", d.vendor}, {"type", d.type}, {"model", d.model}};
            });
    json += ",\"engine\":" + jsonRecord(parser.engine(), [](const Engine& e) {
                return Fields{{"name", e.name}, {"version", e.version}};
            });
    json += ",\"os\":" + jsonRecord(parser.os(), [](const OS& o) {
                return Fields{{"name", o.name}, {"version", o.version}};
            });
    return json + '}';
}

int UaCommand::run(const QStringList& args, QTextStream& out, QTextStream& err) {
    QCommandLineParser parser;
    const QCommandLineOption file(
        QStringLiteral("file"),
        QStringLiteral("Read one agent per line from FILE ('-' for standard input) and "
                       "print one JSON object per line."),
        QStringLiteral("FILE"));
    parser.addOption(file);
    parser.addPositionalArgument(QStringLiteral("AGENT"), QStringLiteral("The user-agent text to classify."));
    int status = 0;
    if (!parse(parser, args, out, err, &status))
        return status;
    const QStringList positional = parser.positionalArguments();

    if (!parser.isSet(file)) {
        if (positional.size() != 1) {
            err << "vantry-cli ua: give one AGENT argument or --file FILE" << Qt::endl;
            return 2;
        }
        out << QString::fromUtf8(classify(positional.constFirst())) << '\n';
        return 0;
    }
    if (!positional.isEmpty()) {
        err << "vantry-cli ua: unexpected argument '" << positional.constFirst() << "' with --file"
            << Qt::endl;
        return 2;
    }

    const QString path = parser.value(file);
    QFile input(path);
    const bool fromStdin = path == QLatin1String("-");
    if (!fromStdin && !input.open(QIODevice::ReadOnly)) {
        err << "vantry-cli ua: cannot read " << path << " (" << input.errorString() << ")" << Qt::endl;
        return 1;
    }
    // Raw reads on the descriptor: the buffered stdin of QFile stops a line at a NUL byte.
    const int fd = fromStdin ? STDIN_FILENO : input.handle();
    const auto classifyLine = [&out](QByteArrayView line) {
        if (line.endsWith('\r'))
            line.chop(1);
        out << QString::fromUtf8(classify(QString::fromUtf8(line))) << '\n';
    };
    QByteArray pending;
    std::vector<char> chunk(1 << 16);
    for (;;) {
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            err << "vantry-cli ua: cannot read " << path << " (" << std::strerror(errno) << ")" << Qt::endl;
            return 1;
        }
        if (n == 0)
            break;
        // Only the new bytes are searched, so a line of any length costs its length once.
        qsizetype scan = pending.size();
        pending.append(chunk.data(), qsizetype(n));
        qsizetype start = 0;
        for (qsizetype end; (end = pending.indexOf('\n', scan)) >= 0; scan = start) {
            classifyLine(QByteArrayView(pending).sliced(start, end - start));
            start = end + 1;
        }
        pending.remove(0, start);
    }
    if (!pending.isEmpty())
        classifyLine(pending);
    return 0;
}
