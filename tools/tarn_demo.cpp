// A small demonstration of the driver layer on a virtual port: a simulated
// instrument answers an identification query, and its modem lines and a
// removal are shown as a program sees them through the driver.
#include <cstdio>
#include <string>

#include "serial_driver.h"
#include "virtual_port.h"

namespace drv = tarn::driver;

namespace {

std::string ReadQueued(drv::HANDLE h) {
    drv::COMSTAT stat{};
    if (!drv::ClearCommError(h, nullptr, &stat) || stat.cbInQue == 0) return {};
    std::string data(stat.cbInQue, '\0');
    std::uint32_t got = 0;
    if (!drv::ReadFile(h, &data[0], stat.cbInQue, &got)) return {};
    data.resize(got);
    return data;
}

}  // namespace

int main() {
    drv::VirtualPort instrument("VCOM7");
    std::printf("created virtual port %s\n", instrument.Name().c_str());

    const drv::HANDLE h = drv::CreateFileA("\\\\.\\VCOM7");
    if (h == drv::INVALID_HANDLE_VALUE) {
        std::printf("open failed: %s\n", drv::SysErrorMessage(drv::GetLastError()).c_str());
        return 1;
    }
    drv::DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Flags = drv::DCB_fBinary | (drv::DTR_CONTROL_ENABLE << drv::DCB_fDtrControlShift);
    drv::SetCommState(h, dcb);
    std::printf("opened at %u bit/s, DTR %s\n", dcb.BaudRate, instrument.Dtr() ? "on" : "off");

    std::uint32_t written = 0;
    drv::WriteFile(h, "*IDN?\r\n", 7, &written);
    std::string query = instrument.TakeWritten();
    std::printf("instrument received %zu bytes\n", query.size());
    if (query == "*IDN?\r\n") instrument.Inject("Tarnwerk,Demo Instrument,0001,1.0\r\n");
    std::printf("answer: %s", ReadQueued(h).c_str());

    instrument.SetModemStatus(drv::MS_CTS_ON | drv::MS_DSR_ON);
    std::uint32_t status = 0;
    drv::GetCommModemStatus(h, &status);
    std::printf("modem lines: CTS %s, DSR %s\n", (status & drv::MS_CTS_ON) ? "on" : "off",
                (status & drv::MS_DSR_ON) ? "on" : "off");

    instrument.Remove();
    drv::COMSTAT stat{};
    if (!drv::ClearCommError(h, nullptr, &stat)) {
        std::printf("after removal: %s\n", drv::SysErrorMessage(drv::GetLastError()).c_str());
    }
    drv::CloseHandle(h);
    return 0;
}
