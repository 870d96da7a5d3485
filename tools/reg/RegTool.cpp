#include "reg/RegTool.h"

#include <cstdint>
#include <cstdio>
#include <optional>

#include "platform/Utf16.h"
#include "platform/Utf8.h"
#include "platform/WinReg.h"

namespace ostrel::tools::reg {
namespace {

using ostrel::platform::FromUtf8;
using ostrel::platform::ToUtf8;

constexpr const char* kUsage =
    "Usage:\n"
    "  ostrel-reg query KEY [/v NAME | /ve]\n"
    "  ostrel-reg add KEY [/v NAME | /ve] [/t REG_SZ|REG_DWORD] [/d DATA] [/f]\n"
    "  ostrel-reg delete KEY [/v NAME | /ve] [/f]\n"
    "\n"
    "  KEY    ROOT\\SUBKEY, ROOT being HKCU, HKLM or HKCR (or HKEY_CURRENT_USER,\n"
    "         HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT), e.g. HKCU\\SOFTWARE\\Ostrel\\AntiPhish\n"
    "  /v     the value to query, add or delete; /ve the key's default value\n"
    "         (without either, query lists the key, add creates it, delete\n"
    "         removes it with all its subkeys and values)\n"
    "  /t     the type of the value added (REG_SZ when not given)\n"
    "  /d     the data: text for REG_SZ; for REG_DWORD a number from 0 to\n"
    "         4294967295, decimal or hexadecimal with 0x\n"
    "  /f     add overwrites an existing value, delete deletes; without /f both\n"
    "         refuse (this tool never asks)\n"
    "\n"
    "Exit status: 0 on success, 1 on any error.\n";

enum class Verb { Query, Add, Delete };

struct KeyName {
  HKEY hive;
  std::wstring text;  // as shown: long root name, then the path
  std::wstring path;  // below the root; empty for the root itself
};

struct Command {
  Verb verb = Verb::Query;
  KeyName key{};
  std::optional<std::wstring> value;  // "" for /ve
  std::optional<std::string> type;
  std::optional<std::wstring> data;
  bool force = false;
};

// A failure to report: its message (without "ERROR: ") and whether the
// usage text should follow.
struct Failure {
  std::string message;
  bool usage = false;
};

std::string Upper(std::string text) {
  for (char& ch : text)
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  return text;
}

std::optional<KeyName> ParseKey(const std::string& text) {
  const std::string::size_type slash = text.find('\\');
  const std::string root = Upper(text.substr(0, slash));
  KeyName key{};
  if (root == "HKCU" || root == "HKEY_CURRENT_USER") {
    key.hive = HKEY_CURRENT_USER;
    key.text = L"HKEY_CURRENT_USER";
  } else if (root == "HKLM" || root == "HKEY_LOCAL_MACHINE") {
    key.hive = HKEY_LOCAL_MACHINE;
    key.text = L"HKEY_LOCAL_MACHINE";
  } else if (root == "HKCR" || root == "HKEY_CLASSES_ROOT") {
    key.hive = HKEY_CLASSES_ROOT;
    key.text = L"HKEY_CLASSES_ROOT";
  } else {
    return std::nullopt;
  }
  if (slash != std::string::npos) key.path = FromUtf8(text.substr(slash + 1));
  if (!key.path.empty() && key.path.back() == L'\\') key.path.pop_back();
  if (!key.path.empty()) key.text += L"\\" + key.path;
  return key;
}

std::optional<Failure> ParseCommand(const std::vector<std::string>& args, Command* command) {
  if (args.size() < 2) return Failure{"a command and a key are needed", true};
  const std::string verb = Upper(args[0]);
  if (verb == "QUERY") {
    command->verb = Verb::Query;
  } else if (verb == "ADD") {
    command->verb = Verb::Add;
  } else if (verb == "DELETE") {
    command->verb = Verb::Delete;
  } else {
    return Failure{"unknown command '" + args[0] + "'", true};
  }
  const std::optional<KeyName> key = ParseKey(args[1]);
  if (!key) {
    return Failure{"invalid key '" + args[1] + "': it must start with HKCU, HKLM or HKCR", true};
  }
  command->key = *key;

  for (std::size_t i = 2; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const std::string option =
        (arg.size() > 1 && (arg[0] == '/' || arg[0] == '-')) ? Upper(arg.substr(1)) : std::string();
    const bool takesArgument = option == "V" || option == "T" || option == "D";
    if (takesArgument && i + 1 >= args.size())
      return Failure{"option " + arg + " needs an argument", true};
    if (option == "V" || option == "VE") {
      if (command->value) return Failure{"give /v or /ve once", true};
      command->value = option == "VE" ? std::wstring() : FromUtf8(args[++i]);
      if (option == "V" && command->value->empty())
        return Failure{"the value name after /v is empty; use /ve for the default value", true};
    } else if (option == "T" && command->verb == Verb::Add && !command->type) {
      command->type = Upper(args[++i]);
    } else if (option == "D" && command->verb == Verb::Add && !command->data) {
      command->data = FromUtf8(args[++i]);
    } else if (option == "F" && command->verb != Verb::Query && !command->force) {
      command->force = true;
    } else {
      return Failure{"unexpected argument '" + arg + "'", true};
    }
  }
  if (command->verb == Verb::Add && !command->value && (command->type || command->data))
    return Failure{"/t and /d need /v NAME or /ve", true};
  return std::nullopt;
}

std::string Text(const std::wstring& text) { return ToUtf8(text); }

// Every argument must be UTF-8: a key path, value name or data that is not
// would be stored with U+FFFD in place of its bytes, so that different
// names end up as one.
std::optional<Failure> CheckText(const std::vector<std::string>& args) {
  for (std::size_t i = 0; i < args.size(); ++i)
    if (ToUtf8(FromUtf8(args[i])) != args[i])
      return Failure{"argument " + std::to_string(i + 1) +
                     " is not valid UTF-8; key paths, value names and data must be UTF-8 text"};
  return std::nullopt;
}

std::string Hex(std::uint64_t number, bool upper) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, upper ? "%llX" : "%llx",
                static_cast<unsigned long long>(number));
  return buffer;
}

