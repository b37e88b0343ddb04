// The host's string formatting, reduced to the placeholders the component
// uses: "%s" takes the next argument, "%%" is a percent sign. Any other
// specifier, a lone '%' at the end, or more placeholders than arguments
// raise EConvertError naming the format. Surplus arguments are ignored, as
// the host's formatter ignores them. Pure; safe on any thread.
#pragma once

#include <initializer_list>

#include "host_strings.h"

namespace tarn::host {

UnicodeString Format(const UnicodeString& format, std::initializer_list<UnicodeString> args);
AnsiString Format(const AnsiString& format, std::initializer_list<AnsiString> args);

}  // namespace tarn::host
