// Cost of one key event on the space-tap path: decoding the raw X event, then the monitor's
// pattern logic (with its throttled log call). Figures only; nothing here is asserted.
#include "platform/fake/FakeClock.h"
#include "platform/fake/FakeKeyTap.h"
#include "platform/linux/XInputKeyTap.h"
#include "trigger/EventMonitor.h"
#include <benchmark/benchmark.h>
#include <cstring>
#include <vector>
#include <xcb/xinput.h>

using namespace corvane;

namespace {

constexpr uint8_t kOpcode = 131;

struct Settings final : trigger::TapSettings {
    qint64 triggerSpaceCount() const override { return 3; }
    double triggerIntervalMs() const override { return 500; }
    double cooldownSeconds() const override { return 0; }
};

// Typing: letters, a space now and then, and every so often a triple space.
std::vector<xcb_input_raw_key_press_event_t> typing() {
    const uint32_t keys[] = {38, 56, 54, 65, 39, 40, 65, 65, 65, 41, 42, 43, 65, 44, 45, 46};
    std::vector<xcb_input_raw_key_press_event_t> out;
    for (uint32_t k : keys)
        for (uint16_t type : {uint16_t(XCB_INPUT_RAW_KEY_PRESS), uint16_t(XCB_INPUT_RAW_KEY_RELEASE)}) {
            xcb_input_raw_key_press_event_t e;
            std::memset(&e, 0, sizeof e);
            e.response_type = XCB_GE_GENERIC;
            e.extension = kOpcode;
            e.event_type = type;
            e.detail = k;
            out.push_back(e);
        }
    return out;
}

platform::linux_::RawKeyDecoder decoder() {
    platform::linux_::RawKeyDecoder d;
    d.setExtensionOpcode(kOpcode);
    platform::linux_::RawKeyDecoder::Table table{};
    for (int kc = 8; kc < 256; ++kc)
        table[size_t(kc)].keyCode = qint16(kc - 8);
    table[65].keyCode = 49;
    d.setTable(table);
    return d;
}

void BM_DecodeRawKeyEvent(benchmark::State& state) {
    auto d = decoder();
    const auto events = typing();
    size_t i = 0;
    for (auto _ : state) {
        auto e = d.decode(reinterpret_cast<const xcb_generic_event_t*>(&events[i]));
        benchmark::DoNotOptimize(e);
        i = (i + 1) % events.size();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeRawKeyEvent);

void BM_TapPathPerEvent(benchmark::State& state) {
    auto d = decoder();
    const auto events = typing();
    platform::fake::FakeClock clock;
    platform::fake::FakeKeyTap tap;
    Settings settings;
    trigger::EventMonitor monitor(tap, clock, settings);
    int fired = 0;
    monitor.onTrigger = [&] { ++fired; };
    monitor.start();
    size_t i = 0;
    for (auto _ : state) {
        if (auto e = d.decode(reinterpret_cast<const xcb_generic_event_t*>(&events[i])))
            tap.deliver(*e);
        if (++i == events.size()) {
            i = 0;
            clock.advance(50); // let queued triggers run, as the loop would
        }
    }
    benchmark::DoNotOptimize(fired);
    state.SetItemsProcessed(state.iterations());
    state.counters["triggers"] = fired;
}
BENCHMARK(BM_TapPathPerEvent);

} // namespace

BENCHMARK_MAIN();
