// The little a freestanding DLL of this compiler needs from a C runtime it
// does not link: the floating-point marker and the two memory routines the
// compiler itself may call. Nothing here runs before the first call.
extern "C" {

// Referenced by every object that uses floating point.
int _fltused = 0;

void* memcpy(void* to, const void* from, decltype(sizeof 0) n)
{
    unsigned char* d = static_cast<unsigned char*>(to);
    const unsigned char* s = static_cast<const unsigned char*>(from);
    while (n--)
        *d++ = *s++;
    return to;
}

void* memset(void* to, int value, decltype(sizeof 0) n)
{
    unsigned char* d = static_cast<unsigned char*>(to);
    while (n--)
        *d++ = static_cast<unsigned char>(value);
    return to;
}

} // extern "C"
