// Typed helpers that declare the published properties of a component class
// in a few lines. A getter is a const member function, a data member or any
// callable taking `const C&`; a setter is a member function, a data member
// (written directly) or any callable taking `C&` and the value. The last
// argument, when given, is the recorded default: a property equal to it is
// not written to a stream. Without it the property is always written.
//
//   using P = Prop<TMyPort>;
//   static const TComponentClass cls = DeclareClass<TMyPort>(u"TMyPort", {
//       P::Enum(u"Port", kPortNames, &TMyPort::GetPort, &TMyPort::SetPort, spNone),
//       P::Int(u"Delay", &TMyPort::FDelay, &TMyPort::FDelay, 100u),
//       P::Str(u"CustomPortName", &TMyPort::FCustomPortName, &TMyPort::SetCustomPortName),
//       P::Event(u"OnReceive", &TMyPort::FOnReceive, &TMyPort::FOnReceive)});
#pragma once

#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "host_component.h"
#include "host_event.h"
#include "host_exception.h"
#include "host_property.h"

namespace tarn::host {

namespace detail {

template <class C>
const C& AsClass(const TComponent& component, const UnicodeString& property) {
    if constexpr (std::is_same_v<C, TComponent>) {
        (void)property;
        return component;
    } else {
        const C* typed = dynamic_cast<const C*>(&component);
        if (typed == nullptr) {
            throw EInvalidCast(u"Property " + property + u" does not belong to class " +
                               component.ClassName());
        }
        return *typed;
    }
}

template <class C>
C& AsClass(TComponent& component, const UnicodeString& property) {
    return const_cast<C&>(AsClass<C>(static_cast<const TComponent&>(component), property));
}

template <class C, class Get>
using PropValueOf = std::decay_t<std::invoke_result_t<const Get&, const C&>>;

template <class C, class Set, class V>
void StoreProp(C& object, const Set& set, V value) {
    if constexpr (std::is_member_object_pointer_v<Set>) {
        object.*set = std::move(value);
    } else {
        std::invoke(set, object, std::move(value));
    }
}

[[noreturn]] void ThrowWrongValue(const UnicodeString& expected, const TStreamValue& got);
[[noreturn]] void ThrowOutOfRange(const TStreamValue& got, const UnicodeString& range);

template <class V>
struct IntCodec {
    static constexpr TTypeKind kKind =
        std::is_signed_v<V> ? TTypeKind::Integer : TTypeKind::Unsigned;

    TStreamValue ToStream(V v) const {
        if constexpr (std::is_signed_v<V>) {
            return TStreamValue::Signed(static_cast<std::int64_t>(v));
        } else {
            return TStreamValue::Unsigned(static_cast<std::uint64_t>(v));
        }
    }

    V FromStream(const TStreamValue& s) const {
        if (s.type != TStreamValue::Type::Integer) ThrowWrongValue(u"an integer", s);
        using Limits = std::numeric_limits<V>;
        bool fits = false;
        if (s.negative) {
            if constexpr (std::is_signed_v<V>) {
                const auto limit = static_cast<std::uint64_t>(-(Limits::min() + 1)) + 1;
                fits = s.magnitude <= limit;
            }
        } else {
            fits = s.magnitude <= static_cast<std::uint64_t>(Limits::max());
        }
        if (!fits) {
            ThrowOutOfRange(s, IntToStr(static_cast<std::int64_t>(Limits::min())) + u".." +
                                   AnsiToUnicode(std::to_string(Limits::max())));
        }
        if (!s.negative) return static_cast<V>(s.magnitude);
        // Negated in the unsigned domain, which wraps to the two's
        // complement value that the signed conversion then keeps.
        return static_cast<V>(static_cast<std::int64_t>(0 - s.magnitude));
    }
};

template <class V>
struct EnumCodec {
    static constexpr TTypeKind kKind = TTypeKind::Enumeration;
    std::vector<UnicodeString> names;

    static std::int64_t Ordinal(V v) { return static_cast<std::int64_t>(v); }

    TStreamValue ToStream(V v) const {
        const std::int64_t ordinal = Ordinal(v);
        if (ordinal >= 0 && static_cast<std::uint64_t>(ordinal) < names.size()) {
            return TStreamValue::Identifier(names[static_cast<std::size_t>(ordinal)]);
        }
        // A value without a literal is written as its ordinal, which the
        // reader accepts back only when it has become a known literal.
        return TStreamValue::Signed(ordinal);
    }

