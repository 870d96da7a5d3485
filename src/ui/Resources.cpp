#include "ui/Resources.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace {

using K = DialogItemKind;
constexpr DWORD TS = DIS_TABSTOP;
constexpr DWORD EDIT = DIS_TABSTOP | DIS_BORDER | DIS_AUTOHSCROLL;
constexpr DWORD READONLY = EDIT | DIS_READONLY;

const DialogItemTemplate kConfigItems[] = {
    {-1, K::Bitmap, L"", 17, 7, 50, 50, DIS_SUNKEN | DIS_BORDER, 204},
    {-1, K::CentredText, L"Ostrel Anti-Phishing Filter", 98, 22, 215, 8, 0, 0},
    {-1, K::CentredText, L"Protection against phishing sites while you browse", 98, 34, 215, 8, 0,
     0},
    {208, K::Edit, L"", 17, 87, 175, 14, EDIT, 0},
    {210, K::Edit, L"", 17, 117, 175, 14, EDIT, 0},
    {207, K::Edit, L"", 17, 147, 175, 14, EDIT, 0},
    {217, K::DropDownList, L"", 17, 177, 175, 80, TS | DIS_VSCROLL, 0},
    {205, K::Edit, L"", 17, 205, 175, 14, EDIT, 0},
    {215, K::AutoCheckBox, L"Enable automatic configuration update mode", 17, 257, 157, 10, TS, 0},
    {218, K::PushButton, L"&Configure", 17, 276, 50, 14, TS, 0},
    {212, K::PushButton, L"...", 379, 88, 16, 13, TS, 0},
    {202, K::AutoCheckBox, L"Allow click through for black listed sites:", 217, 107, 141, 10, TS,
     0},
    {201, K::AutoCheckBox, L"Allow click through for grey listed sites:", 217, 122, 137, 10, TS, 0},
    {203, K::AutoCheckBox, L"Load database on demand:", 217, 137, 103, 10, TS, 0},
    {221, K::PushButton, L"U&pdate", 345, 190, 50, 14, TS, 0},
    {219, K::PushButton, L"Up&date", 345, 251, 50, 14, TS, 0},
    {220, K::PushButton, L"&Apply", 242, 286, 50, 14, TS | DIS_HIDDEN, 0},
    {1, K::DefPushButton, L"OK", 298, 286, 50, 14, TS, 0},
    {2, K::PushButton, L"Cancel", 354, 286, 50, 14, TS, 0},
    {209, K::Edit, L"", 217, 86, 158, 14, READONLY, 0},
    {-1, K::Text, L"Redirection address for grey listed items:", 17, 75, 135, 8, 0, 0},
    {-1, K::Text, L"Local database file location:", 217, 73, 135, 8, 0, 0},
    {-1, K::Text, L"Database update location:", 17, 135, 135, 8, 0, 0},
    {-1, K::Text, L"Database update polling interval:", 17, 165, 135, 8, 0, 0},
    {-1, K::Text, L"Redirection address for black listed items:", 17, 105, 135, 8, 0, 0},
    {-1, K::GroupBox, L"User settings", 207, 61, 197, 94, 0, 0},
    {-1, K::GroupBox, L"Advanced settings", 7, 61, 197, 239, 0, 0},
    {-1, K::Text, L"Address to look for Anti-Phishing Filter updates:", 17, 193, 175, 8, 0, 0},
    {-1, K::Text, L"Version:", 217, 176, 26, 8, 0, 0},
    {-1, K::Text, L"Version", 217, 237, 24, 8, 0, 0},
    {222, K::Text, L"00001", 280, 176, 35, 8, 0, 0},
    {223, K::Text, L"00001", 280, 237, 35, 8, 0, 0},
    {-1, K::GroupBox, L"Anti-Phishing Filter", 207, 224, 197, 53, 0, 0},
    {-1, K::GroupBox, L"Phish list database", 207, 163, 197, 53, 0, 0},
    {204, K::Edit, L"", 17, 235, 175, 14, READONLY, 0},
    {-1, K::Text, L"Location of remote configuration settings:", 17, 223, 130, 8, 0, 0},
};

