#pragma once

#include "framework/Control.h"

#include <QString>

#include <exception>
#include <functional>

namespace velmora {

// The application title: what the task bar and the standard error box show.
void SetApplicationTitle(const QString& title);

// What the message loop does with an error that escapes an event handler: it shows the error in
// the standard error box and carries on.
void HandleException(const std::exception& error);

// Runs an event handler as the message loop runs it: an error that escapes the outermost
// handler is shown in the standard error box and the program goes on. Handlers run nested inside
// another handler (a radio button checked from code) let the error pass to the outer one, which
// then stops too, as the classic loop would.
void RunHandler(const std::function<void()>& handler);

// An event handler bound to a method, run through RunHandler.
template <typename Owner>
TNotifyEvent Handler(Owner* owner, void (Owner::*method)(TComponent*)) {
    return [owner, method](TComponent* sender) { RunHandler([&] { (owner->*method)(sender); }); };
}

}  // namespace velmora
