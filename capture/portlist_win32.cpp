// CB_PortList: the port list dialog's table callback. While the dialog is set
// up it scans the serial ports into the table "ports", with "Scanning Ports..."
// in the status field meanwhile.
#include "capture/cable.h"
#include "host/vok.h"

extern "C" __declspec(dllexport) std::intptr_t
    CB_PortList(HVOKDLG dlg, int message, std::intptr_t v1, std::intptr_t v2) {
    if (message == VOK_ATTACH) {
        HQUOR store = static_cast<HQUOR>(vokGetInfo(dlg, VOK_INFO_TABLE_STORE));
        const int status = vokGetIndexFromTag(dlg, "_Status");
        vokSetItem(dlg, status, "Scanning Ports...", -1);
        zav::ScanPorts(store, "ports");
        vokSetItem(dlg, status, "", -1);
    }
    return vokCtlDefProc(dlg, message, v1, v2);
}
