/* JSON text output shared by the harness's helper programs: one string, escaped so that
 * Python's json module reads back exactly the ANSI bytes (non-ASCII bytes as \u00XX). */
#ifndef WINHARNESS_JSON_OUT_H
#define WINHARNESS_JSON_OUT_H

#include <stdio.h>

static void WriteJsonString(FILE* out, const char* text) {
    const unsigned char* p = (const unsigned char*)text;
    fputc('"', out);
    for (; *p; ++p) {
        if (*p == '"' || *p == '\\')
            fprintf(out, "\\%c", *p);
        else if (*p < 0x20 || *p >= 0x7F)
            fprintf(out, "\\u%04x", *p);
        else
            fputc(*p, out);
    }
    fputc('"', out);
}

#endif
