// Event handler types of the component. A handler is an event value of the
// host framework: a free function, a lambda or a bound member function
// (MethodHandler), plus, for stored forms, the name under which the owner
// knows it. It counts as assigned when its callable part is set.
#pragma once

#include <string>

#include "host_event.h"
#include "serial_types.h"

class TTarnSerialPort;

using TConnectEvent = tarn::host::TEvent<void(TTarnSerialPort* Sender, TCommPort Port)>;
using TSendReceiveEvent = tarn::host::TEvent<void(TTarnSerialPort* Sender, std::string Buffer)>;
using TLineStatusEvent =
    tarn::host::TEvent<void(TTarnSerialPort* Sender, TLineStatusSet LineStatus)>;
using TFrameEvent = tarn::host::TEvent<void(TTarnSerialPort* Sender, std::string Frame)>;
using TFrameErrorEvent =
    tarn::host::TEvent<void(TTarnSerialPort* Sender, TFrameErrorReason Reason, std::string Bytes)>;

// Binds an object's member function as a handler:
//   port.SetOnReceive(MethodHandler(&form, &TForm::PortReceive));
template <class C, class... Args>
auto MethodHandler(C* object, void (C::*method)(Args...)) {
    return [object, method](Args... args) { (object->*method)(args...); };
}
