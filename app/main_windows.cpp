// The program's entry on Windows and its one application object.  Only the
// real program is built from this file; the tests make an application object
// of their own for each simulated program run.
#ifdef _WIN32

#include "app/updaterapp.h"

COpenTypeUpdaterApp theApp;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return RunApplication(); }

#endif
