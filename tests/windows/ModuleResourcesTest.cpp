// The Windows module's resources as Windows itself reads them: every string
// and every dialog item of ui/ResourceScript.h, the picture, the version
// and the type library. Built for Windows only (the other builds have no
// resource compiler); it loads the module OSTREL_MODULE names as a data
// file, so none of its code runs. Links user32, gdi32, oleaut32, version.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "com/Interfaces.h"
#include "support/ProductVersion.h"
#include "ui/ResourceScript.h"

namespace {

// The style bits of the script's tables.
enum : DWORD {
  DIS_READONLY = 0x0001,
  DIS_HIDDEN = 0x0002,
  DIS_TABSTOP = 0x0004,
  DIS_BORDER = 0x0008,
  DIS_SUNKEN = 0x0010,
  DIS_AUTOHSCROLL = 0x0020,
  DIS_VSCROLL = 0x0040,
};

struct Item {
  int id;
  const char* kind;
  const wchar_t* text;
  int x, y, cx, cy;
  DWORD style;
  WORD bitmap;
};

#define OSTREL_ITEM(id, kind, text, x, y, cx, cy, style, bitmap) \
  {id, #kind, text, x, y, cx, cy, style, bitmap},
const Item kItems[] = {OSTREL_CONFIG_DIALOG_ITEMS(OSTREL_ITEM)};
#undef OSTREL_ITEM

struct Str {
  UINT id;
  const wchar_t* text;
};
#define OSTREL_STRING(id, text) {id, text},
const Str kStrings[] = {OSTREL_STRING_TABLE(OSTREL_STRING)};
#undef OSTREL_STRING

std::wstring Wide(const char* ascii) { return std::wstring(ascii, ascii + strlen(ascii)); }

const std::wstring kModulePath = Wide(OSTREL_MODULE);

class ModuleResourcesTest : public testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExW(kModulePath.c_str(), nullptr,
                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr) << "error " << GetLastError();
  }
  void TearDown() override {
    if (module_) FreeLibrary(module_);
  }
  HMODULE module_ = nullptr;
};

INT_PTR CALLBACK KeepDefaults(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG;
}

std::wstring WindowText(HWND window) {
  wchar_t text[2048] = {};
  GetWindowTextW(window, text, 2048);
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

}  // namespace

TEST_F(ModuleResourcesTest, EveryStringOfTheTableLoadsAsWritten) {
  for (const Str& s : kStrings) {
    wchar_t text[2048] = {};
    EXPECT_EQ(LoadStringW(module_, s.id, text, 2048), static_cast<int>(wcslen(s.text))) << s.id;
    EXPECT_STREQ(text, s.text) << s.id;
  }
  wchar_t none[16] = L"sentinel";
  EXPECT_EQ(LoadStringW(module_, 112, none, 16), 0);  // not in the table
}

