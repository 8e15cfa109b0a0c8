// OTK.dll of a test-only variant of the stand-in: COTKdev has no default
// constructor, only COTKdev(const char* port = 0). The module must refuse it
// by name rather than call it without its argument.
#define OTKMSVC_PORT_CTOR
#include "otkmsvc/otk.cpp"
