#include "platform/OleAuto.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {
// A BSTR points just past a header that holds its length in characters.
struct BstrHeader {
  std::size_t length;
};
constexpr std::size_t kHeader = sizeof(BstrHeader) > alignof(std::max_align_t)
                                    ? sizeof(BstrHeader)
                                    : alignof(std::max_align_t);

BstrHeader* HeaderOf(BSTR s) {
  return reinterpret_cast<BstrHeader*>(reinterpret_cast<char*>(s) - kHeader);
}
}  // namespace

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  char* block = static_cast<char*>(std::malloc(kHeader + (std::size_t{ui} + 1) * sizeof(OLECHAR)));
  if (!block) return nullptr;
  reinterpret_cast<BstrHeader*>(block)->length = ui;
  BSTR s = reinterpret_cast<BSTR>(block + kHeader);
  if (strIn)
    std::wmemcpy(s, strIn, ui);
  else
    std::wmemset(s, L'\0', ui);
  s[ui] = L'\0';
  return s;
}

BSTR SysAllocString(const OLECHAR* psz) {
  if (!psz) return nullptr;
  return SysAllocStringLen(psz, static_cast<UINT>(std::wcslen(psz)));
}

void SysFreeString(BSTR bstrString) {
  if (bstrString) std::free(HeaderOf(bstrString));
}

UINT SysStringLen(BSTR pbstr) { return pbstr ? static_cast<UINT>(HeaderOf(pbstr)->length) : 0; }

void VariantInit(VARIANT* pvarg) {
  if (!pvarg) return;
  std::memset(pvarg, 0, sizeof *pvarg);
  pvarg->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* pvarg) {
  if (!pvarg) return E_INVALIDARG;
  switch (pvarg->vt) {
    case VT_BSTR:
      SysFreeString(pvarg->bstrVal);
      break;
    case VT_UNKNOWN:
      if (pvarg->punkVal) pvarg->punkVal->Release();
      break;
    case VT_DISPATCH:
      if (pvarg->pdispVal) pvarg->pdispVal->Release();
      break;
    default:
      break;  // by-reference and plain values own nothing
  }
  VariantInit(pvarg);
  return S_OK;
}
