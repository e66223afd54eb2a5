// Throughput of the reader, conditioning and the field-text conversion.
// Run: tools/bench.sh (a Release build without sanitizers).
#include "glue/XPqUtil.h"
#include "import/readahead.h"
#include "import/reader.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

// About 1 MB of a CSV export: short fields, a quoted one with a comma, CRLF line ends.
std::string sampleCsv() {
  std::string out;
  for (int i = 0; out.size() < (1 << 20); ++i)
    out += std::to_string(i) + ",\"Widget, large\",Gadget " + std::to_string(i % 97) +
           ",12.50,2026-12-08\r\n";
  return out;
}

fieldSpec delimited(const char* delim, qshort max) {
  fieldSpec f{};
  f.fldMax = max;
  f.fldDelim[0] = static_cast<qbyte>(std::strlen(delim));
  std::memcpy(f.fldDelim + 1, delim, f.fldDelim[0]);
  return f;
}

// Reads every record of the text: four comma fields and a CRLF-ended one.
void readAll(importFileSpec* rec, char* buffer, benchmark::State& state) {
  const fieldSpec comma = delimited(",", 255), line = delimited("\r\n", 255);
  qpos pos = 0;
  rec->curPos = 0;
  SetPositionInFile(rec);
  while (pos < rec->fileSize) {
    for (int k = 0; k < 4; ++k)
      ReadToDelimOrMax(rec, &comma, &pos, buffer);
    if (ReadToDelimOrMax(rec, &line, &pos, buffer) != 0) break;
  }
  benchmark::DoNotOptimize(buffer[0]);
  (void)state;
}

void BM_ReadMemoryDelimited(benchmark::State& state) {
  std::string csv = sampleCsv();
  importFileSpec rec{};
  rec.fileRef = kClipboardRef;
  rec.fileSize = static_cast<qlong>(csv.size());
  rec.stripEncQuotes = 1;
  rec.dataHandle = NewXPHandle(rec.fileSize);
  std::memcpy(LockXPHandle(rec.dataHandle), csv.data(), csv.size());
  UnlockXPHandle(rec.dataHandle);
  auto buffer = std::make_unique<char[]>(kBufferSize);
  for (auto _ : state)
    readAll(&rec, buffer.get(), state);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * rec.fileSize);
  DisposeXPHandle(rec.dataHandle);
}
BENCHMARK(BM_ReadMemoryDelimited)->Unit(benchmark::kMillisecond);

struct DiskFile {
  std::unique_ptr<globals> g = std::make_unique<globals>(); // holds the read-ahead window
  importFileSpec rec{};
  explicit DiskFile(const std::string& bytes) {
    std::ofstream("bench-data.txt", std::ios::binary | std::ios::trunc) << bytes;
#if QM_MAC
    const uint8_t path[] = "\x0e"
                           "bench-data.txt";
#else
    const oschar path[] = {'b', 'e', 'n', 'c', 'h', '-', 'd', 'a', 't', 'a', '.', 't', 'x', 't', 0};
#endif
    plat_file_open(path, &rec.fileRef, &rec.fileBlock);
    int64_t size = 0;
    plat_file_size(rec.fileRef, &rec.fileBlock, &size);
    rec.fileSize = static_cast<qlong>(size);
    rec.stripEncQuotes = 1;
    AttachReadAhead(g.get(), &rec);
  }
  ~DiskFile() {
    ReleaseAllReadAhead(g.get());
    plat_file_close(rec.fileRef, &rec.fileBlock);
    std::remove("bench-data.txt");
  }
  DiskFile(const DiskFile&) = delete;
  DiskFile& operator=(const DiskFile&) = delete;
};

void BM_ReadDiskDelimited(benchmark::State& state) {
  DiskFile f(sampleCsv());
  auto buffer = std::make_unique<char[]>(kBufferSize);
  for (auto _ : state)
    readAll(&f.rec, buffer.get(), state);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * f.rec.fileSize);
}
BENCHMARK(BM_ReadDiskDelimited)->Unit(benchmark::kMillisecond);

void BM_ReadDiskFixed(benchmark::State& state) {
  DiskFile f(sampleCsv());
  auto buffer = std::make_unique<char[]>(kBufferSize);
  fieldSpec fixed{};
  fixed.fldMax = static_cast<qshort>(state.range(0));
  int64_t bytes = 0;
  for (auto _ : state) {
    qpos pos = 0;
    f.rec.curPos = 0;
    SetPositionInFile(&f.rec);
    while (ReadToDelimOrMax(&f.rec, &fixed, &pos, buffer.get()) == 0) {
    }
    bytes += pos;
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_ReadDiskFixed)->Arg(80)->Arg(32000)->Unit(benchmark::kMillisecond);

void BM_Condition(benchmark::State& state) {
  std::vector<qbyte> table = {10, 0};
  for (int i = 0; i < 10; ++i) {
    table.push_back(static_cast<qbyte>('a' + i));
    table.push_back(static_cast<qbyte>('A' + i));
  }
  importFileSpec rec{};
  rec.transTable = table.data();
  rec.stripEncQuotes = 1;
  const std::string field = "  \"  The quick\tbrown fox, jumps over the lazy dog 0123456789  \"";
  char buffer[128];
  for (auto _ : state) {
    std::memcpy(buffer, field.c_str(), field.size() + 1);
    ConditionBuffer(buffer, &rec, true);
    benchmark::DoNotOptimize(buffer[0]);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * field.size()));
}
BENCHMARK(BM_Condition);

#if QM_UNICODE
void BM_FieldTextToUtf8(benchmark::State& state) {
  const qlong n = 1 << 20;
  for (auto _ : state) {
    state.PauseTiming();
    XPHandle h = NewXPHandle(4 + 4 * n);
    auto* block = static_cast<char*>(LockXPHandle(h));
    std::memcpy(block, &n, 4);
    auto* chars = reinterpret_cast<qchar*>(block + 4);
    for (qlong i = 0; i < n; ++i)
      chars[i] = (i % 10 == 0) ? 0xE9 : 'a' + (i % 26);
    UnlockXPHandle(h);
    state.ResumeTiming();
    convertQHStrToAsciiHStr(&h);
    DisposeXPHandle(h);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * n);
}
BENCHMARK(BM_FieldTextToUtf8)->Unit(benchmark::kMillisecond);
#endif

} // namespace

BENCHMARK_MAIN();
