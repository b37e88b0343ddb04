// Reading a stored form into a TTarnSerialPort. Any text is either read or
// refused with EReadError, and a refused text leaves nothing in the owner.
// A text that is read writes a form that reads back to a component writing
// the same form, and reading the text into a fresh component gives the same
// component as creating one from it.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "Tarnserialport.h"
#include "fuzz_check.h"
#include "host_class_registry.h"
#include "host_exception.h"
#include "host_stream.h"

namespace {

using tarn::fuzz::Quoted;
using tarn::fuzz::Require;
using tarn::host::TComponent;

// The owner of every component read: it knows one handler of each event
// type, and one that fits none, so that forms can name them.
TComponent& Form() {
    static TComponent* form = [] {
        tarn::host::RegisterClass(TTarnSerialPort::StaticClass());
        auto* owner = new TComponent(nullptr);
        owner->SetName(u"Form1");
        owner->RegisterMethod<void(TTarnSerialPort*, std::string)>(
            u"SerialPort1Receive", [](TTarnSerialPort*, std::string) {});
        owner->RegisterMethod<void(TTarnSerialPort*, TCommPort)>(
            u"SerialPort1Connect", [](TTarnSerialPort*, TCommPort) {});
        owner->RegisterMethod<void(TTarnSerialPort*, TLineStatusSet)>(
            u"SerialPort1LineStatus", [](TTarnSerialPort*, TLineStatusSet) {});
        owner->RegisterMethod<void()>(u"Form1Click", [] {});
        return owner;
    }();
    return *form;
}

// Reads `text` as a new component of the form; null when it is refused.
std::unique_ptr<TComponent> ReadNew(const std::string& text) {
    try {
        return std::unique_ptr<TComponent>(tarn::host::ReadComponent(text, &Form()));
    } catch (const tarn::host::EReadError&) {
        Require(Form().ComponentCount() == 0, "a refused form leaves a component behind");
        return nullptr;
    } catch (const std::exception& e) {
        Require(false,
                std::string("reading a form raised another error than EReadError: ") + e.what());
    }
    return nullptr;
}

// Reads `text` into a fresh component of the form; the text it writes
// then, or nothing when the text is refused.
bool ReadIntoFresh(const std::string& text, std::string& written) {
    TTarnSerialPort port(&Form());
    try {
        tarn::host::ReadComponentInto(text, port);
    } catch (const tarn::host::EReadError&) {
        return false;
    } catch (const std::exception& e) {
        Require(false, std::string("reading into a component raised another error than "
                                   "EReadError: ") +
                           e.what());
    }
    written = tarn::host::WriteComponent(port);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<TComponent> read = ReadNew(text);
    if (!read) {
        std::string ignored;
        ReadIntoFresh(text, ignored);
        return 0;
    }
    Require(dynamic_cast<TTarnSerialPort*>(read.get()) != nullptr && read->Owner() == &Form() &&
                Form().ComponentCount() == 1,
            "a form read gives one TTarnSerialPort of the owner");
    const std::string written = tarn::host::WriteComponent(*read);
    read.reset();

    std::unique_ptr<TComponent> again = ReadNew(written);
    Require(again != nullptr, "the written form is refused: " + Quoted(written));
    const std::string rewritten = tarn::host::WriteComponent(*again);
    Require(rewritten == written,
            "a form read back writes " + Quoted(rewritten) + " instead of " + Quoted(written));
    again.reset();

    std::string into;
    Require(ReadIntoFresh(text, into),
            "reading into a fresh component refuses a form that "
            "creating one takes: " +
                Quoted(text));
    Require(into == written, "reading into a fresh component gives " + Quoted(into) +
                                 " where creating one gives " + Quoted(written));
    return 0;
}
