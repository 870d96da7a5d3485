// The phish list at database sizes a publisher ships: load (decipher,
// parse, compile every pattern: CPhishListEntries::Load of the container),
// a lookup that matches nothing (what nearly every navigation costs), a
// lookup decided near the end of the list, the resident memory each entry
// holds once loaded, and what one hostile entry can cost a lookup.
// Databases are generated with a fixed seed, so runs compare.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "engine/Uri.h"
#include "phishlist/PhishListEntries.h"
#include "update/Cipher.h"

namespace {

constexpr unsigned kSeed = 20240517;

// The shape of a real list: mostly black host patterns anchored at the
// start of the address, some grey, some unanchored path patterns, a few
// white entries for the sites the others imitate.
struct Database {
  std::string container;
  std::string lateHost;  // host of the black entry nearest the end
};

std::string HostName(std::mt19937& rng, std::size_t serial) {
  static const char* const kWords[] = {"secure", "login", "account", "verify", "update",
                                       "bank",   "pay",   "signin",  "wallet", "support",
                                       "online", "web",   "my",      "id",     "auth",
                                       "paypa1", "app1e", "micros0ft", "amaz0n", "netf1ix"};
  constexpr std::size_t kCount = sizeof kWords / sizeof kWords[0];
  std::string name = kWords[rng() % kCount];
  const unsigned more = 1 + rng() % 2;
  for (unsigned i = 0; i < more; ++i) name += std::string("-") + kWords[rng() % kCount];
  name += "-" + std::to_string(serial);  // unique, as real entries are
  return name;
}

std::string Escaped(const std::string& host) {
  std::string out;
  for (char c : host) {
    if (c == '.') out += '\\';
    out += c;
  }
  return out;
}

Database Generate(std::size_t entries) {
  std::mt19937 rng(kSeed);
  static const char* const kTlds[] = {"test", "invalid", "example"};
  static const char* const kPaths[] = {"/paypa1-login/", "\\.php\\?acct=", "/webscr\\?cmd=_login",
                                       "/wp-includes/[a-z]+/bank", "/signin\\.ebay\\.",
                                       "\\.html\\?session=[0-9a-f]{16}"};
  std::ostringstream text;
  text << "# generated phish list, " << entries << " entries\n";
  Database db;
  for (std::size_t i = 0; i < entries; ++i) {
    const unsigned roll = rng() % 100;
    if (roll < 2) {
      text << "w ^www\\." << HostName(rng, i) << "\\.test/\n";
    } else if (roll < 10) {
      text << "b " << kPaths[rng() % 6] << "\n";
    } else {
      const std::string host = HostName(rng, i) + "." + kTlds[rng() % 3];
      text << (roll < 20 ? "g " : "b ") << "^([a-z0-9-]+\\.)*" << Escaped(host) << "(:|/|$)\n";
      if (roll >= 20) db.lateHost = host;
    }
  }
  db.container = CEncrypt(text.str()).GetResult();
  return db;
}

const Database& DatabaseOf(std::size_t entries) {
  static std::map<std::size_t, Database> cache;
  auto it = cache.find(entries);
  if (it == cache.end()) it = cache.emplace(entries, Generate(entries)).first;
  return it->second;
}

std::wstring Widen(const std::string& bytes) {
  std::wstring chars;
  chars.reserve(bytes.size());
  for (char b : bytes) chars += static_cast<wchar_t>(static_cast<unsigned char>(b));
  return chars;
}

// A loaded list per size, shared by the lookup benchmarks.
CPhishListEntries& LoadedList(std::size_t entries) {
  static std::map<std::size_t, std::unique_ptr<CPhishListEntries>> cache;
  auto& list = cache[entries];
  if (!list) {
    list = std::make_unique<CPhishListEntries>();
    std::wistringstream stream(Widen(DatabaseOf(entries).container));
    list->Load(stream);
  }
  return *list;
}

long ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * 4096L;
}

void BM_Load(benchmark::State& state) {
  const std::size_t entries = static_cast<std::size_t>(state.range(0));
  std::wistringstream stream(Widen(DatabaseOf(entries).container));  // Load rewinds it
  std::size_t loaded = 0;
  for (auto _ : state) {
    auto list = std::make_unique<CPhishListEntries>();
    list->Load(stream);
    loaded = list->GetCount();
    state.PauseTiming();
    list.reset();  // destroying the patterns is not part of a load
    state.ResumeTiming();
  }
  state.counters["entries"] = static_cast<double>(loaded);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * entries));
}