    V FromStream(const TStreamValue& s) const {
        if (s.type == TStreamValue::Type::Ident) {
            for (std::size_t i = 0; i < names.size(); ++i) {
                if (SameTextAscii(names[i], s.ident)) return static_cast<V>(i);
            }
            throw EConvertError(u"'" + s.ident + u"' is not a value of this enumeration");
        }
        if (s.type == TStreamValue::Type::Integer && !s.negative && s.magnitude < names.size()) {
            return static_cast<V>(s.magnitude);
        }
        ThrowWrongValue(u"one of the literals " + names.front() + u" to " + names.back(), s);
    }
};

struct BoolCodec {
    static constexpr TTypeKind kKind = TTypeKind::Boolean;
    TStreamValue ToStream(bool v) const { return TStreamValue::Identifier(v ? u"True" : u"False"); }
    bool FromStream(const TStreamValue& s) const {
        if (s.type == TStreamValue::Type::Ident) {
            if (SameTextAscii(s.ident, UnicodeString(u"True"))) return true;
            if (SameTextAscii(s.ident, UnicodeString(u"False"))) return false;
        }
        ThrowWrongValue(u"True or False", s);
    }
};

template <class V>
struct CharCodec {
    static constexpr TTypeKind kKind = TTypeKind::Char;
    TStreamValue ToStream(V v) const {
        return TStreamValue::String(
            UnicodeString(1, static_cast<char16_t>(static_cast<unsigned char>(v))));
    }
    V FromStream(const TStreamValue& s) const {
        if (s.type != TStreamValue::Type::String || s.text.size() != 1 || s.text[0] > 0xFF) {
            ThrowWrongValue(u"one 8-bit character such as #17 or 'A'", s);
        }
        return static_cast<V>(static_cast<unsigned char>(s.text[0]));
    }
};

template <class V>
struct FloatCodec {
    static constexpr TTypeKind kKind = TTypeKind::Float;
    TStreamValue ToStream(V v) const { return TStreamValue::Real(static_cast<double>(v)); }
    V FromStream(const TStreamValue& s) const {
        switch (s.type) {
            case TStreamValue::Type::Float:
                return static_cast<V>(s.real);
            case TStreamValue::Type::Integer: {
                const auto magnitude = static_cast<double>(s.magnitude);
                return static_cast<V>(s.negative ? -magnitude : magnitude);
            }
            case TStreamValue::Type::Ident:
                if (SameTextAscii(s.ident, UnicodeString(u"NaN"))) {
                    return std::numeric_limits<V>::quiet_NaN();
                }
                if (SameTextAscii(s.ident, UnicodeString(u"INF"))) {
                    return std::numeric_limits<V>::infinity();
                }
                break;
            default:
                break;
        }
        ThrowWrongValue(u"a number", s);
    }
};

struct ByteStringCodec {
    static constexpr TTypeKind kKind = TTypeKind::ByteString;
    TStreamValue ToStream(const AnsiString& v) const {
        UnicodeString units;
        units.reserve(v.size());
        for (const char c : v) units += static_cast<char16_t>(static_cast<unsigned char>(c));
        return TStreamValue::String(std::move(units));
    }
    AnsiString FromStream(const TStreamValue& s) const;
};

struct TextStringCodec {
    static constexpr TTypeKind kKind = TTypeKind::TextString;
    TStreamValue ToStream(const UnicodeString& v) const { return TStreamValue::String(v); }
    UnicodeString FromStream(const TStreamValue& s) const {
        if (s.type != TStreamValue::Type::String) ThrowWrongValue(u"a quoted string", s);
        return s.text;
    }
};

template <class C, class V, class Get, class Set, class Codec>
class TypedProp final : public TPropInfo {
public:
    TypedProp(UnicodeString name, Get get, Set set, std::optional<V> def, Codec codec)
        : TPropInfo(std::move(name), Codec::kKind),
          get_(std::move(get)),
          set_(std::move(set)),
          default_(std::move(def)),
          codec_(std::move(codec)) {}

    const std::vector<UnicodeString>& EnumNames() const override {
        if constexpr (Codec::kKind == TTypeKind::Enumeration) {
            return codec_.names;
        } else {
            return TPropInfo::EnumNames();
        }
    }
    bool HasDefault() const override { return default_.has_value(); }
    bool IsStored(const TComponent& component) const override {
        return !default_ || !(Value(component) == *default_);
    }
    TStreamValue GetValue(const TComponent& component) const override {
        return codec_.ToStream(Value(component));
    }
    void SetValue(TComponent& component, const TStreamValue& value) const override {
        V converted = codec_.FromStream(value);
        StoreProp(AsClass<C>(component, Name()), set_, std::move(converted));
    }

private:
    V Value(const TComponent& component) const {
        return static_cast<V>(std::invoke(get_, AsClass<C>(component, Name())));
    }

