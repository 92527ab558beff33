// Hot paths of the application core: log lines from worker threads (every sector-phase
// hit may log one), and the settings checksum run at every idle moment.

#include <benchmark/benchmark.h>

#include "core/message_format.h"
#include "core/settings.h"
#include "platform/registry_store.h"

namespace {

void BM_FormatLogMessage(benchmark::State& state) {
    for (auto _ : state) {
        auto text = duzez::core::FormatChecked("Volume %s at position %I64d not read, retry %d",
                                               {"sdb1", 1234567890123ull, 7});
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_FormatLogMessage);

void BM_SettingsChecksum(benchmark::State& state) {
    duzez::platform::RegistryStore store("/nonexistent/registry.reg");
    duzez::core::CSettings settings(store, "Software\\Quarnel\\Duzez\\1.0");
    for (auto _ : state) {
        benchmark::DoNotOptimize(settings.Checksum());
    }
}
BENCHMARK(BM_SettingsChecksum);

}  // namespace
