// OpenNI 2's driver API. Its export macro allocates with XN_NEW and XN_DELETE,
// which come from XnLib headers that Debian does not ship.
#pragma once

#ifndef XN_NEW
#define XN_NEW(type, ...) new type(__VA_ARGS__)
#endif
#ifndef XN_DELETE
#define XN_DELETE(p) delete (p)
#endif

#include <Driver/OniDriverAPI.h>