    Get get_;
    Set set_;
    std::optional<V> default_;
    Codec codec_;
};

template <class C, class Sig, class Get, class Set>
class EventProp final : public TPropInfo {
public:
    EventProp(UnicodeString name, Get get, Set set)
        : TPropInfo(std::move(name), TTypeKind::Method),
          get_(std::move(get)),
          set_(std::move(set)) {}

    bool HasDefault() const override { return false; }
    bool IsStored(const TComponent& component) const override {
        const TEvent<Sig> event = Value(component);
        const TComponent* owner = component.Owner();
        return event.Assigned() && !event.MethodName().empty() && owner != nullptr &&
               owner->template FindMethod<Sig>(event.MethodName()) != nullptr;
    }
    // "nil" stands for an event without a named handler.
    TStreamValue GetValue(const TComponent& component) const override {
        const TEvent<Sig> event = Value(component);
        const bool named = event.Assigned() && !event.MethodName().empty();
        return TStreamValue::Identifier(named ? event.MethodName() : UnicodeString(u"nil"));
    }
    void SetValue(TComponent& component, const TStreamValue& value) const override {
        if (value.type != TStreamValue::Type::Ident) ThrowWrongValue(u"a handler name", value);
        C& object = AsClass<C>(component, Name());
        if (SameTextAscii(value.ident, UnicodeString(u"nil"))) {
            StoreProp(object, set_, TEvent<Sig>());
            return;
        }
        const TComponent* owner = component.Owner();
        if (owner == nullptr) {
            throw EConvertError(u"Handler " + value.ident +
                                u" cannot be resolved: the component has no owner");
        }
        const std::any* handler = owner->FindMethodAny(value.ident);
        if (handler == nullptr) {
            throw EConvertError(u"The owner has no handler named " + value.ident);
        }
        const auto* code = std::any_cast<std::function<Sig>>(handler);
        if (code == nullptr) {
            throw EConvertError(u"Handler " + value.ident + u" does not match the event's type");
        }
        StoreProp(object, set_, TEvent<Sig>(*code, value.ident));
    }

private:
    TEvent<Sig> Value(const TComponent& component) const {
        return std::invoke(get_, AsClass<C>(component, Name()));
    }

    Get get_;
    Set set_;
};

template <class T>
struct EventSignature;
template <class Sig>
struct EventSignature<TEvent<Sig>> {
    using type = Sig;
};

}  // namespace detail

template <class C>
struct Prop {
    static_assert(std::is_base_of_v<TComponent, C>, "properties belong to component classes");

    template <class Get, class Set>
    static TPropPtr Int(UnicodeString name, Get get, Set set) {
        return MakeInt(std::move(name), std::move(get), std::move(set), std::nullopt);
    }
    template <class Get, class Set, class D>
    static TPropPtr Int(UnicodeString name, Get get, Set set, D def) {
        using V = detail::PropValueOf<C, Get>;
        return MakeInt(std::move(name), std::move(get), std::move(set),
                       std::optional<V>(static_cast<V>(def)));
    }

    template <class Get, class Set>
    static TPropPtr Enum(UnicodeString name, std::vector<UnicodeString> names, Get get, Set set) {
        return MakeEnum(std::move(name), std::move(names), std::move(get), std::move(set),
                        std::nullopt);
    }
    template <class Get, class Set, class D>
    static TPropPtr Enum(UnicodeString name, std::vector<UnicodeString> names, Get get, Set set,
                         D def) {
        using V = detail::PropValueOf<C, Get>;
        return MakeEnum(std::move(name), std::move(names), std::move(get), std::move(set),
                        std::optional<V>(static_cast<V>(def)));
    }

    template <class Get, class Set>
    static TPropPtr Bool(UnicodeString name, Get get, Set set) {
        return Make<detail::BoolCodec>(std::move(name), std::move(get), std::move(set),
                                       std::optional<bool>());
    }
    template <class Get, class Set>
    static TPropPtr Bool(UnicodeString name, Get get, Set set, bool def) {
        return Make<detail::BoolCodec>(std::move(name), std::move(get), std::move(set),
                                       std::optional<bool>(def));
    }

    template <class Get, class Set>
    static TPropPtr Char(UnicodeString name, Get get, Set set) {
        return MakeChar(std::move(name), std::move(get), std::move(set), std::nullopt);
    }
    template <class Get, class Set, class D>
    static TPropPtr Char(UnicodeString name, Get get, Set set, D def) {
        using V = detail::PropValueOf<C, Get>;
        return MakeChar(std::move(name), std::move(get), std::move(set),
                        std::optional<V>(static_cast<V>(def)));
    }

