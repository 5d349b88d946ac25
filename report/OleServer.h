#pragma once

#include "framework/Component.h"
#include "report/ServerRegistry.h"
#include "report/utilcls.h"

#include <QString>

#include <span>

namespace velmora {

// How Connect finds its server.
enum TConnectKind {
    ckRunningOrNew,       // the running instance, else a new one
    ckNewInstance,        // always a new instance
    ckRunningInstance,    // only the running instance
    ckRemote,             // a new instance on RemoteMachineName
    ckAttachToInterface,  // none: the owner attaches an interface it already has
};

// What identifies a server class; one record per class, shared by its components.
struct TServerData {
    GUID ClassID;
    GUID IntfIID;           // the default interface
    GUID EventIID;          // the event interface; GUID_NULL for none
    int InstanceCount = 0;  // live components of the class
};

class TEventDispatcher;

// A component that holds the connection to one automation server.
//
// Lifecycle: disconnected at first; Connect (explicitly, or on demand through a derived class's
// property wrappers) makes it connected, and only Disconnect or destruction disconnects it.
// While connected it does not notice that the server has gone away: calls then fail with their
// result codes. With AutoConnect, the component connects once the stored layout is loaded.
//
// A derived class supplies the server data (InitServerData, from its constructor), the default
// interface and the events; Connect and Disconnect are its.
class TOleServer : public TComponent {
public:
    explicit TOleServer(TComponent* owner);
    ~TOleServer() override;

    // ckRemote whenever RemoteMachineName is not empty.
    TConnectKind ConnectKind() const;
    void SetConnectKind(TConnectKind value) { connectKind_ = value; }
    // False while ConnectKind is ckAttachToInterface.
    bool AutoConnect() const;
    void SetAutoConnect(bool value) { autoConnect_ = value; }
    const QString& RemoteMachineName() const { return remoteMachineName_; }
    void SetRemoteMachineName(const QString& value) { remoteMachineName_ = value; }

    // Where servers are found: the program's registry unless another one is set.
    TServerRegistry& ServerRegistry() const;
    void SetServerRegistry(TServerRegistry* registry) { registry_ = registry; }

    const TServerData* ServerData() const { return FServerData; }
    // The cookie of the event connection; 0 when there is none.
    std::uint32_t EventConnection() const { return eventConnection_; }

    virtual void InitServerData() = 0;
    // The server's root interface by ConnectKind (empty for ckAttachToInterface). Raises
    // EOleSysError when no server can be had.
    virtual IUnknownPtr GetServer();
    // Passes an event received from the server to the matching event property.
    virtual void InvokeEvent(int dispId, std::span<TVariant> params) = 0;
    virtual void Connect() = 0;
    virtual void Disconnect() = 0;
    // Runs before the component is destroyed (a derived destructor calls it).
    virtual void BeforeDestruction() {}

protected:
    void Loaded() override;

    // Advises the event dispatcher at the server's connection point for the event interface;
    // any failure leaves the component without events, silently.
    void ConnectEvents(IUnknown* server);
    // Takes the advice back; the cookie is cleared on success, failures are silent.
    void DisconnectEvents(IUnknown* server);

    TServerData* FServerData = nullptr;

private:
    TConnectKind connectKind_ = ckRunningOrNew;
    bool autoConnect_ = false;
    QString remoteMachineName_;
    TServerRegistry* registry_ = nullptr;
    TEventDispatcher* dispatcher_ = nullptr;  // holds one reference while the component lives
    std::uint32_t eventConnection_ = 0;
};

}  // namespace velmora
