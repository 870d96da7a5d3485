// Conformance of the COM and OLE Automation stand-ins the module and the
// hosts meet each other through: GUID text, variants, module loading and
// the registry's class lookup. Out-parameters start as sentinels so a call
// that should leave them alone is caught writing.
#include <gtest/gtest.h>

#include <string>

#include "platform/LibLoaderApi.h"
#include "platform/ObjBase.h"
#include "platform/OleAuto.h"
#include "platform/ProcessFacts.h"
#include "platform/Unknwn.h"
#include "platform/Utf16.h"
#include "platform/WinReg.h"

namespace {

constexpr GUID kSentinel = {
    0x5E5E5E5E, 0x5E5E, 0x5E5E, {0x5E, 0x5E, 0x5E, 0x5E, 0x5E, 0x5E, 0x5E, 0x5E}};
constexpr GUID kSample = {
    0x0123ABCD, 0x4567, 0x89EF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};

// Counts references, so copies and clears can be seen.
struct CountedObject : IUnknown {
  ULONG refs = 1;
  HRESULT QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
};

std::wstring Text(BSTR s) { return std::wstring(s, SysStringLen(s)); }

std::wstring PathOfModuleHolding(const void* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCWSTR>(address), &module))
    return L"";
  wchar_t path[4096] = {};
  return GetModuleFileNameW(module, path, 4096) ? path : L"";
}

void RegisterServer(const wchar_t* clsidText, const std::wstring& path) {
  const std::wstring key = std::wstring(L"CLSID\\") + clsidText + L"\\InprocServer32";
  HKEY opened = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &opened, nullptr),
            ERROR_SUCCESS);
  const std::string bytes = ostrel::platform::ToUtf16Le(path);
  RegSetValueExW(opened, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(bytes.data()),
                 static_cast<DWORD>(bytes.size()));
  RegCloseKey(opened);
}

}  // namespace

TEST(ComPlatform, GuidTextReadsBackOnlyTheRegistryForm) {
  wchar_t text[39] = {};
  ASSERT_EQ(StringFromGUID2(kSample, text, 39), 39);
  EXPECT_STREQ(text, L"{0123ABCD-4567-89EF-0123-456789ABCDEF}");
  GUID read = kSentinel;
  EXPECT_EQ(CLSIDFromString(text, &read), S_OK);
  EXPECT_EQ(read, kSample);
  read = kSentinel;
  EXPECT_EQ(CLSIDFromString(L"{0123abcd-4567-89ef-0123-456789abcdef}", &read), S_OK);
  EXPECT_EQ(read, kSample);

  for (const wchar_t* bad :
       {L"", L"0123ABCD-4567-89EF-0123-456789ABCDEF", L"{0123ABCD-4567-89EF-0123-456789ABCDEF",
        L"{0123ABCD-4567-89EF-0123-456789ABCDEF}x", L"{0123ABCD-4567-89EF-0123-456789ABCDEG}",
        L"{0123ABCD+4567-89EF-0123-456789ABCDEF}", L"{ 123ABCD-4567-89EF-0123-456789ABCDEF}",
        L"{0123ABCD-4567}"}) {
    read = kSentinel;
    EXPECT_EQ(CLSIDFromString(bad, &read), CO_E_CLASSSTRING) << bad;
    EXPECT_EQ(read, kSentinel) << bad;
  }
  EXPECT_EQ(CLSIDFromString(nullptr, &read), CO_E_CLASSSTRING);
}

