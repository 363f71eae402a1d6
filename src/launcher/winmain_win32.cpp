// Process entry: the main routine runs once; its result is the exit code.
#include <windows.h>

#include "launcher/launcher.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return modrik::MainRoutine(); }
