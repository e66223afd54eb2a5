// extutils: strings from the library's own resources (the command table).
#ifndef QUILLOMAR_EXTUTILS_H
#define QUILLOMAR_EXTUTILS_H

#include "../base/qtypes.h"

// String strid + index (Windows) or item index of string list strid (macOS) into buf of
// maxlen units, in system characters: terminated, or on macOS with isPstring set
// length-prefixed (unit 0 the count). Longer texts are cut to maxlen - 1 units; a string that
// does not exist is empty. Returns buf. inst: the library's module (ignored on macOS).
oschar* GetResourceOstr(oschar* buf, qshort maxlen, qshort strid, qshort index, qshort isPstring,
                        void* inst);

#if QM_UNICODE
// The same in host characters.
qchar* GetResourceStr(qchar* buf, qshort maxlen, qshort strid, qshort index, qshort isPstring,
                      void* inst);
#endif

#endif
