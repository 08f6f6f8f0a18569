#include "platform/processors.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sched.h>
#include <unistd.h>
#endif

namespace platform {
namespace {

// The processors the affinity allows, by number.
std::vector<int> AllowedProcessors() {
  std::vector<int> allowed;
#ifdef _WIN32
  DWORD_PTR process = 0, system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
    for (int i = 0; i < int(sizeof(DWORD_PTR) * 8); ++i)
      if (process & (DWORD_PTR(1) << i)) allowed.push_back(i);
  if (allowed.empty()) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    for (DWORD i = 0; i < info.dwNumberOfProcessors; ++i) allowed.push_back(int(i));
  }
#else
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0)
    for (int i = 0; i < CPU_SETSIZE; ++i)
      if (CPU_ISSET(i, &set)) allowed.push_back(i);
  if (allowed.empty()) {
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    for (long i = 0; i < std::max(1L, n); ++i) allowed.push_back(int(i));
  }
#endif
  return allowed;
}

#ifndef _WIN32
// The CPU quota of the cgroup this process is in (v2: cpu.max of its own
// group; v1: cfs_quota_us over cfs_period_us), 0 when none is set.
int CgroupProcessors() {
  std::ifstream groups("/proc/self/cgroup");
  std::string line, v2;
  while (std::getline(groups, line))
    if (line.compare(0, 3, "0::") == 0) v2 = line.substr(3);
  if (!v2.empty()) {
    std::ifstream max("/sys/fs/cgroup" + (v2 == "/" ? std::string() : v2) + "/cpu.max");
    std::string text;
    if (std::getline(max, text)) return ProcessorsInCpuMax(text);
  }
  std::ifstream quota("/sys/fs/cgroup/cpu/cpu.cfs_quota_us"), period("/sys/fs/cgroup/cpu/cpu.cfs_period_us");
  long q = -1, p = 0;
  if (quota >> q && period >> p && q > 0 && p > 0) return int((q + p - 1) / p);
  return 0;
}
#endif

}  // namespace

int ProcessorsInCpuMax(const std::string& line) {
  std::istringstream in(line);
  std::string quota;
  long long period = 0;
  if (!(in >> quota >> period) || quota == "max" || period <= 0) return 0;
  char* end = nullptr;
  const long long q = std::strtoll(quota.c_str(), &end, 10);
  if (end == quota.c_str() || *end != '\0' || q <= 0) return 0;
  return int(std::min<long long>((q + period - 1) / period, 1 << 16));
}

int ProcessorBudget() {
  int n = int(AllowedProcessors().size());
#ifndef _WIN32
  if (const int quota = CgroupProcessors()) n = std::min(n, quota);
#endif
  return std::max(1, n);
}

std::vector<int> PlacesOfShare(int budget, int allowed, int share, int shares) {
  const int base = budget / shares, extra = budget % shares;
  const int first = share * base + std::min(share, extra);
  const int count = std::max(1, base + (share < extra ? 1 : 0));
  std::vector<int> places;
  for (int i = 0; i < count; ++i) places.push_back((first + i) % std::max(1, allowed));
  return places;
}

bool KeepToProcessorShare(int share, int shares) {
  if (shares <= 1 || share < 0) return true;
  const std::vector<int> allowed = AllowedProcessors();
  std::vector<int> part;
  for (int place : PlacesOfShare(ProcessorBudget(), int(allowed.size()), share, shares))
    part.push_back(allowed[size_t(place)]);
#ifdef _WIN32
  DWORD_PTR mask = 0;
  for (int p : part) mask |= DWORD_PTR(1) << p;
  return SetProcessAffinityMask(GetCurrentProcess(), mask) != 0;
#else
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int p : part) CPU_SET(p, &set);
  return sched_setaffinity(0, sizeof set, &set) == 0;
#endif
}

}  // namespace platform
