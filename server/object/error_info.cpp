#include "server/object/error_info.h"

#include <oleauto.h>

#include <string>

#include "com/bstr.h"
#include "com/com_ptr.h"
#include "service/UpdateCheck.h"

namespace qel::com {
namespace {

constexpr int32_t kLargestRuntimeError = 0xFFFF;

HRESULT SetErrorInformation(REFIID iid, const std::u16string& source,
                            const std::u16string& description, const std::u16string& helpFile,
                            int32_t helpContext) {
  ComPtr<ICreateErrorInfo> created;
  HRESULT hr = CreateErrorInfo(created.Put());
  if (FAILED(hr)) return hr;
  // The setters copy the text; the null-terminated views are enough.
  created->SetGUID(iid);
  created->SetSource(const_cast<LPOLESTR>(AsWide(source.c_str())));
  created->SetDescription(const_cast<LPOLESTR>(AsWide(description.c_str())));
  if (!helpFile.empty()) {
    created->SetHelpFile(const_cast<LPOLESTR>(AsWide(helpFile.c_str())));
    created->SetHelpContext(static_cast<DWORD>(helpContext));
  }
  ComPtr<IErrorInfo> info;
  hr = created.As(info);
  if (FAILED(hr)) return hr;
  return SetErrorInfo(0, info.Get());
}

}  // namespace

HRESULT HresultFromErrorNumber(int32_t number) noexcept {
  if (number < 0) return static_cast<HRESULT>(number);
  if (number > 0 && number <= kLargestRuntimeError)
    return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, number);
  return E_FAIL;
}

HRESULT ReportError(const Error& error, REFIID iid) noexcept {
  const HRESULT hr = HresultFromErrorNumber(error.Number());
  try {
    SetErrorInformation(iid, error.Source(), error.Description(), error.HelpFile(),
                        error.HelpContext());
  } catch (...) {
    // Without memory for the texts the caller still gets the number.
  }
  return hr;
}

HRESULT ReportFailure(HRESULT hr, std::u16string_view description, REFIID iid) noexcept {
  try {
    SetErrorInformation(iid, kUpdateCheckSource, std::u16string(description), {}, 0);
  } catch (...) {
  }
  return hr;
}

}  // namespace qel::com
