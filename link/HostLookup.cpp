#include "link/HostLookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace HostLookup {
namespace {

// Shared by the waiting link and the helper, which may outlive the wait.
struct Pending {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    bool ok = false;
    in_addr addr{};
};

constexpr auto kSlice = std::chrono::milliseconds(20);

std::mutex g_resolverLock;
Resolver g_resolver;

Resolver currentResolver()
{
    std::lock_guard<std::mutex> guard(g_resolverLock);
    return g_resolver ? g_resolver : Resolver(systemResolve);
}

}  // namespace

bool systemResolve(const std::string& host, in_addr* out)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
        return false;
    *out = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

void setResolver(Resolver resolver)
{
    std::lock_guard<std::mutex> guard(g_resolverLock);
    g_resolver = std::move(resolver);
}

Result lookup(const std::string& host, in_addr* out, const std::function<bool()>& stopRequested)
{
    if (!out || host.empty())
        return Result::Failed;
    if (inet_pton(AF_INET, host.c_str(), out) == 1)
        return Result::Ok;
    auto pending = std::make_shared<Pending>();
    Resolver resolve = currentResolver();
    std::thread([pending, resolve, host] {
        in_addr addr{};
        bool ok = resolve(host, &addr);
        std::lock_guard<std::mutex> guard(pending->lock);
        pending->ok = ok;
        pending->addr = addr;
        pending->finished = true;
        pending->done.notify_all();
    }).detach();
    std::unique_lock<std::mutex> guard(pending->lock);
    while (!pending->done.wait_for(guard, kSlice, [&] { return pending->finished; })) {
        if (stopRequested && stopRequested())
            return Result::Stopped;
    }
    if (!pending->ok)
        return Result::Failed;
    *out = pending->addr;
    return Result::Ok;
}

}  // namespace HostLookup
