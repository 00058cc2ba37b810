#include "core/RandomString.h"

#include <QRandomGenerator>

QString randomString(int n) {
    static constexpr char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static_assert(sizeof(alphabet) - 1 == 62);
    QString out;
    out.reserve(qMax(n, 0));
    // QRandomGenerator::system() reads the kernel's CSPRNG; bounded() is unbiased.
    auto* rng = QRandomGenerator::system();
    for (int i = 0; i < n; ++i)
        out.append(QLatin1Char(alphabet[rng->bounded(62)]));
    return out;
}
