// Figures for the stores' per-call costs: one activity-log record with a full list (the new record
// is encoded, the stored list rebuilt from the others' kept encodings), the 80-character preview
// cut, and a recipe lookup.
#include "platform/fake/FakeClock.h"
#include "platform/fake/MemoryPreferences.h"
#include "stores/Graphemes.h"
#include "stores/OptimizationLogger.h"
#include "stores/RecipeStore.h"
#include <benchmark/benchmark.h>

using namespace corvane;

static void BM_ActivityLogFullList(benchmark::State& state) {
    platform::fake::MemoryPreferences prefs;
    platform::fake::FakeClock clock;
    stores::OptimizationLogger log(prefs, clock);
    const QString text = QString(500, QLatin1Char('x'));
    for (int i = 0; i < stores::OptimizationLogger::maxEntries; ++i)
        log.log(stores::OptimizationLog::LogStatus::Completed, text, text, text, QStringLiteral("Optimize"));
    for (auto _ : state)
        log.log(stores::OptimizationLog::LogStatus::Completed, text, text, text, QStringLiteral("Optimize"));
}
BENCHMARK(BM_ActivityLogFullList);

static void BM_PreviewOfLongEmojiText(benchmark::State& state) {
    QString text;
    for (int i = 0; i < 10000; ++i)
        text += QString::fromUtf8("👨‍👩‍👧 é");
    for (auto _ : state)
        benchmark::DoNotOptimize(stores::graphemes::prefix(text, 80));
}
BENCHMARK(BM_PreviewOfLongEmojiText);

static void BM_RecipeLookup(benchmark::State& state) {
    platform::fake::MemoryPreferences prefs;
    platform::fake::FakeClock clock;
    stores::RecipeStore store(prefs, clock, {QStringLiteral("en-US")});
    for (int i = 0; i < 20; ++i)
        store.addUserRecipe(QStringLiteral("r%1").arg(i), QStringLiteral("prompt"));
    const QString last = store.userRecipes().last().id;
    for (auto _ : state)
        benchmark::DoNotOptimize(store.effective(last));
}
BENCHMARK(BM_RecipeLookup);

BENCHMARK_MAIN();
