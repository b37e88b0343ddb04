#include <sys/stat.h>

#include "host_textfile.h"

namespace tarn::host::detail {

bool AnsiPathIsFile(const AnsiString& path) {
    struct stat info {};
    // stat, not lstat: a link counts as the file it points to.
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

}  // namespace tarn::host::detail
