// The libcsv peer: the same file parsed by libcsv over 1 MiB reads, counting fields and
// records. Prints the line quillomar-import-bench prints.
#include <csv.h>

#include <chrono>
#include <cstdio>
#include <vector>

namespace {
struct Counts {
  long long fields = 0;
  long long records = 0;
};
void onField(void*, size_t, void* data) { ++static_cast<Counts*>(data)->fields; }
void onRecord(int, void* data) { ++static_cast<Counts*>(data)->records; }
} // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: quillomar-libcsv-peer FILE [--tsv]\n");
    return 2;
  }
  std::FILE* f = std::fopen(argv[1], "rb");
  if (!f) return 1;
  csv_parser p{};
  if (csv_init(&p, CSV_APPEND_NULL) != 0) return 1;
  if (argc > 2) csv_set_delim(&p, '\t');
  Counts counts;
  std::vector<char> chunk(1 << 20);
  long long bytes = 0;
  const auto t0 = std::chrono::steady_clock::now();
  size_t n = 0;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), f)) > 0) {
    bytes += static_cast<long long>(n);
    if (csv_parse(&p, chunk.data(), n, onField, onRecord, &counts) != n) return 1;
  }
  csv_fini(&p, onField, onRecord, &counts);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  csv_free(&p);
  std::fclose(f);
  long kib = -1; // VmHWM: ru_maxrss would carry the starting process's peak over exec
  char line[256];
  std::FILE* status = std::fopen("/proc/self/status", "r");
  while (status && std::fgets(line, sizeof line, status))
    if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
  if (status) std::fclose(status);
  std::printf("libcsv %lld %lld %.6f %ld\n", bytes, counts.records, seconds, kib);
  return 0;
}
