// What a long address costs: the URL cracker alone, the canonicaliser, a
// CUri, and the engine's whole scan of an unlisted address (pre-scan,
// lookup against a list of the usual shape, no redirect) on a recording
// browser, each at 16k, 32k and 64k characters, so that the growth shows
// beside the time (the goal: a 65,000-character address scanned in under
// 1 ms, cost linear in its length). Each shape stresses one part of the
// grammar: a long path, a long query, dot segments, escapes, a long host.
//
// Every benchmark also reports "faults", the page faults per iteration:
// memory the kernel hands out fresh and zero-fills. glibc's heap keeps
// freed buffers below thresholds that grow with the large buffers a
// process has freed. Loading a publisher-sized list frees buffers of
// megabytes, so a window's scans reuse their memory (BM_EngineScan, 50,001
// entries); after a small list's load the thresholds are still low, and
// each buffer of a 64k-character address (256 KB) goes back to the system
// at its free and faults in again at the next scan (BM_EngineScanSmallList,
// 2,001 entries). Where a fault is slow (a virtual machine: some 10 us),
// that, not the scan's own work, is then most of the time. The heap's
// thresholds stay for the process, so the small list's window runs before
// the large one loads, and the benchmarks after it see a grown heap.
//
// Run as build/bench/ostrel_bench_url (--benchmark_filter=Scan for the
// engine alone). The process works in a private temporary folder set up
// before any static object runs, and reaches no network.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "common/FakeBrowser.h"
#include "common/PrivateFolder.h"
#include "engine/PhishListEngine.h"
#include "platform/Testing.h"
#include "platform/Utf8.h"
#include "platform/WinInet.h"
#include "settings/Settings.h"
#include "update/Cipher.h"
#include "uri/Uri.h"

namespace {

enum Shape { kPath, kQuery, kDots, kEscapes, kHost, kShapes };
const char* const kShapeNames[] = {"path", "query", "dots", "escapes", "host"};

// An http address of exactly length characters in the given shape.
std::wstring LongAddress(Shape shape, std::size_t length) {
  std::wstring head, unit, tail;
  switch (shape) {
    case kPath:
      head = L"http://www.example.test/", unit = L"segment/";
      break;
    case kQuery:
      head = L"http://www.example.test/search?q=", unit = L"word+";
      break;
    case kDots:
      head = L"http://www.example.test/", unit = L"a/./b/../";
      break;
    case kEscapes:
      head = L"http://www.example.test/", unit = L"%61%2F%7e";
      break;
    default:
      head = L"http://", unit = L"label.", tail = L"test/";
      break;
  }
  std::wstring out = head;
  while (out.size() + unit.size() + tail.size() <= length) out += unit;
  out.append(length - out.size() - tail.size(), L'a');
  return out + tail;
}

void Lengths(benchmark::internal::Benchmark* b) {
  for (int shape = 0; shape < kShapes; ++shape)
    for (int length : {16384, 32768, 65536}) b->Args({shape, length});
  b->Unit(benchmark::kMicrosecond);
}

long MinorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

// Labels a run with its shape and the page faults per iteration since
// faultsBefore.
void Label(benchmark::State& state, long faultsBefore) {
  state.SetLabel(kShapeNames[state.range(0)]);
  state.counters["faults"] = benchmark::Counter(static_cast<double>(MinorFaults() - faultsBefore),
                                                benchmark::Counter::kAvgIterations);
}

void BM_Crack(benchmark::State& state) {
  const std::wstring url = LongAddress(static_cast<Shape>(state.range(0)), state.range(1));
  std::vector<std::vector<wchar_t>> buffers(6, std::vector<wchar_t>(url.size() + 1));
  const long faults = MinorFaults();
  for (auto _ : state) {
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof parts;
    LPWSTR* texts[] = {&parts.lpszScheme,   &parts.lpszHostName, &parts.lpszUserName,
                       &parts.lpszPassword, &parts.lpszUrlPath,  &parts.lpszExtraInfo};
    DWORD* lengths[] = {&parts.dwSchemeLength,   &parts.dwHostNameLength, &parts.dwUserNameLength,
                        &parts.dwPasswordLength, &parts.dwUrlPathLength,  &parts.dwExtraInfoLength};
    for (int i = 0; i < 6; ++i) *texts[i] = buffers[i].data(), *lengths[i] = url.size() + 1;
    benchmark::DoNotOptimize(
        InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts));
  }
  Label(state, faults);
}
BENCHMARK(BM_Crack)->Apply(Lengths);

void BM_Canonicalize(benchmark::State& state) {
  const std::wstring url = LongAddress(static_cast<Shape>(state.range(0)), state.range(1));
  std::vector<wchar_t> out(url.size() * 3 + 16);
  const long faults = MinorFaults();
  for (auto _ : state) {
    DWORD length = static_cast<DWORD>(out.size());
    benchmark::DoNotOptimize(InternetCanonicalizeUrlW(url.c_str(), out.data(), &length, 0));
  }
  Label(state, faults);
}
BENCHMARK(BM_Canonicalize)->Apply(Lengths);


