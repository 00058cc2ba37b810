#include "qrcode/QRCodeGenerator_Default.h"

#include <qrencode.h>

#include <memory>

namespace {
QRecLevel toQrLevel(ErrorCorrection level) {
    switch (level) {
    case ErrorCorrection::low:
        return QR_ECLEVEL_L;
    case ErrorCorrection::medium:
        return QR_ECLEVEL_M;
    case ErrorCorrection::quantize:
        return QR_ECLEVEL_Q;
    case ErrorCorrection::high:
        return QR_ECLEVEL_H;
    }
    return QR_ECLEVEL_Q;
}

struct CodeDeleter {
    void operator()(QRcode* c) const { QRcode_free(c); }
};
struct InputDeleter {
    void operator()(QRinput* i) const { QRinput_free(i); }
};
} // namespace

std::optional<QRCodeBoolMatrix> QRCodeGenerator_Default::generate(const QByteArray& data,
                                                                  ErrorCorrection level) const {
    if (!errorCorrectionFromInt(static_cast<int>(level)))
        return std::nullopt;
    std::unique_ptr<QRcode, CodeDeleter> code;
    if (data.isEmpty()) {
        // libqrencode refuses zero-length data; an input with no segments encodes the empty message.
        std::unique_ptr<QRinput, InputDeleter> input(QRinput_new2(0, toQrLevel(level)));
        if (!input)
            return std::nullopt;
        code.reset(QRcode_encodeInput(input.get()));
    } else {
        code.reset(QRcode_encodeData(
            int(data.size()), reinterpret_cast<const unsigned char*>(data.constData()), 0, toQrLevel(level)));
    }
    if (!code || code->width <= 0)
        return std::nullopt;

    const int w = code->width;
    const int n = w + 2;
    std::vector<std::uint8_t> modules(std::size_t(n) * std::size_t(n), 0);
    for (int r = 0; r < w; ++r) {
        const unsigned char* src = code->data + std::size_t(r) * std::size_t(w);
        std::uint8_t* dst = modules.data() + std::size_t(r + 1) * std::size_t(n) + 1;
        for (int c = 0; c < w; ++c)
            dst[c] = src[c] & 1;
    }
    return QRCodeBoolMatrix::fromBytes(n, std::move(modules));
}
