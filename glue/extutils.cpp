// extutils: resource strings. The Windows builds load from the module's string table (and
// always give the terminated form); the macOS build reads its string list, converting Mac
// OS Roman to UTF-16 through one converter made on first use and kept for the load.
#include "extutils.h"

#include "../platform/platform.h"
#include "callback.h"

#include <cstdlib>
#include <cstring>

#if QM_MAC
namespace {
PlatConverter sResourceCharConverter = 0;
}

oschar* GetResourceOstr(oschar* buf, qshort maxlen, qshort strid, qshort index, qshort isPstring,
                        void* /*inst*/) {
  if (maxlen < 1) return buf;
  buf[0] = 0; // empty in both forms
  uint8_t str[256];
  plat_get_ind_string(strid, index, str);
  if (str[0] == 0 || maxlen < 2) return buf;
  if (!sResourceCharConverter) sResourceCharConverter = plat_roman_converter_create();
  if (!sResourceCharConverter) return buf;
  const qlong limit = 2 * qlong{maxlen} - 2; // maxlen - 1 units after the count
  qlong converted = 0, flushed = 0;
  bool ok = plat_roman_convert(sResourceCharConverter, str + 1, str[0], buf + 1, limit, &converted);
  qlong units = converted / 2;
  if (ok)
    ok = plat_roman_flush(sResourceCharConverter, buf + 1 + units, limit - 2 * units, &flushed);
  if (!ok) return buf;
  units = (converted + flushed) / 2;
  if (isPstring) {
    buf[0] = static_cast<oschar>(units);
    return buf;
  }
  std::memmove(buf, buf + 1, static_cast<size_t>(units) * sizeof(oschar));
  buf[units] = 0;
  return buf;
}
#else
oschar* GetResourceOstr(oschar* buf, qshort maxlen, qshort strid, qshort index,
                        qshort /*isPstring*/, void* inst) {
  if (maxlen < 1) return buf;
  plat_load_string(inst, qlong{strid} + qlong{index}, buf, maxlen);
  return buf;
}
#endif

#if QM_UNICODE
qchar* GetResourceStr(qchar* buf, qshort maxlen, qshort strid, qshort index, qshort isPstring,
                      void* inst) {
  if (maxlen < 1) return buf;
  buf[0] = 0;
  // Twice the units leave room for a surrogate pair per character. Sized in 32 bits: a
  // 16-bit product would go negative for a maxlen above 8191.
  const qlong workUnits = 2 * qlong{maxlen} + 1;
  auto* work = static_cast<oschar*>(std::malloc(static_cast<size_t>(workUnits) * sizeof(oschar)));
  auto* chars = static_cast<qchar*>(std::malloc(static_cast<size_t>(workUnits) * sizeof(qchar)));
  if (!work || !chars) {
    std::free(work);
    std::free(chars);
    return buf;
  }
  const qlong capacity = workUnits - 1 > INT16_MAX ? INT16_MAX : workUnits - 1;
  work[0] = 0;
  GetResourceOstr(work, static_cast<qshort>(capacity), strid, index, isPstring, inst);
  const bool counted = QM_MAC && isPstring; // the Windows builds always terminate
  qlong n;
  if (counted) {
    const qlong count = work[0] < capacity ? work[0] : capacity - 1;
    work[1 + count] = 0; // convert only the counted units
    n = CHRoscharToChar(work + 1, chars);
  } else {
    n = CHRoscharToChar(work, chars);
  }
  const qlong keep = n < maxlen - 1 ? n : maxlen - 1; // a text that does not fit is cut
  if (counted) {
    buf[0] = static_cast<qchar>(keep);
    std::memcpy(buf + 1, chars, static_cast<size_t>(keep) * sizeof(qchar));
  } else {
    std::memcpy(buf, chars, static_cast<size_t>(keep) * sizeof(qchar));
    buf[keep] = 0;
  }
  std::free(work);
  std::free(chars);
  return buf;
}
#endif
