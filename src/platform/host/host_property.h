// Published properties: the metadata through which a stream reads and
// writes a component without knowing its class. Each component class lists
// its own properties in declaration order (see TComponentClass); the typed
// helpers that build them are in host_published.h.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host_stream_syntax.h"
#include "host_strings.h"

namespace tarn::host {

class TComponent;

enum class TTypeKind : std::uint8_t {
    Integer,      // a signed integer type
    Unsigned,     // an unsigned integer type
    Enumeration,  // written by literal name
    Boolean,      // True or False
    Char,         // one 8-bit character, written as a string of length 1
    Float,
    ByteString,  // AnsiString
    TextString,  // UnicodeString
    Method       // an event, written by the name of its handler
};

class TPropInfo {
public:
    TPropInfo(UnicodeString name, TTypeKind kind);
    virtual ~TPropInfo() = default;
    TPropInfo(const TPropInfo&) = delete;
    TPropInfo& operator=(const TPropInfo&) = delete;

    const UnicodeString& Name() const { return name_; }
    TTypeKind Kind() const { return kind_; }
    // The literal names of an enumeration, by ordinal; empty for other kinds.
    virtual const std::vector<UnicodeString>& EnumNames() const;
    // Whether a default is recorded. A property without one is always
    // written, except an event, which is written when it can be resolved.
    virtual bool HasDefault() const = 0;

    // Whether a stream of `component` holds this property: its value
    // differs from the recorded default, or it has none; an event when its
    // handler has a name under which the component's owner can find it.
    virtual bool IsStored(const TComponent& component) const = 0;

    // The current value. An event gives its handler's name (empty if none).
    virtual TStreamValue GetValue(const TComponent& component) const = 0;
    // Converts and stores a value. A value of the wrong type or out of range
    // raises EConvertError; an exception of the component's own setter
    // passes unchanged. An event resolves the name through the component's
    // owner (EConvertError when it cannot).
    virtual void SetValue(TComponent& component, const TStreamValue& value) const = 0;

    // The same, as stream text (see host_stream_syntax.h).
    std::string GetText(const TComponent& component) const;
    void SetText(TComponent& component, const std::string& text) const;

private:
    UnicodeString name_;
    TTypeKind kind_;
};

using TPropPtr = std::shared_ptr<const TPropInfo>;

// True for a name a property, component or class may carry: a letter or
// '_' followed by letters, digits and '_' (ASCII).
bool IsValidIdent(const UnicodeString& name);

}  // namespace tarn::host
