// The return codes of the commands and of the engine under them, named once. A command leaves
// one in the host's return-code field: codes 1 to 7 are failures after which the failing step
// delivered nothing; 8 and above are soft endings after which the text read is still
// delivered. The host's copy (host/protocol.h) is written apart on purpose; a test holds the
// two together.
#ifndef QUILLOMAR_RESULTS_H
#define QUILLOMAR_RESULTS_H

#include "../base/qtypes.h"

enum : qshort {
  kResultNotLoaded = -1,    // the library was never loaded (no globals block)
  kResultOk = 0,            // everything asked for was delivered
  kResultNoFormat = 1,      // ReadRecord without a record format; a field the host does not know
  kResultCannotOpen = 2,    // the disk file cannot be opened
  kResultBadParameter = 3,  // a parameter missing, empty or out of range
  kResultNoMemory = 4,      // out of memory; the clipboard cannot be opened
  kResultIoError = 5,       // the system reported an input/output error
  kResultNoSuchFile = 6,    // parameter 1 names no open import file
  kResultAtEnd = 7,         // the position is at or past the end, before the start, or refused
  kResultShortFixed = 8,    // the source ended inside a fixed-length piece
  kResultNoDelimiter = 9,   // the source ended before the delimiter
  kResultPositionLost = 10, // the position variable could not hold the position handed back
  kResultTooLong = 11,      // a piece longer than its maximum; backwards: no record start in reach
  // CSV quoting, a record bounded by its line end:
  kResultShortRecord = 12, // fewer pieces than the format (a blank line: none); the rest emptied
  kResultLongRecord = 13,  // more pieces than the format: the rest of the line was passed over
  kResultStrayQuote = 14,  // a quote that opened a value did not close it: read as plain text
};

// Whether a read's text is conditioned and stored: complete, or softly ended (8 and above).
inline bool IsStoredResult(qshort code) { return code == kResultOk || code >= kResultShortFixed; }

#endif
