#pragma once

#include <string>

namespace Tav {

// Show states of the main window as the process is told to show it.
constexpr int ShowNormal = 1;
constexpr int ShowMinimized = 2;
constexpr int ShowMaximized = 3;

// Makes SIGINT and SIGTERM close the main window as File > Exit does, once
// Run's event loop runs. Call first thing in main: the handler only writes
// to a pipe, so a signal that comes early is handled when the loop starts.
void InstallCloseSignals();

// Creates the main window, shows it with `showCommand` and runs the GUI
// thread's message loop; returns the exit code (0 when the window could not
// be created, 1 after a normal close). Needs the QApplication.
int Run(const std::string& arguments, int showCommand);

} // namespace Tav
