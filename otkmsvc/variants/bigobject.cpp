// OTK.dll of a test-only variant of the stand-in: a device object of over
// 4 MiB (an inline receive ring its constructor writes whole), and value
// classes whose only constructors take an argument, as an SDK with trivial
// default constructors exports them. The module must bind it and stream.
#define OTKMSVC_RING_BYTES (4u * 1024u * 1024u)
#define OTKMSVC_VALUES_TAKE_ARGS
#include "otkmsvc/otk.cpp"
