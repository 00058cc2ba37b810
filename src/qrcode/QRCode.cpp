#include "qrcode/QRCode.h"

#include "qrcode/QRCodeGenerator_Default.h"
#include "qrcode/QRCodeMessage.h"

namespace {
// "2,953" whatever the user's locale: the messages are fixed English.
QString grouped(qsizetype n) {
    QString digits = QString::number(n);
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, u',');
    return digits;
}
} // namespace

QString QRCodeTooMuchData::message() const {
    return QStringLiteral("too much data for a QR code: %1 bytes, at most %2 bytes at level %3")
        .arg(grouped(bytes), grouped(capacity), errorCorrectionLetter(level));
}

qsizetype QRCode::capacity(ErrorCorrection level) {
    static constexpr qsizetype bytes[] = {2953, 2331, 1663, 1273};
    return bytes[static_cast<int>(level)];
}

QRCode::QRCode() : QRCode(std::shared_ptr<const QRCodeEngine>()) {}

QRCode::QRCode(std::shared_ptr<const QRCodeEngine> generator)
    : m_generator(generator ? std::move(generator) : defaultGenerator()),
      m_current(std::make_shared<const QRCodeBoolMatrix>()) {
    update(QByteArray(), DefaultErrorCorrection);
}

QRCode::QRCode(const QByteArray& data, ErrorCorrection level, std::shared_ptr<const QRCodeEngine> generator)
    : QRCode(std::move(generator)) {
    update(data, level);
}

QRCode QRCode::withText(const QString& text, ErrorCorrection level,
                        std::shared_ptr<const QRCodeEngine> generator) {
    QRCode code(std::move(generator));
    code.updateWithText(text, level);
    return code;
}

QRCode QRCode::withMessage(const QRCodeMessageFormatter& message, ErrorCorrection level,
                           std::shared_ptr<const QRCodeEngine> generator) {
    QRCode code(std::move(generator));
    code.updateWithMessage(message, level);
    return code;
}

std::shared_ptr<const QRCodeEngine> QRCode::defaultGenerator() {
    return std::make_shared<QRCodeGenerator_Default>();
}

std::optional<QRCodeTooMuchData> QRCode::update(const QByteArray& data, ErrorCorrection level) {
    if (data.size() <= maxCharacters) {
        if (auto matrix = m_generator->generate(data, level)) {
            m_current = std::make_shared<const QRCodeBoolMatrix>(std::move(*matrix));
            return std::nullopt;
        }
    }
    if (errorCorrectionFromInt(static_cast<int>(level)) && data.size() > capacity(level))
        return QRCodeTooMuchData{data.size(), capacity(level), level};
    return std::nullopt;
}

std::optional<QRCodeTooMuchData> QRCode::updateWithText(const QString& text, ErrorCorrection level) {
    return update(qrcodeUtf8(text).value_or(QByteArray()), level);
}

std::optional<QRCodeTooMuchData> QRCode::updateWithMessage(const QRCodeMessageFormatter& message,
                                                           ErrorCorrection level) {
    return update(message.data(), level);
}

void QRCode::setGenerator(std::shared_ptr<const QRCodeEngine> generator) {
    m_generator = generator ? std::move(generator) : defaultGenerator();
}

QRCode QRCode::copy() const {
    QRCode c(std::make_shared<QRCodeGenerator_None>());
    c.m_current = m_current;
    c.m_generator = defaultGenerator();
    return c;
}

QString QRCode::asciiRepresentation() const {
    const QRCodeBoolMatrix& m = *m_current;
    const int d = m.dimension();
    QString out;
    out.reserve(d * (2 * d + 1));
    for (int r = 0; r < d; ++r) {
        for (int c = 0; c < d; ++c)
            out += m(r, c) ? QStringLiteral("\u2588\u2588") : QStringLiteral("  ");
        out += u'\n';
    }
    return out;
}

QString QRCode::smallAsciiRepresentation() const {
    const QRCodeBoolMatrix& m = *m_current;
    const int d = m.dimension();
    QString out;
    for (int r = 0; r < d; r += 2) {
        for (int c = 0; c < d; ++c) {
            const bool upper = m(r, c);
            const bool lower = r + 1 < d && m(r + 1, c);
            if (upper && lower)
                out += QChar(0x2588);
            else if (upper)
                out += QChar(0x2580);
            else if (lower)
                out += QChar(0x2584);
            else
                out += u' ';
        }
        out += u'\n';
    }
    return out;
}