std::string TypeName(DWORD type) {
  switch (type) {
    case REG_NONE:
      return "REG_NONE";
    case REG_SZ:
      return "REG_SZ";
    case REG_BINARY:
      return "REG_BINARY";
    case REG_DWORD:
      return "REG_DWORD";
    default:
      return "0x" + Hex(type, true);
  }
}

std::string ShowData(DWORD type, const std::string& bytes) {
  if (type == REG_SZ) {
    std::wstring text = ostrel::platform::FromUtf16Le(bytes.data(), bytes.size());
    // A writer may have stored a terminator; the string ends there.
    const std::wstring::size_type end = text.find(L'\0');
    if (end != std::wstring::npos) text.resize(end);
    return Text(text);
  }
  if (type == REG_DWORD && bytes.size() == 4) {
    const auto b = [&bytes](int i) {
      return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]));
    };
    return "0x" + Hex(b(0) | b(1) << 8 | b(2) << 16 | b(3) << 24, false);
  }
  std::string hex;
  for (unsigned char byte : bytes) {
    if (byte < 0x10) hex += '0';
    hex += Hex(byte, true);
  }
  return hex;
}

std::string ShowName(const std::wstring& name) { return name.empty() ? "(Default)" : Text(name); }

std::string ValueLine(const std::wstring& name, DWORD type, const std::string& bytes) {
  return "    " + ShowName(name) + "    " + TypeName(type) + "    " + ShowData(type, bytes) + "\n";
}

std::string Explain(LSTATUS status) {
  switch (status) {
    case ERROR_ACCESS_DENIED:
      return "access is denied (the registry store or its folder cannot be used: it must be "
             "yours and writable by you alone)";
    case ERROR_REGISTRY_CORRUPT:
      return "the registry store is damaged or is not a registry store; the next change sets it "
             "aside, kept for inspection, and starts a new one";
    case ERROR_REGISTRY_IO_FAILED:
      return "the registry store could not be read or written";
    case ERROR_BUSY:
      return "the registry store stayed busy; try again";
    case ERROR_BAD_PATHNAME:
      return "the key path is not valid (an empty element or a leading backslash)";
    case ERROR_INVALID_PARAMETER:
      return "a name is too long (keys 255 characters, values 16383) or not valid text";
    case ERROR_KEY_DELETED:
      return "the key was deleted meanwhile";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return "not enough memory";
    default:
      return "error " + std::to_string(status);
  }
}

