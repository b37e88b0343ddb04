#include "host_exception.h"

#include <utility>

#include "host_system_error.h"

namespace tarn::host {

Exception::Exception(UnicodeString message)
    : message_(std::move(message)), utf8_(UnicodeToUtf8(message_)) {}

Exception::Exception(const char* messageUtf8)
    : message_(Utf8ToUnicode(messageUtf8 ? messageUtf8 : "")), utf8_(UnicodeToUtf8(message_)) {}

UnicodeString SysErrorMessage(std::uint32_t code) { return AnsiToUnicode(SystemErrorText(code)); }

}  // namespace tarn::host
