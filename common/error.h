// The one error type of the component: what a raised error carries, as COM's
// EXCEPINFO and VB's Err object hold it.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace qel {

class Error : public std::exception {
 public:
  Error(int32_t number, std::u16string source, std::u16string description,
        std::u16string helpFile = {}, int32_t helpContext = 0);

  int32_t Number() const noexcept { return m_lNumber; }
  const std::u16string& Source() const noexcept { return m_strSource; }
  const std::u16string& Description() const noexcept { return m_strDescription; }
  const std::u16string& HelpFile() const noexcept { return m_strHelpFile; }
  int32_t HelpContext() const noexcept { return m_lHelpContext; }

  const char* what() const noexcept override { return m_strWhat.c_str(); }

 private:
  int32_t m_lNumber;
  std::u16string m_strSource;
  std::u16string m_strDescription;
  std::u16string m_strHelpFile;
  int32_t m_lHelpContext;
  std::string m_strWhat;
};

// Raises an error: the one way the component reports a failure to its caller.
[[noreturn]] void Raise(int32_t number, std::u16string source, std::u16string description,
                        std::u16string helpFile = {}, int32_t helpContext = 0);

// The number of what was raised: an Error's own, kErrOutOfMemory for a
// failed allocation, kErrInternal for anything else.
int32_t NumberOf(const std::exception_ptr& raised) noexcept;

// Numbers of the runtime errors the component raises itself, as the Basic
// runtime numbers them: a number beyond 32 bits, no memory, and a failure
// that carries no number of its own.
inline constexpr int32_t kErrOverflow = 6;
inline constexpr int32_t kErrOutOfMemory = 7;
inline constexpr int32_t kErrInternal = 51;
// The source of those errors.
inline constexpr char16_t kRuntimeSource[] = u"QELUpdateCheck1_0";

// The server's own numbers (UpdateCheckErrors), and the source of the errors
// UpdateCheck raises.
inline constexpr int32_t uceBusy = static_cast<int32_t>(0x800409C5u);
inline constexpr int32_t uceAsync = static_cast<int32_t>(0x800409C6u);
inline constexpr int32_t uceNotFound = static_cast<int32_t>(0x800409C7u);
inline constexpr int32_t uceInvalidFile = static_cast<int32_t>(0x800409C8u);
inline constexpr char16_t kUpdateCheckSource[] = u"QELUpdateCheck1_0:UpdateCheck:";

}  // namespace qel