    template <class Get, class Set>
    static TPropPtr Float(UnicodeString name, Get get, Set set) {
        return MakeFloat(std::move(name), std::move(get), std::move(set), std::nullopt);
    }
    template <class Get, class Set, class D>
    static TPropPtr Float(UnicodeString name, Get get, Set set, D def) {
        using V = detail::PropValueOf<C, Get>;
        return MakeFloat(std::move(name), std::move(get), std::move(set),
                         std::optional<V>(static_cast<V>(def)));
    }

    // AnsiString properties stream as byte strings, UnicodeString ones as
    // text strings.
    template <class Get, class Set>
    static TPropPtr Str(UnicodeString name, Get get, Set set) {
        return MakeStr(std::move(name), std::move(get), std::move(set), std::nullopt);
    }
    template <class Get, class Set, class D>
    static TPropPtr Str(UnicodeString name, Get get, Set set, D def) {
        using V = detail::PropValueOf<C, Get>;
        return MakeStr(std::move(name), std::move(get), std::move(set), std::optional<V>(V(def)));
    }

    // The getter yields a TEvent<Sig>; the setter takes one.
    template <class Get, class Set>
    static TPropPtr Event(UnicodeString name, Get get, Set set) {
        using Sig = typename detail::EventSignature<detail::PropValueOf<C, Get>>::type;
        return std::make_shared<detail::EventProp<C, Sig, Get, Set>>(
            std::move(name), std::move(get), std::move(set));
    }

private:
    template <class Codec, class Get, class Set, class V>
    static TPropPtr Make(UnicodeString name, Get get, Set set, std::optional<V> def,
                         Codec codec = Codec()) {
        static_assert(std::is_same_v<detail::PropValueOf<C, Get>, V>, "getter type");
        return std::make_shared<detail::TypedProp<C, V, Get, Set, Codec>>(
            std::move(name), std::move(get), std::move(set), std::move(def), std::move(codec));
    }

    template <class Get, class Set, class Opt>
    static TPropPtr MakeInt(UnicodeString name, Get get, Set set, Opt def) {
        using V = detail::PropValueOf<C, Get>;
        static_assert(std::is_integral_v<V> && !std::is_same_v<V, bool>,
                      "Int is for integer properties; use Bool, Char or Enum for the others");
        return Make<detail::IntCodec<V>>(std::move(name), std::move(get), std::move(set),
                                         std::optional<V>(def));
    }

    template <class Get, class Set, class Opt>
    static TPropPtr MakeEnum(UnicodeString name, std::vector<UnicodeString> names, Get get, Set set,
                             Opt def) {
        using V = detail::PropValueOf<C, Get>;
        static_assert(std::is_enum_v<V> || std::is_integral_v<V>, "Enum takes enumerations");
        if (names.empty()) throw EComponentError(u"Enumeration " + name + u" has no literals");
        return Make<detail::EnumCodec<V>>(std::move(name), std::move(get), std::move(set),
                                          std::optional<V>(def),
                                          detail::EnumCodec<V>{std::move(names)});
    }

    template <class Get, class Set, class Opt>
    static TPropPtr MakeChar(UnicodeString name, Get get, Set set, Opt def) {
        using V = detail::PropValueOf<C, Get>;
        static_assert(sizeof(V) == 1 && std::is_integral_v<V> && !std::is_same_v<V, bool>,
                      "Char is for 8-bit character properties");
        return Make<detail::CharCodec<V>>(std::move(name), std::move(get), std::move(set),
                                          std::optional<V>(def));
    }

    template <class Get, class Set, class Opt>
    static TPropPtr MakeFloat(UnicodeString name, Get get, Set set, Opt def) {
        using V = detail::PropValueOf<C, Get>;
        static_assert(std::is_floating_point_v<V>, "Float is for floating-point properties");
        return Make<detail::FloatCodec<V>>(std::move(name), std::move(get), std::move(set),
                                           std::optional<V>(def));
    }

    template <class Get, class Set, class Opt>
    static TPropPtr MakeStr(UnicodeString name, Get get, Set set, Opt def) {
        using V = detail::PropValueOf<C, Get>;
        if constexpr (std::is_same_v<V, AnsiString>) {
            return Make<detail::ByteStringCodec>(std::move(name), std::move(get), std::move(set),
                                                 std::optional<V>(def));
        } else {
            static_assert(std::is_same_v<V, UnicodeString>,
                          "Str is for AnsiString and UnicodeString properties");
            return Make<detail::TextStringCodec>(std::move(name), std::move(get), std::move(set),
                                                 std::optional<V>(def));
        }
    }
};

}  // namespace tarn::host
