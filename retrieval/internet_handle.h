// An owned HINTERNET.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "common/unique_resource.h"

namespace qel {

using InternetHandle = UniqueResource<HINTERNET, &InternetCloseHandle>;

}  // namespace qel
