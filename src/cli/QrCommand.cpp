#include "cli/QrCommand.h"

#include "qrcode/QRCodeDocument.h"
#include "qrcode/QRCodeMessage.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <optional>
#include <variant>

namespace {

std::optional<QColor> parseColor(const QString& text) {
    if (text.contains(u','))
        return colorFromRGBAString(text);
    const QColor color = QColor::fromString(text);
    if (!color.isValid())
        return std::nullopt;
    return color;
}

std::optional<QString> optionalString(const QJsonObject& o, const char* key) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isString())
        return std::nullopt;
    return v.toString();
}

QStringList stringList(const QJsonObject& o, const char* key) {
    QStringList list;
    for (const QJsonValue& v : o.value(QLatin1String(key)).toArray())
        list.append(v.toString());
    return list;
}

// The contact card file: {"name": {"lastName": …}, "formattedName": …, "addresses": [{"type": …}], …}.
std::optional<QByteArray> vcardFrom(const QByteArray& json) {
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    if (!doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    const QJsonObject n = o.value(QLatin1String("name")).toObject();
    QRCodeMessageContactName name{optionalString(n, "lastName"), optionalString(n, "firstName"),
                                  optionalString(n, "additionalName"), optionalString(n, "namePrefix"),
                                  optionalString(n, "nameSuffix")};
    QList<QRCodeMessageContactAddress> addresses;
    for (const QJsonValue& v : o.value(QLatin1String("addresses")).toArray()) {
        const QJsonObject a = v.toObject();
        addresses.append({a.value(QLatin1String("type")).toString(), optionalString(a, "postOfficeAddress"),
                          optionalString(a, "extendedAddress"), optionalString(a, "street"),
                          optionalString(a, "locality"), optionalString(a, "region"),
                          optionalString(a, "postalCode"), optionalString(a, "country")});
    }
    return QRCodeMessageContact(name, o.value(QLatin1String("formattedName")).toString(), addresses,
                                optionalString(o, "organization"), optionalString(o, "title"),
                                stringList(o, "telephone"), stringList(o, "email"), stringList(o, "urls"),
                                stringList(o, "notes"))
        .data();
}

// "linear:#000000,#1a237e" or "radial:…": two or more colours spread evenly.
std::optional<QRCodeFillStylePtr> gradientFrom(const QString& spec) {
    const qsizetype colon = spec.indexOf(u':');
    if (colon < 0)
        return std::nullopt;
    const QString kind = spec.left(colon);
    const QStringList colours = spec.mid(colon + 1).split(u',');
    if (colours.size() < 2)
        return std::nullopt;
    QList<LumGradientPin> pins;
    for (qsizetype i = 0; i < colours.size(); ++i) {
        const QColor c = QColor::fromString(colours[i]);
        if (!c.isValid())
            return std::nullopt;
        pins.append(LumGradientPin(c, double(i) / double(colours.size() - 1)));
    }
    if (kind == QLatin1String("linear"))
        return std::make_shared<QRCodeFillStyleLinearGradient>(LumGradient(pins), QPointF(0, 0),
                                                               QPointF(1, 1));
    if (kind == QLatin1String("radial"))
        return std::make_shared<QRCodeFillStyleRadialGradient>(LumGradient(pins), QPointF(0.5, 0.5));
    return std::nullopt;
}

bool writeAtomically(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

// The command's options, in the order --help lists them.
struct QrOptions {
    static QCommandLineOption opt(const char* name, const char* help, const char* value = nullptr) {
        return value ? QCommandLineOption(QLatin1String(name), QString::fromUtf8(help), QLatin1String(value))
                     : QCommandLineOption(QLatin1String(name), QString::fromUtf8(help));
    }
    const QCommandLineOption text = opt("text", "Encode this text.", "TEXT");
    const QCommandLineOption link = opt("link", "Encode this link.", "URL");
    const QCommandLineOption mail = opt("mail", "Encode a mailto link to this address.", "ADDRESS");
    const QCommandLineOption subject = opt("subject", "Subject of the --mail message.", "SUBJECT");
    const QCommandLineOption body = opt("body", "Body of the --mail message.", "BODY");
    const QCommandLineOption phone = opt("phone", "Encode a phone number.", "NUMBER");
    const QCommandLineOption vcard =
        opt("vcard", "Encode the contact card described by this JSON file.", "FILE");
    const QCommandLineOption design = opt("design", "Start from this stored QR document (JSON).", "FILE");
    const QCommandLineOption pixel = opt("pixel", "Pixel shape name (see --list-shapes).", "NAME");
    const QCommandLineOption eye = opt("eye", "Eye shape name (see --list-shapes).", "NAME");
    const QCommandLineOption foreground =
        opt("foreground", "Module colour: #rrggbb, a name, or r,g,b,a.", "COLOR");
    const QCommandLineOption background = opt("background", "Background colour, or 'none'.", "COLOR");
    const QCommandLineOption gradient =
        opt("gradient", "Module gradient: linear:COLOR,COLOR[,…] or radial:COLOR,COLOR[,…].", "SPEC");
    const QCommandLineOption correction =
        opt("correction", "Error correction: L, M, Q (default) or H.", "LEVEL");
    const QCommandLineOption size = opt("size", "Image size in pixels (default 700).", "N");
    const QCommandLineOption output =
        opt("output", "Write PNG, PDF or SVG, chosen by the extension.", "FILE");
    const QCommandLineOption saveDesign = opt("save-design", "Write the QR document as JSON.", "FILE");
    const QCommandLineOption strict =
        opt("strict", "Fail (exit 1) when a standard decoder may not read the design.");
    const QCommandLineOption listShapes = opt("list-shapes", "List the pixel and eye shape names.");

    QList<QCommandLineOption> all() const {
        return {text,   link,   mail,       subject,    body,       phone,    vcard,
                design, pixel,  eye,        foreground, background, gradient, correction,
                size,   output, saveDesign, strict,     listShapes};
    }
};

// Why the command stops: 2 for bad usage, 1 when the work failed.
struct Failure {
    int status;
    QString message;
};
Failure usage(const QString& message) {
    return {2, message};
}

// The style and output the command line asks for, checked and parsed.
struct QrRequest {
    std::optional<ErrorCorrection> level;
    QRCodePixelShapePtr pixel;
    QRCodeEyeShapePtr eye;
    std::optional<QColor> foreground;
    std::optional<QRCodeFillStylePtr> gradient;
    std::optional<std::optional<QColor>> background; // set: the option was given; empty colour: none
    int size = 700;
    QString output;
    QString saveDesign;
    bool strict = false;
};

std::variant<QrRequest, Failure> validate(const QCommandLineParser& parser, const QrOptions& o) {
    if (!parser.positionalArguments().isEmpty())
        return usage(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst()));
    int sources = 0;
    for (const auto* source : {&o.text, &o.link, &o.mail, &o.phone, &o.vcard})
        sources += parser.isSet(*source) ? 1 : 0;
    if (sources > 1)
        return usage(QStringLiteral("give only one of --text, --link, --mail, --phone, --vcard"));
    if ((parser.isSet(o.subject) || parser.isSet(o.body)) && !parser.isSet(o.mail))
        return usage(QStringLiteral("--subject and --body need --mail"));
    if (sources == 0 && !parser.isSet(o.design))
        return usage(
            QStringLiteral("nothing to encode (use --text, --link, --mail, --phone, --vcard or --design)"));

    QrRequest request;
    if (parser.isSet(o.correction)) {
        const QStringList letters{QStringLiteral("L"), QStringLiteral("M"), QStringLiteral("Q"),
                                  QStringLiteral("H")};
        const qsizetype index = letters.indexOf(parser.value(o.correction).toUpper());
        if (index < 0)
            return usage(QStringLiteral("--correction must be L, M, Q or H"));
        request.level = errorCorrectionFromInt(int(index));
    }
    if (parser.isSet(o.pixel)) {
        request.pixel = QRCodePixelShapeFactory::shared().named(parser.value(o.pixel));
        if (!request.pixel)
            return usage(
                QStringLiteral("unknown pixel shape '%1' (see --list-shapes)").arg(parser.value(o.pixel)));
    }
    if (parser.isSet(o.eye)) {
        request.eye = QRCodeEyeShapeFactory::shared().named(parser.value(o.eye));
        if (!request.eye)
            return usage(
                QStringLiteral("unknown eye shape '%1' (see --list-shapes)").arg(parser.value(o.eye)));
    }
    if (parser.isSet(o.foreground) && parser.isSet(o.gradient))
        return usage(QStringLiteral("give either --foreground or --gradient"));
    if (parser.isSet(o.foreground)) {
        request.foreground = parseColor(parser.value(o.foreground));
        if (!request.foreground)
            return usage(QStringLiteral("--foreground is not a colour"));
    }
    if (parser.isSet(o.gradient)) {
        request.gradient = gradientFrom(parser.value(o.gradient));
        if (!request.gradient)
            return usage(
                QStringLiteral("--gradient must be linear:COLOR,COLOR[,…] or radial:COLOR,COLOR[,…]"));
    }
    if (parser.isSet(o.background)) {
        if (parser.value(o.background) == QLatin1String("none")) {
            request.background = std::optional<QColor>();
        } else {
            const auto color = parseColor(parser.value(o.background));
            if (!color)
                return usage(QStringLiteral("--background is not a colour"));
            request.background = color;
        }
    }
    if (parser.isSet(o.size)) {
        bool ok = false;
        request.size = parser.value(o.size).toInt(&ok);
        if (!ok || request.size < 1 || request.size > 20000)
            return usage(QStringLiteral("--size must be a whole number from 1 to 20000"));
    }
    request.output = parser.value(o.output);
    const QString ext = QFileInfo(request.output).suffix().toLower();
    if (parser.isSet(o.output) && ext != QLatin1String("png") && ext != QLatin1String("pdf") &&
        ext != QLatin1String("svg"))
        return usage(QStringLiteral("--output must end in .png, .pdf or .svg"));
    request.saveDesign = parser.value(o.saveDesign);
    request.strict = parser.isSet(o.strict);
    return request;
}

// The stored design (if any), then the message, then the style options on top.
std::variant<QRCodeDocument, Failure> buildDocument(const QCommandLineParser& parser, const QrOptions& o,
                                                    const QrRequest& request) {
    QRCodeDocument doc;
    if (parser.isSet(o.design)) {
        QFile file(parser.value(o.design));
        if (!file.open(QIODevice::ReadOnly))
            return Failure{1, QStringLiteral("cannot read ") + parser.value(o.design)};
        if (const auto error = doc.loadWithJsonData(file.readAll()))
            return Failure{1, parser.value(o.design) + QStringLiteral(": ") + error->localizedDescription};
    }
    if (request.level)
        doc.setErrorCorrection(*request.level);

    if (parser.isSet(o.text)) {
        doc.setUtf8String(parser.value(o.text));
    } else if (parser.isSet(o.link)) {
        const auto message = QRCodeMessageLink::withString(parser.value(o.link));
        if (!message)
            return usage(QStringLiteral("--link is not a valid URL"));
        doc.setMessage(*message);
    } else if (parser.isSet(o.mail)) {
        const auto optional = [&](const QCommandLineOption& opt) {
            return parser.isSet(opt) ? std::optional(parser.value(opt)) : std::nullopt;
        };
        doc.setMessage(QRCodeMessageMail(parser.value(o.mail), optional(o.subject), optional(o.body)));
    } else if (parser.isSet(o.phone)) {
        doc.setMessage(QRCodeMessagePhone(parser.value(o.phone)));
    } else if (parser.isSet(o.vcard)) {
        QFile file(parser.value(o.vcard));
        if (!file.open(QIODevice::ReadOnly))
            return Failure{1, QStringLiteral("cannot read ") + parser.value(o.vcard)};
        const auto card = vcardFrom(file.readAll());
        if (!card)
            return usage(QStringLiteral("--vcard file is not a JSON object"));
        doc.setData(*card);
    }
    // An over-long message would otherwise leave the previous (empty message's) code in place.
    if (const auto& tooMuch = doc.tooMuchData())
        return Failure{1, tooMuch->message()};

    if (request.pixel)
        doc.design().shape.onPixels = request.pixel;
    if (request.eye)
        doc.design().shape.eye = request.eye;
    if (request.foreground)
        doc.design().foregroundColor(*request.foreground);
    if (request.gradient)
        doc.design().style.onPixels = *request.gradient;
    if (request.background)
        doc.design().backgroundColor(*request.background);
    return doc;
}

// Writes the design and the picture (or prints the code); the path that could not be written.
std::optional<QString> writeOutput(const QRCodeDocument& doc, const QrRequest& request, QTextStream& out) {
    if (!request.saveDesign.isEmpty() &&
        !writeAtomically(request.saveDesign, doc.jsonStringFormatted().toUtf8()))
        return request.saveDesign;
    if (request.output.isEmpty()) {
        if (request.saveDesign.isEmpty())
            out << doc.smallAsciiRepresentation();
        out.flush();
        return std::nullopt;
    }
    const QString ext = QFileInfo(request.output).suffix().toLower();
    std::optional<QByteArray> bytes;
    if (ext == QLatin1String("png")) {
        bytes = doc.pngData(request.size);
    } else if (ext == QLatin1String("pdf")) {
        bytes = doc.pdfDataWithDimension(request.size);
    } else {
        const auto* solid = dynamic_cast<const QRCodeFillStyleSolid*>(doc.design().style.onPixels.get());
        const auto* back = dynamic_cast<const QRCodeFillStyleSolid*>(doc.design().style.background.get());
        bytes = doc.svg(request.size, 1, solid ? solid->color() : QColor(Qt::black),
                        back ? std::optional(back->color()) : std::nullopt)
                    .toUtf8();
    }
    if (!bytes || !writeAtomically(request.output, *bytes))
        return request.output;
    return std::nullopt;
}

} // namespace

