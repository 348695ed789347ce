// Transport throughput benchmark: downloads 1, 64 and 256 MiB from a loopback
// server through each transport and through a plain winsock receive loop on
// the same server, and prints MB/s and the peak working set.
// Run it with tools/bench/run-bench.sh transport.
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>

#include <stdio.h>

#include <string>

#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"
#include "transport/host_connection.h"

namespace {

const char kPath[] = "bench.bin";  // relative to the base path "/"

double Now() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double PeakWorkingSetMiB() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return -1;
  return static_cast<double>(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
}

unsigned long long SizeOf(const std::string& file) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The baseline: one HTTP/1.0 request, the same 4096-byte receive buffer as
// the socket transport, each chunk after the header block written to the file.
bool PlainLoop(const std::string& address, const std::string& file) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return false;
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(80);
  to.sin_addr.s_addr = inet_addr(address.c_str());
  std::string request = "GET http://" + address + "/" + kPath + " HTTP/1.0\r\n\r\n";
  bool ok = connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
            send(s, request.data(), static_cast<int>(request.size()), 0) == static_cast<int>(request.size());
  HANDLE out = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ok = ok && out != INVALID_HANDLE_VALUE;
  char buffer[4096];
  bool in_body = false;
  int matched = 0;  // bytes of "\r\n\r\n" seen so far
  while (ok) {
    int n = recv(s, buffer, sizeof buffer, 0);
    if (n < 0) ok = false;
    if (n <= 0) break;
    int start = 0;
    while (!in_body && start < n) {
      char c = buffer[start++];
      matched = (c == "\r\n\r\n"[matched]) ? matched + 1 : (c == '\r' ? 1 : 0);
      if (matched == 4) in_body = true;
    }
    DWORD written = 0;
    if (start < n && !WriteFile(out, buffer + start, n - start, &written, nullptr)) ok = false;
  }
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  closesocket(s);
  return ok;
}

struct Method {
  const char* name;
  int transport;  // index in the connection's list, -1 for the plain loop
};

// Stands in for the status line's sink, as the updater's download has one:
// it reads the clock on every report and keeps one an eighth of a second.
struct ThrottledSink : TransferProgress {
  void Report(uint64_t done, uint64_t total) override {
    DWORD now = GetTickCount();
    if (now - shown_at < 125) return;
    shown_at = now;
    shown = total ? done * 100 / total : done;
  }
  DWORD shown_at = 0;
  uint64_t shown = 0;
};

}  // namespace

int main() {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  testing_support::HttpTestServer server(29, 1);
  if (!server.Ok()) {
    printf("cannot bind %s:80\n", server.Address().c_str());
    return 2;
  }
  const std::string address = server.Address();
  testing_support::ScratchFolder scratch;
  std::string file = scratch.File("bench.out");

  const Method methods[] = {{"plain winsock loop", -1}, {"WinInet", 0}, {"Socket", 1}, {"URL moniker", 2}};
  const int kMethods = sizeof methods / sizeof methods[0];
  const int sizes[] = {1, 64, 256};
  HostConnection connection(address.c_str(), nullptr, "/");
  connection.connected = true;  // as after the connection test
  ThrottledSink sink;
  connection.progress = &sink;
  double peak_after_1 = 0;
  bool all_ok = true;

  printf("%-20s %8s %10s %8s\n", "method", "MiB", "MB/s", "x plain");
  for (int size : sizes) {
    const unsigned long long expected = static_cast<unsigned long long>(size) << 20;
    server.ServePath(std::string("/") + kPath, testing_support::HttpReply::LargeBody(expected));
    // Rounds go over every method in turn, each round starting one method
    // later, so that a busy machine or the disk writing back the previous
    // run's file slows them alike; each method's best round counts.
    double best[kMethods] = {};
    bool failed[kMethods] = {};
    const int rounds = size >= 256 ? kMethods : 2 * kMethods;
    for (int round = 0; round < rounds; ++round) {
      for (int k = 0; k < kMethods; ++k) {
        const int m = (round + k) % kMethods;
        if (failed[m]) continue;
        DeleteFileA(file.c_str());
        double start = Now();
        bool ok = methods[m].transport < 0
                      ? PlainLoop(address, file)
                      : connection.transports[methods[m].transport]->GetFile(kPath, file.c_str());
        double seconds = Now() - start;
        unsigned long long stored = SizeOf(file);
        if (!ok || stored != expected) {
          printf("%-20s %8d   failed (ok=%d, %llu of %llu bytes)\n", methods[m].name, size, ok ? 1 : 0, stored,
                 expected);
          failed[m] = true;
          all_ok = false;
          continue;
        }
        double rate = static_cast<double>(expected) / 1e6 / seconds;
        if (rate > best[m]) best[m] = rate;
      }
    }
    for (int m = 0; m < kMethods; ++m) {
      if (failed[m]) continue;
      printf("%-20s %8d %10.1f %8.2f\n", methods[m].name, size, best[m], best[0] > 0 ? best[m] / best[0] : 0.0);
    }
    DeleteFileA(file.c_str());
    double peak = PeakWorkingSetMiB();
    if (size == 1) peak_after_1 = peak;
    printf("peak working set after the %d MiB round: %.1f MiB\n", size, peak);
    fflush(stdout);
  }
  printf("working set growth from 1 to 256 MiB: %.1f MiB\n", PeakWorkingSetMiB() - peak_after_1);
  WSACleanup();
  return all_ok ? 0 : 1;
}
