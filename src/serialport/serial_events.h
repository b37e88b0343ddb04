// Event handler types of the component. A handler is a bound callable: a
// free function, a lambda or an object's member function. It counts as
// assigned when its callable part is set. A handler may also carry a name,
// which is how a stored form refers to a method of the form that owns the
// component.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "serial_types.h"

class TTarnSerialPort;

template <typename Signature>
class TBoundHandler;

template <typename... Args>
class TBoundHandler<void(Args...)> {
public:
    using Function = std::function<void(Args...)>;

    TBoundHandler() = default;
    TBoundHandler(std::nullptr_t) {}  // NOLINT: "no handler", as in OnReceive = nullptr

    // A free function or a lambda.
    template <typename F, typename = std::enable_if_t<std::is_invocable_v<F&, Args...> &&
                                                      !std::is_same_v<std::decay_t<F>, TBoundHandler>>>
    TBoundHandler(F function)  // NOLINT: implicit, so that handlers assign naturally
        : call_(std::move(function)) {}

    // An object's member function.
    template <typename C>
    TBoundHandler(C* object, void (C::*method)(Args...))
        : call_([object, method](Args... args) { (object->*method)(args...); }),
          object_(object) {}

    // A named handler, as a stored form refers to one.
    TBoundHandler(std::string name, Function function)
        : call_(std::move(function)), name_(std::move(name)) {}

    bool Assigned() const { return static_cast<bool>(call_); }
    explicit operator bool() const { return Assigned(); }

    void operator()(Args... args) const { call_(args...); }

    // The object a member-function handler is bound to, or null.
    const void* Object() const { return object_; }
    const std::string& Name() const { return name_; }

private:
    Function call_;
    const void* object_ = nullptr;
    std::string name_;
};

using TConnectEvent = TBoundHandler<void(TTarnSerialPort* Sender, TCommPort Port)>;
using TSendReceiveEvent = TBoundHandler<void(TTarnSerialPort* Sender, std::string Buffer)>;
using TLineStatusEvent = TBoundHandler<void(TTarnSerialPort* Sender, TLineStatusSet LineStatus)>;