TEST_F(ModuleResourcesTest, TheDialogHasEveryItemInOrderWithItsKindTextPlaceAndStyle) {
  HWND dialog = CreateDialogParamW(module_, MAKEINTRESOURCEW(101), nullptr, KeepDefaults, 0);
  ASSERT_NE(dialog, nullptr) << "error " << GetLastError();
  EXPECT_EQ(WindowText(dialog), L"Configuration");

  HWND child = GetWindow(dialog, GW_CHILD);
  for (const Item& item : kItems) {
    SCOPED_TRACE(testing::Message() << item.kind << " " << item.id << " at " << item.x << ","
                                    << item.y);
    ASSERT_NE(child, nullptr) << "fewer controls than items";
    const std::string kind = item.kind;
    const DWORD style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongW(child, GWL_EXSTYLE));
    EXPECT_EQ(GetDlgCtrlID(child), item.id);

    std::wstring windowClass = L"Static";
    DWORD typeMask = SS_TYPEMASK, type = SS_LEFT;
    if (kind == "CentredText") type = SS_CENTER;
    if (kind == "Bitmap") type = SS_BITMAP;
    if (kind == "GroupBox" || kind == "PushButton" || kind == "DefPushButton" ||
        kind == "AutoCheckBox") {
      windowClass = L"Button";
      typeMask = BS_TYPEMASK;
      type = kind == "GroupBox"        ? BS_GROUPBOX
             : kind == "PushButton"    ? BS_PUSHBUTTON
             : kind == "DefPushButton" ? BS_DEFPUSHBUTTON
                                       : BS_AUTOCHECKBOX;
    }
    if (kind == "Edit") windowClass = L"Edit", typeMask = 0, type = 0;
    if (kind == "DropDownList") windowClass = L"ComboBox", typeMask = 3, type = CBS_DROPDOWNLIST;
    EXPECT_EQ(_wcsicmp(ClassOf(child).c_str(), windowClass.c_str()), 0) << ClassOf(child).c_str();
    EXPECT_EQ(style & typeMask, type);

    EXPECT_EQ((style & WS_TABSTOP) != 0, (item.style & DIS_TABSTOP) != 0);
    EXPECT_EQ((style & WS_VISIBLE) != 0, (item.style & DIS_HIDDEN) == 0);
    // A combo box hands its scroll bar to its list, which shows it only
    // while it holds more than it can show.
    DWORD scrolled = style;
    COMBOBOXINFO combo = {};
    combo.cbSize = sizeof combo;
    if (kind == "DropDownList" && GetComboBoxInfo(child, &combo)) {
      for (int i = 0; i < 40; ++i) SendMessageW(child, CB_ADDSTRING, 0, LPARAM(L"entry"));
      SendMessageW(child, CB_SHOWDROPDOWN, TRUE, 0);
      scrolled = static_cast<DWORD>(GetWindowLongW(combo.hwndList, GWL_STYLE));
      SendMessageW(child, CB_SHOWDROPDOWN, FALSE, 0);
    }
    EXPECT_EQ((scrolled & WS_VSCROLL) != 0, (item.style & DIS_VSCROLL) != 0);
    // A dialog with the 3-D look may draw a border as a client edge.
    EXPECT_EQ((style & WS_BORDER) || (exStyle & WS_EX_CLIENTEDGE), (item.style & DIS_BORDER) != 0);
    if (kind == "Edit") {
      EXPECT_EQ((style & ES_READONLY) != 0, (item.style & DIS_READONLY) != 0);
      EXPECT_EQ((style & ES_AUTOHSCROLL) != 0, (item.style & DIS_AUTOHSCROLL) != 0);
    }
    if (kind == "DropDownList") {
      EXPECT_TRUE(style & CBS_NOINTEGRALHEIGHT);
    }

    if (kind == "Bitmap") {
      EXPECT_TRUE(style & SS_CENTERIMAGE);
      EXPECT_EQ((style & SS_SUNKEN) != 0, (item.style & DIS_SUNKEN) != 0);
      HBITMAP picture = reinterpret_cast<HBITMAP>(SendMessageW(child, STM_GETIMAGE, IMAGE_BITMAP, 0));
      BITMAP info = {};
      ASSERT_NE(picture, nullptr);
      ASSERT_NE(GetObjectW(picture, sizeof info, &info), 0);
      EXPECT_EQ(info.bmWidth, 48);
      EXPECT_EQ(info.bmHeight, 48);
    } else {
      EXPECT_EQ(WindowText(child), item.text);
    }

    // The place and size in dialog units, each turned to pixels on its own
    // as the dialog manager does; a drop-down list is as high as its
    // closed box.
    RECT expected = {item.x, item.y, item.cx, item.cy};
    MapDialogRect(dialog, &expected);
    RECT actual = {};
    GetWindowRect(child, &actual);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
    EXPECT_EQ(actual.left, expected.left);
    EXPECT_EQ(actual.top, expected.top);
    EXPECT_EQ(actual.right - actual.left, expected.right);
    if (kind != "DropDownList") {
      EXPECT_EQ(actual.bottom - actual.top, expected.bottom);
    }

    child = GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_EQ(child, nullptr) << "more controls than items";
  DestroyWindow(dialog);
}

