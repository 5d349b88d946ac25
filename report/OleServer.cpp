#include "OleServer.h"

#include "report/ConnectionPoint.h"
#include "report/OleCheck.h"

namespace velmora {

// The sink that the server's events arrive at. It outlives its component when the server still
// holds it (an advice that could not be taken back): then events are dropped.
class TEventDispatcher final : public TComObject<IEventSink> {
public:
    explicit TEventDispatcher(TOleServer* server) : server_(server) {}
    void Detach() { server_ = nullptr; }

    HRESULT Invoke(std::int32_t dispId, std::span<TVariant> params) override {
        if (server_ != nullptr) {
            server_->InvokeEvent(dispId, params);
        }
        return S_OK;
    }

private:
    TOleServer* server_;
};

namespace {

QString MessageFor(HRESULT hr) {
    const QString message = SystemMessage(hr).trimmed();
    return !message.isEmpty() ? message
                              : QStringLiteral("Fehler %1")
                                    .arg(static_cast<std::uint32_t>(hr), 8, 16, QLatin1Char('0'));
}

// The connection point for `iid` of a server, or empty.
TComInterface<IConnectionPoint> FindPoint(IUnknown* server, const GUID& iid) {
    TComInterface<IConnectionPoint> point;
    if (server == nullptr) {
        return point;
    }
    IConnectionPointContainer* container = nullptr;
    if (FAILED(server->QueryInterface(IConnectionPointContainer::IID,
                                      reinterpret_cast<void**>(&container))) ||
        container == nullptr) {
        return point;
    }
    IConnectionPoint* found = nullptr;
    if (SUCCEEDED(container->FindConnectionPoint(iid, &found)) && found != nullptr) {
        point = TComInterface<IConnectionPoint>(found);
        found->Release();  // `point` holds its own reference
    }
    container->Release();
    return point;
}

}  // namespace

TOleServer::TOleServer(TComponent* owner)
    : TComponent(owner), dispatcher_(new TEventDispatcher(this)) {
    dispatcher_->AddRef();
}

TOleServer::~TOleServer() {
    dispatcher_->Detach();
    dispatcher_->Release();
    if (FServerData != nullptr) {
        --FServerData->InstanceCount;
    }
}

TConnectKind TOleServer::ConnectKind() const {
    return remoteMachineName_.isEmpty() ? connectKind_ : ckRemote;
}

bool TOleServer::AutoConnect() const {
    return autoConnect_ && ConnectKind() != ckAttachToInterface;
}

TServerRegistry& TOleServer::ServerRegistry() const {
    return registry_ != nullptr ? *registry_ : TServerRegistry::Instance();
}

IUnknownPtr TOleServer::GetServer() {
    TServerRegistry& registry = ServerRegistry();
    const GUID& clsid = FServerData->ClassID;
    IUnknownPtr server;
    IUnknown* found = nullptr;
    HRESULT hr = S_OK;
    switch (ConnectKind()) {
        case ckRunningOrNew:
            if (SUCCEEDED(registry.GetActiveObject(clsid, &found))) {
                break;
            }
            [[fallthrough]];
        case ckNewInstance:
            hr = registry.CreateInstance(clsid, &found);
            if (FAILED(hr)) {
                throw EOleSysError(MessageFor(hr), hr);
            }
            break;
        case ckRunningInstance:
            hr = registry.GetActiveObject(clsid, &found);
            if (FAILED(hr)) {
                QString progId;
                registry.ProgIDFromCLSID(clsid, &progId);
                throw EOleSysError(QStringLiteral("Es läuft keine Instanz von %1 %2.")
                                       .arg(progId, StringFromCLSID(clsid))
                                       .simplified(),
                                   hr);
            }
            break;
        case ckRemote:
            hr = registry.CreateRemoteInstance(clsid, remoteMachineName_, &found);
            if (FAILED(hr)) {
                throw EOleSysError(MessageFor(hr), hr);
            }
            break;
        case ckAttachToInterface:
            break;
    }
    if (found != nullptr) {
        server = IUnknownPtr(found);
        found->Release();  // `server` holds its own reference
    }
    return server;
}

void TOleServer::Loaded() {
    TComponent::Loaded();
    if (!IsDesigning() && AutoConnect()) {
        Connect();
    }
}

void TOleServer::ConnectEvents(IUnknown* server) {
    const TComInterface<IConnectionPoint> point = FindPoint(server, FServerData->EventIID);
    std::uint32_t cookie = 0;
    if (point && SUCCEEDED(point.get()->Advise(dispatcher_, &cookie))) {
        eventConnection_ = cookie;
    }
}

void TOleServer::DisconnectEvents(IUnknown* server) {
    if (eventConnection_ == 0) {
        return;
    }
    const TComInterface<IConnectionPoint> point = FindPoint(server, FServerData->EventIID);
    if (point && SUCCEEDED(point.get()->Unadvise(eventConnection_))) {
        eventConnection_ = 0;
    }
}

}  // namespace velmora