// Owns an open key; the roots need no closing.
class Key {
 public:
  Key() = default;
  ~Key() {
    if (handle_ && !root_) RegCloseKey(handle_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;

  LSTATUS Open(const KeyName& name, REGSAM access) {
    root_ = name.path.empty();
    if (root_) {
      handle_ = name.hive;
      return ERROR_SUCCESS;
    }
    return RegOpenKeyExW(name.hive, name.path.c_str(), 0, access, &handle_);
  }
  LSTATUS Create(const KeyName& name) {
    root_ = name.path.empty();
    if (root_) {
      handle_ = name.hive;
      return ERROR_SUCCESS;
    }
    return RegCreateKeyExW(name.hive, name.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_ALL_ACCESS, nullptr, &handle_, nullptr);
  }
  HKEY get() const { return handle_; }

 private:
  HKEY handle_ = nullptr;
  bool root_ = false;
};

LSTATUS ReadValue(HKEY key, const std::wstring& name, DWORD* type, std::string* bytes) {
  DWORD size = 0;
  LSTATUS rc = RegQueryValueExW(key, name.c_str(), nullptr, type, nullptr, &size);
  // The value may grow between the size query and the read: ask again.
  while (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
    bytes->assign(size, '\0');
    DWORD got = size;
    rc = RegQueryValueExW(key, name.c_str(), nullptr, type, reinterpret_cast<BYTE*>(bytes->data()),
                          &got);
    if (rc == ERROR_SUCCESS) {
      bytes->resize(got);
      return rc;
    }
    size = got;
  }
  return rc;
}

std::optional<Failure> KeyFailure(LSTATUS rc, const KeyName& key) {
  if (rc == ERROR_FILE_NOT_FOUND) return Failure{"the key " + Text(key.text) + " was not found"};
  return Failure{"cannot open " + Text(key.text) + ": " + Explain(rc)};
}

std::optional<Failure> ValueMissing(const std::wstring& name, const KeyName& key) {
  return Failure{(name.empty() ? std::string("the default value") : "the value " + Text(name)) +
                 " was not found in " + Text(key.text)};
}

std::optional<Failure> Query(const Command& command, std::ostream& out) {
  // Reads see only the pages they visit: a listing of a damaged store could
  // look whole while rows are missing.
  LSTATUS rc = ostrel::platform::CheckRegistryStore();
  if (rc != ERROR_SUCCESS)
    return Failure{"cannot read " + Text(command.key.text) + ": " + Explain(rc)};
  Key key;
  rc = key.Open(command.key, KEY_READ);
  if (rc != ERROR_SUCCESS) return KeyFailure(rc, command.key);
  std::string report = "\n" + Text(command.key.text) + "\n";
  if (command.value) {
    DWORD type = REG_NONE;
    std::string bytes;
    rc = ReadValue(key.get(), *command.value, &type, &bytes);
    if (rc == ERROR_FILE_NOT_FOUND) return ValueMissing(*command.value, command.key);
    if (rc != ERROR_SUCCESS)
      return Failure{"cannot read " + Text(command.key.text) + ": " + Explain(rc)};
    out << report << ValueLine(*command.value, type, bytes);
    return std::nullopt;
  }
  std::vector<wchar_t> name(ostrel::platform::kMaxValueNameChars + 1);
  for (DWORD i = 0;; ++i) {
    DWORD chars = static_cast<DWORD>(name.size());
    DWORD type = REG_NONE;
    DWORD size = 0;
    rc = RegEnumValueW(key.get(), i, name.data(), &chars, nullptr, &type, nullptr, &size);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS)
      return Failure{"cannot list " + Text(command.key.text) + ": " + Explain(rc)};
    const std::wstring valueName(name.data(), chars);
    std::string bytes;
    rc = ReadValue(key.get(), valueName, &type, &bytes);
    if (rc == ERROR_FILE_NOT_FOUND) continue;  // deleted meanwhile
    if (rc != ERROR_SUCCESS)
      return Failure{"cannot read " + Text(command.key.text) + ": " + Explain(rc)};
    report += ValueLine(valueName, type, bytes);
  }
  std::string subkeys;
  for (DWORD i = 0;; ++i) {
    DWORD chars = static_cast<DWORD>(name.size());
    rc = RegEnumKeyExW(key.get(), i, name.data(), &chars, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS)
      return Failure{"cannot list " + Text(command.key.text) + ": " + Explain(rc)};
    subkeys += Text(command.key.text + L"\\" + std::wstring(name.data(), chars)) + "\n";
  }
  if (!subkeys.empty()) report += "\n" + subkeys;
  out << report;
  return std::nullopt;
}

std::optional<Failure> Add(const Command& command, std::ostream& out) {
  std::string bytes;
  DWORD type = REG_SZ;
  if (command.value) {
    const std::string typeName = command.type.value_or("REG_SZ");
    const std::wstring data = command.data.value_or(L"");
    if (typeName == "REG_SZ") {
      bytes = ostrel::platform::ToUtf16Le(data);
    } else if (typeName == "REG_DWORD") {
      unsigned long number = 0;
      if (!command.data) return Failure{"REG_DWORD needs /d with a number"};
      if (!ParseDword(Text(data), &number))
        return Failure{
            "'" + Text(data) +
            "' is not a REG_DWORD: give a number from 0 to 4294967295, decimal or 0x hexadecimal"};
      type = REG_DWORD;
      for (int i = 0; i < 4; ++i) bytes += static_cast<char>((number >> (8 * i)) & 0xFF);
    } else {
      return Failure{"unsupported type '" + typeName + "': use REG_SZ or REG_DWORD"};
    }
  }
  // A key deleted between its creation and the write (by another program,
  // or with a damaged store set aside by this very write) is made again once.
  for (int attempt = 0;; ++attempt) {
    Key key;
    LSTATUS rc = key.Create(command.key);
    if (rc != ERROR_SUCCESS)
      return Failure{"cannot create " + Text(command.key.text) + ": " + Explain(rc)};
    if (!command.value) break;
    const wchar_t* name = command.value->c_str();
    rc = RegQueryValueExW(key.get(), name, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_SUCCESS && !command.force)
      return Failure{ShowName(*command.value) + " already exists in " + Text(command.key.text) +
                     "; use /f to overwrite it"};
    rc = RegSetValueExW(key.get(), name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                        static_cast<DWORD>(bytes.size()));
    if (rc == ERROR_SUCCESS) break;
    if (rc != ERROR_KEY_DELETED || attempt > 0)
      return Failure{"cannot write " + Text(command.key.text) + ": " + Explain(rc)};
  }
  out << "The operation completed successfully.\n";
  return std::nullopt;
}

std::optional<Failure> Delete(const Command& command, std::ostream& out) {
  if (!command.value) {
    if (command.key.path.empty()) return Failure{"a whole root key cannot be deleted"};
    Key key;
    LSTATUS rc = key.Open(command.key, KEY_READ);
    if (rc != ERROR_SUCCESS) return KeyFailure(rc, command.key);
    if (!command.force)
      return Failure{"deleting " + Text(command.key.text) +
                     " and everything below it needs /f (this tool never asks)"};
    rc = RegDeleteTreeW(command.key.hive, command.key.path.c_str());
    if (rc == ERROR_FILE_NOT_FOUND) return KeyFailure(rc, command.key);
    if (rc != ERROR_SUCCESS)
      return Failure{"cannot delete " + Text(command.key.text) + ": " + Explain(rc)};
  } else {
    Key key;
    LSTATUS rc = key.Open(command.key, KEY_QUERY_VALUE | KEY_SET_VALUE);
    if (rc != ERROR_SUCCESS) return KeyFailure(rc, command.key);
    const wchar_t* name = command.value->c_str();
    rc = RegQueryValueExW(key.get(), name, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_FILE_NOT_FOUND) return ValueMissing(*command.value, command.key);
    if (rc != ERROR_SUCCESS)
      return Failure{"cannot read " + Text(command.key.text) + ": " + Explain(rc)};
    if (!command.force)
      return Failure{"deleting " + ShowName(*command.value) + " needs /f (this tool never asks)"};
    rc = RegDeleteValueW(key.get(), name);
    if (rc == ERROR_FILE_NOT_FOUND) return ValueMissing(*command.value, command.key);
    if (rc != ERROR_SUCCESS)
      return Failure{"cannot delete from " + Text(command.key.text) + ": " + Explain(rc)};
  }
  out << "The operation completed successfully.\n";
  return std::nullopt;
}

}  // namespace

