#include "platform/OleAuto.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

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

namespace {

bool IsKnownType(VARTYPE vt) {
  switch (vt & ~VT_BYREF) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_BOOL:
    case VT_UNKNOWN:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
      return true;
    case VT_VARIANT:
      return (vt & VT_BYREF) != 0;  // a variant is only ever held by reference
    default:
      return false;
  }
}

BSTR NumberText(long long value) {
  const std::wstring text = std::to_wstring(value);
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

// The text form of a plain (not by-reference) value, or null with *hr set.
BSTR TextOf(VARTYPE vt, const void* value, HRESULT* hr) {
  *hr = S_OK;
  BSTR text = nullptr;
  switch (vt) {
    case VT_EMPTY:
      text = SysAllocStringLen(nullptr, 0);
      break;
    case VT_BSTR: {
      const BSTR source = *static_cast<const BSTR*>(value);
      text = SysAllocStringLen(source, SysStringLen(source));
      break;
    }
    case VT_I2:
      text = NumberText(*static_cast<const SHORT*>(value));
      break;
    case VT_I4:
      text = NumberText(*static_cast<const LONG*>(value));
      break;
    case VT_INT:
      text = NumberText(*static_cast<const INT*>(value));
      break;
    case VT_UI4:
      text = NumberText(*static_cast<const ULONG*>(value));
      break;
    case VT_UINT:
      text = NumberText(*static_cast<const UINT*>(value));
      break;
    case VT_BOOL:
      text = NumberText(*static_cast<const VARIANT_BOOL*>(value) ? -1 : 0);
      break;
    default:
      *hr = DISP_E_TYPEMISMATCH;
      return nullptr;
  }
  if (!text) *hr = E_OUTOFMEMORY;
  return text;
}

}  // namespace

HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc) {
  if (!pvargDest || !pvargSrc) return E_INVALIDARG;
  if (pvargDest == pvargSrc) return S_OK;
  if (!IsKnownType(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  VARIANT copy = *pvargSrc;
  switch (pvargSrc->vt) {
    case VT_BSTR:
      if (pvargSrc->bstrVal) {
        copy.bstrVal = SysAllocStringLen(pvargSrc->bstrVal, SysStringLen(pvargSrc->bstrVal));
        if (!copy.bstrVal) {
          VariantClear(pvargDest);
          return E_OUTOFMEMORY;
        }
      }
      break;
    case VT_UNKNOWN:
      if (copy.punkVal) copy.punkVal->AddRef();
      break;
    case VT_DISPATCH:
      if (copy.pdispVal) copy.pdispVal->AddRef();
      break;
    default:
      break;
  }
  VariantClear(pvargDest);
  *pvargDest = copy;
  return S_OK;
}

HRESULT VariantChangeType(VARIANT* pvargDest, const VARIANT* pvarSrc, USHORT, VARTYPE vt) {
  if (!pvargDest || !pvarSrc) return E_INVALIDARG;
  if (!IsKnownType(pvarSrc->vt)) return DISP_E_BADVARTYPE;
  if (vt == pvarSrc->vt) return VariantCopy(pvargDest, pvarSrc);
  if (vt != VT_BSTR) return DISP_E_TYPEMISMATCH;

  // Look through a reference: to a variant, or to a plain value.
  VARTYPE type = pvarSrc->vt;
  const void* value = &pvarSrc->lVal;
  if (type == (VT_BYREF | VT_VARIANT)) {
    const VARIANT* inner = pvarSrc->pvarVal;
    if (!inner) return E_INVALIDARG;
    if (!IsKnownType(inner->vt) || (inner->vt & VT_BYREF)) return DISP_E_BADVARTYPE;
    type = inner->vt;
    value = &inner->lVal;
  } else if (type & VT_BYREF) {
    if (!pvarSrc->byref) return E_INVALIDARG;
    type = static_cast<VARTYPE>(type & ~VT_BYREF);
    value = pvarSrc->byref;
  }
  HRESULT hr = S_OK;
  const BSTR text = TextOf(type, value, &hr);
  if (FAILED(hr)) return hr;
  VariantClear(pvargDest);  // after the source was read: they may be one
  pvargDest->vt = VT_BSTR;
  pvargDest->bstrVal = text;
  return S_OK;
}
