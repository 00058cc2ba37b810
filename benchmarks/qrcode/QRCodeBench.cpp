#include "qrcode/QRCode.h"
#include "qrcode/QRCodeDocument.h"
#include "qrcode/QRCodeGenerator_Default.h"
#include "qrcode/QRCodePixelShape.h"

#include <QPainter>

#include <benchmark/benchmark.h>

namespace {

// A typical install link, padded to exactly 100 bytes.
QByteArray link100() {
    QByteArray link(
        "https://vantry.app/install/3f9a7c2e-4b1d-4e8a-9c6f-1a2b3c4d5e6f?app=com.example.demo&v=");
    link.append(QByteArray(100 - link.size(), '7'));
    return link;
}

void BM_Encode100ByteLink(benchmark::State& state) {
    const QByteArray link = link100();
    const QRCodeGenerator_Default engine;
    for (auto _ : state)
        benchmark::DoNotOptimize(engine.generate(link, DefaultErrorCorrection));
}
BENCHMARK(BM_Encode100ByteLink);

void BM_OnPath700(benchmark::State& state) {
    const auto& type = QRCodePixelShapeFactory::shared().registeredTypes().at(int(state.range(0)));
    const auto shape = type.create({});
    const QRCode code(link100(), DefaultErrorCorrection);
    for (auto _ : state)
        benchmark::DoNotOptimize(shape->onPath(QSizeF(700, 700), code, false));
    state.SetLabel(type.name().toStdString());
}
BENCHMARK(BM_OnPath700)->DenseRange(0, 7);

// The hosting jobs' entry point: encode, squircle render and PNG bytes at 700 × 700.
void BM_LinkPng700(benchmark::State& state) {
    const QString link = QString::fromLatin1(link100());
    for (auto _ : state)
        benchmark::DoNotOptimize(QRCodeDocument::linkPngData(link));
}
BENCHMARK(BM_LinkPng700)->Unit(benchmark::kMillisecond);

void BM_LinkImage700(benchmark::State& state) {
    const QRCodeDocument doc = QRCodeDocument::forLink(QString::fromLatin1(link100()));
    for (auto _ : state)
        benchmark::DoNotOptimize(doc.image(QSizeF(700, 700), 1));
}
BENCHMARK(BM_LinkImage700)->Unit(benchmark::kMillisecond);

// The general path renderer, for comparison: one antialiased fill of the combined path.
void BM_LinkImage700Path(benchmark::State& state) {
    const QRCodeDocument doc = QRCodeDocument::forLink(QString::fromLatin1(link100()));
    for (auto _ : state) {
        QImage image(700, 700, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        doc.draw(painter, QRectF(0, 0, 700, 700));
    }
}
BENCHMARK(BM_LinkImage700Path)->Unit(benchmark::kMillisecond);

void BM_Svg(benchmark::State& state) {
    const QRCodeDocument doc = QRCodeDocument::forLink(QString::fromLatin1(link100()));
    for (auto _ : state)
        benchmark::DoNotOptimize(doc.svg(700, 2, Qt::black, QColor(Qt::white)));
}
BENCHMARK(BM_Svg)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
