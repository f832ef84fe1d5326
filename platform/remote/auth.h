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

#include <cstdint>
#include <string>
#include <string_view>
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

}  // namespace qva::remote
