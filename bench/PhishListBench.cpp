// The phish list at database sizes a publisher ships, printed as one table:
// load (decipher, parse, build the candidate index), resident memory per
// entry, the share of entries the index cannot rule out, and the median,
// 99th percentile and worst lookup for an address that matches nothing,
// one decided near the end of the list and one decided near its start,
// each through the index and through the walk over every entry (the
// reference), with their ratio, and the time to derive the browser's host
// rules from the whole list. Then what bad input costs: lists where the
// index cannot help, over-long patterns, a 1 MB address, and entries that
// would need millions of matching states. The table of list shapes gives,
// per list (publisher-shaped, feed-shaped and hard shapes, at 100,000 and
// 1,000,000 entries), the load, the first lookups after it, hits, near
// misses and clean sites timed apart, and memory per entry. Databases are
// generated with fixed seeds, so runs compare. One core; run as
//   build/bench/ostrel_bench_phishlist [shapes [1m] [rows=TEXT] | loads [1m]]
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/ListShapes.h"
#include "phishlist/HostRule.h"
#include "phishlist/PhishListEntries.h"
#include "update/Cipher.h"
#include "uri/Uri.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned kSeed = 20240517;

struct Database {
  std::string container;
  std::size_t lines = 0;
  std::vector<std::wstring> early, late;  // addresses decided near the start, the end
};

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::string HostName(std::mt19937& rng, std::size_t serial) {
  static const char* const kWords[] = {"secure", "login", "account", "verify", "update",
                                       "bank",   "pay",   "signin",  "wallet", "support",
                                       "online", "web",   "my",      "id",     "auth",
                                       "paypa1", "app1e", "micros0ft", "amaz0n", "netf1ix"};
  constexpr std::size_t kCount = sizeof kWords / sizeof kWords[0];
  std::string name = kWords[rng() % kCount];
  const unsigned more = 1 + rng() % 2;
  for (unsigned i = 0; i < more; ++i) name += std::string("-") + kWords[rng() % kCount];
  return name + "-" + std::to_string(serial);  // unique, as real entries are
}

std::string Escaped(const std::string& host) {
  std::string out;
  for (char c : host) {
    if (c == '.') out += '\\';
    out += c;
  }
  return out;
}

Database Seal(const std::string& text, std::size_t lines, const std::vector<std::string>& hosts) {
  Database db;
  db.container = CEncrypt(text).GetResult();
  db.lines = lines;
  const std::size_t n = std::min<std::size_t>(16, hosts.size());
  for (std::size_t i = 0; i < n; ++i) {
    db.early.push_back(L"http://login." + Wide(hosts[i]) + L"/account/verify");
    db.late.push_back(L"http://login." + Wide(hosts[hosts.size() - 1 - i]) + L"/account/verify");
  }
  return db;
}

// A publisher's list: mostly black host patterns anchored at the start of
// the address, some grey, some unanchored path patterns, a few white
// entries for the sites the others imitate.
Database Synthetic(std::size_t entries) {
  std::mt19937 rng(kSeed);
  static const char* const kTlds[] = {"test", "invalid", "example"};
  static const char* const kPaths[] = {"/paypa1-login/", "\\.php\\?acct=", "/webscr\\?cmd=_login",
                                       "/wp-includes/[a-z]+/bank", "/signin\\.ebay\\.",
                                       "\\.html\\?session=[0-9a-f]{16}"};
  std::ostringstream text;
  std::vector<std::string> black;
  for (std::size_t i = 0; i < entries; ++i) {
    const unsigned roll = rng() % 100;
    if (roll < 2) {
      text << "w ^www\\." << HostName(rng, i) << "\\.test/\n";
    } else if (roll < 10) {
      text << "b " << kPaths[rng() % 6] << "\n";
    } else {
      const std::string host = HostName(rng, i) + "." + kTlds[rng() % 3];
      text << (roll < 20 ? "g " : "b ") << "^([a-z0-9-]+\\.)*" << Escaped(host) << "(:|/|$)\n";
      if (roll >= 20) black.push_back(host);
    }
  }
  return Seal(text.str(), entries, black);
}

Database FromShaped(const ostrel::test::ShapedList& shaped) {
  Database db;
  db.container = CEncrypt(shaped.text).GetResult();
  db.lines = shaped.lines;
  const std::size_t n = std::min<std::size_t>(16, shaped.hits.size());
  db.early.assign(shaped.hits.begin(), shaped.hits.begin() + static_cast<long>(n));
  db.late.assign(shaped.hits.end() - static_cast<long>(n), shaped.hits.end());
  return db;
}

