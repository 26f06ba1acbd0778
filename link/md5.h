#pragma once
#include <cstddef>
#include <cstdint>

// MD5 message digest (RFC 1321), used by the second device's login.
struct md5_ctx {
    uint32_t state[4];
    uint32_t count[2];  // message length in bits, low word first
    uint8_t buffer[64];
};

void md5_init(md5_ctx* ctx);
void md5_update(md5_ctx* ctx, const uint8_t* data, size_t len);
// Writes the 16-byte digest and clears the context.
void md5_final(uint8_t digest[16], md5_ctx* ctx);
