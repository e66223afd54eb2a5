// The stand-in host's state and its answers to the library's host operations.
#include "host.h"

#include "system.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qhost {

namespace {

// The Windows callback has no context argument: the host whose message is running.
thread_local Host* tCurrent = nullptr;

constexpr int16_t kLineCountRef = 999; // "#LN": line 0 in this column gives the line count

std::string formatNumber(double v) {
  char buf[64];
  if (std::isfinite(v) && v == std::trunc(v) && std::fabs(v) < 1e15)
    std::snprintf(buf, sizeof buf, "%.0f", v);
  else
    std::snprintf(buf, sizeof buf, "%.15g", v);
  return buf;
}

// ---- The Windows callback ----------------------------------------------------------------
int16_t QHOST_CDECL winCallback(int32_t op, ...) {
  Host* h = tCurrent;
  if (!h) {
    std::fprintf(stderr, "quillomar-host: callback outside of a message (op %d)\n", op);
    std::abort();
  }
  h->countCall();
  va_list ap;
  va_start(ap, op);
  int16_t result = 0;
  auto ref = [&ap] { return static_cast<int16_t>(va_arg(ap, int32_t)); };
  switch (op) {
  case kOpGetFldRef:
    result = h->getFldRef(va_arg(ap, void*));
    break;
  case kOpGetFldNum: {
    int16_t r = ref();
    auto* d = va_arg(ap, double*);
    if (auto v = h->getNumber(r)) *d = *v;
    break;
  }
  case kOpSetFldVal: {
    int16_t r = ref();
    int16_t fmt = ref();
    h->setValue(r, fmt, va_arg(ap, void*));
    break;
  }
  case kOpSetFldNum: {
    int16_t r = ref();
    h->setNumber(r, *va_arg(ap, double*));
    break;
  }
  case kOpShowMessage: {
    for (int i = 0; i < 4; ++i)
      (void)va_arg(ap, int32_t); // type and three flags
    result = h->showMessage(va_arg(ap, void*));
    break;
  }
  case kOpGetFldVal: {
    int16_t r = ref();
    int16_t fmt = ref();
    int32_t maxlen = va_arg(ap, int32_t);
    h->getValue(r, fmt, maxlen, va_arg(ap, void*));
    break;
  }
  case kOpGetLstVal: {
    int16_t list = ref();
    int16_t col = ref();
    int16_t fmt = ref();
    void* val = va_arg(ap, void*);
    auto* q = va_arg(ap, ListCellArgs*);
    h->getListValue(list, q->lineno, col, fmt, q->maxlen, val);
    break;
  }
  case kOpGetLstNum: {
    int16_t list = ref();
    int32_t line = va_arg(ap, int32_t);
    int16_t col = ref();
    auto* d = va_arg(ap, double*);
    double v = h->getListNumber(list, line, col);
    if (!std::isnan(v)) *d = v;
    break;
  }
  case kOpGetPackageId:
    *va_arg(ap, int32_t*) = h->packageId();
    break;
  case kOpGetDesignPtr:
    // A pointer-sized slot: a 32-bit one cannot hold an address in a 64-bit process.
    *va_arg(ap, intptr_t*) = reinterpret_cast<intptr_t>(h->designPtr());
    break;
  default:
    h->protocolError("unknown callback operation " + std::to_string(op));
    break;
  }
  va_end(ap);
  return result;
}

// ---- The macOS callback record -----------------------------------------------------------
Host* hostOf(void* rec) {
  return static_cast<Host*>(static_cast<void**>(rec)[kCallbackRecordEntries]);
}

Host* enter(void* rec) {
  Host* h = hostOf(rec);
  h->countCall();
  return h;
}

int16_t slotGetFldRef(const void* s, void* rec) { return enter(rec)->getFldRef(s); }

Extended80 slotGetFldNum(int16_t ref, void* rec) {
  return toExtended(enter(rec)->getNumber(ref).value_or(0));
}

void slotSetFldVal(int16_t ref, int16_t fmt, void* val, void* rec) {
  Host* h = enter(rec);
  if (fmt == kFmtNumber) {
    double d = fromExtended(*static_cast<Extended80*>(val));
    h->setValue(ref, fmt, &d);
  } else {
    h->setValue(ref, fmt, val);
  }
}

void slotSetFldNum(int16_t ref, Extended80* x, void* rec) {
  enter(rec)->setNumber(ref, fromExtended(*x));
}

uint8_t slotShowMessage(int16_t, uint8_t, uint8_t, uint8_t, void* s, void* rec) {
  return enter(rec)->showMessage(s);
}

void slotGetFldVal(int16_t ref, int16_t fmt, int32_t maxlen, void* val, void* rec) {
  Host* h = enter(rec);
  if (fmt == kFmtNumber) {
    if (auto v = h->getNumber(ref)) *static_cast<Extended80*>(val) = toExtended(*v);
  } else {
    h->getValue(ref, fmt, maxlen, val);
  }
}

void slotGetLstVal(int16_t list, int32_t line, int16_t col, int16_t fmt, int32_t maxlen, void* val,
                   void* rec) {
  Host* h = enter(rec);
  if (fmt == kFmtNumber) {
    double v = h->getListNumber(list, line, col);
    if (!std::isnan(v)) *static_cast<Extended80*>(val) = toExtended(v);
  } else {
    h->getListValue(list, line, col, fmt, maxlen, val);
  }
}

int16_t slotGetPackageId(void* rec) { return enter(rec)->packageId(); }
void* slotGetDesignPtr(void* rec) { return enter(rec)->designPtr(); }

void unusedSlot() {
  std::fprintf(stderr, "quillomar-host: the library called a callback record slot that no "
                       "operation of this interface uses\n");
  std::abort();
}

template <typename Fn> void* asEntry(Fn fn) { return reinterpret_cast<void*>(fn); }

} // namespace

