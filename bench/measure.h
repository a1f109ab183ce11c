#pragma once

// Timing for the benchmarks: each step is timed beside its floor, one after
// the other in the same iteration, so that a busy moment of the machine
// falls on both; the figures are medians over the iterations, and the ratio
// is the median of the iterations' ratios.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace bench {

struct Sample {
    double wallMs = 0;
    double cpuMs = 0; // CPU time of the whole process
};

inline double processCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

template <typename F> Sample timed(F &&f)
{
    const auto w0 = std::chrono::steady_clock::now();
    const double c0 = processCpuMs();
    f();
    const double c1 = processCpuMs();
    const auto w1 = std::chrono::steady_clock::now();
    return {std::chrono::duration<double, std::milli>(w1 - w0).count(), c1 - c0};
}

inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// A step and its floor over several iterations.
class Series {
public:
    void add(const Sample &step, const Sample &floor) { m_pairs.push_back({step, floor}); }
    bool empty() const { return m_pairs.empty(); }

    // One line: name, step ms, floor ms, ratio, step CPU ms, floor CPU ms,
    // CPU ratio (medians).
    void print(const std::string &name) const
    {
        std::vector<double> s, f, r, sc, fc, rc;
        for (const auto &[step, floor] : m_pairs) {
            s.push_back(step.wallMs);
            f.push_back(floor.wallMs);
            r.push_back(step.wallMs / std::max(floor.wallMs, 1e-6));
            sc.push_back(step.cpuMs);
            fc.push_back(floor.cpuMs);
            rc.push_back(step.cpuMs / std::max(floor.cpuMs, 1e-6));
        }
        std::printf("step %s %.2f %.2f %.2f %.2f %.2f %.2f\n", name.c_str(), median(s), median(f), median(r),
                    median(sc), median(fc), median(rc));
        std::fflush(stdout);
    }

private:
    std::vector<std::pair<Sample, Sample>> m_pairs;
};

inline void info(const std::string &key, double value)
{
    std::printf("info %s %.1f\n", key.c_str(), value);
    std::fflush(stdout);
}

// Hands what the process has freed back to the system. The floors run in
// the same process as the program and read vectors of millions of rowids
// that grow by doubling; the C library keeps such freed memory resident for
// reuse, and it would count toward the program's next step.
inline void handBackFreed()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

// Starts the peak resident memory ("VmHWM") afresh from what is resident
// now (after handing back what was freed), so that the peak of one step is
// told apart from earlier ones and from the floors'.
inline void resetPeak()
{
    handBackFreed();
    std::ofstream("/proc/self/clear_refs") << "5";
}

// A figure of /proc/self/status in MB ("VmRSS", "VmHWM").
inline double statusMB(const char *key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(in, line)) {
        if (line.rfind(prefix, 0) == 0)
            return std::stod(line.substr(prefix.size())) / 1024.0;
    }
    return -1;
}

} // namespace bench
