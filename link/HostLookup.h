#pragma once
#include <netinet/in.h>

#include <functional>
#include <string>

// IPv4 host lookup that never holds up a link's stop: a name is resolved on
// a helper thread while the caller waits in short slices that watch its
// stop flag. A stopped wait leaves the helper to finish on its own.
namespace HostLookup {

enum class Result { Ok, Failed, Stopped };

// Resolves host to an IPv4 address; false when it has none.
using Resolver = std::function<bool(const std::string& host, in_addr* out)>;

// The system resolver (getaddrinfo).
bool systemResolve(const std::string& host, in_addr* out);

// Dotted-quad text is converted at once; any other name goes through the
// resolver on a helper thread.
Result lookup(const std::string& host, in_addr* out, const std::function<bool()>& stopRequested);

// Replaces the system resolver for every later lookup (tests use one that
// never answers); an empty one restores the system's.
void setResolver(Resolver resolver);

}  // namespace HostLookup
