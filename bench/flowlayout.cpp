// One layout pass of 200 keyword chips in the flow layout, beside Qt's own single-line box layout of the
// same chips. Each iteration alternates between two widths so that neither layout can skip the pass.
#include "flowlayout/FlowStack.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <benchmark/benchmark.h>

namespace {

constexpr int kChips = 200;

QStringList keywordTexts()
{
    static const char* const words[] = {"invoice", "terminal", "error",  "meeting", "slack",    "chart", "receipt",
                                        "code",    "ui",       "design", "email",   "calendar", "notes", "browser"};
    QStringList texts;
    for (int i = 0; i < kChips; ++i) {
        texts << QString::fromLatin1(words[i % std::size(words)]) + QString::number(i);
    }
    return texts;
}

template <typename Layout> void runPasses(benchmark::State& state, QWidget& host, Layout* layout, bool remeasure)
{
    for (const QString& text : keywordTexts()) {
        layout->addWidget(new QPushButton(text, &host));
    }
    int width = 400;
    layout->setGeometry(QRect(0, 0, width, 2000));
    for (auto _ : state) {
        width = width == 400 ? 401 : 400;
        if (remeasure) {
            layout->invalidate();
        }
        layout->setGeometry(QRect(0, 0, width, 2000));
        benchmark::DoNotOptimize(layout->itemAt(kChips - 1)->geometry());
    }
}

void BM_FlowStack(benchmark::State& state)
{
    QWidget host;
    auto* flow = new flowlayout::FlowStack(&host, Qt::AlignLeading, flowlayout::Spacing::constant(8), 10);
    runPasses(state, host, flow, false);
}

void BM_FlowStackRemeasured(benchmark::State& state)
{
    QWidget host;
    auto* flow = new flowlayout::FlowStack(&host, Qt::AlignLeading, flowlayout::Spacing::constant(8), 10);
    runPasses(state, host, flow, true);
}

void BM_BoxLayout(benchmark::State& state)
{
    QWidget host;
    auto* box = new QHBoxLayout(&host);
    runPasses(state, host, box, false);
}

BENCHMARK(BM_BoxLayout)->Name("FlowLayout200Chips/baseline")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FlowStack)->Name("FlowLayout200Chips/flowstack")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FlowStackRemeasured)->Name("FlowLayout200Chips/flowstack_remeasured")->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
