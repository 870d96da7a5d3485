#include "common/ListShapes.h"

#include <random>

namespace ostrel::test {
namespace {

// Words of phishing hosts; the first six are in a good share of every
// hard entry.
const char* const kCommon[] = {"secure", "login", "verify", "account", "update", "support"};
const char* const kWords[] = {"secure", "login",  "verify", "account", "update", "support",
                              "bank",   "pay",    "signin", "wallet",  "online", "service",
                              "auth",   "confirm", "id",    "web",     "portal", "billing"};
const char* const kTlds[] = {"com", "net", "org", "info", "xyz", "top", "ru", "co.uk"};
const char* const kLookAlikes[][4] = {{"paypal", "paypa1", "paypai", "pay-pal"},
                                      {"apple", "app1e", "appie", "apple-id"},
                                      {"amazon", "amaz0n", "arnazon", "amazon-pay"},
                                      {"microsoft", "micros0ft", "rnicrosoft", "ms-online"},
                                      {"netflix", "netf1ix", "netfiix", "net-flix"}};
// Hosting ranges numeric hosts fall in.
const char* const kRanges[] = {"185.22", "45.133", "91.215", "103.76", "194.58", "5.188",
                               "179.43", "37.120", "62.173", "198.54", "23.94",  "141.98"};

template <std::size_t N>
const char* Pick(std::mt19937& rng, const char* const (&from)[N]) {
  return from[rng() % N];
}

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::string Escaped(const std::string& literal) {
  std::string out;
  for (char c : literal) {
    if (c == '.') out += '\\';
    out += c;
  }
  return out;
}

std::string Number(std::mt19937& rng, unsigned digits) {
  std::string n;
  for (unsigned i = 0; i < digits; ++i) n += static_cast<char>('0' + (i == 0 ? 1 + rng() % 9 : rng() % 10));
  return n;
}

// The number with its last digit changed.
std::string Bumped(std::string n) {
  n.back() = n.back() == '9' ? '0' : static_cast<char>(n.back() + 1);
  return n;
}

std::string OtherTld(std::mt19937& rng, const std::string& tld) {
  std::string other;
  do other = Pick(rng, kTlds);
  while (other == tld);
  return other;
}

// One entry with an address it matches and one that shares all but one of
// its literals.
struct Entry {
  std::string pattern;
  std::string hit, nearMiss;  // without "http://"
};

const std::string kAuthority = "^([^/?\\x23@]*@)?", kPort = "\\.?(:[0-9]+)?";

// What a feed import writes for a host: the host and its subdomains, the
// host with a path, the host as it is, or a numeric host.
Entry FeedEntry(std::mt19937& rng, std::size_t serial) {
  const unsigned roll = rng() % 100;
  std::string host, tld = Pick(rng, kTlds);
  if (roll < 8) {
    host = std::to_string(1 + rng() % 223) + "." + std::to_string(rng() % 256) + "." +
           std::to_string(rng() % 256) + "." + std::to_string(1 + rng() % 254);
  } else {
    host = Pick(rng, kWords);
    for (unsigned i = 1 + rng() % 2; i > 0; --i) host += std::string("-") + Pick(rng, kWords);
    host += "-" + std::to_string(serial) + "." + tld;  // unique, as feed hosts are
  }
  Entry e;
  e.hit = "www." + host + "/index.html";
  e.nearMiss = "www." + host + "x/index.html";
  if (roll < 20) {
    e.pattern = host;
  } else if (roll < 85) {
    e.pattern = kAuthority + "([^/?\\x23@]*\\.)?" + Escaped(host) + kPort + "([/?\\x23\\\\]|$)";
  } else {
    e.pattern = kAuthority + Escaped(host) + kPort + "/login\\.php";
    e.hit = host + "/login.php?u=1";
    e.nearMiss = host + "/logon.php?u=1";
  }
  return e;
}

Entry HardEntry(std::mt19937& rng, std::size_t serial, const std::vector<std::string>& campaigns) {
  const std::string w1 = Pick(rng, kCommon), w2 = Pick(rng, kCommon), w3 = Pick(rng, kCommon);
  const std::string word = Pick(rng, kWords), tld = Pick(rng, kTlds);
  Entry e;
  switch (rng() % 9) {
    case 0: {  // numbered labels, many from the same campaigns
      const std::string label =
          word + (rng() % 3 ? campaigns[rng() % campaigns.size()] : Number(rng, 5));
      const std::string host = label + "-" + w1 + "-" + std::to_string(serial % 997) + "." + tld;
      e.pattern = kAuthority + "([^/?\\x23@]*\\.)?" + Escaped(host) + kPort + "([/?\\x23\\\\]|$)";
      e.hit = "mail." + host + "/";
      e.nearMiss = "mail." + label + "-" + w1 + "-" + std::to_string(serial % 997) + "." +
                   OtherTld(rng, tld) + "/";
      break;
    }
    case 1: {  // host names written as they are: their dots match anything
      const std::string n = Number(rng, 4);
      e.pattern = w1 + "-" + w2 + "." + word + n + "." + tld;
      e.hit = w1 + "-" + w2 + "." + word + n + "." + tld + "/";
      e.nearMiss = w1 + "-" + w2 + "." + word + Bumped(n) + "." + tld + "/";
      break;
    }
    case 2: {  // common words everywhere, ".*" before the one number that tells
      const std::string n = Number(rng, 4);
      e.pattern = "^[^/]*" + w1 + "-" + w2 + "-" + w3 + ".*" + n + "\\.(com|net)";
      e.hit = "www." + w1 + "-" + w2 + "-" + w3 + "." + word + n + ".com/";
      e.nearMiss = "www." + w1 + "-" + w2 + "-" + w3 + "." + word + Bumped(n) + ".com/";
      break;
    }
    case 3: {  // look-alike spellings, then numbers
      const auto& brand = kLookAlikes[rng() % 5];
      const std::string n = Number(rng, 3);
      e.pattern = std::string("(") + brand[0] + "|" + brand[1] + "|" + brand[2] + "|" + brand[3] +
                  ")-(" + w1 + "|" + w2 + ")-(verify|update)[0-9]*\\." + word + n + "\\." +
                  Escaped(tld);
      const std::string head = std::string(brand[rng() % 4]) + "-" + w2 + "-update" +
                               std::to_string(rng() % 100) + "." + word;
      e.hit = head + n + "." + tld + "/";
      e.nearMiss = head + n + "." + OtherTld(rng, tld) + "/";
      break;
    }
    case 4: {  // counted classes
      const std::string n = Number(rng, 3);
      if (rng() % 2) {
        e.pattern = "^[a-z0-9]{8}\\." + w1 + "-" + n + "\\." + Escaped(tld) + "/";
        e.hit = "a1b2c3d4." + w1 + "-" + n + "." + tld + "/x";
        e.nearMiss = "a1b2c3d." + w1 + "-" + n + "." + tld + "/x";
      } else {
        e.pattern = "^" + w1 + "-[0-9]{2,4}-" + w2 + n + "\\." + Escaped(tld) + "/";
        e.hit = w1 + "-123-" + w2 + n + "." + tld + "/";
        e.nearMiss = w1 + "-12345-" + w2 + n + "." + tld + "/";
      }
      break;
    }
    case 5: {  // ".*" between words
      const std::string n = Number(rng, 5);
      e.pattern = w1 + ".*" + w2 + ".*" + n;
      e.hit = "site.example/" + w1 + "/" + w2 + "?id=" + n;
      e.nearMiss = "site.example/" + w1 + "/" + w2 + "?id=" + Bumped(n);
      break;
    }
    case 6: {  // numeric hosts in ranges
      const std::string range = std::string(Pick(rng, kRanges)) + "." + std::to_string(1 + rng() % 25);
      e.pattern = "^" + Escaped(range) + "[0-9]\\.[0-9]{1,3}(:[0-9]+)?/";
      if (rng() % 2) e.pattern += word + std::to_string(serial % 1000);
      e.hit = range + "7.19/" + word + std::to_string(serial % 1000) + "/";
      e.nearMiss = range + "77.19/" + word + std::to_string(serial % 1000) + "/";
      break;
    }
    case 7: {  // hosts with paths
      const std::string host = w1 + "-" + word + Number(rng, 4) + "." + tld;
      e.pattern = kAuthority + Escaped(host) + kPort + "/(wp-admin|wp-content|wp-includes)/" + w2 +
                  "\\.php";
      e.hit = host + "/wp-content/" + w2 + ".php?x=1";
      e.nearMiss = host + "/wp-content/" + w2 + ".html?x=1";
      break;
    }
    default:
      return FeedEntry(rng, serial);
  }
  return e;
}

template <class Make>
ShapedList Build(std::size_t entries, unsigned seed, Make make) {
  std::mt19937 rng(seed);
  ShapedList list;
  std::vector<std::string> campaigns;
  for (int i = 0; i < 40; ++i) campaigns.push_back(Number(rng, 5));
  // Addresses from entries spread over the whole list.
  const std::size_t every = std::max<std::size_t>(1, entries / 64);
  for (std::size_t i = 0; i < entries; ++i) {
    const Entry e = make(rng, i, campaigns);
    list.text += std::string(rng() % 10 ? "b " : "g ") + e.pattern + "\n";
    if (i % every == every / 2) {
      list.hits.push_back(L"http://" + Wide(e.hit));
      list.nearMisses.push_back(L"http://" + Wide(e.nearMiss));
    }
  }
  list.lines = entries;
  list.clean = CleanAddresses();
  return list;
}

}  // namespace

ShapedList FeedShapedList(std::size_t entries, unsigned seed) {
  return Build(entries, seed, [](std::mt19937& rng, std::size_t serial,
                                 const std::vector<std::string>&) { return FeedEntry(rng, serial); });
}

ShapedList HardShapedList(std::size_t entries, unsigned seed) {
  return Build(entries, seed, HardEntry);
}

const std::vector<std::wstring>& CleanAddresses() {
  static const std::vector<std::wstring> addresses = {
      L"https://www.google.com/search?q=secure+login+verify+account&hl=en",
      L"https://accounts.google.com/signin/v2/identifier?service=mail&flowName=GlifWebSignIn",
      L"https://www.paypal.com/signin?returnUri=%2Fmyaccount%2Fsummary",
      L"https://login.microsoftonline.com/common/oauth2/authorize?client_id=4765445b",
      L"https://appleid.apple.com/account/manage/section/security",
      L"https://www.amazon.com/ap/signin?openid.pape.max_auth_age=0&openid.return_to=update",
      L"https://www.netflix.com/login?nextpage=https%3A%2F%2Fwww.netflix.com%2Fbrowse",
      L"https://secure.bankofamerica.com/login/sign-in/signOnV2Screen.go",
      L"https://online.citi.com/US/login.do?JFP_TOKEN=ZMDB2X1",
      L"https://www.facebook.com/login/device-based/regular/login/?login_attempt=1",
      L"https://support.apple.com/en-us/HT201487",
      L"https://www.wikipedia.org/wiki/Special:UserLogin?returnto=Main+Page",
      L"https://github.com/login?return_to=%2Fsettings%2Fsecurity",
      L"https://www.youtube.com/watch?v=dQw4w9WgXcQ&list=PL12345",
      L"https://mail.yahoo.com/d/folders/1?reason=verify-account-update",
      L"https://www.linkedin.com/uas/login-submit?session_redirect=secure",
      L"https://www.ebay.com/signin/s?ru=https%3A%2F%2Fwww.ebay.com%2F",
      L"https://outlook.live.com/owa/?nlp=1&RpsCsrfState=4711-secure-update",
      L"https://www.chase.com/personal/online-banking/login-security",
      L"https://stackoverflow.com/users/login?ssrc=head&returnurl=%2fquestions%2f12345",
      L"http://185.22.1.1/status",
      L"https://www.reddit.com/r/netsec/comments/97180/verify_your_account_update/",
      L"https://www.wellsfargo.com/online-banking/secure-account-access/",
      L"https://docs.microsoft.com/en-us/azure/active-directory/verify-login-support",
  };
  return addresses;
}

}  // namespace ostrel::test
