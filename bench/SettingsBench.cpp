// What a navigation pays for settings: one setting read (string and DWORD,
// an existing value), one setting write, and the pieces a read is made of
// (registry mutex, key open/close, value query). Also the signal-and-wake
// round trip between two processes over named auto-reset events.
//
// Every benchmark times each iteration itself and reports the median (and
// p90) of those per-call times as the counters "median_us" and "p90_us";
// the usual "Time" column is the mean. Run with --benchmark_repetitions=N
// to see how stable the medians are across runs.
//
// The process works in a private temporary folder (HOME, XDG_CONFIG_HOME,
// XDG_RUNTIME_DIR and TMPDIR all point into it) set up before any static
// object runs, so it never reads or writes the real user's registry.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/PrivateFolder.h"
#include "platform/WinReg.h"
#include "settings/Registry.h"
#include "settings/Settings.h"
#include "support/KernelObjects.h"

namespace {

// Per-iteration times of one benchmark run, reported as median and p90.
class Samples {
 public:
  explicit Samples(benchmark::State& state) : state_(state) {
    times_.reserve(static_cast<std::size_t>(std::min<benchmark::IterationCount>(
        state.max_iterations, 1 << 20)));
  }
  ~Samples() {
    if (times_.empty()) return;
    std::sort(times_.begin(), times_.end());
    state_.counters["median_us"] = times_[times_.size() / 2];
    state_.counters["p90_us"] = times_[times_.size() * 9 / 10];
  }
  template <typename Body>
  void Time(Body body) {
    const auto start = std::chrono::steady_clock::now();
    body();
    const auto end = std::chrono::steady_clock::now();
    times_.push_back(std::chrono::duration<double, std::micro>(end - start).count());
  }

 private:
  benchmark::State& state_;
  std::vector<double> times_;
};

const wchar_t kKey[] = L"SOFTWARE\\Ostrel\\AntiPhish";

void BM_SettingReadDword(benchmark::State& state) {
  if (!CSettings::SetACTGrey(1)) state.SkipWithError("cannot write the setting");
  Samples samples(state);
  for (auto _ : state) {
    samples.Time([] { benchmark::DoNotOptimize(CSettings::GetACTGrey(0)); });
  }
}
BENCHMARK(BM_SettingReadDword);

void BM_SettingReadString(benchmark::State& state) {
  if (!CSettings::SetGreyRedirectUri(L"http://warn.example/grey?u="))
    state.SkipWithError("cannot write the setting");
  Samples samples(state);
  for (auto _ : state) {
    samples.Time([] { benchmark::DoNotOptimize(CSettings::GetGreyRedirectUri(L"")); });
  }
}
BENCHMARK(BM_SettingReadString);

void BM_SettingWrite(benchmark::State& state) {
  Samples samples(state);
  DWORD value = 0;
  bool ok = true;
  for (auto _ : state) {
    value ^= 1;
    samples.Time([&] { ok = CSettings::SetACTGrey(value) && ok; });
  }
  if (!ok) state.SkipWithError("a write failed");
}
BENCHMARK(BM_SettingWrite);

// The parts of a setting read, to see which one dominates.

void BM_RegistryMutexLockUnlock(benchmark::State& state) {
  CMutex& mutex = CRegistry::RegistryMutex();
  Samples samples(state);
  for (auto _ : state) {
    samples.Time([&] {
      CMutexLock lock(mutex);
      benchmark::DoNotOptimize(lock.Owns());
    });
  }
}
BENCHMARK(BM_RegistryMutexLockUnlock);

void BM_RegOpenExistingKey(benchmark::State& state) {
  CSettings::SetACTGrey(1);
  Samples samples(state);
  for (auto _ : state) {
    samples.Time([] {
      HKEY key = nullptr;
      DWORD disposition = 0;
      if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_ALL_ACCESS, nullptr, &key, &disposition) == ERROR_SUCCESS)
        RegCloseKey(key);
    });
  }
}
BENCHMARK(BM_RegOpenExistingKey);

void BM_RegQueryValue(benchmark::State& state) {
  CSettings::SetACTGrey(1);
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    state.SkipWithError("cannot open the key");
    return;
  }
  Samples samples(state);
  for (auto _ : state) {
    samples.Time([&] {
      BYTE data[4];
      DWORD size = sizeof data;
      DWORD type = 0;
      benchmark::DoNotOptimize(RegQueryValueExW(key, L"ACTGrey", nullptr, &type, data, &size));
    });
  }
  RegCloseKey(key);
}
BENCHMARK(BM_RegQueryValue);

// A child waits on "ping" (or "quit") and answers on "pong"; the parent
// times set-ping-then-wait-for-pong.
void BM_EventRoundTripBetweenProcesses(benchmark::State& state) {
  const std::wstring suffix = std::to_wstring(getpid());
  CEvent ping(false, false, L"ping" + suffix);
  CEvent pong(false, false, L"pong" + suffix);
  CEvent quit(false, true, L"quit" + suffix);
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    state.SkipWithError("fork failed");
    return;
  }
  if (child == 0) {
    int rc = 1;
    try {
      // Opened by name, as an unrelated process would.
      CEvent childPing(false, false, L"ping" + suffix);
      CEvent childPong(false, false, L"pong" + suffix);
      CEvent childQuit(false, true, L"quit" + suffix);
      CWaitMultiObj wait;
      wait.Add(&childPing);
      wait.Add(&childQuit);
      for (;;) {
        const DWORD woken = wait.WaitAny(INFINITE);
        if (woken != WAIT_OBJECT_0) {
          rc = woken == WAIT_OBJECT_0 + 1 ? 0 : 2;
          break;
        }
        if (!childPong.Set()) break;
      }
    } catch (...) {
      rc = 3;
    }
    _exit(rc);
  }

  bool ok = true;
  {
    Samples samples(state);
    for (auto _ : state) {
      samples.Time([&] { ok = ping.Set() && pong.Wait(10000) && ok; });
    }
  }
  quit.Set();
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
  }
  if (!ok) state.SkipWithError("a round trip failed or timed out");
  else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    state.SkipWithError("the answering process failed");
}
BENCHMARK(BM_EventRoundTripBetweenProcesses);

}  // namespace

BENCHMARK_MAIN();
