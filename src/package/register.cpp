#include "register.h"

#include "Tarnserialport.h"
#include "host_class_registry.h"

// Registration is all the package does on the designer's behalf: loading and
// unloading it run none of the component's code.
extern "C" void Register() {
    tarn::host::RegisterComponents(u"Tarnwerk", {&TTarnSerialPort::StaticClass()});
}
