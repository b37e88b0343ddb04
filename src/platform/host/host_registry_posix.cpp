// Off Windows there is no system registry: every key fails to open. The
// port list's own key is made up by the serial layer instead
// (port_registry_linux.cpp).
#include "host_registry.h"

namespace tarn::host {

bool ReadSystemRegistryKey(HKEY, const std::u16string&, std::vector<RegistryValue>&) {
    return false;
}

}  // namespace tarn::host
