#pragma once

#include "report/OleServer.h"
#include "report/Word_2K.h"

#include <functional>

namespace velmora {

// An event of the word processor: the sender and the event's arguments (by reference, so that
// a handler can set a Cancel flag the server reads back).
using TWordApplicationEvent = std::function<void(TComponent* Sender, std::span<TVariant> Params)>;

// The connection to one word processor instance, through its `_Application` interface.
//
// Connected exactly while the default interface is not empty. Disconnect asks the connected
// instance to quit, also when it was running before the program attached to it; destruction
// disconnects. Each property wrapper connects on demand first.
class TWordApplication : public TOleServer {
public:
    explicit TWordApplication(TComponent* owner);
    ~TWordApplication() override;

    void InitServerData() override;
    void InvokeEvent(int dispId, std::span<TVariant> params) override;
    void Connect() override;
    void Disconnect() override;
    void BeforeDestruction() override;
    // Attaches an interface the caller already holds (after disconnecting from any other).
    void ConnectTo(const Word_2k::_ApplicationPtr& intf);

    bool Connected() const { return bool(FIntf); }
    Word_2k::_ApplicationPtr GetDefaultInterface();

    // Property wrappers; the setter's result is dropped, the getters are guarded calls.
    void Set_Visible(TOLEBOOL value);
    Word_2k::DocumentsPtr Get_Documents();
    Word_2k::SelectionPtr Get_Selection();
    Word_2k::WordDocumentPtr Get_ActiveDocument();

    // Events by number: 1 to 4, 6 to 14; no others.
    TWordApplicationEvent OnStartup;                  // 1
    TWordApplicationEvent OnQuit;                     // 2
    TWordApplicationEvent OnDocumentChange;           // 3
    TWordApplicationEvent OnDocumentOpen;             // 4
    TWordApplicationEvent OnDocumentBeforeClose;      // 6
    TWordApplicationEvent OnDocumentBeforePrint;      // 7
    TWordApplicationEvent OnDocumentBeforeSave;       // 8
    TWordApplicationEvent OnNewDocument;              // 9
    TWordApplicationEvent OnWindowActivate;           // 10
    TWordApplicationEvent OnWindowDeactivate;         // 11
    TWordApplicationEvent OnWindowSelectionChange;    // 12
    TWordApplicationEvent OnWindowBeforeRightClick;   // 13
    TWordApplicationEvent OnWindowBeforeDoubleClick;  // 14

    // The word processor's class: {000209FF-0000-0000-C000-000000000046}, default interface
    // `_Application`, event interface {000209FE-0000-0000-C000-000000000046}.
    static TServerData CServerData;

private:
    Word_2k::_ApplicationPtr FIntf;
};

}  // namespace velmora
