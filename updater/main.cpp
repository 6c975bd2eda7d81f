// CLMUpdate: installs the updated control library and sound file into an existing Calmora installation.
#include "Program.h"

int main(int argc, char** argv) { return calmora::update::RunProgram(argc, argv); }