std::wistringstream StreamOf(const Database& db) {
  std::wstring chars;
  chars.reserve(db.container.size());
  for (char b : db.container) chars += static_cast<wchar_t>(static_cast<unsigned char>(b));
  return std::wistringstream(chars);
}

long ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * 4096L;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Stats {
  double median = 0, p99 = 0, max = 0;  // microseconds
};

Stats Time(const std::function<void(std::size_t)>& run, std::size_t samples) {
  std::vector<double> us(samples);
  for (std::size_t i = 0; i < samples; ++i) {
    const auto start = Clock::now();
    run(i);
    us[i] = Ms(Clock::now() - start) * 1000;
  }
  std::sort(us.begin(), us.end());
  return {us[samples / 2], us[std::min(samples - 1, samples * 99 / 100)], us.back()};
}

// A loaded list with its load time (median of runs, processor time of this
// single-threaded process, so other work on the machine does not count)
// and resident bytes.
struct Loaded {
  std::unique_ptr<CPhishListEntries> list;
  double loadMs = 0, bytesPerEntry = 0;
};

Loaded LoadList(const Database& db, int runs) {
  std::wistringstream stream = StreamOf(db);
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    auto list = std::make_unique<CPhishListEntries>();
    const std::clock_t start = std::clock();
    list->Load(stream);
    ms.push_back(1000.0 * static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC);
  }
  std::sort(ms.begin(), ms.end());
  Loaded loaded;
  loaded.loadMs = ms[ms.size() / 2];
  malloc_trim(0);
  const long before = ResidentBytes();
  loaded.list = std::make_unique<CPhishListEntries>();
  loaded.list->Load(stream);
  malloc_trim(0);
  const std::size_t count = std::max<std::size_t>(1, loaded.list->GetCount());
  loaded.bytesPerEntry = static_cast<double>(ResidentBytes() - before) / static_cast<double>(count);
  return loaded;
}

double CpuMs(std::clock_t since) {
  return 1000.0 * static_cast<double>(std::clock() - since) / CLOCKS_PER_SEC;
}

// Five loads of the hard list, each split into its phases (read: decipher
// and parse; then putting the entries in place with the index), and the
// heap the loaded list holds per entry.
void LoadPhases(std::size_t entries) {
  const ostrel::test::ShapedList shaped = ostrel::test::HardShapedList(entries, kSeed + 2);
  Database db;
  db.container = CEncrypt(shaped.text).GetResult();
  db.lines = shaped.lines;
  std::wistringstream stream = StreamOf(db);
  for (int i = 0; i < 5; ++i) {
    const std::size_t heapBefore = mallinfo2().uordblks;
    auto list = std::make_unique<CPhishListEntries>();
    std::clock_t start = std::clock();
    CPhishListEntries::Entries read = CPhishListEntries::ReadEntries(stream);
    const double readMs = CpuMs(start);
    const double entryHeap = static_cast<double>(mallinfo2().uordblks - heapBefore);
    start = std::clock();
    list->Replace(std::move(read));
    const double replaceMs = CpuMs(start);
    const double heap = static_cast<double>(mallinfo2().uordblks - heapBefore);
    const double count = static_cast<double>(list->GetCount());
    std::printf("load %.0f ms: read %.0f ms, in place with the index %.0f ms; heap per entry "
                "%.0f B, %.0f of them the entry's own\n",
                readMs + replaceMs, readMs, replaceMs, heap / count, entryHeap / count);
  }
}

void PrintLookup(const char* what, double position, const Stats& indexed, const Stats& walk) {
  std::printf("  %-10s %9.0f | %8.2f %8.2f %9.1f | %10.1f %10.1f | %8.0fx\n", what, position,
              indexed.median, indexed.p99, indexed.max, walk.median, walk.p99,
              walk.median / indexed.median);
}