bool ParseDword(const std::string& text, unsigned long* value) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty()) return false;
  std::uint64_t number = 0;
  for (char ch : digits) {
    int digit = -1;
    if (ch >= '0' && ch <= '9')
      digit = ch - '0';
    else if (hex && ch >= 'a' && ch <= 'f')
      digit = ch - 'a' + 10;
    else if (hex && ch >= 'A' && ch <= 'F')
      digit = ch - 'A' + 10;
    if (digit < 0) return false;
    number = number * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
    if (number > 0xFFFFFFFFull) return false;  // also stops any overflow
  }
  *value = static_cast<unsigned long>(number);
  return true;
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() == 1 &&
      (args[0] == "/?" || args[0] == "-?" || args[0] == "-h" || args[0] == "--help")) {
    out << kUsage;
    return 0;
  }
  Command command;
  std::optional<Failure> failure = CheckText(args);
  if (!failure) failure = ParseCommand(args, &command);
  if (!failure) {
    switch (command.verb) {
      case Verb::Query:
        failure = Query(command, out);
        break;
      case Verb::Add:
        failure = Add(command, out);
        break;
      case Verb::Delete:
        failure = Delete(command, out);
        break;
    }
  }
  if (!failure) {
    // A report lost on the way out (a full disk, a closed pipe) is a failure.
    out.flush();
    if (out) return 0;
    failure = Failure{"the output could not be written"};
  }
  std::string message = failure->message;
  if (!message.empty() && message[0] >= 'a' && message[0] <= 'z')
    message[0] = static_cast<char>(message[0] - 'a' + 'A');
  err << "ERROR: " << message << "\n";
  if (failure->usage) err << "\n" << kUsage;
  return 1;
}

}  // namespace ostrel::tools::reg