// A list of the shapes ostrel-db writes (hosts and their subdomains, URLs
// as host and path prefix) and a hand-written path entry, none of which
// the addresses above match, named in the settings with the warning pages.
bool WriteList(int hosts, const std::string& name) {
  std::string text;
  for (int i = 0; i < hosts; ++i) {
    const std::string host = "phish-" + std::to_string(i) + "\\.test";
    text += "b ^([^/?\\x23@]*@)?([^/?\\x23@]*\\.)?" + host + "\\.?(:[0-9]+)?([/?\\x23\\\\]|$)\n";
    text += "b ^([^/?\\x23@]*@)?" + host + "\\.?(:[0-9]+)?/login-" + std::to_string(i) + "\\.php\n";
  }
  text += "b /paypa1-login\n";
  const std::string path = ostrel::bench::PrivateFolder() + "/tmp/" + name;
  std::ofstream(path, std::ios::binary) << CEncrypt(text).GetResult();
  return CSettings::SetDBFileName(ostrel::platform::FromUtf8(path)) &&
         CSettings::SetBlackRedirectUri(L"http://warn.example/black.html") &&
         CSettings::SetGreyRedirectUri(L"http://warn.example/grey.html");
}

// A window's engine on a recording browser, its list loaded: made once
// per list, as loading a publisher-sized one takes a while.
struct Window {
  ostrel::test::FakeBrowser browser;
  std::unique_ptr<CPhishListEngine> engine;
  explicit Window(int hosts, const std::string& name) {
    ostrel::platform::testing::ConfineHttpToLoopback(true);
    if (!WriteList(hosts, name)) return;
    engine = std::make_unique<CPhishListEngine>(&browser);
    engine->GetList().EnsureLoaded();
  }
};

void Scan(benchmark::State& state, Window& window) {
  if (!window.engine) {
    state.SkipWithError("cannot write the list or the settings");
    return;
  }
  const std::wstring url = LongAddress(static_cast<Shape>(state.range(0)), state.range(1));
  window.browser.navigations.clear();
  const long faults = MinorFaults();
  for (auto _ : state) window.engine->Scan(url);
  if (!window.browser.navigations.empty()) state.SkipWithError("the address was listed");
  Label(state, faults);
}

// Against a list of 2,001 entries, whose load leaves the heap at its
// first thresholds: a buffer of a 64k-character address goes back to the
// system at each free, and the faults show what fresh memory costs here.
void BM_EngineScanSmallList(benchmark::State& state) {
  static Window window(1000, "small.dat");
  Scan(state, window);
}
BENCHMARK(BM_EngineScanSmallList)->Apply(Lengths);

// Against a list of a publisher's size: 50,001 entries.
void BM_EngineScan(benchmark::State& state) {
  static Window window(25000, "publisher.dat");
  Scan(state, window);
}
BENCHMARK(BM_EngineScan)->Apply(Lengths);

// The whole decision for everyday unlisted addresses (pre-scan, settings
// reads, lookup) against a list of 100,001 entries; the goal is a median
// under 20 us.
void BM_EngineScanEveryday(benchmark::State& state) {
  static Window window(50000, "everyday.dat");
  if (!window.engine) {
    state.SkipWithError("cannot write the list or the settings");
    return;
  }
  const std::wstring urls[] = {
      L"https://www.google.com/search?q=secure+login+verify+account&hl=en",
      L"https://accounts.google.com/signin/v2/identifier?service=mail&flowName=GlifWebSignIn",
      L"https://www.paypal.com/signin?returnUri=%2Fmyaccount%2Fsummary",
      L"http://www.news-site.org/articles/2024/05/story.html?id=12345&ref=home"};
  window.browser.navigations.clear();
  std::size_t i = 0;
  for (auto _ : state) window.engine->Scan(urls[i++ % 4]);
  if (!window.browser.navigations.empty()) state.SkipWithError("an address was listed");
}
BENCHMARK(BM_EngineScanEveryday)->Repetitions(5)->ReportAggregatesOnly(true);

// A CUri alone (construction and the list's subject), after the lists' loads.
void BM_CUri(benchmark::State& state) {
  const std::wstring url = LongAddress(static_cast<Shape>(state.range(0)), state.range(1));
  const long faults = MinorFaults();
  for (auto _ : state) {
    const CUri uri(url);
    benchmark::DoNotOptimize(uri.GetSchemelessUri());
  }
  Label(state, faults);
}
BENCHMARK(BM_CUri)->Apply(Lengths);

}  // namespace

BENCHMARK_MAIN();
