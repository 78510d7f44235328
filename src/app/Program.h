// The program's start-up and end.
#pragma once

namespace velarix {

// Runs the desktop agent until "Sair", SIGTERM, SIGINT or the end of the desktop session, and
// returns the exit status. A second copy for the same settings file hands over and returns 0.
int RunProgram(int argc, char** argv);

}  // namespace velarix
