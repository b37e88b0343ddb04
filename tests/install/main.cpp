// Built against the installed package only, as an application is: puts the
// component on the palette through Register, creates it by class name as a
// designer does, lets it find, open, drive, send to and close a virtual port,
// and reads the palette image back. Exits non-zero, saying what failed, when
// anything does.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "Tarnserialport.h"
#include "host_class_registry.h"
#include "palette_bitmap.h"
#include "port_details.h"
#include "register.h"
#include "virtual_port.h"

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "tarn_install_check: %s\n", what);
    ++failures;
}

void UseTheComponent() {
    Register();
    const tarn::host::TComponentClass* cls = tarn::host::FindClass(u"TTarnSerialPort");
    Check(cls != nullptr, "Register did not put the component on the palette");
    if (cls == nullptr) return;
    std::unique_ptr<tarn::host::TComponent> component(cls->Create(nullptr));
    auto* port = dynamic_cast<TTarnSerialPort*>(component.get());
    Check(port != nullptr, "the registered class does not create the component");
    if (port == nullptr) return;

    tarn::driver::VirtualPort device("VCOM67", {"Install check", "0403", "6001", "TARN67", "", ""});
    Check(port->IsExistingCommPort(u"VCOM67"), "the component does not see a port that is present");
    const auto details = tarn::FindPort(*tarn::ParsePortMatch("usb:0403:6001:TARN67"));
    Check(details && details->name == "VCOM67" && details->description == "Install check" &&
              tarn::ListPortDetails().size() >= 1,
          "the port details do not find the port by its USB ids");
    port->SetCustomPortName(details ? details->name : "VCOM67");
    port->SetPort(spCustom);
    port->Open();
    Check(port->IsConnected() == spCustom && device.IsOpen(),
          "the component did not open the port");
    Check(port->SetDTR(true) && device.Dtr(), "the component did not raise DTR");
    Check(port->SendString("ping") == 4 && device.TakeWritten() == "ping",
          "the port did not receive what the component sent");
    port->Close();
    Check(port->IsConnected() == spNone && !device.IsOpen(),
          "the component did not close the port");
    device.Remove();
    Check(!port->IsExistingCommPort(u"VCOM67"), "the component sees a port that has gone");
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
        UseTheComponent();
    } catch (...) {
        Check(false, "the component raised an exception");
    }
    ReadPaletteImage();
    if (failures == 0) std::printf("tarn_install_check: the installed package works\n");
    return failures == 0 ? 0 : 1;
}
