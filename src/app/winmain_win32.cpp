// Process entry: the main routine runs once; its result is the exit code.
#include <windows.h>

#include "app/app.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return modrik::MainRoutine(); }
