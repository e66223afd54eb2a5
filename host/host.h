// The stand-in host: loads an external library, keeps fields, variables and lists, and
// answers the library's callback (function or record) the way the real host does.
#pragma once

#include "extended80.h"
#include "protocol.h"
#include "utf8.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qhost {

// A host value: a number or a text of host characters (code points; bytes in the 8-bit
// flavour, where every character is below 256).
struct Value {
  bool isNumber = true;
  double number = 0;
  std::u32string text;
  bool int32 = false; // a 32-bit integer variable: a number written to it is held as one

  static Value num(double v) { return Value{true, v, {}}; }
  static Value str(std::u32string s) { return Value{false, 0, std::move(s)}; }
  // A 32-bit integer variable, as a method may declare one for a position.
  static Value integer(double v) { return Value{true, v, {}, true}; }
  double asNumber() const;
  std::u32string asText() const;
  std::string describe() const; // for messages: 12, "abc\x01"
  bool operator==(const Value& o) const;
};

struct List {
  std::vector<std::string> columns;
  std::vector<std::vector<Value>> lines; // lines[0] is line 1
};

// A parameter of an executed command: bound to a variable (reads and writes reach it) or a
// literal (writes go to a temporary that is thrown away).
struct Param {
  std::string variable; // empty for a literal
  Value literal;
};

// A library loaded by path, released on destruction.
class Library {
public:
  static std::unique_ptr<Library> open(const std::string& path, Flavour flavour,
                                       std::string* error);
  // An entry point linked into this process (WinEntry or MacEntry by flavour), for tests.
  static std::unique_ptr<Library> fromEntry(void* entry, Flavour flavour);
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  void call(int16_t md, void** slot, void* callbackArg) const;
  // The loaded module (HMODULE on Windows, the dlopen handle elsewhere); null when linked in.
  void* module() const { return module_; }

private:
  Library() = default;
  void* module_ = nullptr;
  void* entry_ = nullptr;
  Flavour flavour_ = Flavour::WinUnicode;
};

class Host {
public:
  explicit Host(Flavour flavour);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  Flavour flavour() const { return flavour_; }

  // Variables and lists; each gets a field reference, and so does every list column.
  void setVariable(const std::string& name, Value v);
  List& declareList(const std::string& name, std::vector<std::string> columns);
  void addRow(const std::string& listName, std::vector<Value> row);
  const Value* variable(const std::string& name) const;
  const List* list(const std::string& name) const;
  int16_t fieldRef(const std::string& name) const; // 0 when unknown
  // Texts the library writes to the variable (set already) go, as UTF-8, into *utf8 instead
  // of the variable: a tool that only passes them on builds no host value for each. A write
  // of a number still reaches the variable. False for a name that is no variable.
  bool bindText(const std::string& name, std::string* utf8);

  // The system clipboard's plain text (CF_TEXT): the real one on Windows, the stand-in's
  // elsewhere; macOS has none. Returns false when it could not be set.
  // Plain text, or with unicode the Unicode text (bytes: its UTF-16, little-endian).
  bool setClipboard(const std::string& bytes, bool unicode = false);
  bool clearClipboard();

  // Messages. Each resets the per-message counters below.
  void send(const Library& lib, int16_t md);
  void execute(const Library& lib, int16_t cmdNumber, const std::vector<Param>& params);
  void designInfo(const Library& lib, int16_t cmdNumber, int16_t item);
  void setupInfo(const Library& lib);

  // What the last message did.
  struct Counters {
    int calls = 0;  // callback operations of any kind
    int writes = 0; // field writes of any kind
  };
  const Counters& last() const { return last_; }
  const std::optional<Value>& returnCode() const { return returnCode_; }
  void* slot() const { return slot_; }
  void** slotAddress() { return &slot_; }
  void* slotBefore() const { return slotBefore_; }
  const std::vector<uint8_t>& designRecord() const { return design_; }
  const std::vector<uint8_t>& designRecordSent() const { return designSent_; }
  const std::vector<uint8_t>& setupRecord() const { return setup_; }
  const std::vector<std::string>& protocolErrors() const { return errors_; }
  void clearProtocolErrors() { errors_.clear(); }
  std::u32string designLabel() const;
  uint32_t designLabelLength() const;

  // The argument the entry point receives as its callback, and the operations behind it;
  // public so that tests can drive the library's adapter against this host directly.
  void* callbackArg();
  int16_t getFldRef(const void* str255);
  std::optional<double> getNumber(int16_t ref); // none for a field the host does not know
  void setNumber(int16_t ref, double v);
  void setValue(int16_t ref, int16_t fmt, const void* val);
  void getValue(int16_t ref, int16_t fmt, int32_t maxlen, void* val);
  void getListValue(int16_t listRef, int32_t line, int16_t colRef, int16_t fmt, int32_t maxlen,
                    void* val);
  double getListNumber(int16_t listRef, int32_t line, int16_t colRef);
  uint8_t showMessage(const void* str255);
  int16_t packageId() const { return packageId_; }
  void* designPtr();
  void countCall() { ++last_.calls; }
  void protocolError(std::string what) { errors_.push_back(std::move(what)); }

  // Host characters in the flavour's width, to and from memory.
  size_t charSize() const { return isUnicode(flavour_) ? 4 : 1; }
  std::u32string readChars(const void* p, size_t maxChars = SIZE_MAX) const;
  void readCharsInto(const void* p, size_t maxChars, std::u32string* out) const;
  void writeChars(void* p, const std::u32string& s) const;

private:
  struct Field {
    enum Kind { Variable, ListVar, Column, LineCount } kind;
    std::string name;
    Value* bound = nullptr;      // a Variable's value, once found (map nodes never move)
    std::string* text = nullptr; // where its texts go instead (bindText)
  };
  static constexpr int16_t kFirstFieldRef = 1000; // variables, lists and columns from here on
  void addField(int16_t ref, Field f);
  Field* fieldAt(int16_t ref);
  Value* valueFor(int16_t ref, bool forWrite);
  const List* listFor(int16_t ref) const;
  std::string columnName(int16_t ref) const;
  void begin(int16_t md);
  void fillHandle(void* handleVar, const std::u32string& text);

  Flavour flavour_;
  std::map<std::string, Value> vars_;
  std::map<std::string, List> lists_;
  std::map<int16_t, Field> fields_;
  std::map<std::string, int16_t> refs_;
  std::vector<Field*> byRef_; // fields_ by ref - kFirstFieldRef (map nodes never move)
  int16_t nextRef_ = kFirstFieldRef;

  void* slot_ = nullptr;
  void* slotBefore_ = nullptr;
  int16_t packageId_ = 0;
  int16_t currentMessage_ = -1;
  std::vector<Param> params_;
  std::vector<Value*> paramVars_; // each parameter's variable, once found during this command
  std::optional<Value> returnCode_;
  std::vector<uint8_t> design_, designSent_, setup_;
  Counters last_;
  std::vector<std::string> errors_;
  std::unique_ptr<void*[]> record_; // the macOS callback record
};

} // namespace qhost
