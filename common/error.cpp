#include "common/error.h"

#include <new>
#include <utility>

#include "common/text.h"

namespace qel {

Error::Error(int32_t number, std::u16string source, std::u16string description,
             std::u16string helpFile, int32_t helpContext)
    : m_lNumber(number),
      m_strSource(std::move(source)),
      m_strDescription(std::move(description)),
      m_strHelpFile(std::move(helpFile)),
      m_lHelpContext(helpContext),
      m_strWhat(std::to_string(number) + ": " + TextToUtf8(m_strDescription)) {}

void Raise(int32_t number, std::u16string source, std::u16string description,
           std::u16string helpFile, int32_t helpContext) {
  throw Error(number, std::move(source), std::move(description), std::move(helpFile), helpContext);
}

int32_t NumberOf(const std::exception_ptr& raised) noexcept {
  try {
    std::rethrow_exception(raised);
  } catch (const Error& error) {
    return error.Number();
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  } catch (...) {
    return kErrInternal;
  }
}

}  // namespace qel
