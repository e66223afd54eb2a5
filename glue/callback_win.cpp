// callback module, Windows flavours: host operations through the callback function. Every
// argument travels as a 32-bit value (16-bit ones sign-extended), addresses as they are.
#include "callback.h"

qshort GetFldRef(const qchar* name, qcallback cb) {
  str255 s;
  sthandle(name, &s);
  return cb(opGetFldRef, &s);
}

qshort GetFldInt(qshort fldref, qcallback cb) {
  double v = 0;
  cb(opGetFldNum, static_cast<qlong>(fldref), &v);
  return static_cast<qshort>(static_cast<uint16_t>(qrealToLong(v)));
}

qreal GetFldReal(qshort fldref, qcallback cb) {
  double v = 0;
  cb(opGetFldNum, static_cast<qlong>(fldref), &v);
  return v;
}

qreal GetLstReal(qshort listno, qlong lineno, qshort fldref, qcallback cb) {
  double v = 0;
  cb(opGetLstNum, static_cast<qlong>(listno), lineno, static_cast<qlong>(fldref), &v);
  return v;
}

qlong GetFldLong(qshort fldref, qcallback cb) {
  double v = 0;
  cb(opGetFldNum, static_cast<qlong>(fldref), &v);
  return qrealToLong(v);
}

void SetFldVal(qshort fldref, qshort fmt, void* val, qcallback cb) {
  cb(opSetFldVal, static_cast<qlong>(fldref), static_cast<qlong>(fmt), val);
}

void SetFldInt(qshort fldref, qshort val, qcallback cb) {
  double v = val;
  cb(opSetFldNum, static_cast<qlong>(fldref), &v);
}

void SetFldLong(qshort fldref, qlong val, qcallback cb) {
  double v = val;
  cb(opSetFldNum, static_cast<qlong>(fldref), &v);
}

void SetFldReal(qshort fldref, qreal val, qcallback cb) {
  double v = val;
  cb(opSetFldNum, static_cast<qlong>(fldref), &v);
}

void GetFldVal(qshort fldref, qshort fmt, qlong maxlen, void* val, qcallback cb) {
  cb(opGetFldVal, static_cast<qlong>(fldref), static_cast<qlong>(fmt), maxlen, val);
}

void GetLstVal(qshort listno, qlong lineno, qshort fldref, qshort fmt, qlong maxlen, void* val,
               qcallback cb) {
  q_ q = {lineno, maxlen};
  cb(opGetLstVal, static_cast<qlong>(listno), static_cast<qlong>(fldref), static_cast<qlong>(fmt),
     val, &q);
}

qshort GetLstInt(qshort listno, qlong lineno, qshort fldref, qcallback cb) {
  double v = 0;
  cb(opGetLstNum, static_cast<qlong>(listno), lineno, static_cast<qlong>(fldref), &v);
  return static_cast<qshort>(static_cast<uint16_t>(qrealToLong(v)));
}

qbyte ShowMessage(qshort mty, qbyte high, qbyte large, qbyte bell, const qchar* message,
                  qcallback cb) {
  str255 s;
  sthandle(message, &s);
  qshort answer = cb(opShowMessage, static_cast<qlong>(mty), static_cast<qlong>(high),
                     static_cast<qlong>(large), static_cast<qlong>(bell), &s);
  return static_cast<qbyte>(answer & 0xFF);
}

qshort GetPackageId(qcallback cb) {
  qlong id = 0;
  cb(opGetPackageId, &id);
  return static_cast<qshort>(id & 0xFFFF);
}

void* GetDesignPtr(qcallback cb) {
  // A pointer-sized slot: on 64-bit builds a 32-bit one could not hold the address.
  intptr_t address = 0;
  cb(opGetDesignPtr, &address);
  return reinterpret_cast<void*>(address);
}
