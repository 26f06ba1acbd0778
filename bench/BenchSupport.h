#pragma once
// Helpers shared by the benchmarks.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace bench {

// A field of /proc/self/status given in kB ("VmRSS:", "VmHWM:"), in MiB;
// 0 when it is missing.
inline double statusMiB(const char* key)
{
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind(key, 0) == 0)
            return std::atof(line.c_str() + std::strlen(key)) / 1024.0;
    return 0;
}

// The stream options of a benchmark that has the test recorder send
// pictures: --channels N (1-16), --size WxH, --fps N (1-60). Answers
// whether argv[i] was one of them; i then stands on its value.
inline bool takeStreamOption(int argc, char** argv, int& i, int& channels, int& width, int& height, int& fps)
{
    const std::string a = argv[i];
    if (i + 1 >= argc)
        return false;
    if (a == "--channels") {
        channels = std::clamp(std::atoi(argv[++i]), 1, 16);
    } else if (a == "--size" && std::sscanf(argv[i + 1], "%dx%d", &width, &height) == 2) {
        ++i;
    } else if (a == "--fps") {
        fps = std::clamp(std::atoi(argv[++i]), 1, 60);
    } else {
        return false;
    }
    return true;
}

}  // namespace bench
