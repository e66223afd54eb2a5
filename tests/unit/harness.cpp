#include "harness.h"

#include "host/system.h"

namespace qtest {

namespace {
// What the test entry point runs; null means "dispatch the message to the library".
const std::function<void(qcallback)>* gInside = nullptr;

void dispatch(int16_t md, void** ref, qcallback cb) {
  if (md == kMsgExecute && gInside)
    (*gInside)(cb);
  else
    QuillomarMessage(md, ref, nullptr, cb);
}

#if QM_MAC
void testEntry(int16_t md, void** ref, void* rec) {
  dispatch(md, ref, static_cast<qcallback>(rec));
}
#else
void QHOST_STDCALL testEntry(int16_t md, void** ref, void*, void*, void*, qhost::WinCallback cb) {
  dispatch(md, ref, reinterpret_cast<qcallback>(cb));
}
#endif
} // namespace

qhost::Flavour buildFlavour() {
#if QM_MAC
  return qhost::Flavour::Mac;
#elif QM_UNICODE
  return qhost::Flavour::WinUnicode;
#else
  return qhost::Flavour::Win8;
#endif
}

std::unique_ptr<qhost::Library> linkedLibrary() {
  return qhost::Library::fromEntry(reinterpret_cast<void*>(&testEntry), buildFlavour());
}

InProcess::InProcess()
    : host_(buildFlavour()),
      lib_(qhost::Library::fromEntry(reinterpret_cast<void*>(&testEntry), buildFlavour())) {}

InProcess::~InProcess() {
  if (host_.slot()) send(kMsgUnload);
}

void InProcess::inside(int16_t cmdNumber, std::vector<qhost::Param> params,
                       const std::function<void(qcallback)>& fn) {
  gInside = &fn;
  host_.execute(*lib_, cmdNumber, std::move(params));
  gInside = nullptr;
}

void InProcess::send(int16_t md) { host_.send(*lib_, md); }

void InProcess::execute(int16_t cmdNumber, std::vector<qhost::Param> params) {
  host_.execute(*lib_, cmdNumber, std::move(params));
}

void** InProcess::slot() { return host_.slotAddress(); }

qhost::Value rc(InProcess& p) { return p.host().returnCode().value_or(qhost::Value::str(U"none")); }

qhost::Param var(const char* name) { return qhost::Param{name, {}}; }
qhost::Param lit(double v) { return qhost::Param{{}, qhost::Value::num(v)}; }
qhost::Param lit(const char* s) { return qhost::Param{{}, qhost::Value::str(qhost::fromUtf8(s))}; }

long liveBlocks() { return qhost::systemLiveBlocks(); }
long openFiles() { return qhost::systemOpenFiles(); }

} // namespace qtest
