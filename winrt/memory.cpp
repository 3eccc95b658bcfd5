// Byte-wise memory routines. The compiler emits calls to these for structure copies and
// clearing even in code that never names them; plain loops suffice for the few kilobytes
// that the deliverables move this way (file data goes through the platform's I/O).
#include <stddef.h>

extern "C" {

void* memset(void* dest, int value, size_t count) {
    unsigned char* d = static_cast<unsigned char*>(dest);
    for (size_t i = 0; i < count; ++i)
        d[i] = static_cast<unsigned char>(value);
    return dest;
}

void* memcpy(void* dest, const void* src, size_t count) {
    unsigned char* d = static_cast<unsigned char*>(dest);
    const unsigned char* s = static_cast<const unsigned char*>(src);
    for (size_t i = 0; i < count; ++i)
        d[i] = s[i];
    return dest;
}

void* memmove(void* dest, const void* src, size_t count) {
    unsigned char* d = static_cast<unsigned char*>(dest);
    const unsigned char* s = static_cast<const unsigned char*>(src);
    if (d <= s || d >= s + count)
        return memcpy(dest, src, count);
    for (size_t i = count; i > 0; --i)
        d[i - 1] = s[i - 1];
    return dest;
}

int memcmp(const void* a, const void* b, size_t count) {
    const unsigned char* x = static_cast<const unsigned char*>(a);
    const unsigned char* y = static_cast<const unsigned char*>(b);
    for (size_t i = 0; i < count; ++i) {
        if (x[i] != y[i])
            return x[i] < y[i] ? -1 : 1;
    }
    return 0;
}

} // extern "C"
