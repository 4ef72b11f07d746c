// An owned kernel handle; some calls give INVALID_HANDLE_VALUE for none.
#pragma once

#include <windows.h>

#include "common/unique_resource.h"

namespace qel::com {

struct KernelHandleCheck {
  static bool Valid(HANDLE handle) noexcept {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
  }
};

using UniqueHandle = UniqueResource<HANDLE, &CloseHandle, KernelHandleCheck>;

}  // namespace qel::com