int QrCommand::run(const QStringList& args, QTextStream& out, QTextStream& err) {
    const QrOptions options;
    QCommandLineParser parser;
    parser.addOptions(options.all());
    int status = 0;
    if (!parse(parser, args, out, err, &status))
        return status;
    const auto fail = [&err](const Failure& failure) {
        err << "vantry-cli qr: " << failure.message << Qt::endl;
        return failure.status;
    };

    if (parser.isSet(options.listShapes)) {
        out << "Pixel shapes: "
            << QRCodePixelShapeFactory::shared().availableGeneratorNames().join(QStringLiteral(", "))
            << "\nEye shapes: "
            << QRCodeEyeShapeFactory::shared().availableGeneratorNames().join(QStringLiteral(", "))
            << Qt::endl;
        return 0;
    }
    const auto request = validate(parser, options);
    if (const auto* failure = std::get_if<Failure>(&request))
        return fail(*failure);
    const auto built = buildDocument(parser, options, std::get<QrRequest>(request));
    if (const auto* failure = std::get_if<Failure>(&built))
        return fail(*failure);
    const QRCodeDocument& doc = std::get<QRCodeDocument>(built);

    // Some shapes are designed to be read only by forgiving decoders; say so before writing.
    if (const QRCodeScanCheck check = doc.scanCheck(); !check.reads()) {
        err << "vantry-cli qr: this design may not scan on some phones: " << check.problem() << Qt::endl;
        if (std::get<QrRequest>(request).strict)
            return 1;
    }
    if (const auto unwritten = writeOutput(doc, std::get<QrRequest>(request), out))
        return fail({1, QStringLiteral("cannot write ") + *unwritten});
    return 0;
}
