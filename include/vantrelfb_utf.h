/*
 * UTF-8 to and from the library's wide text (VFB_WCHAR, UTF-16), for C and
 * C++ callers whose own text is UTF-8. Header-only; needs C11 like
 * vantrelfb.h.
 *
 * Both functions return a new string to free(), or NULL: with errno ENOMEM
 * when out of memory, EILSEQ when the input is not well-formed (a malformed
 * or overlong UTF-8 sequence, an encoded surrogate, a code point past
 * U+10FFFF; an unpaired surrogate in UTF-16). Nothing is replaced silently:
 * a path with a substituted character would name another file.
 */
#ifndef VANTRELFB_UTF_H
#define VANTRELFB_UTF_H

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "vantrelfb.h"

static inline VFB_WCHAR *vfb_utf16_from_utf8(const char *utf8)
{
    const unsigned char *s = (const unsigned char *)utf8;
    size_t n = strlen(utf8), k = 0, i = 0;
    VFB_WCHAR *out = (VFB_WCHAR *)malloc((n + 1) * sizeof *out);
    if (!out) {
        errno = ENOMEM;
        return NULL;
    }
    while (i < n) {
        const unsigned char c = s[i];
        const size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        unsigned long cp = len == 1 ? c : (unsigned long)(c & (0x7F >> len));
        size_t j;
        if (len == 0 || i + len > n) goto malformed;
        for (j = 1; j < len; ++j) {
            if ((s[i + j] & 0xC0) != 0x80) goto malformed;
            cp = (cp << 6) | (s[i + j] & 0x3F);
        }
        /* The shortest form only, and no surrogate or value past Unicode. */
        if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
            (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
            goto malformed;
        if (cp >= 0x10000) {
            out[k++] = (VFB_WCHAR)(0xD800 + ((cp - 0x10000) >> 10));
            out[k++] = (VFB_WCHAR)(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out[k++] = (VFB_WCHAR)cp;
        }
        i += len;
    }
    out[k] = 0;
    return out;
malformed:
    free(out);
    errno = EILSEQ;
    return NULL;
}

static inline char *vfb_utf8_from_utf16(const VFB_WCHAR *text)
{
    size_t n = 0, k = 0, i;
    char *out;
    while (text[n]) ++n;
    out = (char *)malloc(n * 3 + 1);
    if (!out) {
        errno = ENOMEM;
        return NULL;
    }
    for (i = 0; i < n; ++i) {
        unsigned long cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (unsigned long)(text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            free(out);
            errno = EILSEQ;
            return NULL;
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

#endif /* VANTRELFB_UTF_H */
