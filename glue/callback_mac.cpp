// callback module, macOS flavour: host operations through the slots of the callback record,
// host numbers in the 80-bit extended form, converted at this boundary.
#include "callback.h"

#include "../platform/platform.h"

#include <cmath>
#include <cstdint>

namespace {
typedef void (*AnySlot)();
typedef qshort (*SlotGetFldRef)(str255*, HostCallbackRec*);
typedef qx80 (*SlotGetFldNum)(qshort, HostCallbackRec*);
typedef void (*SlotSetFldVal)(qshort, qshort, void*, HostCallbackRec*);
typedef void (*SlotSetFldNum)(qshort, qx80*, HostCallbackRec*);
typedef qbyte (*SlotShowMessage)(qshort, qbyte, qbyte, qbyte, str255*, HostCallbackRec*);
typedef void (*SlotGetFldVal)(qshort, qshort, qlong, void*, HostCallbackRec*);
typedef void (*SlotGetLstVal)(qshort, qlong, qshort, qshort, qlong, void*, HostCallbackRec*);
typedef qshort (*SlotGetPackageId)(HostCallbackRec*);
typedef void* (*SlotGetDesignPtr)(HostCallbackRec*);

template <typename Fn> Fn slot(HostCallbackRec* rec, int byteOffset) {
  const AnySlot* table = reinterpret_cast<const AnySlot*>(rec);
  return reinterpret_cast<Fn>(table[byteOffset / 4]);
}

// The host's 16-bit reads saturate: anything outside the range, NaN included, is -32768.
qshort qrealToShortSaturated(qreal value) {
  qreal t = std::trunc(value);
  if (!(t >= -32768.0 && t <= 32767.0)) return INT16_MIN;
  return static_cast<qshort>(t);
}

qreal readNumber(qshort fldref, HostCallbackRec* rec) {
  qx80 x = slot<SlotGetFldNum>(rec, slotGetFldNum)(fldref, rec);
  return plat_x80_to_real(&x);
}
} // namespace

qshort GetFldRef(const qchar* name, qcallback rec) {
  str255 s;
  sthandle(name, &s);
  return slot<SlotGetFldRef>(rec, slotGetFldRef)(&s, rec);
}

qshort GetFldInt(qshort fldref, qcallback rec) {
  return qrealToShortSaturated(readNumber(fldref, rec));
}

qlong GetFldLong(qshort fldref, qcallback rec) { return qrealToLong(readNumber(fldref, rec)); }

qreal GetFldReal(qshort fldref, qcallback rec) { return readNumber(fldref, rec); }

void SetFldVal(qshort fldref, qshort fmt, void* val, qcallback rec) {
  qx80 x{};
  if (fmt == fmtNumber) {
    plat_real_to_x80(*static_cast<qreal*>(val), &x);
    val = &x;
  }
  slot<SlotSetFldVal>(rec, slotSetFldVal)(fldref, fmt, val, rec);
}

void SetFldInt(qshort fldref, qshort val, qcallback rec) { SetFldLong(fldref, val, rec); }

void SetFldLong(qshort fldref, qlong val, qcallback rec) {
  SetFldReal(fldref, static_cast<qreal>(val), rec);
}

void SetFldReal(qshort fldref, qreal val, qcallback rec) {
  qx80 x{};
  plat_real_to_x80(val, &x);
  slot<SlotSetFldNum>(rec, slotSetFldNum)(fldref, &x, rec);
}

void GetFldVal(qshort fldref, qshort fmt, qlong maxlen, void* val, qcallback rec) {
  if (fmt != fmtNumber) {
    slot<SlotGetFldVal>(rec, slotGetFldVal)(fldref, fmt, maxlen, val, rec);
    return;
  }
  qx80 x{};
  slot<SlotGetFldVal>(rec, slotGetFldVal)(fldref, fmt, maxlen, &x, rec);
  *static_cast<qreal*>(val) = plat_x80_to_real(&x);
}

void GetLstVal(qshort listno, qlong lineno, qshort fldref, qshort fmt, qlong maxlen, void* val,
               qcallback rec) {
  if (fmt != fmtNumber) {
    slot<SlotGetLstVal>(rec, slotGetLstVal)(listno, lineno, fldref, fmt, maxlen, val, rec);
    return;
  }
  qx80 x{};
  slot<SlotGetLstVal>(rec, slotGetLstVal)(listno, lineno, fldref, fmt, maxlen, &x, rec);
  *static_cast<qreal*>(val) = plat_x80_to_real(&x);
}

qreal GetLstReal(qshort listno, qlong lineno, qshort fldref, qcallback rec) {
  qreal v = 0;
  GetLstVal(listno, lineno, fldref, fmtNumber, 10, &v, rec);
  return v;
}

qshort GetLstInt(qshort listno, qlong lineno, qshort fldref, qcallback rec) {
  qreal v = 0;
  GetLstVal(listno, lineno, fldref, fmtNumber, 10, &v, rec);
  return qrealToShortSaturated(v);
}

qbyte ShowMessage(qshort mty, qbyte high, qbyte large, qbyte bell, const qchar* message,
                  qcallback rec) {
  str255 s;
  sthandle(message, &s);
  return slot<SlotShowMessage>(rec, slotShowMessage)(mty, high, large, bell, &s, rec);
}

qshort GetPackageId(qcallback rec) { return slot<SlotGetPackageId>(rec, slotGetPackageId)(rec); }

void* GetDesignPtr(qcallback rec) { return slot<SlotGetDesignPtr>(rec, slotGetDesignPtr)(rec); }
