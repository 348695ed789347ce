// The "Rand=" parameter that keeps caches between the program and the site
// from answering a request with an old copy.
#include "base/text.h"
#include "transport/host_connection.h"

#ifdef _WIN32
#include <windows.h>
static void SystemClock(unsigned short fields[8]) {
  SYSTEMTIME now;
  GetSystemTime(&now);
  const WORD values[8] = {now.wYear, now.wMonth, now.wDayOfWeek, now.wDay,
                          now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
  for (int i = 0; i < 8; ++i) fields[i] = values[i];
}
#else
#include <time.h>
static void SystemClock(unsigned short fields[8]) {
  time_t t = time(nullptr);
  struct tm now;
  gmtime_r(&t, &now);
  const int values[8] = {now.tm_year + 1900, now.tm_mon + 1, now.tm_wday, now.tm_mday,
                         now.tm_hour, now.tm_min, now.tm_sec, 0};
  for (int i = 0; i < 8; ++i) fields[i] = static_cast<unsigned short>(values[i]);
}
#endif

// Only the worker thread downloads, so the counter needs no guard. Any
// counter value is valid (it wraps), so whether it started is kept apart.
static unsigned g_counter = 0;
static bool g_started = false;
static RandomClock g_clock = nullptr;

void SetRandomClockForTesting(RandomClock clock) {
  g_clock = clock;
  g_started = false;
}

unsigned FoldTimeFields(const unsigned short fields[8]) {
  unsigned h = 0;
  for (int i = 0; i < 8; ++i) h = h * 60u + fields[i];  // wraps in 32 bits
  return h;
}

ByteString RandomParameter() {
  unsigned value;
  if (!g_started) {
    unsigned short fields[8];
    (g_clock ? g_clock : SystemClock)(fields);
    value = FoldTimeFields(fields);
    g_counter = value + 1;
    g_started = true;
  } else {
    value = g_counter + 1;
    g_counter += 2;
  }
  char text[20];  // "Rand=" and at most ten digits
  FormatText(text, sizeof text, "Rand=%u", value);
  return ByteString(text);
}