TEST(ComPlatform, VariantCopyOwnsWhatItCopies) {
  CountedObject object;
  VARIANT source, copy;
  VariantInit(&source);
  VariantInit(&copy);
  source.vt = VT_BSTR;
  source.bstrVal = SysAllocStringLen(L"a\0b", 3);
  copy.vt = VT_UNKNOWN;  // the destination is cleared first: its reference goes
  copy.punkVal = &object;
  object.AddRef();
  ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
  EXPECT_EQ(object.refs, 1u);
  EXPECT_NE(copy.bstrVal, source.bstrVal);
  EXPECT_EQ(Text(copy.bstrVal), std::wstring(L"a\0b", 3));
  VariantClear(&source);
  source.vt = VT_UNKNOWN;
  source.punkVal = &object;
  ASSERT_EQ(VariantCopy(&copy, &source), S_OK);  // frees the copied text
  EXPECT_EQ(object.refs, 2u);
  VariantClear(&copy);
  EXPECT_EQ(object.refs, 1u);
  source.vt = 0x0FFF;  // no such type: the destination stays as it was
  EXPECT_EQ(VariantCopy(&copy, &source), DISP_E_BADVARTYPE);
  EXPECT_EQ(copy.vt, VT_EMPTY);
}

TEST(ComPlatform, VariantChangeTypeToText) {
  LONG number = -42;
  VARIANT url, byRef, v;
  VariantInit(&url);
  url.vt = VT_BSTR;
  url.bstrVal = SysAllocString(L"http://a.example/");
  struct Case {
    VARTYPE vt;
    LONG value;  // as lVal (booleans: -1 or 0)
    HRESULT hr;
    const wchar_t* text;
  };
  const Case cases[] = {
      {VT_I4, -7, S_OK, L"-7"},
      {VT_UI4, 7, S_OK, L"7"},
      {VT_BOOL, -1, S_OK, L"-1"},
      {VT_EMPTY, 0, S_OK, L""},
      {VT_BYREF | VT_I4, 0, S_OK, L"-42"},
      {VT_NULL, 0, DISP_E_TYPEMISMATCH, nullptr},
      {VT_ERROR, E_FAIL, DISP_E_TYPEMISMATCH, nullptr},
  };
  for (const Case& c : cases) {
    VariantInit(&v);
    v.vt = c.vt;
    v.lVal = c.value;
    if (c.vt & VT_BYREF) v.plVal = &number;
    // In place, as the helper converts its copy of the URL.
    EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), c.hr) << c.vt;
    if (c.text) {
      ASSERT_EQ(v.vt, VT_BSTR) << c.vt;
      EXPECT_EQ(Text(v.bstrVal), c.text) << c.vt;
      VariantClear(&v);
    } else {
      EXPECT_EQ(v.vt, c.vt) << "a failed conversion leaves the variant alone";
    }
  }
  // Through a reference to a variant, as BeforeNavigate2 passes its URL.
  VariantInit(&byRef);
  byRef.vt = VT_BYREF | VT_VARIANT;
  byRef.pvarVal = &url;
  VariantInit(&v);
  ASSERT_EQ(VariantChangeType(&v, &byRef, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Text(v.bstrVal), L"http://a.example/");
  VariantClear(&v);
  // Only text is a target.
  EXPECT_EQ(VariantChangeType(&v, &url, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(v.vt, VT_EMPTY);
  VariantClear(&url);
}

TEST(ComPlatform, ClassLookupThroughTheRegistry) {
  void* object = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(CoGetClassObject(kSample, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &object),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);

  const wchar_t* text = L"{0123ABCD-4567-89EF-0123-456789ABCDEF}";
  RegisterServer(text, L"/nonexistent/module.so");
  EXPECT_EQ(CoGetClassObject(kSample, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &object),
            CO_E_DLLNOTFOUND);
  EXPECT_EQ(CoCreateInstance(kSample, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
            CO_E_DLLNOTFOUND);
  EXPECT_NE(ostrel::platform::LastLibraryLoadError().find(L"/nonexistent/module.so"),
            std::wstring::npos);

  // A library that loads but serves no classes.
  RegisterServer(text, PathOfModuleHolding(reinterpret_cast<const void*>(&CoCreateGuid)));
  EXPECT_EQ(CoGetClassObject(kSample, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &object),
            CO_E_ERRORINDLL);
  EXPECT_EQ(CoGetClassObject(kSample, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory, &object),
            REGDB_E_CLASSNOTREG);
  CoFreeUnusedLibraries();  // a module without DllCanUnloadNow stays
}
