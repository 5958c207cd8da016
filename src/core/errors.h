// Error codes and their English messages.
//
// Contract:
// - A code is a plain 32-bit signed integer (no enumeration type): 0 is no error, small numbers
//   are the library's own, 10004..11004 are Windows Sockets numbers passed through unchanged.
//   The named constants below are the codes this library itself produces.
// - The message function is pure, thread-safe and never fails: a negative code has the message
//   of its absolute value, and any code in neither table (INT32_MIN included) reads
//   "Unknown error".
#pragma once

#include <cstdint>
#include <string>

namespace qm {

inline constexpr std::int32_t kErrNone = 0;
inline constexpr std::int32_t kErrCancelled = 1;      // the host closed the session
inline constexpr std::int32_t kErrUnknown = 2;        // a socket call failed without a code
inline constexpr std::int32_t kErrInvalidHandle = 3;  // the manager does not know the pipe
inline constexpr std::int32_t kErrInvalidData = 4;    // not an array; request not accepted
inline constexpr std::int32_t kErrNoHandler = 5;      // OpenSession without open/rejected handler
inline constexpr std::int32_t kErrBadKey = 8;         // a key check of the handshake failed
inline constexpr std::int32_t kErrRefused = 11;       // connecting to the other side failed
inline constexpr std::int32_t kErrTimeout = 12;       // not established within 30000 ms
inline constexpr std::int32_t kErrSocks = 21;         // SOCKS server unresolved or negotiation failed
inline constexpr std::int32_t kErrBadPassword = 22;   // the password proof did not match

// Sets `destination` to the message of the code.
void ErrorMessage(std::int32_t code, std::string& destination);
std::string ErrorMessage(std::int32_t code);

}  // namespace qm
