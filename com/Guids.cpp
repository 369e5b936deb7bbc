// The type library's GUIDs (LIBID, IID, DIID, CLSID), defined once here.
#include <initguid.h>

#include "vizADAVU_h.h"
