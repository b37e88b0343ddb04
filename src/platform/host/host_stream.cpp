#include "host_stream.h"

#include <exception>
#include <memory>
#include <utility>
#include <vector>

#include "host_class_registry.h"
#include "host_exception.h"
#include "host_stream_syntax.h"

namespace tarn::host {

namespace {

using detail::StreamToken;

struct ParsedProperty {
    UnicodeString name;
    TStreamValue value;
    int line = 0;
    const TPropInfo* info = nullptr;  // set by Resolve
};

struct ParsedObject {
    UnicodeString name;
    UnicodeString className;
    int headerLine = 0;
    std::vector<ParsedProperty> properties;  // in text order
};

UnicodeString AtLine(int line) { return u"Line " + IntToStr(line) + u": "; }

[[noreturn]] void Fail(int line, const UnicodeString& message) {
    throw EReadError(AtLine(line) + message);
}

bool IsIdent(const StreamToken& token) {
    return token.kind == StreamToken::Kind::Value && token.value.type == TStreamValue::Type::Ident;
}

bool IsWord(const StreamToken& token, const char16_t* word) {
    return IsIdent(token) && SameTextAscii(token.value.ident, UnicodeString(word));
}

bool IsSymbol(const StreamToken& token, char symbol) {
    return token.kind == StreamToken::Kind::Symbol && token.symbol == symbol;
}

UnicodeString Describe(const StreamToken& token) {
    switch (token.kind) {
        case StreamToken::Kind::End:
            return u"the end of the text";
        case StreamToken::Kind::Symbol:
            return u"'" + UnicodeString(1, static_cast<char16_t>(token.symbol)) + u"'";
        case StreamToken::Kind::Value:
            break;
    }
    return Utf8ToUnicode(FormatStreamValue(token.value));
}

class Parser {
public:
    explicit Parser(const std::string& text) : tokens_(detail::Tokenize(text)) {}

    ParsedObject Parse() {
        ParsedObject object;
        const StreamToken& first = Next();
        if (IsWord(first, u"inherited") || IsWord(first, u"inline")) {
            Fail(first.line, u"only 'object' streams can be read");
        }
        if (!IsWord(first, u"object"))
            Fail(first.line, u"expected 'object', found " + Describe(first));
        object.headerLine = first.line;
        const UnicodeString firstName = ExpectIdent(u"a component name or class name");
        if (IsSymbol(Peek(), ':')) {
            Next();
            object.name = firstName;
            object.className = ExpectIdent(u"a class name");
        } else {
            object.className = firstName;
        }

        for (;;) {
            const StreamToken& token = Next();
            if (token.kind == StreamToken::Kind::End) Fail(token.line, u"missing 'end'");
            if (IsWord(token, u"end")) break;
            if (IsWord(token, u"object") || IsWord(token, u"inherited") ||
                IsWord(token, u"inline")) {
                Fail(token.line, u"nested objects are not supported");
            }
            if (!IsIdent(token)) {
                Fail(token.line, u"expected a property name or 'end', found " + Describe(token));
            }
            ParsedProperty property;
            property.name = token.value.ident;
            property.line = token.line;
            if (IsSymbol(Peek(), '.')) {
                Fail(token.line, u"property " + property.name + u" has no sub-properties");
            }
            const StreamToken& equals = Next();
            if (!IsSymbol(equals, '=')) {
                Fail(equals.line,
                     u"expected '=' after " + property.name + u", found " + Describe(equals));
            }
            const StreamToken& value = Next();
            if (value.kind != StreamToken::Kind::Value || IsWord(value, u"end") ||
                IsWord(value, u"object")) {
                Fail(value.line, u"property " + property.name + u": expected a value, found " +
                                     Describe(value));
            }
            property.value = value.value;
            object.properties.push_back(std::move(property));
        }
        const StreamToken& rest = Next();
        if (rest.kind != StreamToken::Kind::End) {
            Fail(rest.line, u"unexpected " + Describe(rest) + u" after 'end'");
        }
        return object;
    }

private:
    const StreamToken& Peek() const { return tokens_[pos_]; }

    // The last token, the end of the text, is returned again and again.
    const StreamToken& Next() {
        const StreamToken& token = tokens_[pos_];
        if (pos_ + 1 < tokens_.size()) ++pos_;
        return token;
    }

