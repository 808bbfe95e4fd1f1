// Figures for the reporter's costs on the callers' side and on its thread
// (not a test): report() from several threads while nothing uploads, and
// building the batch text of many events. Prints one line per figure.
#include <chrono>
#include <cstdio>
#include <list>
#include <thread>
#include <vector>

#include "platform/entry.h"
#include "report/batch_document.h"
#include "report/event_reports.h"
#include "report/zk_reporter.h"

namespace {

using Clock = std::chrono::steady_clock;

double nanosecondsPer(Clock::duration elapsed, std::size_t count) {
  return std::chrono::duration<double, std::nano>(elapsed).count() / static_cast<double>(count);
}

// Rounds of `perThread` calls on each thread into a reporter that is never
// started, so report() only queues, as it does between uploads; a fresh
// reporter per round keeps the queue as short as it is in use.
void benchReport(unsigned threads, std::size_t perThread, int rounds) {
  Clock::duration total{};
  for (int round = 0; round < rounds; ++round) {
    ZKReporter reporter;
    std::vector<std::thread> callers;
    const auto began = Clock::now();
    for (unsigned t = 0; t < threads; ++t) {
      callers.emplace_back([&] {
        for (std::size_t i = 0; i < perThread; ++i) {
          reporter.report(L"downloader_jump",
                          report::stringProperty("link_address", L"http://www.vireo.example/"));
        }
      });
    }
    for (auto& caller : callers) caller.join();
    total += Clock::now() - began;
  }
  std::printf("report() with a filler, %u thread(s) x %zu calls x %d rounds: %.0f ns per call\n",
              threads, perThread, rounds,
              nanosecondsPer(total, static_cast<std::size_t>(threads) * perThread * rounds));
}

void benchBatch(std::size_t events, int rounds) {
  std::list<report::EventRecord> records;
  for (std::size_t i = 0; i < events; ++i) {
    records.push_back(
        {L"user_cancel", 1700000000000, report::stringProperty("cancel_reason", L"downloading")});
  }
  const report::BatchIdentity identity{L"24.12.26", L"0123456789ABCDEF0123456789ABCDEF",
                                       L"openid-12345"};
  const auto fixedId = [] { return std::wstring(L"00000000_0000_0000_0000_000000000000"); };
  std::size_t bytes = 0;
  const auto began = Clock::now();
  for (int round = 0; round < rounds; ++round) {
    bytes = report::buildBatchDocument(records, identity, fixedId).size();
  }
  const auto elapsed = Clock::now() - began;
  std::printf("batch of %zu events: %.1f us to build (mean of %d), %zu bytes\n", events,
              std::chrono::duration<double, std::micro>(elapsed).count() / rounds, rounds, bytes);
}

}  // namespace

int main(int argc, char** argv) {
  platform::initialize(argc, argv);
  benchReport(1, 1000, 200);
  benchReport(4, 250, 200);
  benchBatch(3, 2000);
  benchBatch(1000, 20);
  return 0;
}
