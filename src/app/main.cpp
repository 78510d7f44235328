#include "app/Program.h"

int main(int argc, char** argv) { return velarix::RunProgram(argc, argv); }
