// Built against the installed package only, as an application is: puts the
// component on the palette through Register, creates it by class name as a
// designer does, lets it find, open and close a virtual port, exchanges bytes
// with such a port through the driver seam, and reads the palette image
// back. Exits non-zero, saying what failed, when anything does.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "Tarnserialport.h"
#include "host_class_registry.h"
#include "palette_bitmap.h"
#include "register.h"
#include "serial_driver.h"
#include "virtual_port.h"

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "tarn_install_check: %s\n", what);
    ++failures;
}

void FindThePortThroughTheComponent() {
    Register();
    const tarn::host::TComponentClass* cls = tarn::host::FindClass(u"TTarnSerialPort");
    Check(cls != nullptr, "Register did not put the component on the palette");
    if (cls == nullptr) return;
    std::unique_ptr<tarn::host::TComponent> component(cls->Create(nullptr));
    auto* port = dynamic_cast<TTarnSerialPort*>(component.get());
    Check(port != nullptr, "the registered class does not create the component");
    if (port == nullptr) return;

    tarn::driver::VirtualPort device("VCOM67");
    Check(port->IsExistingCommPort(u"VCOM67"), "the component does not see a port that is present");
    port->SetCustomPortName("VCOM67");
    port->SetPort(spCustom);
    port->Open();
    Check(port->IsConnected() == spCustom && device.IsOpen(),
          "the component did not open the port");
    Check(port->SetDTR(true) && device.Dtr(), "the component did not raise DTR");
    port->Close();
    Check(port->IsConnected() == spNone && !device.IsOpen(),
          "the component did not close the port");
    device.Remove();
    Check(!port->IsExistingCommPort(u"VCOM67"), "the component sees a port that has gone");
}

void ExchangeBytes() {
    using namespace tarn::driver;
    VirtualPort port("VCOM68");
    HANDLE handle = CreateFileA("\\\\.\\VCOM68");
    Check(handle != INVALID_HANDLE_VALUE, "the virtual port does not open");
    if (handle == INVALID_HANDLE_VALUE) return;

    std::uint32_t written = 0;
    Check(WriteFile(handle, "ping", 4, &written) && written == 4, "writing fails");
    Check(port.TakeWritten() == "ping", "the port did not receive what was written");

    port.Inject("pong");
    char buffer[8] = {};
    std::uint32_t read = 0;
    Check(ReadFile(handle, buffer, 4, &read) && read == 4, "reading fails");
    Check(std::string(buffer, read) == "pong", "the program did not receive what the port sent");
    Check(CloseHandle(handle), "closing fails");
    Check(!port.IsOpen(), "the port stays open after closing");
}

void ReadPaletteImage() {
    tarn::package::ResourceBytes bytes;
    Check(tarn::package::FindBitmapResource("TTARNSERIALPORT", bytes),
          "the palette image is missing");
    if (bytes.size < 40) return;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t bitCount = 0;
    std::memcpy(&width, bytes.data + 4, sizeof width);
    std::memcpy(&height, bytes.data + 8, sizeof height);
    std::memcpy(&bitCount, bytes.data + 14, sizeof bitCount);
    Check(width == 24 && height == 24 && bitCount == 8,
          "the palette image is not 24 x 24 with 8 bits per pixel");
}

}  // namespace

int main() {
    try {
        FindThePortThroughTheComponent();
    } catch (...) {
        Check(false, "the component raised an exception");
    }
    ExchangeBytes();
    ReadPaletteImage();
    if (failures == 0) std::printf("tarn_install_check: the installed package works\n");
    return failures == 0 ? 0 : 1;
}