// ---- Values ------------------------------------------------------------------------------
double Value::asNumber() const {
  if (isNumber) return number;
  std::string ascii;
  for (char32_t c : text)
    ascii += c < 0x80 ? static_cast<char>(c) : '?';
  char* end = nullptr;
  double v = std::strtod(ascii.c_str(), &end);
  return end == ascii.c_str() ? 0 : v;
}

std::u32string Value::asText() const { return isNumber ? fromUtf8(formatNumber(number)) : text; }

std::string Value::describe() const {
  if (isNumber) return formatNumber(number);
  std::string out = "\"";
  for (char32_t c : text) {
    char buf[16];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x100) {
      std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned>(c));
      out += buf;
    } else {
      std::snprintf(buf, sizeof buf, "\\u{%X}", static_cast<unsigned>(c));
      out += buf;
    }
  }
  return out + "\"";
}

bool Value::operator==(const Value& o) const {
  if (isNumber != o.isNumber) return false;
  return isNumber ? number == o.number : text == o.text;
}

// ---- Host --------------------------------------------------------------------------------
Host::Host(Flavour flavour) : flavour_(flavour) {
  fields_[kLineCountRef] = Field{Field::LineCount, "#LN"};
  refs_["#LN"] = kLineCountRef;
  if (flavour_ == Flavour::Mac) {
    record_ = std::make_unique<void*[]>(kCallbackRecordEntries + 1);
    for (int i = 0; i < kCallbackRecordEntries; ++i)
      record_[i] = asEntry(&unusedSlot);
    record_[kSlotGetFldRef / 4] = asEntry(&slotGetFldRef);
    record_[kSlotGetFldNum / 4] = asEntry(&slotGetFldNum);
    record_[kSlotSetFldVal / 4] = asEntry(&slotSetFldVal);
    record_[kSlotSetFldNum / 4] = asEntry(&slotSetFldNum);
    record_[kSlotShowMessage / 4] = asEntry(&slotShowMessage);
    record_[kSlotGetFldVal / 4] = asEntry(&slotGetFldVal);
    record_[kSlotGetLstVal / 4] = asEntry(&slotGetLstVal);
    record_[kSlotGetPackageId / 4] = asEntry(&slotGetPackageId);
    record_[kSlotGetDesignPtr / 4] = asEntry(&slotGetDesignPtr);
    record_[kCallbackRecordEntries] = this;
  }
}

