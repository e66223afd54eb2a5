// Runs code inside a host message in this process, so that the library's internals meet
// the stand-in host's real callback.
#pragma once

#include "entry/command.h"
#include "host/host.h"

#include <functional>
#include <memory>
#include <vector>

namespace qtest {

qhost::Flavour buildFlavour();

// The library linked into this test program, as the stand-in host loads a build.
std::unique_ptr<qhost::Library> linkedLibrary();

class InProcess {
public:
  InProcess();
  ~InProcess();
  // Runs fn inside an execute message for command cmdNumber with these parameters.
  void inside(int16_t cmdNumber, std::vector<qhost::Param> params,
              const std::function<void(qcallback)>& fn);
  // Sends a message straight to the library's dispatcher.
  void send(int16_t md);
  void execute(int16_t cmdNumber, std::vector<qhost::Param> params);
  qhost::Host& host() { return host_; }
  void** slot();

private:
  qhost::Host host_;
  std::unique_ptr<qhost::Library> lib_;
};

// A path choice (a processor check's flag) set for the length of a test and restored after.
class ScopedFlag {
public:
  ScopedFlag(bool& flag, bool value) : flag_(flag), was_(flag) { flag = value; }
  ~ScopedFlag() { flag_ = was_; }
  ScopedFlag(const ScopedFlag&) = delete;
  ScopedFlag& operator=(const ScopedFlag&) = delete;

private:
  bool& flag_;
  bool was_;
};

// The return code the last command left, or the text "none" when it left nothing.
qhost::Value rc(InProcess& p);

qhost::Param var(const char* name);
qhost::Param lit(double v);
qhost::Param lit(const char* s);

// The system's count of live memory blocks and open files (stand-in builds; -1 elsewhere).
long liveBlocks();
long openFiles();

} // namespace qtest