// What deriving the browser's pre-request rules from the whole list costs
// (the Chromium host does it at every load), and how many it gives.
void PrintHostRules(CPhishListEntries& list) {
  const auto start = Clock::now();
  std::size_t considered = 0, rules = 0;
  for (std::size_t i = 0; i < list.GetCount(); ++i) {
    const CPhishListItem* entry = list.GetEntry(i);
    if (entry->GetKind() != LIST_KIND_BLACK && entry->GetKind() != LIST_KIND_GREY) continue;
    ++considered;
    if (HostRuleOf(entry->GetPattern())) ++rules;
  }
  std::printf("  host rules: %zu of %zu black and grey entries, derived in %.1f ms\n", rules,
              considered, Ms(Clock::now() - start));
}

void Report(const char* name, const Database& db) {
  Loaded loaded = LoadList(db, db.lines >= 100000 ? 3 : 7);
  CPhishListEntries& list = *loaded.list;
  const double count = static_cast<double>(list.GetCount());
  std::printf("\n%s: %zu entries, load %.0f ms, %.0f bytes resident per entry, "
              "%.2f%% not filtered by the index\n",
              name, list.GetCount(), loaded.loadMs, loaded.bytesPerEntry,
              100.0 * static_cast<double>(list.GetUnfilteredCount()) / count);
  PrintHostRules(list);
  std::printf("  %-10s %9s | %8s %8s %9s | %10s %10s | %9s\n", "lookup", "position",
              "index md", "p99", "max", "walk md", "p99", "walk/idx");

  const std::vector<std::wstring> none = {
      L"http://www.news-site.org/articles/2024/05/story.html?id=12345&ref=home",
      L"https://mail.example.org/inbox?folder=work&page=2",
      L"http://shop.example.net/cart/checkout/step-2?coupon=SPRING",
      L"https://www.video-portal.org/watch?v=abcDEF12345&t=42s",
      L"http://forum.hobby-site.org/threads/1234-cars/page-7",
      L"https://docs.example.com/guide/install.html#linux"};
  const struct {
    const char* what;
    const std::vector<std::wstring>& addresses;
  } kinds[] = {{"no match", none}, {"near end", db.late}, {"near start", db.early}};

  // The walk compiles every pattern; done once first, as a list compiled
  // at load would have it.
  list.FindIndexLinear(CUri(none[0]));
  const std::size_t walkSamples = db.lines >= 100000 ? 7 : db.lines >= 10000 ? 51 : 501;
  for (const auto& kind : kinds) {
    std::vector<CUri> uris;
    double position = 0;
    for (const std::wstring& a : kind.addresses) {
      uris.emplace_back(a);
      const long index = list.FindIndex(uris.back());
      if (index != list.FindIndexLinear(uris.back())) std::printf("  VERDICTS DIFFER: %ls\n", a.c_str());
      position += static_cast<double>(index + 1) / static_cast<double>(kind.addresses.size());
    }
    const Stats indexed = Time([&](std::size_t i) { list.FindIndex(uris[i % uris.size()]); }, 20000);
    const Stats walk = Time([&](std::size_t i) { list.FindIndexLinear(uris[i % uris.size()]); },
                            walkSamples);
    PrintLookup(kind.what, position, indexed, walk);
  }
}

// A row of bad input: the load and one kind of lookup, a few samples.
void BadInput(const char* what, const std::string& text, std::size_t lines,
              const std::wstring& address, std::size_t samples) {
  const Database db = Seal(text, lines, {});
  Loaded loaded = LoadList(db, 1);
  CPhishListEntries& list = *loaded.list;
  const CUri uri(address);
  const auto first = Clock::now();
  const long index = list.FindIndex(uri);
  const double firstMs = Ms(Clock::now() - first);
  const Stats s = Time([&](std::size_t) { list.FindIndex(uri); }, samples);
  std::printf("  %-44s %7zu %8.0f %7.2f%% | %10.1f %10.1f %10.1f  %s\n", what, list.GetCount(),
              loaded.loadMs,
              100.0 * static_cast<double>(list.GetUnfilteredCount()) /
                  static_cast<double>(std::max<std::size_t>(1, list.GetCount())),
              firstMs * 1000, s.median, s.max, index >= 0 ? "match" : "no match");
}