Host::~Host() {
  if (tCurrent == this) tCurrent = nullptr;
}

void* Host::callbackArg() {
  tCurrent = this;
  if (flavour_ == Flavour::Mac) return record_.get();
  return reinterpret_cast<void*>(&winCallback);
}

void Host::setVariable(const std::string& name, Value v) {
  if (!refs_.count(name)) {
    int16_t ref = nextRef_++;
    refs_[name] = ref;
    addField(ref, Field{Field::Variable, name});
  }
  vars_[name] = std::move(v);
}

void Host::addField(int16_t ref, Field f) {
  Field& added = fields_[ref] = std::move(f);
  if (ref < kFirstFieldRef) return;
  const auto at = static_cast<size_t>(ref - kFirstFieldRef);
  if (byRef_.size() <= at) byRef_.resize(at + 1, nullptr);
  byRef_[at] = &added;
}

Host::Field* Host::fieldAt(int16_t ref) {
  if (ref >= kFirstFieldRef && static_cast<size_t>(ref - kFirstFieldRef) < byRef_.size())
    return byRef_[static_cast<size_t>(ref - kFirstFieldRef)];
  auto f = fields_.find(ref);
  return f == fields_.end() ? nullptr : &f->second;
}

bool Host::bindText(const std::string& name, std::string* utf8) {
  auto r = refs_.find(name);
  if (r == refs_.end()) return false;
  Field& f = fields_[r->second];
  if (f.kind != Field::Variable) return false;
  f.text = utf8;
  return true;
}

List& Host::declareList(const std::string& name, std::vector<std::string> columns) {
  if (!refs_.count(name)) {
    int16_t ref = nextRef_++;
    refs_[name] = ref;
    addField(ref, Field{Field::ListVar, name});
  }
  for (const auto& c : columns) {
    if (!refs_.count(c)) {
      int16_t ref = nextRef_++;
      refs_[c] = ref;
      addField(ref, Field{Field::Column, c});
    }
  }
  List& l = lists_[name];
  l.columns = std::move(columns);
  l.lines.clear();
  return l;
}

void Host::addRow(const std::string& listName, std::vector<Value> row) {
  lists_[listName].lines.push_back(std::move(row));
}

const Value* Host::variable(const std::string& name) const {
  auto it = vars_.find(name);
  return it == vars_.end() ? nullptr : &it->second;
}

const List* Host::list(const std::string& name) const {
  auto it = lists_.find(name);
  return it == lists_.end() ? nullptr : &it->second;
}

int16_t Host::fieldRef(const std::string& name) const {
  auto it = refs_.find(name);
  return it == refs_.end() ? 0 : it->second;
}

Value* Host::valueFor(int16_t ref, bool forWrite) {
  if (ref == kReturnCode) {
    if (!returnCode_ && forWrite) returnCode_ = Value{};
    return returnCode_ ? &*returnCode_ : nullptr;
  }
  if (ref >= kFirstParam && static_cast<size_t>(ref - kFirstParam) < params_.size() &&
      currentMessage_ == kExecute) {
    const auto i = static_cast<size_t>(ref - kFirstParam);
    Param& p = params_[i];
    if (p.variable.empty()) return &p.literal;
    if (!paramVars_[i]) { // a variable not found is looked for again: the command may make it
      auto it = vars_.find(p.variable);
      if (it != vars_.end()) paramVars_[i] = &it->second;
    }
    return paramVars_[i];
  }
  Field* f = fieldAt(ref);
  if (!f || f->kind != Field::Variable) return nullptr;
  if (!f->bound) f->bound = &vars_[f->name];
  return f->bound;
}

