/*
 * UTF-8 <-> the library's UTF-16 text, for the examples. Both return a new
 * string to free(), or NULL when out of memory; malformed input becomes
 * U+FFFD rather than being dropped.
 */
#ifndef VANTRELFB_EXAMPLE_UTF16_H
#define VANTRELFB_EXAMPLE_UTF16_H

#include <stdlib.h>
#include <string.h>
#include <vantrelfb.h>

static inline VFB_WCHAR *utf16_from_utf8(const char *s)
{
    size_t n = strlen(s), k = 0;
    VFB_WCHAR *out = malloc((n + 1) * sizeof *out);
    if (!out) return NULL;
    for (size_t i = 0; i < n;) {
        unsigned char c = (unsigned char)s[i];
        unsigned long cp = 0xFFFD;
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 1) {
            cp = c;
        } else if (len > 1 && i + len <= n) {
            unsigned long v = c & (0x7F >> len);
            for (size_t j = 1; j < len; ++j) {
                if (((unsigned char)s[i + j] & 0xC0) != 0x80) { len = 0; break; }
                v = (v << 6) | ((unsigned char)s[i + j] & 0x3F);
            }
            if (len) cp = v;
        }
        if (!len || (len > 1 && i + len > n)) len = 1;
        i += len;
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            out[k++] = (VFB_WCHAR)(0xD800 + ((cp - 0x10000) >> 10));
            out[k++] = (VFB_WCHAR)(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out[k++] = (VFB_WCHAR)(cp > 0x10FFFF ? 0xFFFD : cp);
        }
    }
    out[k] = 0;
    return out;
}

static inline char *utf8_from_utf16(const VFB_WCHAR *w)
{
    size_t n = 0, k = 0;
    while (w[n]) ++n;
    char *out = malloc(n * 3 + 1);
    if (!out) return NULL;
    for (size_t i = 0; i < n; ++i) {
        unsigned long cp = w[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (w[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out[k++] = (char)cp;
        } else if (cp < 0x800) {
            out[k++] = (char)(0xC0 | (cp >> 6));
            out[k++] = (char)(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out[k++] = (char)(0xE0 | (cp >> 12));
            out[k++] = (char)(0x80 | ((cp >> 6) & 0x3F));
            out[k++] = (char)(0x80 | (cp & 0x3F));
        } else {
            out[k++] = (char)(0xF0 | (cp >> 18));
            out[k++] = (char)(0x80 | ((cp >> 12) & 0x3F));
            out[k++] = (char)(0x80 | ((cp >> 6) & 0x3F));
            out[k++] = (char)(0x80 | (cp & 0x3F));
        }
    }
    out[k] = '\0';
    return out;
}

#endif