    UnicodeString ExpectIdent(const UnicodeString& what) {
        const StreamToken& token = Next();
        if (!IsIdent(token)) Fail(token.line, u"expected " + what + u", found " + Describe(token));
        return token.value.ident;
    }

    std::vector<StreamToken> tokens_;
    std::size_t pos_ = 0;
};

// Finds each property in the class and refuses unknown and repeated ones.
void Resolve(ParsedObject& object, const TComponentClass& cls) {
    for (std::size_t i = 0; i < object.properties.size(); ++i) {
        ParsedProperty& property = object.properties[i];
        property.info = cls.FindProperty(property.name);
        if (property.info == nullptr) {
            Fail(property.line,
                 u"property " + property.name + u" does not exist in class " + cls.Name());
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (object.properties[j].info == property.info) {
                Fail(property.line, u"property " + property.name +
                                        u" is given twice (first on line " +
                                        IntToStr(object.properties[j].line) + u")");
            }
        }
    }
}

UnicodeString CurrentMessage() {
    try {
        throw;
    } catch (const Exception& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return Utf8ToUnicode(e.what());
    } catch (...) {
        return u"unknown exception";
    }
}

// Wraps the exception being handled in an EReadError that says where.
[[noreturn]] void RethrowAt(int line, const UnicodeString& what) {
    std::throw_with_nested(EReadError(AtLine(line) + what + u": " + CurrentMessage()));
}

void Apply(const ParsedObject& object, const TComponentClass& cls, TComponent& component) {
    for (const TPropInfo* info : cls.Properties()) {
        for (const ParsedProperty& property : object.properties) {
            if (property.info != info) continue;
            try {
                info->SetValue(component, property.value);
            } catch (...) {
                RethrowAt(property.line, u"property " + info->Name());
            }
        }
    }
}

void CheckNameFree(const ParsedObject& object, const TComponent* owner, const TComponent* self) {
    if (object.name.empty() || owner == nullptr) return;
    const TComponent* other = owner->FindComponent(object.name);
    if (other != nullptr && other != self) {
        Fail(object.headerLine, u"a component named " + object.name + u" already exists");
    }
}

void SetNameAt(const ParsedObject& object, TComponent& component) {
    try {
        component.SetName(object.name);
    } catch (...) {
        RethrowAt(object.headerLine, u"name " + object.name);
    }
}

}  // namespace

std::string WriteComponent(const TComponent& component) {
    const TComponentClass& cls = component.ClassType();
    std::string out = "object ";
    if (!component.Name().empty()) out += UnicodeToUtf8(component.Name()) + ": ";
    out += UnicodeToUtf8(cls.Name()) + "\n";
    for (const TPropInfo* info : cls.Properties()) {
        if (!info->IsStored(component)) continue;
        out += "  " + UnicodeToUtf8(info->Name()) + " = " + info->GetText(component) + "\n";
    }
    out += "end\n";
    return out;
}

TComponent* ReadComponent(const std::string& text, TComponent* owner) {
    ParsedObject object = Parser(text).Parse();
    const TComponentClass* cls = FindClass(object.className);
    if (cls == nullptr)
        Fail(object.headerLine, u"class " + object.className + u" is not registered");
    if (cls->IsAbstract()) Fail(object.headerLine, u"class " + object.className + u" is abstract");
    Resolve(object, *cls);
    CheckNameFree(object, owner, nullptr);

    std::unique_ptr<TComponent> instance;
    try {
        instance.reset(cls->Create(owner));
    } catch (...) {
        RethrowAt(object.headerLine, u"creating " + cls->Name());
    }
    Apply(object, *cls, *instance);
    SetNameAt(object, *instance);
    return instance.release();
}

void ReadComponentInto(const std::string& text, TComponent& component) {
    ParsedObject object = Parser(text).Parse();
    const TComponentClass& cls = component.ClassType();
    bool related = false;
    for (const TComponentClass* c = &cls; c != nullptr && !related; c = c->Parent()) {
        related = SameTextAscii(c->Name(), object.className);
    }
    if (!related) {
        Fail(object.headerLine,
             u"the text describes a " + object.className + u", which a " + cls.Name() + u" is not");
    }
    Resolve(object, cls);
    CheckNameFree(object, component.Owner(), &component);
    Apply(object, cls, component);
    if (!object.name.empty()) SetNameAt(object, component);
}

}  // namespace tarn::host