const List* Host::listFor(int16_t ref) const {
  std::string name;
  if (ref >= kFirstParam && static_cast<size_t>(ref - kFirstParam) < params_.size() &&
      currentMessage_ == kExecute) {
    name = params_[ref - kFirstParam].variable;
  } else {
    auto f = fields_.find(ref);
    if (f != fields_.end() && f->second.kind == Field::ListVar) name = f->second.name;
  }
  return list(name);
}

std::string Host::columnName(int16_t ref) const {
  auto f = fields_.find(ref);
  return f == fields_.end() ? std::string() : f->second.name;
}

int16_t Host::getFldRef(const void* str255) {
  std::u32string name;
  if (isUnicode(flavour_)) {
    const auto* s = static_cast<const Str255Wide*>(str255);
    if (s->len > 255) protocolError("name record with length " + std::to_string(s->len));
    name.assign(s->content, s->content + std::min<uint32_t>(s->len, 255));
  } else {
    const auto* s = static_cast<const Str255Narrow*>(str255);
    name.assign(s->content, s->content + s->len);
  }
  // The host's names are case-insensitive for ASCII letters.
  std::string key = toUtf8(name);
  for (const auto& [n, ref] : refs_) {
    if (n.size() == key.size() && std::equal(n.begin(), n.end(), key.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) ==
                 std::tolower(static_cast<unsigned char>(b));
        }))
      return ref;
  }
  return 0;
}

std::optional<double> Host::getNumber(int16_t ref) {
  if (ref == kParamCount && currentMessage_ == kExecute) return static_cast<double>(params_.size());
  Value* v = valueFor(ref, false);
  if (!v) return std::nullopt; // unknown fields are left as the library set them
  return v->asNumber();
}

namespace {
// What a 32-bit integer variable holds of a number: its whole part, wrapped to 32 bits.
double asInt32(double v) {
  if (!std::isfinite(v)) return 0;
  const double t = std::fmod(std::trunc(v), 4294967296.0);
  const auto bits = static_cast<uint32_t>(static_cast<int64_t>(t < 0 ? t + 4294967296.0 : t));
  return static_cast<int32_t>(bits);
}
} // namespace

void Host::setNumber(int16_t ref, double v) {
  ++last_.writes;
  if (Value* dst = valueFor(ref, true))
    *dst = dst->int32 ? Value::integer(asInt32(v)) : Value::num(v);
}

void Host::setValue(int16_t ref, int16_t fmt, const void* val) {
  ++last_.writes;
  if (fmt != kFmtNumber && fmt != kFmtString) {
    protocolError("field write in format " + std::to_string(fmt));
    return;
  }
  if (fmt == kFmtString && ref != kReturnCode) {
    Field* f = fieldAt(ref);
    if (f && f->text) { // a bound text: UTF-8, straight from the units
      std::string* out = f->text;
      out->clear();
      if (isUnicode(flavour_)) {
        const auto* c = static_cast<const uint32_t*>(val);
        size_t n = 0;
        while (c[n])
          ++n;
        appendUtf8(*out, c, n);
      } else {
        const auto* c = static_cast<const uint8_t*>(val);
        size_t n = 0;
        while (c[n])
          ++n;
        appendUtf8(*out, c, n);
      }
      return;
    }
  }
  Value* dst = valueFor(ref, true);
  if (!dst) return;
  // The written value replaces the variable's whole, its type too; a text reuses the room
  // the last one took, as most imports write texts of about the same length again and again.
  dst->int32 = false;
  if (fmt == kFmtNumber) {
    dst->isNumber = true;
    dst->number = *static_cast<const double*>(val);
    dst->text.clear();
  } else {
    dst->isNumber = false;
    dst->number = 0;
    readCharsInto(val, SIZE_MAX, &dst->text);
  }
}