void BadInputs() {
  std::printf("\nBad input (lookup times in microseconds; the first lookup compiles the "
              "patterns it tries)\n");
  std::printf("  %-44s %7s %8s %8s | %10s %10s %10s\n", "case", "entries", "load ms", "unfilt",
              "first", "median", "max");
  const std::wstring paypal = L"http://paypal.account-check.test/a/b";
  std::string shared, bare;
  for (std::size_t i = 0; i < 100000; ++i) {
    // One literal in every entry, the rest classes and counts.
    shared += "b paypal\\.[a-z]{" + std::to_string(1 + i % 40) + "}/\\d{" +
              std::to_string(1 + i / 40 % 50) + "}z{" + std::to_string(i / 2000) + "}/\n";
    bare += "b ^[a-z]{" + std::to_string(1 + i % 40) + "}\\d{" + std::to_string(1 + i / 40 % 50) +
            "}[.-]{" + std::to_string(1 + i / 2000) + "}$\n";
  }
  BadInput("100,000 entries sharing one literal, in it", shared, 100000, paypal, 3);
  BadInput("100,000 entries sharing one literal, not in it", shared, 100000,
           L"http://www.news-site.org/story.html", 1001);
  BadInput("100,000 entries without a usable literal", bare, 100000, paypal, 3);

  std::string longLines;
  for (int i = 0; i < 1000; ++i) longLines += "b " + std::string(10000, static_cast<char>('a' + i % 26)) + "\n";
  BadInput("1,000 patterns of 10,000 characters (refused)", longLines + "b ^evil\\.test/\n", 1001,
           L"http://evil.test/", 1001);

  const Database big = Synthetic(100000);
  Loaded loaded = LoadList(big, 1);
  for (const wchar_t* kind : {L"a", L"paypa1-"}) {
    std::wstring address = L"http://www.example.test/?q=";
    while (address.size() < 1000000) address += kind;
    const CUri uri(address);
    const Stats s = Time([&](std::size_t) { loaded.list->FindIndex(uri); }, 5);
    std::printf("  1 MB address (\"%ls...\") against the 100,000 list: median %.0f us, max %.0f us\n",
                kind, s.median, s.max);
  }

  // Entries that would need millions of matching states, each alone,
  // against a 2 KB address they do not match: what the search budget lets
  // each cost (the goal: under 1 ms).
  const std::size_t longest = CPhishListItem::kMaxPatternLength;
  for (const std::string& hostile :
       {"(a+)+$|" + std::string(longest - 7, 'z'), "(a|a)*?" + std::string(longest - 8, 'a') + "b",
        "(a*?)*?" + std::string(longest - 8, 'a') + "b", std::string("(.*)*x"),
        std::string("(.*a){20}b"), std::string("([a-z]+\\.)+evil\\.test/")}) {
    CPhishListEntries list;
    std::wistringstream stream = StreamOf(Seal("b " + hostile + "\n", 1, {}));
    list.Load(stream);
    const CUri uri(L"http://" + std::wstring(2048, L'a') + L"/");
    const Stats s = Time([&](std::size_t) { list.LookUp(uri); }, 201);
    std::printf("  hostile %-24s (%3zu characters): median %.0f us, max %.0f us%s\n",
                hostile.substr(0, 24).c_str(), hostile.size(), s.median, s.max,
                list.GetCount() == 1 && list.LookUp(uri) == 0 ? "" : "  NOT A LONE MISS");
  }
}

// Only the rows of the shapes table whose name holds this (all when empty).
std::string g_rows;

// One row of the table of list shapes: load (decipher, parse, index), the
// lookups of the first pass right after it (the first, and the slowest of
// the pass, which compiles what it tries), then hits, near misses and
// clean sites timed apart, and resident memory per entry. Up to
// `checked` addresses of each kind are also decided by the walk over
// every entry, which must agree.
void ShapeRow(const char* name, const ostrel::test::ShapedList& shaped, std::size_t checked) {
  Database db;
  db.container = CEncrypt(shaped.text).GetResult();
  db.lines = shaped.lines;
  Loaded loaded = LoadList(db, db.lines >= 1000000 ? 1 : 3);
  CPhishListEntries& list = *loaded.list;
  const std::vector<std::wstring>* kinds[] = {&shaped.hits, &shaped.nearMisses, &shaped.clean};
  std::vector<std::vector<CUri>> uris(3);
  for (int k = 0; k < 3; ++k)
    for (const std::wstring& a : *kinds[k]) uris[k].emplace_back(a);

  double first = -1, firstPassMax = 0;
  for (std::size_t i = 0; i < uris[0].size() + uris[1].size() + uris[2].size(); ++i) {
    const CUri& uri = uris[i % 3][(i / 3) % uris[i % 3].size()];
    const auto start = Clock::now();
    list.FindIndex(uri);
    const double us = Ms(Clock::now() - start) * 1000;
    if (first < 0) first = us;
    firstPassMax = std::max(firstPassMax, us);
  }
  Stats stats[3];
  for (int k = 0; k < 3; ++k) {
    const std::vector<CUri>& set = uris[k];
    stats[k] = Time([&](std::size_t i) { list.FindIndex(set[i % set.size()]); }, 20000);
  }
  std::size_t differ = 0, compared = 0;
  for (int k = 0; k < 3; ++k)
    for (std::size_t i = 0; i < std::min(checked, uris[k].size()); ++i, ++compared)
      differ += list.FindIndex(uris[k][i]) != list.FindIndexLinear(uris[k][i]);
  std::printf("| %-28s | %9zu | %7.0f ms | %9.0f us | %8.0f us |", name, list.GetCount(),
              loaded.loadMs, first, firstPassMax);
  for (const Stats& s : stats) std::printf(" %6.2f / %6.1f / %6.0f |", s.median, s.p99, s.max);
  std::printf(" %6.0f B | ", loaded.bytesPerEntry);
  if (compared)
    std::printf("%zu of %zu differ |\n", differ, compared);
  else
    std::printf("not walked |\n");
  std::fflush(stdout);
}

