#pragma once
// Helpers shared by the benchmarks.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <signal.h>
#include <sys/resource.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

// CPU time of the calling thread, in seconds.
inline double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// CPU time of the whole process, in seconds.
inline double processCpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

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

// A home of its own, so the client's settings are its own as well; made
// before the first settings use and removed at the end.
class TempHome {
public:
    explicit TempHome(const std::string& tag)
    {
        std::string dir = "/tmp/vesk-" + tag + "-XXXXXX";
        if (!mkdtemp(dir.data()))
            return;
        path_ = dir;
        setenv("HOME", path_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (path_ + "/.config").c_str(), 1);
        setenv("SDL_AUDIODRIVER", "dummy", 0);
    }
    ~TempHome()
    {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

private:
    std::string path_;
};

// A test peer (the test recorder or device) in a child process, forked
// before the client makes any thread. In the child, prepare runs on the peer
// before it listens; the child serves until the parent closes the pipe (or
// dies).
template <typename Peer, typename Config>
class PeerProcess {
public:
    explicit PeerProcess(const Config& cfg, const std::function<void(Peer&)>& prepare = {})
    {
        int toChild[2], toParent[2];
        if (pipe(toChild) != 0 || pipe(toParent) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            close(toChild[1]);
            close(toParent[0]);
            serve(cfg, prepare, toChild[0], toParent[1]);
            _exit(0);
        }
        close(toChild[0]);
        close(toParent[1]);
        control_ = toChild[1];
        uint16_t port = 0;
        if (pid_ > 0 && read(toParent[0], &port, sizeof port) == ssize_t(sizeof port))
            port_ = port;
        close(toParent[0]);
    }
    ~PeerProcess()
    {
        if (control_ >= 0)
            close(control_);
        if (pid_ > 0)
            waitpid(pid_, nullptr, 0);
    }
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;
    uint16_t port() const { return port_; }

private:
    static void serve(const Config& cfg, const std::function<void(Peer&)>& prepare, int control, int reply)
    {
        Peer peer(cfg);
        if (prepare)
            prepare(peer);
        const uint16_t port = peer.start(0) ? peer.port() : 0;
        if (write(reply, &port, sizeof port) != ssize_t(sizeof port) || port == 0)
            return;
        char c;
        while (read(control, &c, 1) > 0) {
        }
        peer.stop();
    }

    pid_t pid_ = -1;
    int control_ = -1;
    uint16_t port_ = 0;
};

}  // namespace bench
