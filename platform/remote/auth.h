// The login of a remote connection: SCRAM-SHA-256 (RFC 5802/7677) in substance, over the gate's
// two calls instead of SASL text. The service keeps, per account, only a salted verifier
// (StoredKey = H(HMAC(PBKDF2(password, salt, i), "Client Key")) and ServerKey); the client proves
// it knows the password with ClientKey XOR HMAC(StoredKey, AuthMessage), which a listener cannot
// replay (fresh nonces on both sides) nor turn back into the password; the service proves it
// holds the verifier with HMAC(ServerKey, AuthMessage).
//
// The accounts file holds one account per line, `#` starting a comment:
//
//     user:domain:SCRAM-SHA-256$<iterations>:<salt>$<StoredKey>:<ServerKey>
//
// (base64 fields, as PostgreSQL writes them). User and domain compare without regard to case, as
// Windows account names do; neither may contain ':' or a line break.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/com/result.h"

namespace qva::remote {

using Bytes = std::vector<uint8_t>;

inline constexpr uint32_t kDefaultIterations = 4096;  // RFC 7677's minimum
inline constexpr size_t kNonceBytes = 24;
inline constexpr size_t kSaltBytes = 16;
// Bounds on what a peer may send into a login.
inline constexpr size_t kMaxNameBytes = 1024;
inline constexpr uint32_t kMaxIterations = 1000000;

struct Verifier {
  std::string user;
  std::string domain;
  uint32_t iterations = kDefaultIterations;
  Bytes salt;
  Bytes stored_key;
  Bytes server_key;
};

Bytes RandomBytes(size_t count);

// A verifier for `password` (UTF-8) with a fresh random salt.
com::Expected<Verifier> MakeVerifier(std::string_view user, std::string_view domain, std::string_view password,
                                     uint32_t iterations = kDefaultIterations);
std::string FormatVerifier(const Verifier& v);
// Fails with E_INVALIDARG for a line that is not a well-formed account.
com::Expected<Verifier> ParseVerifier(std::string_view line);

// The accounts of a file. A missing file has no accounts.
class Accounts {
 public:
  static com::Expected<Accounts> Load(const std::string& path);
  const Verifier* Find(std::string_view user, std::string_view domain) const;
  const std::vector<Verifier>& all() const { return accounts_; }

 private:
  std::vector<Verifier> accounts_;
};

// Adds the account, or replaces its verifier, rewriting the file atomically with mode 0600.
HRESULT AddLogin(const std::string& path, std::string_view user, std::string_view domain, std::string_view password,
                 uint32_t iterations = kDefaultIterations);

// What both sides sign: every field of the exchange, each length-prefixed.
Bytes AuthMessage(std::string_view user, std::string_view domain, const Bytes& client_nonce, const Bytes& server_nonce,
                  const Bytes& salt, uint32_t iterations);

struct ClientProof {
  Bytes proof;
  Bytes server_signature;  // what the service must answer
};
ClientProof ComputeClientProof(std::string_view password, const Bytes& salt, uint32_t iterations,
                               const Bytes& auth_message);
// True when `proof` shows knowledge of the verifier's password; then *server_signature is the
// service's answer. Runs in constant time in the proof's content.
bool VerifyClientProof(const Verifier& v, const Bytes& auth_message, const Bytes& proof, Bytes* server_signature);
// A deterministic stand-in salt for an account that does not exist, from a per-process secret.
Bytes DecoySalt(const Bytes& secret, std::string_view user, std::string_view domain);
bool ConstantTimeEqual(const Bytes& a, const Bytes& b);

// ---- slowing down failed logins ------------------------------------------------------------

// Where a login attempt comes from, as failures are counted: a TCP peer by its address, an IPv6
// peer by its /64 (the block one host is usually given, so stepping through its addresses does
// not start it afresh), an IPv4-mapped IPv6 address as the IPv4 address; a peer on the local
// socket by its uid. Empty for an address family that is neither.
std::string LoginSourceOf(const sockaddr* address, socklen_t length);
std::string LoginSourceOfUid(uid_t uid);

struct LoginSlowing {
  // The hold on the answer to the next attempt after one failure; it doubles with each further
  // failure up to `max_delay`.
  std::chrono::milliseconds first_delay{1000};
  std::chrono::milliseconds max_delay{30000};
  // A source without a failure for this long starts afresh.
  std::chrono::milliseconds quiet_period{std::chrono::minutes(10)};
  // The sources remembered at most. When the table is full (an attacker with many addresses),
  // sources it does not hold share one count, so a flood of new sources slows itself down
  // instead of pushing the sources already counted out of the table.
  size_t max_sources = 4096;
};

// The failed logins per source and the hold they earn the next attempt. Times are readings of
// one monotonic clock, as durations since its origin. One thread's (the serving thread's).
class LoginThrottle {
 public:
  using Time = std::chrono::nanoseconds;

  explicit LoginThrottle(LoginSlowing options = {}) : options_(options) {}

  // An attempt from `source` arrives at `now`: when its answer may go. `now` for a source without
  // recent failures; otherwise the hold its failures earned, counted from `now` or from the
  // answer last held for that source, whichever is later, so that attempts sent side by side on
  // several connections are answered one hold after another; but never later than max_delay
  // after `now`.
  Time Admit(const std::string& source, Time now);
  // The attempt's outcome: a failure adds to the count, a success forgets the source.
  void Failed(const std::string& source, Time now);
  void Succeeded(const std::string& source);

  // The hold `failures` earn: none for none, then first_delay doubling up to max_delay.
  Time HoldAfter(uint32_t failures) const;
  // The sources counted one by one (the shared count of the overflow is not among them).
  size_t sources() const { return table_.size(); }

 private:
  struct Entry {
    uint32_t failures = 0;
    Time last_failure{};
    Time next_answer{};  // the latest answer held so far
  };
  // The source's entry; the shared one when the table is full and does not hold it; null when
  // it has none and there is room. Entries gone quiet are forgotten on the way.
  Entry* Find(const std::string& source, Time now);
  bool Quiet(const Entry& e, Time now) const;

  LoginSlowing options_;
  std::unordered_map<std::string, Entry> table_;
  Entry overflow_;
};

}  // namespace qva::remote