const DialogTemplate kDialogs[] = {
    {101, L"Configuration", L"MS Sans Serif", 8, 411, 307, kConfigItems,
     sizeof kConfigItems / sizeof kConfigItems[0]},
};

const StringResource kStrings[] = {
    {101, L"Hourly"},
    {102, L"Daily"},
    {103, L"Weekly"},
    {104, L"Monthly"},
    {105, L"Yearly"},
    {106, L"Update automatic configuration settings?"},
    {107,
     L"Are you sure you wish to revert to using automatic configuration mode, current "
     L"settings will be overwritten?"},
    {108, L"Ostrel Anti-Phishing Filter"},
    {109,
     L"A new version of the Ostrel Anti-Phishing Filter is now avaliable. Would you like to "
     L"download this update?"},
    {110, L"Check for an update to the Ostrel Anti-Phishing Filter?"},
    {111, L"Update of the Phish database now?"},
    {114, L"There are no Ostrel Anti-Phishing Filter updates at this time"},
    {115, L"Current settings have been applied"},
    {116, L"Unknown"},
    {117,
     L"Please confirm you wish to change the location of the database file to the following "
     L"location:\r\n\r\n%s\r\n\r\nIf you answer yes to this the change will take place "
     L"immediately."},
    {118,
     L"Are you sure you want to disable automatic configuration mode? Incorrectly configuring "
     L"the advanced settings may render you unprotected against Phish attacks."},
    {119,
     L"The path of the folder you chose is too long: the database file in it would have a "
     L"path of more than 259 characters. Please choose a folder with a shorter path. The "
     L"database file location has not been changed."},
};

// Bitmap 204: a shield on a pale ground, drawn once.
constexpr int kBitmapSize = 48;

const DWORD* ShieldPixels() {
  static const std::vector<DWORD> pixels = [] {
    std::vector<DWORD> p(kBitmapSize * kBitmapSize, 0xE8EEF6);
    for (int y = 4; y < 44; ++y) {
      // Straight sides to two thirds of the height, then narrowing to a point.
      const int half = y < 28 ? 18 : 18 * (44 - y) / 16;
      for (int x = 24 - half; x < 24 + half; ++x) {
        const bool edge = x < 24 - half + 2 || x >= 24 + half - 2 || y < 6;
        p[y * kBitmapSize + x] = edge ? 0x1A3C6E : (x < 24 ? 0x2F6DB5 : 0x4A88CF);
      }
    }
    for (int i = 0; i < 12; ++i) {  // a white tick across the middle
      const int x = 14 + i, y = i < 5 ? 22 + i : 26 - 2 * (i - 4);
      for (int t = 0; t < 3; ++t)
        if (y + t >= 0 && y + t < kBitmapSize) p[(y + t) * kBitmapSize + x] = 0xFFFFFF;
    }
    return p;
  }();
  return pixels.data();
}

const BitmapResource* Bitmaps() {
  static const BitmapResource bitmaps[] = {{204, kBitmapSize, kBitmapSize, ShieldPixels()}};
  return bitmaps;
}

const ModuleResources* Resources() {
  static const ModuleResources resources{kDialogs,  sizeof kDialogs / sizeof kDialogs[0],
                                         kStrings,  sizeof kStrings / sizeof kStrings[0],
                                         Bitmaps(), 1};
  return &resources;
}

std::mutex g_mutex;
HINSTANCE g_instance = nullptr;
bool g_registered = false;

}  // namespace

void SetResourceInstance(HINSTANCE instance) {
  std::lock_guard<std::mutex> lock(g_mutex);
  RegisterModuleResources(instance, Resources());
  g_instance = instance;
  g_registered = true;
}

HINSTANCE GetResourceInstance() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_registered) {
    RegisterModuleResources(g_instance, Resources());
    g_registered = true;
  }
  return g_instance;
}
