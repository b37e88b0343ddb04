// The names of the port list, read afresh, as GetExistingCommPortNames gives
// them: in the order the list holds them, in capitals, trimmed, blanks left
// out. Shared by the component and the port watcher. Any thread; raises the
// registry's error when a value is not a string.
#pragma once

#include <vector>

#include "host_strings.h"

std::vector<tarn::host::UnicodeString> ReadPortListNames();