void Host::getValue(int16_t ref, int16_t fmt, int32_t maxlen, void* val) {
  Value* v = ref == kParamCount ? nullptr : valueFor(ref, false);
  Value count = Value::num(static_cast<double>(params_.size()));
  if (ref == kParamCount && currentMessage_ == kExecute) v = &count;
  if (!v) return;
  switch (fmt) {
  case kFmtNumber:
    *static_cast<double*>(val) = v->asNumber();
    break;
  case kFmtString: {
    if (maxlen < 0) protocolError("string read with maxlen " + std::to_string(maxlen));
    std::u32string t = v->asText();
    if (t.size() > static_cast<size_t>(std::max(maxlen, 0))) t.resize(std::max(maxlen, 0));
    writeChars(val, t);
    break;
  }
  case kFmtLength:
    *static_cast<int32_t*>(val) = static_cast<int32_t>(v->asText().size());
    break;
  case kFmtHandle:
    fillHandle(val, v->asText());
    break;
  default:
    protocolError("field read in format " + std::to_string(fmt));
    break;
  }
}

void Host::getListValue(int16_t listRef, int32_t line, int16_t colRef, int16_t fmt, int32_t maxlen,
                        void* val) {
  const List* l = listFor(listRef);
  if (!l) return;
  Value cell;
  if (line == 0 && colRef == kLineCountRef) {
    cell = Value::num(static_cast<double>(l->lines.size()));
  } else {
    std::string col = columnName(colRef);
    size_t c = 0;
    while (c < l->columns.size() && l->columns[c] != col)
      ++c;
    if (line < 1 || static_cast<size_t>(line) > l->lines.size() || c == l->columns.size()) return;
    const auto& row = l->lines[line - 1];
    cell = c < row.size() ? row[c] : Value::str({});
  }
  switch (fmt) {
  case kFmtNumber:
    *static_cast<double*>(val) = cell.asNumber();
    break;
  case kFmtString: {
    std::u32string t = cell.asText();
    if (t.size() > static_cast<size_t>(std::max(maxlen, 0))) t.resize(std::max(maxlen, 0));
    writeChars(val, t);
    break;
  }
  case kFmtLength:
    *static_cast<int32_t*>(val) = static_cast<int32_t>(cell.asText().size());
    break;
  default:
    protocolError("list read in format " + std::to_string(fmt));
    break;
  }
}

double Host::getListNumber(int16_t listRef, int32_t line, int16_t colRef) {
  double v = NAN;
  getListValue(listRef, line, colRef, kFmtNumber, 10, &v);
  return v;
}

uint8_t Host::showMessage(const void* str255) {
  (void)str255; // no command shows one; answering OK keeps a library going
  return 1;
}

void* Host::designPtr() {
  if (currentMessage_ == kDesignInfo) return design_.data();
  if (currentMessage_ == kSetupInfo) return setup_.data();
  return nullptr;
}

std::u32string Host::readChars(const void* p, size_t maxChars) const {
  std::u32string out;
  readCharsInto(p, maxChars, &out);
  return out;
}

namespace {
// Copies the units before the first zero (at most maxChars) into out, in the room it has:
// assign() from another element type would build a temporary string each time.
template <typename Unit> void copyUnits(const Unit* c, size_t maxChars, std::u32string* out) {
  size_t n = 0;
  while (n < maxChars && c[n])
    ++n;
  out->resize(n);
  for (size_t i = 0; i < n; ++i)
    (*out)[i] = static_cast<char32_t>(c[i]);
}
} // namespace

void Host::readCharsInto(const void* p, size_t maxChars, std::u32string* out) const {
  if (isUnicode(flavour_))
    copyUnits(static_cast<const uint32_t*>(p), maxChars, out);
  else
    copyUnits(static_cast<const uint8_t*>(p), maxChars, out);
}

