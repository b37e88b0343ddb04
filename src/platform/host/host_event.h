// An event property's value: the code to call and, for streaming, the name
// under which the owner registered that code. An event is assigned when it
// has code; a name alone does not make it callable.
#pragma once

#include <cstddef>
#include <functional>
#include <type_traits>
#include <utility>

#include "host_strings.h"

namespace tarn::host {

template <class Signature>
class TEvent;

template <class R, class... Args>
class TEvent<R(Args...)> {
public:
    using Signature = R(Args...);
    using Code = std::function<R(Args...)>;

    TEvent() = default;
    TEvent(std::nullptr_t) {}
    TEvent(Code code, UnicodeString methodName = {})
        : code_(std::move(code)), methodName_(std::move(methodName)) {}
    // Any callable, so that `port.OnReceive = [](...) {...};` reads well.
    template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, TEvent> &&
                                                !std::is_same_v<std::decay_t<F>, Code> &&
                                                !std::is_same_v<std::decay_t<F>, std::nullptr_t> &&
                                                std::is_constructible_v<Code, F>>>
    TEvent(F&& f) : code_(std::forward<F>(f)) {}

    bool Assigned() const { return static_cast<bool>(code_); }
    explicit operator bool() const { return Assigned(); }

    const Code& GetCode() const { return code_; }
    // The owner's name for the handler; empty for code assigned directly.
    const UnicodeString& MethodName() const { return methodName_; }

    // Calls the handler; an unassigned event throws std::bad_function_call,
    // so callers test Assigned first, as the host's code does.
    R operator()(Args... args) const { return code_(std::forward<Args>(args)...); }

private:
    Code code_;
    UnicodeString methodName_;
};

}  // namespace tarn::host
