#pragma once
// "Let pending window messages run": Qt's events and the core message loop's queue.

namespace qv::app {

// Runs what is pending now, without user input (a long operation must not start another).
void PumpMessages();

// Binds the core message loop to the Qt UI thread and makes posted work wake Qt's event loop.
void ConnectMessageLoop();

}  // namespace qv::app
