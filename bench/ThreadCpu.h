// CPU seconds used so far by this process's threads whose names start with
// a prefix ("hsim-" for all the library's threads, "hsim-poll" for one),
// read from /proc/self/task/*/stat (fields 14 and 15: user and system ticks).
#pragma once

#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

inline double ThreadCpuSeconds(const std::string& prefix)
{
    double total = 0.0;
    const long ticks = sysconf(_SC_CLK_TCK);
    DIR* dir = opendir("/proc/self/task");
    for (dirent* entry = dir ? readdir(dir) : nullptr; entry; entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string base = std::string("/proc/self/task/") + entry->d_name;
        std::ifstream comm(base + "/comm");
        std::string name;
        std::getline(comm, name);
        if (name.rfind(prefix, 0) != 0)
            continue;
        std::ifstream stat(base + "/stat");
        std::string line;
        std::getline(stat, line);
        // The fields after the command's closing parenthesis start at field 3.
        std::istringstream fields(line.substr(line.rfind(')') + 2));
        std::string field;
        long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14)
                utime = std::stol(field);
            if (i == 15)
                stime = std::stol(field);
        }
        total += double(utime + stime) / double(ticks);
    }
    if (dir)
        closedir(dir);
    return total;
}
