#include "qrcode/QRCode.h"
#include "qrcode/QRCodePixelShape.h"

#include <benchmark/benchmark.h>

namespace {

// A typical install link, padded to exactly 100 bytes.
QByteArray link100() {
    QByteArray link("https://vantry.app/install/3f9a7c2e-4b1d-4e8a-9c6f-1a2b3c4d5e6f?app=com.example.demo&v=");
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

} // namespace

BENCHMARK_MAIN();
