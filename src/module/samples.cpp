// The sample class, function and variable every module of this family exports.
#include "vantrelfb.h"

VANTRELFB_API int nVantrelFB = 0;

VANTRELFB_API int fnVantrelFB(void) { return 42; }

CVantrelFB::CVantrelFB() = default;

CVantrelFB &CVantrelFB::operator=(const CVantrelFB &) { return *this; }
