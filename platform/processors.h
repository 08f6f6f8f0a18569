// How many processors this process may use: the ones its affinity allows
// (taskset, a batch system's binding), within a cgroup's CPU quota (cpu.max,
// as Kubernetes and Slurm set it). Both the command (how many workers) and
// the filter (how many render threads) count with it, so together they stay
// within what the machine grants.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The processors this process may use, at least 1.
int ProcessorBudget();

// The whole processors a cgroup v2 "cpu.max" line ("QUOTA PERIOD", or
// "max PERIOD") grants, rounded up; 0 when it sets no limit or is not one.
int ProcessorsInCpuMax(const std::string& line);

// Keeps this process to the `share`-th of `shares` parts of its processor
// budget (share from 0), so `shares` worker processes, each counting its own
// budget, use no more than the whole between them. False when the system
// refused (the process then keeps what it had).
bool KeepToProcessorShare(int share, int shares);

// The places, among `allowed` processors, of that part: the budget split as
// evenly as it goes (the first parts one more each when it does not divide),
// taken in turn; with more shares than processors, each part is one.
std::vector<int> PlacesOfShare(int budget, int allowed, int share, int shares);

}  // namespace platform
