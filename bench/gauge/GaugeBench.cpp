// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// How long one Value put takes in gradient mode, the way a host puts it (by dispatch id with a
// 16-bit integer by reference): the layout pass and the painting of the gradient lines into
// the backing image, and separately with the window's repaint of the whole control added.
// Values rise from 1 to 100 and start again, so one put in a hundred also clears the surface.
#include "gauge/GaugeObject.h"
#include "platform/control/OmbrelIds.h"

#include <QGuiApplication>
#include <QPainter>
#include <benchmark/benchmark.h>

namespace {

using namespace platform::control;

ComPtr<gauge::GaugeObject> GradientGauge(QSize pixels) {
    auto gauge = ComPtr<gauge::GaugeObject>::Adopt(new gauge::GaugeObject);
    gauge->SetExtent(pixels);
    auto bag = PropertyBag::Create();
    bag->Write(QStringLiteral("BackColor"), Variant::I4(0x00FFFFFF));
    bag->Write(QStringLiteral("FontName"), Variant::String(QStringLiteral("Arial")));
    bag->Write(QStringLiteral("FontSize"), Variant::R4(9.75f));
    bag->Write(QStringLiteral("PercentColor"), Variant::I4(0x000000FF));
    bag->Write(QStringLiteral("FadeEnabled"), Variant::Bool(true));
    gauge->Load(bag.Get());
    return gauge;
}

void ValuePut(benchmark::State& state, bool repaint) {
    const QSize size(int(state.range(0)), int(state.range(1)));
    const auto gauge = GradientGauge(size);
    QImage frame(size, QImage::Format_RGB32);
    std::int16_t percent = 0;
    for (auto _ : state) {
        percent = std::int16_t(percent % 100 + 1);
        const Variant arg = Variant::RefI2(&percent);
        gauge->Invoke(ombrel::dispid::Value, InvokePropertyPut, &arg, 1, nullptr);
        if (repaint) {
            QPainter painter(&frame);
            gauge->Gauge().Paint(painter);
        }
        benchmark::DoNotOptimize(frame.constBits());
    }
}

void ValuePutPaintsBackingImage(benchmark::State& state) {
    ValuePut(state, false);
}
void ValuePutAndRepaint(benchmark::State& state) {
    ValuePut(state, true);
}

BENCHMARK(ValuePutPaintsBackingImage)
    ->Args({345, 21})
    ->Args({424, 30})
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(ValuePutAndRepaint)
    ->Args({345, 21})
    ->Args({424, 30})
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv); // fonts need a GUI application
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