void BM_LookUpNoMatch(benchmark::State& state) {
  CPhishListEntries& list = LoadedList(static_cast<std::size_t>(state.range(0)));
  const CUri uri(L"http://www.news-site.org/articles/2024/05/story.html?id=12345&ref=home");
  if (list.FindIndex(uri) >= 0) state.SkipWithError("the everyday address matches an entry");
  for (auto _ : state) benchmark::DoNotOptimize(list.LookUp(uri));
}

void BM_LookUpLateMatch(benchmark::State& state) {
  const std::size_t entries = static_cast<std::size_t>(state.range(0));
  CPhishListEntries& list = LoadedList(entries);
  std::wstring address = L"http://login.";
  for (char c : DatabaseOf(entries).lateHost) address += static_cast<wchar_t>(c);
  address += L"/account/verify";
  const CUri uri(address);
  const long index = list.FindIndex(uri);
  if (index < 0 || static_cast<std::size_t>(index) + 100 < list.GetCount())
    state.SkipWithError("the late address does not match near the end");
  state.counters["position"] = static_cast<double>(index + 1);
  for (auto _ : state) benchmark::DoNotOptimize(list.LookUp(uri));
}

// Resident memory the loaded list keeps, per entry: RSS after the load
// less RSS before, both after returning freed memory to the system, so
// the load's passing buffers do not count. The heap's own count of bytes
// in use is given beside it as a check.
void BM_MemoryPerEntry(benchmark::State& state) {
  const std::size_t entries = static_cast<std::size_t>(state.range(0));
  std::wistringstream stream(Widen(DatabaseOf(entries).container));
  double rss = 0, heap = 0;
  for (auto _ : state) {
    malloc_trim(0);
    const long rssBefore = ResidentBytes();
    const std::size_t heapBefore = mallinfo2().uordblks + mallinfo2().hblkhd;
    auto list = std::make_unique<CPhishListEntries>();
    list->Load(stream);
    malloc_trim(0);
    rss = static_cast<double>(ResidentBytes() - rssBefore) / static_cast<double>(list->GetCount());
    heap = (static_cast<double>(mallinfo2().uordblks + mallinfo2().hblkhd) -
            static_cast<double>(heapBefore)) /
           static_cast<double>(list->GetCount());
    state.PauseTiming();
    list.reset();
    state.ResumeTiming();
  }
  state.counters["rss_bytes_per_entry"] = rss;
  state.counters["heap_bytes_per_entry"] = heap;
}

// One hostile entry against a 2 KB address that it does not match: nested
// repeats that would need millions of matching states, at the longest
// pattern allowed where length adds to the cost of a state. What the search
// budget lets each cost (the goal: under 1 ms).
void BM_LookUpHostileEntry(benchmark::State& state) {
  const std::size_t longest = CPhishListItem::kMaxPatternLength;
  const std::string hostile[] = {"(a+)+$|" + std::string(longest - 7, 'z'),
                                 "(a|a)*?" + std::string(longest - 8, 'a') + "b",
                                 "(a*?)*?" + std::string(longest - 8, 'a') + "b",
                                 "(.*)*x", "(.*a){20}b", "([a-z]+\\.)+evil\\.test/"};
  const std::string& pattern = hostile[state.range(0)];
  CPhishListEntries list;
  std::wistringstream stream(Widen(CEncrypt("b " + pattern + "\n").GetResult()));
  list.Load(stream);
  const CUri uri(L"http://" + std::wstring(2048, L'a') + L"/");
  if (list.GetCount() != 1 || list.LookUp(uri) != 0) state.SkipWithError("not a lone miss");
  for (auto _ : state) benchmark::DoNotOptimize(list.LookUp(uri));
  state.SetLabel(pattern.substr(0, 20) + " (" + std::to_string(pattern.size()) + " characters)");
}

// The 100,000-entry load takes seconds: a few runs suffice.
BENCHMARK(BM_Load)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load)->Arg(100000)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LookUpNoMatch)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LookUpLateMatch)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LookUpHostileEntry)->DenseRange(0, 5)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MemoryPerEntry)->Arg(1000)->Arg(10000)->Arg(100000)->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
