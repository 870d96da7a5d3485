#include "db/DbTool.h"

#include <exception>
#include <istream>
#include <new>
#include <ostream>

#include "db/DbImport.h"
#include "db/DbMetadata.h"
#include "db/DbText.h"
#include "platform/ByteFile.h"
#include "platform/Utf8.h"
#include "support/Exception.h"
#include "update/Cipher.h"

namespace ostrel::tools::db {
namespace {

using ostrel::platform::ByteFileBuf;
using ostrel::platform::FromUtf8;
using ostrel::platform::ToUtf8;

constexpr const char* kUsage =
    "Usage:\n"
    "  ostrel-db encrypt PLAIN OUT\n"
    "  ostrel-db decrypt [--force] IN OUT\n"
    "  ostrel-db check PLAIN\n"
    "  ostrel-db explain DB URL...\n"
    "  ostrel-db rules [--verbose] DB\n"
    "  ostrel-db metadata FIELD=VALUE... OUT\n"
    "  ostrel-db metadata --show FILE\n"
    "  ostrel-db import --from domains|urls|hosts [--kind b|g|w] FEED... OUT\n"
    "  ostrel-db --help\n"
    "\n"
    "  encrypt  writes the enciphered container of the file PLAIN, its bytes as\n"
    "           they are, to OUT (an empty PLAIN gives the one-byte empty container)\n"
    "  decrypt  writes the plain bytes of the container IN to OUT; when IN's\n"
    "           checksum fails, nothing is written, unless --force is given: then\n"
    "           the deciphered bytes are written all the same, with a warning\n"
    "           and exit status 3\n"
    "  check    lists every line of the plain database PLAIN that the filter\n"
    "           rejects (too few fields, a pattern that does not compile) or\n"
    "           ignores (text before a \"#\", a last line without LF), with its\n"
    "           line number, and counts the accepted entries by kind\n"
    "  explain  loads DB as the filter does (an enciphered container, or plain\n"
    "           text when DB is not a valid container) and tells for each URL\n"
    "           which entry decides it: the first that matches, in list order\n"
    "  rules    loads DB as explain does and tells how many of its black and grey\n"
    "           entries become pre-request rules: entries anchored on a host (with\n"
    "           or without its subdomains, and a literal path prefix), which a\n"
    "           browser can stop before the request leaves; the rest are caught\n"
    "           after it. --verbose lists each entry that gives no rule\n"
    "  metadata writes the enciphered metadata file a filter reads, one line per\n"
    "           FIELD=VALUE (DB_VERSION, BHO_VERSION, NEXT_UPD, POLL_INTERVAL,\n"
    "           DB_UPD_URI, METADATA_URI, BHO_UPD_URI, GREY_URI, BLACK_URI), refusing\n"
    "           unknown names, values a filter would misread and values it ignores\n"
    "           (an address that is not absolute http or https with a host, a value\n"
    "           over 2,047 characters, NEXT_UPD more than 28 days ahead); --show\n"
    "           prints what a filter takes from FILE and which lines it ignores\n"
    "  import   turns feeds (one domain a line; one URL a line; a hosts file) into\n"
    "           list lines of the kind given (b by default): a domain matches itself\n"
    "           and its subdomains, a URL its host and path prefix, a hosts line\n"
    "           mapping to 0.0.0.0, 127.0.0.1, :: or ::1 each of its names exactly;\n"
    "           international names as their ASCII (xn--) form; duplicates dropped;\n"
    "           public suffixes (libpsl), bare top-level names, IPv4 numbers and\n"
    "           hosts lines mapping elsewhere refused, each rejected line reported\n"
    "           with its number (exit status 1, OUT still written)\n"
    "\n"
    "OUT is written beside itself and renamed into place, so a failed run leaves\n"
    "it as it was.\n"
    "\n"
    "Exit status: 0 success; 1 failure (a file cannot be read or written, a\n"
    "container's checksum fails, check finds lines the filter rejects or\n"
    "ignores); 2 usage error; 3 decrypt --force wrote the bytes of a container\n"
    "whose checksum fails.\n";

const char* const kProgram = "ostrel-db: ";

std::string Quoted(const std::wstring& path) { return "'" + ToUtf8(path) + "'"; }

std::string Failure(const char* action, const std::wstring& path, const ByteFileBuf& file) {
  return std::string("cannot ") + action + " " + Quoted(path) + ": " + file.GetErrorText();
}

bool ReadInput(const std::wstring& path, std::string* bytes, std::ostream& err) {
  std::string error;
  if (ReadBytes(path, bytes, &error)) return true;
  err << kProgram << error << "\n";
  return false;
}

bool WriteOutput(const std::wstring& path, const std::string& bytes, std::ostream& err) {
  std::string error;
  if (WriteBytesAtomically(path, bytes, &error)) return true;
  err << kProgram << error << " (nothing written)\n";
  return false;
}

void PrintExplanation(const std::wstring& address, const Explanation& e, std::size_t count,
                      std::ostream& out) {
  out << "address: " << ToUtf8(address) << "\n";
  out << "  searched in: " << ToUtf8(e.subject);
  if (!e.scanned) out << " (not http or https: searched as given)";
  out << "\n";
  if (e.index < 0) {
    out << "  not listed: no entry matches\n";
  } else {
    out << "  " << KindName(e.kind) << ": entry " << (e.index + 1) << " of " << count
        << " (counting from 1): " << Narrow(e.pattern) << "\n";
    if (e.kind == LIST_KIND_NONE)
      out << "  note: an entry of no kind ends the search; the address passes as not listed\n";
  }
  if (!e.scanned)
    out << "  note: the filter does not look this address up: it scans only http and https\n";
}

// Loads a database file (a container, or plain text) as the filter does;
// false, with the reason on err, when it is neither.
bool LoadDatabase(const std::wstring& dbPath, CPhishListEntries& list, std::ostream& err,
                  DbForm* form = nullptr) {
  std::string bytes;
  if (!ReadInput(dbPath, &bytes, err)) return false;
  const DbForm detected = Detect(bytes).form;
  if (detected == DbForm::Damaged) {
    err << kProgram << Quoted(dbPath)
        << " is neither a valid container (its checksum fails) nor database text; the filter"
           " would load it as an empty list\n";
    return false;
  }
  LoadInto(list, bytes, detected);
  if (form) *form = detected;
  return true;
}

}  // namespace

bool ReadBytes(const std::wstring& path, std::string* bytes, std::string* error) {
  ByteFileBuf file;
  if (!file.Open(path, ByteFileBuf::Mode::Read, ByteFileBuf::Origin::Person)) {
    *error = Failure("read", path, file);
    return false;
  }
  std::wistream in(&file);
  bytes->clear();
  wchar_t chunk[4096];
  do {
    in.read(chunk, sizeof chunk / sizeof chunk[0]);
    for (std::streamsize i = 0; i < in.gcount(); ++i)
      bytes->push_back(static_cast<char>(static_cast<unsigned>(chunk[i]) & 0xFF));
  } while (in);
  if (in.bad()) {  // a read error, not the end of the file
    *error = Failure("read", path, file);
    return false;
  }
  return true;
}

bool WriteBytesAtomically(const std::wstring& path, const std::string& bytes, std::string* error) {
  if (path.empty()) {
    *error = "cannot write to an empty file name";
    return false;
  }
  // A link would be replaced by a file rather than written through, and a
  // folder or device cannot be replaced at all: the buffer refuses both.
  ByteFileBuf file;
  if (!file.Open(path, ByteFileBuf::Mode::Replace, ByteFileBuf::Origin::Person)) {
    *error = Failure("write", path, file);
    return false;
  }
  const std::wstring chars = Widen(bytes);
  std::wostream out(&file);
  if (!out.write(chars.data(), static_cast<std::streamsize>(chars.size())).flush() ||
      !file.Close()) {
    *error = Failure("write", path, file);
    return false;  // the buffer removes the unfinished file; path is as it was
  }
  return true;
}

int EncryptFile(const std::wstring& plainPath, const std::wstring& outPath, std::ostream& err) {
  std::string plain;
  if (!ReadInput(plainPath, &plain, err)) return kExitFailure;
  if (!plain.empty() && Detect(plain).form == DbForm::Container) {
    err << kProgram << "warning: " << Quoted(plainPath)
        << " already is an enciphered container (its checksum verifies); enciphering it again\n";
  }
  return WriteOutput(outPath, Encipher(plain), err) ? kExitOk : kExitFailure;
}

int DecryptFile(const std::wstring& inPath, const std::wstring& outPath, bool force,
                std::ostream& err) {
  std::string container;
  if (!ReadInput(inPath, &container, err)) return kExitFailure;
  const CDecrypt plain(container);
  if (plain.IsValid()) return WriteOutput(outPath, plain.GetResult(), err) ? kExitOk : kExitFailure;

  err << kProgram << (force ? "warning: " : "") << Quoted(inPath) << ": the checksum fails";
  if (container.empty())
    err << " (the file is empty; a container holds at least its checksum byte)";
  else if (LooksLikeText(container))
    err << " (it reads as plain text: was it ever enciphered?)";
  else
    err << ": the container is damaged";
  if (!force) {
    err << "; nothing written (--force writes the deciphered bytes all the same)\n";
    return kExitFailure;
  }
  err << "; writing the deciphered bytes as --force asks\n";
  return WriteOutput(outPath, plain.GetResult(), err) ? kExitForced : kExitFailure;
}

int CheckFile(const std::wstring& plainPath, std::ostream& out, std::ostream& err) {
  std::string bytes;
  if (!ReadInput(plainPath, &bytes, err)) return kExitFailure;
  const Detection detected = Detect(bytes);
  if (detected.form == DbForm::Container) {
    err << kProgram << "note: " << Quoted(plainPath)
        << " is an enciphered container; checking its deciphered text\n";
  } else if (detected.form == DbForm::Damaged) {
    err << kProgram << "note: " << Quoted(plainPath)
        << " does not read as text (a damaged container?); checking it as it is\n";
  }
  const CheckReport report = Check(detected.form == DbForm::Container ? detected.plain : bytes);

  std::size_t rejected = 0;
  for (const Finding& f : report.findings) {
    const bool isRejected = f.kind == Finding::Kind::Rejected;
    rejected += isRejected ? 1 : 0;
    out << "line " << f.line << ": " << (isRejected ? "rejected: " : "ignored: ")
        << ToUtf8(f.reason) << "\n    " << f.text << "\n";
  }
  const auto& n = report.accepted;
  out << "accepted " << report.AcceptedCount() << " entries: white " << n[LIST_KIND_WHITE]
      << ", grey " << n[LIST_KIND_GREY] << ", black " << n[LIST_KIND_BLACK] << ", none "
      << n[LIST_KIND_NONE] << "\n";
  out << "rejected " << rejected << " lines, ignored " << (report.findings.size() - rejected)
      << "\n";
  return report.findings.empty() ? kExitOk : kExitFailure;
}

int ExplainAddresses(const std::wstring& dbPath, const std::vector<std::wstring>& addresses,
                     std::ostream& out, std::ostream& err) {
  CPhishListEntries list;
  DbForm form = DbForm::Plain;
  if (!LoadDatabase(dbPath, list, err, &form)) return kExitFailure;
  out << "database: " << ToUtf8(dbPath) << ": "
      << (form == DbForm::Container ? "enciphered container"
                                    : "plain text (not a container; enciphered in memory)")
      << ", " << list.GetCount() << " entries\n";
  for (const std::wstring& address : addresses)
    PrintExplanation(address, Explain(list, address), list.GetCount(), out);
  return kExitOk;
}

int ReportRules(const std::wstring& dbPath, bool verbose, std::ostream& out, std::ostream& err) {
  CPhishListEntries list;
  if (!LoadDatabase(dbPath, list, err)) return kExitFailure;
  const RuleShare share = ShareOfRules(list);
  out << share.WithRule() << " of " << share.considered
      << " black and grey entries become pre-request rules";
  if (share.considered > 0) {
    // Rounded to the nearest tenth, but never to 100% while an entry is
    // left over, nor to 0% while one became a rule.
    std::size_t tenths = (share.WithRule() * 2000 + share.considered) / (2 * share.considered);
    if (tenths == 1000 && share.WithRule() < share.considered) tenths = 999;
    if (tenths == 0 && share.WithRule() > 0) tenths = 1;
    out << " (" << tenths / 10 << "." << tenths % 10 << "%)";
  }
  out << "; " << share.withoutRule.size() << (share.withoutRule.size() == 1 ? " is" : " are")
      << " caught after the request\n";
  if (verbose) {
    for (std::size_t i : share.withoutRule) {
      const CPhishListItem* entry = list.GetEntry(i);
      out << "  entry " << (i + 1) << " (" << static_cast<char>(entry->GetKindChar())
          << "): " << Narrow(entry->GetPattern()) << "\n";
    }
  }
  return kExitOk;
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  // The publisher's commands parse their own options.
  if (!args.empty() && args[0] == "metadata")
    return RunMetadata(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
  if (!args.empty() && args[0] == "import")
    return RunImport(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
  std::vector<std::string> words;
  bool force = false, help = false, verbose = false, optionsEnded = false;
  for (const std::string& arg : args) {
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      words.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      help = true;
    } else if (arg == "--force") {
      force = true;
    } else if (arg == "--verbose" || arg == "-v") {
      verbose = true;
    } else {
      err << kProgram << "unknown option '" << arg << "'\n" << kUsage;
      return kExitUsage;
    }
  }
  if (help || (words.size() == 1 && words[0] == "help")) {
    out << kUsage;
    return kExitOk;
  }

  auto usageError = [&err](const std::string& message) {
    err << kProgram << message << "\n" << kUsage;
    return kExitUsage;
  };
  if (words.empty()) return usageError("a command is needed");
  const std::string& command = words[0];
  const std::size_t operands = words.size() - 1;
  std::vector<std::wstring> w;
  for (std::size_t i = 1; i < words.size(); ++i) w.push_back(FromUtf8(words[i]));

  if (command != "encrypt" && command != "decrypt" && command != "check" && command != "explain" &&
      command != "rules")
    return usageError("unknown command '" + command + "'");
  if (force && command != "decrypt") return usageError("--force applies to decrypt only");
  if (verbose && command != "rules") return usageError("--verbose applies to rules only");
  try {
    if (command == "encrypt") {
      if (operands != 2) return usageError("encrypt takes PLAIN and OUT");
      return EncryptFile(w[0], w[1], err);
    }
    if (command == "decrypt") {
      if (operands != 2) return usageError("decrypt takes IN and OUT");
      return DecryptFile(w[0], w[1], force, err);
    }
    if (command == "check") {
      if (operands != 1) return usageError("check takes PLAIN");
      return CheckFile(w[0], out, err);
    }
    if (command == "rules") {
      if (operands != 1) return usageError("rules takes DB");
      return ReportRules(w[0], verbose, out, err);
    }
    if (operands < 2) return usageError("explain takes DB and at least one URL");
    return ExplainAddresses(w[0], std::vector<std::wstring>(w.begin() + 1, w.end()), out, err);
  } catch (const CException& e) {
    err << kProgram << ToUtf8(e.GetMessage()) << "\n";
    return kExitFailure;
  } catch (const std::bad_alloc&) {
    err << kProgram << "out of memory\n";
    return kExitFailure;
  } catch (const std::exception& e) {
    err << kProgram << e.what() << "\n";
    return kExitFailure;
  }
}

}  // namespace ostrel::tools::db
