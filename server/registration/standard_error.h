// Text for a person from a program without a window: the server is a GUI
// program, which Windows starts without a console.
#pragma once

#include <string>

namespace qel::com {

// Writes to the standard error the process was given (a file or a pipe);
// without one, to the console of the process that started it, if it has one.
// Nowhere otherwise.
void WriteStandardError(const std::wstring& text) noexcept;

}  // namespace qel::com
