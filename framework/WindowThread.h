#pragma once

#include <functional>

namespace velmora {

// The thread of the program's windows: the one that runs the application's event loop.
//
// Work that runs on another thread (the report's) and must show something to the operator, a box
// or a dialog, hands that to the window's thread and waits for the answer: message boxes and the
// save dialog do so by themselves.

// Whether the caller runs on the window's thread; true while there is no application.
bool OnWindowThread();

// Runs `work` on the window's thread and returns once it is done: at once where the caller is on
// that thread (or there is no application). From another thread it waits until the window's
// event loop runs it, so the window's thread must never wait for the caller without running its
// event loop.
void RunOnWindowThread(const std::function<void()>& work);

}  // namespace velmora