void Host::writeChars(void* p, const std::u32string& s) const {
  if (isUnicode(flavour_)) {
    auto* c = static_cast<uint32_t*>(p);
    for (size_t i = 0; i < s.size(); ++i)
      c[i] = s[i];
    c[s.size()] = 0;
  } else {
    auto* c = static_cast<uint8_t*>(p);
    for (size_t i = 0; i < s.size(); ++i)
      c[i] = static_cast<uint8_t>(s[i]);
    c[s.size()] = 0;
  }
}

void Host::fillHandle(void* handleVar, const std::u32string& text) {
  size_t bytes = 4 + text.size() * charSize();
  void* block = resizeAndLockHandle(handleVar, bytes);
  if (!block) {
    protocolError("could not resize the library's handle to " + std::to_string(bytes) + " bytes");
    return;
  }
  auto count = static_cast<uint32_t>(text.size());
  std::memcpy(block, &count, 4);
  auto* chars = static_cast<uint8_t*>(block) + 4;
  for (size_t i = 0; i < text.size(); ++i) {
    if (isUnicode(flavour_)) {
      auto c = static_cast<uint32_t>(text[i]);
      std::memcpy(chars + 4 * i, &c, 4);
    } else {
      chars[i] = static_cast<uint8_t>(text[i]);
    }
  }
  unlockHandle(handleVar);
}

bool Host::setClipboard(const std::string& bytes, bool unicode) {
  return systemSetClipboard(flavour_, &bytes, unicode);
}
bool Host::clearClipboard() { return systemSetClipboard(flavour_, nullptr); }

void Host::begin(int16_t md) {
  last_ = Counters{};
  slotBefore_ = slot_;
  currentMessage_ = md;
}

void Host::send(const Library& lib, int16_t md) {
  begin(md);
  lib.call(md, &slot_, callbackArg());
  currentMessage_ = -1;
}

void Host::execute(const Library& lib, int16_t cmdNumber, const std::vector<Param>& params) {
  params_ = params;
  paramVars_.assign(params_.size(), nullptr);
  packageId_ = cmdNumber;
  returnCode_.reset();
  send(lib, kExecute);
  params_.clear();
}

void Host::designInfo(const Library& lib, int16_t cmdNumber, int16_t item) {
  // Filled with recognisable values, so that what the library leaves alone can be checked.
  design_.assign(designRecordSize(flavour_), 0);
  int16_t type = 7;
  int32_t flags = 0x01020304;
  std::memcpy(&design_[kDiType], &type, 2);
  std::memcpy(&design_[kDiFlags], &flags, 4);
  std::memcpy(&design_[kDiQfldid], &item, 2);
  design_[kDiUseDefault] = 1;
  design_[kDiVarLength] = 1;
  designSent_ = design_;
  packageId_ = cmdNumber;
  send(lib, kDesignInfo);
}

void Host::setupInfo(const Library& lib) {
  setup_.assign(kSetupRecordSize, 0);
  send(lib, kSetupInfo);
}

std::u32string Host::designLabel() const {
  if (design_.empty()) return {};
  uint32_t n = designLabelLength();
  size_t first = kDiLabel + (isUnicode(flavour_) ? 4 : 1);
  std::u32string out;
  for (uint32_t i = 0; i < n && i < 255; ++i) {
    if (isUnicode(flavour_)) {
      uint32_t c;
      std::memcpy(&c, &design_[first + size_t{4} * i], 4);
      out += static_cast<char32_t>(c);
    } else {
      out += static_cast<char32_t>(design_[first + i]);
    }
  }
  return out;
}

uint32_t Host::designLabelLength() const {
  if (design_.empty()) return 0;
  if (!isUnicode(flavour_)) return design_[kDiLabel];
  uint32_t n;
  std::memcpy(&n, &design_[kDiLabel], 4);
  return n;
}

} // namespace qhost
