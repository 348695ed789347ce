// Extraction of a 64 MiB stream from an appended package against CopyFileA
// of the same bytes. Not a test: run by hand under Wine.
//   package_bench.exe [MiB]   (tools/bench/run-bench.sh package)
// Each trial runs in a child process so that its peak working set is its own.
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "package/embedded_package.h"
#include "tests/package/package_files.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Child: one extraction or one copy; writes its time to result.
int Child(const std::string& mode, const std::string& source, const std::string& target, const std::string& result) {
  DeleteFileA(target.c_str());
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  bool ok;
  if (mode == "extract") {
    EmbeddedPackage package(testing_support::WidePath(source).c_str());
    std::unique_ptr<PackageFolder> folder(package.IsOpen() ? package.OpenFolder("Pellomar") : nullptr);
    ok = folder && folder->ExtractFile("Update.exe", target.c_str());
  } else {
    ok = CopyFileA(source.c_str(), target.c_str(), FALSE) != 0;
  }
  QueryPerformanceCounter(&end);
  if (!ok) return 1;
  FILE* out = fopen(result.c_str(), "w");
  if (!out) return 1;
  // Read here: an ended process's counters are not kept everywhere.
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  fprintf(out, "%.6f %llu\n", Seconds(start, end), static_cast<unsigned long long>(counters.PeakWorkingSetSize));
  fclose(out);
  return 0;
}

struct Trial {
  double seconds;
  SIZE_T peak;
};

bool RunChild(const std::string& mode, const std::string& source, const std::string& target,
              const std::string& result, Trial* trial) {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, sizeof self);
  std::string line = "\"" + std::string(self) + "\" --child " + mode + " \"" + source + "\" \"" + target + "\" \"" +
                     result + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  unsigned long long peak = 0;
  if (sscanf(ReadWholeFile(result).c_str(), "%lf %llu", &trial->seconds, &peak) != 2) return false;
  trial->peak = static_cast<SIZE_T>(peak);
  return code == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::string(argv[1]) == "--child") return Child(argv[2], argv[3], argv[4], argv[5]);
  size_t mib = argc > 1 ? static_cast<size_t>(atoi(argv[1])) : 64;
  const int kTrials = 5;

  ScratchFolder scratch;
  std::string content(mib << 20, '\0');
  unsigned seed = 7;
  for (size_t i = 0; i < content.size(); i += 4) {
    seed = seed * 1103515245u + 12345u;
    content[i] = static_cast<char>(seed >> 24);
  }
  std::string plain = scratch.File("plain.bin");
  WriteWholeFile(plain, content);
  std::string compound = package_files::MakeCompoundFile(scratch.File("build.cf"), "Pellomar", {{"Update.exe", content}});
  if (compound.empty()) {
    fprintf(stderr, "cannot build the compound file\n");
    return 1;
  }
  std::string exe_bytes = package_files::OwnImage();
  package_files::AppendPackage(exe_bytes, compound);
  std::string exe = scratch.File("Setup.exe");
  WriteWholeFile(exe, exe_bytes);
  content.clear();
  content.shrink_to_fit();
  compound.clear();
  compound.shrink_to_fit();
  exe_bytes.clear();
  exe_bytes.shrink_to_fit();

  std::string target = scratch.File("http_tmp1.tmp");
  std::string result = scratch.File("result.txt");
  std::vector<Trial> extracts, copies;
  for (int i = 0; i < kTrials; ++i) {
    Trial t;
    if (!RunChild("extract", exe, target, result, &t)) {
      fprintf(stderr, "extraction failed\n");
      return 1;
    }
    if (FileSizeOf(target.c_str()) != (mib << 20)) {
      fprintf(stderr, "extraction has the wrong size\n");
      return 1;
    }
    extracts.push_back(t);
    if (!RunChild("copy", plain, target, result, &t)) {
      fprintf(stderr, "copy failed\n");
      return 1;
    }
    copies.push_back(t);
  }
  auto by_time = [](const Trial& a, const Trial& b) { return a.seconds < b.seconds; };
  std::sort(extracts.begin(), extracts.end(), by_time);
  std::sort(copies.begin(), copies.end(), by_time);
  const Trial& e = extracts[kTrials / 2];
  const Trial& c = copies[kTrials / 2];
  printf("stream of %u MiB, median of %d trials\n", static_cast<unsigned>(mib), kTrials);
  printf("extract: %.3f s, %.0f MiB/s, peak working set %.1f MiB\n", e.seconds, mib / e.seconds,
         e.peak / 1048576.0);
  printf("copy:    %.3f s, %.0f MiB/s, peak working set %.1f MiB\n", c.seconds, mib / c.seconds,
         c.peak / 1048576.0);
  printf("ratio (copy time / extract time): %.2f\n", c.seconds / e.seconds);
  return 0;
}
