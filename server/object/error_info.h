// How a failed member reaches its caller: the HRESULT of the call plus the
// rich error information (source, description, help) that COM carries with it.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <cstdint>
#include <new>
#include <string_view>

#include "common/error.h"

namespace qel::com {

// The HRESULT that carries an error number. Failure codes travel as they are;
// a small positive number (a runtime error such as 6, overflow) takes the
// facility automation runtimes use for theirs, so that it still reads as a
// failure; anything else that would read as success becomes E_FAIL.
HRESULT HresultFromErrorNumber(int32_t number) noexcept;

// Sets the calling thread's error information for a failure of a member of
// interface `iid` and returns the failure's HRESULT.
HRESULT ReportError(const Error& error, REFIID iid) noexcept;
HRESULT ReportFailure(HRESULT hr, std::u16string_view description, REFIID iid) noexcept;

// Runs a member's body at the COM boundary: no exception gets past it.
template <class Body>
HRESULT CallMember(REFIID iid, Body&& body) noexcept {
  try {
    body();
    return S_OK;
  } catch (const Error& error) {
    return ReportError(error, iid);
  } catch (const std::bad_alloc&) {
    return ReportFailure(E_OUTOFMEMORY, u"Out of memory.", iid);
  } catch (...) {
    return ReportFailure(E_UNEXPECTED, u"Unexpected failure.", iid);
  }
}

}  // namespace qel::com
