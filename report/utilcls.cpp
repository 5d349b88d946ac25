#include "utilcls.h"

#include "framework/MessageBox.h"
#include "report/OleCheck.h"

namespace velmora {
namespace {

constexpr char kCheckFile[] = "utilcls";

}  // namespace

QString StringFromCLSID(const GUID& id) {
    QString text = QStringLiteral("{%1-%2-%3-")
                       .arg(id.Data1, 8, 16, QLatin1Char('0'))
                       .arg(id.Data2, 4, 16, QLatin1Char('0'))
                       .arg(id.Data3, 4, 16, QLatin1Char('0'));
    for (int i = 0; i < 8; ++i) {
        if (i == 2) {
            text += QLatin1Char('-');
        }
        text += QStringLiteral("%1").arg(id.Data4[i], 2, 16, QLatin1Char('0'));
    }
    return text.toUpper() + QLatin1Char('}');
}

WideString WideFileName(const QString& path) {
    WideString name(path);
    const int size = name.Length();
    if (_ASSERTE(size != 0) == IDCANCEL) {
        DebugBreak();
    }
    return name;
}

bool InterfaceNotEmpty(const void* intf) {
    return _ASSERTE(intf != 0) == 0;
}

bool PlaceStillEmpty(const void* intf) {
    // The condition's text is shown as written.
    // clang-format off
    return _ASSERTE(intf==0) == 0;
    // clang-format on
}

HRESULT QueryInterfaceChecked(IUnknown* src, const GUID& iid, void** intf) {
    const auto GetIID = [&iid]() -> const GUID& { return iid; };
    *intf = nullptr;
    if (_ASSERTE(GetIID() != GUID_NULL) != 0 || !InterfaceNotEmpty(src)) {
        return E_NOINTERFACE;
    }
    return HRCHECK(src->QueryInterface(GetIID(), (void**)(intf)),
                   "src->QueryInterface(GetIID(), (LPVOID*)(&intf))");
}

TVariant TVariant::Bool(bool value) {
    TVariant v;
    v.vt = VT_BOOL;
    v.lVal = value ? OLE_TRUE : OLE_FALSE;
    return v;
}

TVariant TVariant::Unknown(IUnknown* object) {
    TVariant v;
    v.vt = VT_UNKNOWN;
    v.punkVal = IUnknownPtr(object);
    return v;
}

}  // namespace velmora
