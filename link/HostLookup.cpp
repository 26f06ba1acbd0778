#include "link/HostLookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

struct Lookup {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    bool found = false;
    in_addr addr{};
};

}  // namespace

bool resolveIPv4(const char* host, in_addr* out, const std::function<bool()>& stop)
{
    if (!host || !*host)
        return false;
    if (inet_pton(AF_INET, host, out) == 1)
        return true;
    auto lookup = std::make_shared<Lookup>();
    // The helper owns its share of the result, so a caller that gives up
    // leaves it to finish on its own.
    std::thread([lookup, name = std::string(host)] {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        bool ok = getaddrinfo(name.c_str(), nullptr, &hints, &found) == 0 && found;
        std::lock_guard<std::mutex> guard(lookup->lock);
        if (ok)
            lookup->addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
        if (found)
            freeaddrinfo(found);
        lookup->found = ok;
        lookup->finished = true;
        lookup->done.notify_all();
    }).detach();

    std::unique_lock<std::mutex> guard(lookup->lock);
    while (!lookup->finished) {
        if (stop && stop())
            return false;
        lookup->done.wait_for(guard, std::chrono::milliseconds(20));
    }
    if (lookup->found)
        *out = lookup->addr;
    return lookup->found;
}