TEST_F(ModuleResourcesTest, TheVersionNamesTheModuleAndItsBuild) {
  const DWORD size = GetFileVersionInfoSizeW(kModulePath.c_str(), nullptr);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> data(size);
  ASSERT_TRUE(GetFileVersionInfoW(kModulePath.c_str(), 0, size, data.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  const DWORD ms = MAKELONG(OSTREL_VERSION_MINOR, OSTREL_VERSION_MAJOR);
  const DWORD ls = MAKELONG(0, OSTREL_BUILD_NUMBER);
  EXPECT_EQ(fixed->dwFileVersionMS, ms);
  EXPECT_EQ(fixed->dwFileVersionLS, ls);
  EXPECT_EQ(fixed->dwProductVersionMS, ms);
  EXPECT_EQ(fixed->dwProductVersionLS, ls);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

  const std::wstring version = std::to_wstring(OSTREL_VERSION_MAJOR) + L"." +
                               std::to_wstring(OSTREL_VERSION_MINOR) + L"." +
                               std::to_wstring(OSTREL_BUILD_NUMBER) + L".0";
  const std::pair<const wchar_t*, std::wstring> values[] = {
      {L"FileDescription", L"OstrelAntiPhishingBHO"},
      {L"InternalName", L"OstrelAntiPhishingBHO"},
      {L"OriginalFilename", L"OstrelAntiPhishingBHO.DLL"},
      {L"ProductName", L"Ostrel Anti-Phishing Filter for Microsoft Internet Explorer"},
      {L"FileVersion", version},
      {L"ProductVersion", version},
      {L"OLESelfRegister", L""},
  };
  for (const auto& [name, value] : values) {
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    wchar_t* text = nullptr;
    EXPECT_TRUE(VerQueryValueW(data.data(), path.c_str(), reinterpret_cast<void**>(&text), &length))
        << "no value " << name;
    if (text) {
      EXPECT_EQ(std::wstring(text), value);
    }
  }
}

TEST_F(ModuleResourcesTest, TheTypeLibraryDescribesBothClassesForThisKindOfProcess) {
  ITypeLib* library = nullptr;
  ASSERT_EQ(LoadTypeLibEx(kModulePath.c_str(), REGKIND_NONE, &library), S_OK);
  TLIBATTR* attributes = nullptr;
  ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
  EXPECT_TRUE(IsEqualGUID(attributes->guid, LIBID_OSTRELANTIPHISHINGBHOLib));
  EXPECT_EQ(attributes->wMajorVerNum, 1);
  EXPECT_EQ(attributes->wMinorVerNum, 0);
  // Its vtables are laid out for the module's own pointer size.
  EXPECT_EQ(attributes->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
  library->ReleaseTLibAttr(attributes);

  auto documentation = [](auto* owner, INT index) {
    BSTR name = nullptr, help = nullptr;
    owner->GetDocumentation(index, &name, &help, nullptr, nullptr);
    std::wstring both = std::wstring(name ? name : L"") + L": " + (help ? help : L"");
    SysFreeString(name);
    SysFreeString(help);
    return both;
  };
  EXPECT_EQ(documentation(library, -1),
            L"OSTRELANTIPHISHINGBHOLib: OstrelAntiPhishingBHO 1.0 Type Library");

  struct Class {
    const CLSID& clsid;
    const IID& iid;
    const wchar_t* classDoc;
    const wchar_t* interfaceDoc;
  } const classes[] = {
      {CLSID_MyBHO, IID_IMyBHO, L"MyBHO: MyBHO Class", L"IMyBHO: IMyBHO Interface"},
      {CLSID_MyCfgDlgCmdTarget, IID_IMyCfgDlgCmdTarget,
       L"MyCfgDlgCmdTarget: MyCfgDlgCmdTarget Class",
       L"IMyCfgDlgCmdTarget: IMyCfgDlgCmdTarget Interface"},
  };
  for (const Class& c : classes) {
    ITypeInfo* coclass = nullptr;
    ASSERT_EQ(library->GetTypeInfoOfGuid(c.clsid, &coclass), S_OK);
    EXPECT_EQ(documentation(coclass, MEMBERID_NIL), c.classDoc);
    TYPEATTR* type = nullptr;
    ASSERT_EQ(coclass->GetTypeAttr(&type), S_OK);
    EXPECT_EQ(type->typekind, TKIND_COCLASS);
    EXPECT_TRUE(type->wTypeFlags & TYPEFLAG_FCANCREATE);
    coclass->ReleaseTypeAttr(type);
    INT flags = 0;
    EXPECT_EQ(coclass->GetImplTypeFlags(0, &flags), S_OK);
    EXPECT_TRUE(flags & IMPLTYPEFLAG_FDEFAULT);

    // The default interface, dual, with nothing beyond IDispatch's seven
    // methods.
    HREFTYPE reference = 0;
    ITypeInfo* dispatch = nullptr;
    ASSERT_EQ(coclass->GetRefTypeOfImplType(0, &reference), S_OK);
    ASSERT_EQ(coclass->GetRefTypeInfo(reference, &dispatch), S_OK);
    EXPECT_EQ(documentation(dispatch, MEMBERID_NIL), c.interfaceDoc);
    ASSERT_EQ(dispatch->GetTypeAttr(&type), S_OK);
    EXPECT_TRUE(IsEqualGUID(type->guid, c.iid));
    EXPECT_EQ(type->typekind, TKIND_DISPATCH);
    EXPECT_TRUE(type->wTypeFlags & TYPEFLAG_FDUAL);
    dispatch->ReleaseTypeAttr(type);

    ITypeInfo* vtable = nullptr;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(-1, &reference), S_OK);
    ASSERT_EQ(dispatch->GetRefTypeInfo(reference, &vtable), S_OK);
    ASSERT_EQ(vtable->GetTypeAttr(&type), S_OK);
    EXPECT_EQ(type->typekind, TKIND_INTERFACE);
    EXPECT_EQ(type->cFuncs, 0);
    EXPECT_EQ(type->cbSizeVft, 7 * sizeof(void*));
    vtable->ReleaseTypeAttr(type);

    vtable->Release();
    dispatch->Release();
    coclass->Release();
  }
  library->Release();
}
