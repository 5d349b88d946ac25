#include "WordApplication.h"

#include "report/OleCheck.h"

namespace velmora {

using namespace Word_2k;

TServerData TWordApplication::CServerData = {CLSID_WordApplication, _Application::IID,
                                             DIID_ApplicationEvents, 0};

TWordApplication::TWordApplication(TComponent* owner) : TOleServer(owner) {
    InitServerData();
    ++FServerData->InstanceCount;
}

TWordApplication::~TWordApplication() {
    try {
        BeforeDestruction();
        Disconnect();
    } catch (...) {
        // Nothing can be reported any more while the window goes away.
        FIntf.Reset();
    }
}

void TWordApplication::InitServerData() {
    FServerData = &CServerData;
}

void TWordApplication::BeforeDestruction() {
    Disconnect();
}

void TWordApplication::InvokeEvent(int dispId, std::span<TVariant> params) {
    TWordApplicationEvent* const events[] = {
        nullptr,
        &OnStartup,
        &OnQuit,
        &OnDocumentChange,
        &OnDocumentOpen,
        nullptr,
        &OnDocumentBeforeClose,
        &OnDocumentBeforePrint,
        &OnDocumentBeforeSave,
        &OnNewDocument,
        &OnWindowActivate,
        &OnWindowDeactivate,
        &OnWindowSelectionChange,
        &OnWindowBeforeRightClick,
        &OnWindowBeforeDoubleClick,
    };
    if (dispId < 0 || dispId >= int(std::size(events)) || events[dispId] == nullptr) {
        return;
    }
    if (const TWordApplicationEvent& event = *events[dispId]) {
        event(this, params);
    }
}

void TWordApplication::Connect() {
    if (FIntf) {
        return;
    }
    const IUnknownPtr punk = GetServer();
    if (!punk) {
        return;  // nothing to attach to (ckAttachToInterface)
    }
    _ApplicationPtr intf;
    intf.QueryFrom(punk.get());
    if (!intf) {
        return;  // reported by the guarded query; the component stays disconnected
    }
    FIntf = intf;
    if (FServerData->EventIID != GUID_NULL) {
        IUnknownPtr root;
        root.QueryFrom(FIntf.get());
        ConnectEvents(root.get());
    }
}

void TWordApplication::ConnectTo(const _ApplicationPtr& intf) {
    Disconnect();
    FIntf = intf;
    if (FIntf && FServerData->EventIID != GUID_NULL) {
        ConnectEvents(FIntf.get());
    }
}

void TWordApplication::Disconnect() {
    if (!FIntf) {
        return;
    }
    FIntf.Quit();
    if (FServerData->EventIID != GUID_NULL) {
        DisconnectEvents(FIntf.get());
    }
    FIntf.Reset();
}

_ApplicationPtr TWordApplication::GetDefaultInterface() {
    if (!FIntf) {
        Connect();
    }
    return FIntf;
}

void TWordApplication::Set_Visible(TOLEBOOL value) {
    GetDefaultInterface().set_Visible(value);
}

DocumentsPtr TWordApplication::Get_Documents() {
    return GetDefaultInterface().get_Documents();
}

SelectionPtr TWordApplication::Get_Selection() {
    return GetDefaultInterface().get_Selection();
}

WordDocumentPtr TWordApplication::Get_ActiveDocument() {
    return GetDefaultInterface().get_ActiveDocument();
}

}  // namespace velmora
