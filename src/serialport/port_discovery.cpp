// The ports present on the machine, read afresh from the system's port list
// at every call. Nothing here touches a field of the component except the
// atomic settings of the presence check, so these run on any thread, at the
// same time as each other.
#include <memory>
#include <utility>
#include <vector>

#include "Tarnserialport.h"
#include "Tarnserialport_p.h"
#include "host_registry.h"
#include "host_stringlist.h"
#include "port_list_p.h"
#include "port_registry.h"

using tarn::host::TRegistry;
using tarn::host::TStringList;
using tarn::host::TStrings;
using tarn::host::UnicodeString;

namespace {

// Calls `visit` with the data of each value of the port list, in the order
// the registry gives them. A missing key visits nothing. A value that is not
// a string raises the registry's error, which reaches the caller.
template <typename Visit>
void ForEachListedPort(Visit visit) {
    // The registry as the port layer shows it, with the virtual ports.
    TRegistry registry(&tarn::driver::ReadRegistryKey);
    registry.SetRootKey(tarn::host::HKEY_LOCAL_MACHINE);
    if (!registry.OpenKeyReadOnly(tarn::driver::kSerialCommKey)) return;
    TStringList names;
    registry.GetValueNames(names);
    for (int i = 0; i < names.Count(); ++i) visit(registry.ReadString(names[i]));
    registry.CloseKey();
}

// A value's data as the list of names holds it: in capitals, trimmed.
UnicodeString ListedName(const UnicodeString& data) {
    return tarn::host::AnsiToUnicode(
        tarn::host::Trim(tarn::host::UnicodeToAnsi(tarn::host::UpperCaseAscii(data))));
}

}  // namespace

std::vector<UnicodeString> ReadPortListNames() {
    std::vector<UnicodeString> names;
    ForEachListedPort([&](const UnicodeString& data) {
        UnicodeString name = ListedName(data);
        if (!name.empty()) names.push_back(std::move(name));
    });
    return names;
}

TCommPortSet TTarnSerialPort::GetExistingCommPorts() {
    TCommPortSet ports;
    ForEachListedPort([&](const UnicodeString& data) {
        const TCommPort id = StringToCommPort(tarn::host::UnicodeToAnsi(data));
        if (id != spNone) ports.Include(id);
    });
    return ports;
}

void TTarnSerialPort::GetExistingCommPortNames(TStrings& Strings) {
    Strings.Clear();
    for (const UnicodeString& name : ReadPortListNames()) Strings.Add(name);
}

bool TTarnSerialPort::IsExistingCommPort(const UnicodeString& pport) {
    // The presence check asks this on every idle poll, nearly always of a
    // port that is there; where the system can vouch for that port alone,
    // the rest of the list is not read.
    const UnicodeString wanted = tarn::host::UpperCaseAscii(pport);
    for (const UnicodeString& data : tarn::driver::ListedPortsNamed(pport)) {
        const UnicodeString name = ListedName(data);
        if (!name.empty() && tarn::host::SameTextAscii(name, wanted)) return true;
    }
    TStringList names;
    GetExistingCommPortNames(names);
    return names.IndexOf(tarn::host::UpperCaseAscii(pport)) >= 0;
}

bool TTarnSerialPortPrivate::PortHasVanished(const AnsiString& openedName) const {
    if (!ReceiveSettings().presenceChecked) return false;
    // The name of a COMn port is looked up in its plain form, whatever the
    // letter case it was opened in; a custom name as it was opened.
    const TCommPort id = CommPortOfName(openedName);
    const AnsiString name = id == spCustom ? openedName : q->CommPortToString(id);
    return !q->IsExistingCommPort(tarn::host::AnsiToUnicode(name));
}
