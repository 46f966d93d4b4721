#pragma once
// The program: builds the main interface, runs launch (the project files named on the command
// line are open requests made before launch ends), then the event loop until quit. Answers the
// process's exit status. Main thread, once.

int KavioApplicationMain(int argc, char* argv[]);
