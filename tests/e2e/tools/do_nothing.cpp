// A 32-bit GUI program that ends at once: what merely starting a program of
// Tarnwick's kind costs under Wine, for the figures.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