void ShapesTable(bool millions) {
  std::printf("\nLookups by list shape (microseconds: median / p99 / max over 20,000 lookups "
              "of each kind; first: the first lookup after the load; first pass: the slowest "
              "lookup of the first pass over every address)\n");
  std::printf("| %-28s | %9s | %10s | %12s | %11s | %-24s | %-24s | %-24s | %8s | %s |\n", "list",
              "entries", "load", "first", "first pass", "hits", "near misses", "clean sites",
              "memory", "verdicts against the walk");
  std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
  using namespace ostrel::test;
  const auto publisher = [](std::size_t n) {
    ShapedList shaped;
    const Database db = Synthetic(n);
    shaped.text = CDecrypt(db.container).GetResult();
    shaped.lines = n;
    shaped.hits = db.late;
    for (const std::wstring& a : db.early) shaped.hits.push_back(a);
    for (std::wstring a : shaped.hits) shaped.nearMisses.push_back(a.insert(a.find(L"/account"), L"x"));
    shaped.clean = CleanAddresses();
    return shaped;
  };
  const auto row = [](const char* name, auto make, std::size_t checked) {
    if (g_rows.empty() || std::string(name).find(g_rows) != std::string::npos)
      ShapeRow(name, make(), checked);
  };
  row("publisher-shaped, 100k", [&] { return publisher(100000); }, 8);
  row("feed-shaped, 15k", [] { return FeedShapedList(15000, kSeed + 1); }, 24);
  row("feed-shaped, 100k", [] { return FeedShapedList(100000, kSeed + 1); }, 8);
  row("hard shapes, 100k", [] { return HardShapedList(100000, kSeed + 2); }, 8);
  if (!millions) return;
  row("publisher-shaped, 1M", [&] { return publisher(1000000); }, 0);
  row("hard shapes, 1M", [] { return HardShapedList(1000000, kSeed + 2); }, 0);
}

}  // namespace

// Arguments: "shapes" for the table of list shapes alone (add "1m" for the
// lists of a million entries, "rows=TEXT" for the rows whose name holds
// TEXT), "loads" for five loads of the hard 100,000 list alone, split into
// their phases ("loads 1m": of the million; also what to profile),
// none for everything.
int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const auto has = [&](const char* a) { return std::find(args.begin(), args.end(), a) != args.end(); };
  for (const std::string& a : args)
    if (a.rfind("rows=", 0) == 0) g_rows = a.substr(5);
  if (has("loads")) {  // for a profiler: the loads of the hard list alone
    LoadPhases(has("1m") ? 1000000 : 100000);
    return 0;
  }
  if (has("shapes")) {
    ShapesTable(has("1m"));
    return 0;
  }
  std::printf("Phish list lookups (microseconds): through the candidate index and through the "
              "walk over every entry\n");
  for (std::size_t n : {1000u, 10000u, 100000u}) {
    const std::string name = "Publisher-shaped list of " + std::to_string(n);
    Report(name.c_str(), Synthetic(n));
  }
  Report("List made from host feeds", FromShaped(ostrel::test::FeedShapedList(15000, kSeed + 1)));
  ShapesTable(true);
  BadInputs();
  return 0;
}
