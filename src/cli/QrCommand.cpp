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

namespace {

struct UsageError {
    QString message;
};

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

} // namespace

int QrCommand::run(const QStringList& args, QTextStream& out, QTextStream& err) {
    QCommandLineParser parser;
    const auto opt = [](const char* name, const char* help, const char* value = nullptr) {
        return value ? QCommandLineOption(QLatin1String(name), QString::fromUtf8(help), QLatin1String(value))
                     : QCommandLineOption(QLatin1String(name), QString::fromUtf8(help));
    };
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
    const QCommandLineOption sizeOpt = opt("size", "Image size in pixels (default 700).", "N");
    const QCommandLineOption output =
        opt("output", "Write PNG, PDF or SVG, chosen by the extension.", "FILE");
    const QCommandLineOption saveDesign = opt("save-design", "Write the QR document as JSON.", "FILE");
    const QCommandLineOption listShapes = opt("list-shapes", "List the pixel and eye shape names.");
    parser.addOptions({text, link, mail, subject, body, phone, vcard, design, pixel, eye, foreground,
                       background, gradient, correction, sizeOpt, output, saveDesign, listShapes});
    int status = 0;
    if (!parse(parser, args, out, err, &status))
        return status;
    const auto usage = [&](const QString& message) {
        err << "vantry-cli qr: " << message << Qt::endl;
        return 2;
    };
    if (!parser.positionalArguments().isEmpty())
        return usage(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst()));

    if (parser.isSet(listShapes)) {
        out << "Pixel shapes: "
            << QRCodePixelShapeFactory::shared().availableGeneratorNames().join(QStringLiteral(", "))
            << "\nEye shapes: "
            << QRCodeEyeShapeFactory::shared().availableGeneratorNames().join(QStringLiteral(", "))
            << Qt::endl;
        return 0;
    }

    QRCodeDocument doc;
    if (parser.isSet(design)) {
        QFile file(parser.value(design));
        if (!file.open(QIODevice::ReadOnly)) {
            err << "vantry-cli qr: cannot read " << parser.value(design) << Qt::endl;
            return 1;
        }
        if (const auto error = doc.loadWithJsonData(file.readAll())) {
            err << "vantry-cli qr: " << parser.value(design) << ": " << error->localizedDescription
                << Qt::endl;
            return 1;
        }
    }

    int sources = 0;
    for (const auto* o : {&text, &link, &mail, &phone, &vcard})
        sources += parser.isSet(*o) ? 1 : 0;
    if (sources > 1)
        return usage(QStringLiteral("give only one of --text, --link, --mail, --phone, --vcard"));
    if ((parser.isSet(subject) || parser.isSet(body)) && !parser.isSet(mail))
        return usage(QStringLiteral("--subject and --body need --mail"));
    if (sources == 0 && !parser.isSet(design))
        return usage(
            QStringLiteral("nothing to encode (use --text, --link, --mail, --phone, --vcard or --design)"));

    if (parser.isSet(correction)) {
        const QString c = parser.value(correction).toUpper();
        const QStringList letters{QStringLiteral("L"), QStringLiteral("M"), QStringLiteral("Q"),
                                  QStringLiteral("H")};
        if (!letters.contains(c))
            return usage(QStringLiteral("--correction must be L, M, Q or H"));
        doc.setErrorCorrection(*errorCorrectionFromInt(int(letters.indexOf(c))));
    }

    if (parser.isSet(text)) {
        doc.setUtf8String(parser.value(text));
    } else if (parser.isSet(link)) {
        const auto message = QRCodeMessageLink::withString(parser.value(link));
        if (!message)
            return usage(QStringLiteral("--link is not a valid URL"));
        doc.setMessage(*message);
    } else if (parser.isSet(mail)) {
        doc.setMessage(QRCodeMessageMail(
            parser.value(mail), parser.isSet(subject) ? std::optional(parser.value(subject)) : std::nullopt,
            parser.isSet(body) ? std::optional(parser.value(body)) : std::nullopt));
    } else if (parser.isSet(phone)) {
        doc.setMessage(QRCodeMessagePhone(parser.value(phone)));
    } else if (parser.isSet(vcard)) {
        QFile file(parser.value(vcard));
        if (!file.open(QIODevice::ReadOnly)) {
            err << "vantry-cli qr: cannot read " << parser.value(vcard) << Qt::endl;
            return 1;
        }
        const auto card = vcardFrom(file.readAll());
        if (!card)
            return usage(QStringLiteral("--vcard file is not a JSON object"));
        doc.setData(*card);
    }

    if (parser.isSet(pixel)) {
        auto shape = QRCodePixelShapeFactory::shared().named(parser.value(pixel));
        if (!shape)
            return usage(
                QStringLiteral("unknown pixel shape '%1' (see --list-shapes)").arg(parser.value(pixel)));
        doc.design().shape.onPixels = shape;
    }
    if (parser.isSet(eye)) {
        auto shape = QRCodeEyeShapeFactory::shared().named(parser.value(eye));
        if (!shape)
            return usage(QStringLiteral("unknown eye shape '%1' (see --list-shapes)").arg(parser.value(eye)));
        doc.design().shape.eye = shape;
    }
    if (parser.isSet(foreground) && parser.isSet(gradient))
        return usage(QStringLiteral("give either --foreground or --gradient"));
    if (parser.isSet(foreground)) {
        const auto color = parseColor(parser.value(foreground));
        if (!color)
            return usage(QStringLiteral("--foreground is not a colour"));
        doc.design().foregroundColor(*color);
    }
    if (parser.isSet(gradient)) {
        const auto fill = gradientFrom(parser.value(gradient));
        if (!fill)
            return usage(
                QStringLiteral("--gradient must be linear:COLOR,COLOR[,…] or radial:COLOR,COLOR[,…]"));
        doc.design().style.onPixels = *fill;
    }
    if (parser.isSet(background)) {
        if (parser.value(background) == QLatin1String("none")) {
            doc.design().backgroundColor(std::nullopt);
        } else {
            const auto color = parseColor(parser.value(background));
            if (!color)
                return usage(QStringLiteral("--background is not a colour"));
            doc.design().backgroundColor(*color);
        }
    }
    int size = 700;
    if (parser.isSet(sizeOpt)) {
        bool ok = false;
        size = parser.value(sizeOpt).toInt(&ok);
        if (!ok || size < 1 || size > 20000)
            return usage(QStringLiteral("--size must be a whole number from 1 to 20000"));
    }

    if (parser.isSet(saveDesign) &&
        !writeAtomically(parser.value(saveDesign), doc.jsonStringFormatted().toUtf8())) {
        err << "vantry-cli qr: cannot write " << parser.value(saveDesign) << Qt::endl;
        return 1;
    }

    if (!parser.isSet(output)) {
        if (!parser.isSet(saveDesign))
            out << doc.smallAsciiRepresentation();
        out.flush();
        return 0;
    }
    const QString path = parser.value(output);
    const QString ext = QFileInfo(path).suffix().toLower();
    std::optional<QByteArray> bytes;
    if (ext == QLatin1String("png")) {
        bytes = doc.pngData(size);
    } else if (ext == QLatin1String("pdf")) {
        bytes = doc.pdfDataWithDimension(size);
    } else if (ext == QLatin1String("svg")) {
        const auto* solid = dynamic_cast<const QRCodeFillStyleSolid*>(doc.design().style.onPixels.get());
        const auto* back = dynamic_cast<const QRCodeFillStyleSolid*>(doc.design().style.background.get());
        bytes = doc.svg(size, 1, solid ? solid->color() : QColor(Qt::black),
                        back ? std::optional(back->color()) : std::nullopt)
                    .toUtf8();
    } else {
        return usage(QStringLiteral("--output must end in .png, .pdf or .svg"));
    }
    if (!bytes || !writeAtomically(path, *bytes)) {
        err << "vantry-cli qr: cannot write " << path << Qt::endl;
        return 1;
    }
    return 0;
}
