// The runner host: its process entry and the start of the test machinery.
#pragma once

// Logs "Running tests..." on the test machinery's default log and runs the tests
// with _XCTestMain, which ends the process with the run's result. Should it ever
// return, the process stops with a trap.
[[noreturn]] void _TrellanRunTests();

// The process entry of the runner host: as a tool ("-t" or "--run-as-tool", or
// without the UI toolkit) it runs the tests at once on the main thread; otherwise
// it runs the application life cycle with _TrellanAppDelegate as the delegate.
int TrellanMain(int argc, char** argv);
