#pragma once
#include <netinet/in.h>

#include <functional>

// Finds the IPv4 address of a dotted address or a host name. A name is
// looked up on a helper thread so that the caller can give up as soon as
// stop() answers true; false when not found or stopped.
bool resolveIPv4(const char* host, in_addr* out, const std::function<bool()>& stop);
