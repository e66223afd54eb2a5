// XPqUtil: the labels of a command's design lines, built from its command text.
#include "XPqUtil.h"

#include "callback.h"
#include "extutils.h"

#include <cstring>

namespace {

// The host's design-information record is packed: fields are reached by offset.
constexpr size_t kQfldidOffset = 6;
constexpr size_t kUseDefaultOffset = 8;
constexpr size_t kLabelOffset = 10;

constexpr qshort kParamLine = 5;
constexpr qshort kReturnCodeLine = 6;
constexpr qlong kWorkChars = 1024;
constexpr qlong kPrefixChars = 7; // "Parms: "
constexpr qlong kLabelChars = 255;

// The command's text as a length-prefixed host string in work; returns its length.
qlong commandText(qchar* work, qshort cmdNumber, qshort rootID, void* inst) {
#if QM_MAC
  GetResourceStr(work, kWorkChars, rootID, cmdNumber, 1, inst);
  return work[0] & 0xFF;
#else
#if QM_UNICODE
  GetResourceStr(work, kWorkChars, rootID, static_cast<qshort>(cmdNumber - 1), 0, inst);
#else
  char text[kWorkChars];
  GetResourceOstr(reinterpret_cast<oschar*>(text), kWorkChars, rootID,
                  static_cast<qshort>(cmdNumber - 1), 0, inst);
  CHRcopyAsciiStringToQchar(text, work, 1);
#endif
  qlong n = OMstrlen(work);
  for (qlong k = n; k > 0; --k)
    work[k] = work[k - 1];
  work[0] = static_cast<qchar>(n);
  return n;
#endif
}

} // namespace

void doDesignInfo(void* designinfo, qshort cmdNumber, qshort rootID, void* inst) {
  auto* record = static_cast<unsigned char*>(designinfo);
  qshort item = 0;
  std::memcpy(&item, record + kQfldidOffset, sizeof item);
  str255 label{};
  if (item == kParamLine) {
    CHRcopyAsciiStringToQchar("Parms: ", label.content, 1);
    qchar work[kWorkChars];
    qlong n = commandText(work, cmdNumber, rootID, inst);
    // The parameter list: from "(" up to the first ":" of the text.
    qlong i = 1;
    while (i < n && work[i] != ':')
      ++i;
    qlong j = 1;
    while (j < i && work[j] != '(')
      ++j;
    // The label holds 255 characters and no terminator: all of them can be used.
    qlong keep = i - j;
    if (keep > kLabelChars - kPrefixChars) keep = kLabelChars - kPrefixChars;
    std::memcpy(label.content + kPrefixChars, work + j, static_cast<size_t>(keep) * sizeof(qchar));
    label.len = static_cast<decltype(label.len)>(kPrefixChars + keep);
  } else if (item == kReturnCodeLine) {
    CHRcopyAsciiStringToQchar("Return Code :", label.content, 1);
    label.len = 13;
  } else {
    return;
  }
  record[kUseDefaultOffset] = 0;
  std::memcpy(record + kLabelOffset, &label, sizeof label);
}
