#include "platform/remote/auth.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/com/text.h"

namespace qva::remote {
namespace {

constexpr std::string_view kScheme = "SCRAM-SHA-256$";

Bytes Hmac(const Bytes& key, std::string_view data) {
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned len = 0;
  HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(data.data()),
       data.size(), out.data(), &len);
  out.resize(len);
  return out;
}
Bytes Hmac(const Bytes& key, const Bytes& data) {
  return Hmac(key, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}
Bytes Sha256(const Bytes& data) {
  Bytes out(SHA256_DIGEST_LENGTH);
  SHA256(data.data(), data.size(), out.data());
  return out;
}

Bytes SaltedPassword(std::string_view password, const Bytes& salt, uint32_t iterations) {
  Bytes out(SHA256_DIGEST_LENGTH);
  PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(), static_cast<int>(salt.size()),
                    static_cast<int>(iterations), EVP_sha256(), static_cast<int>(out.size()), out.data());
  return out;
}

std::string Base64(const Bytes& b) {
  std::string out(4 * ((b.size() + 2) / 3), '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), b.data(), static_cast<int>(b.size()));
  out.resize(n);
  return out;
}

com::Expected<Bytes> Unbase64(std::string_view s) {
  if (s.empty() || s.size() % 4 != 0) return com::Fail{E_INVALIDARG};
  Bytes out(s.size() / 4 * 3);
  const int n =
      EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(s.data()), static_cast<int>(s.size()));
  if (n < 0) return com::Fail{E_INVALIDARG};
  size_t len = static_cast<size_t>(n);
  // EVP_DecodeBlock counts the padding as zero bytes.
  if (s.back() == '=') --len;
  if (s.size() >= 2 && s[s.size() - 2] == '=') --len;
  out.resize(len);
  return out;
}

void AppendField(Bytes* out, std::string_view field) {
  const uint32_t n = static_cast<uint32_t>(field.size());
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(n >> shift));
  out->insert(out->end(), field.begin(), field.end());
}
void AppendField(Bytes* out, const Bytes& field) {
  AppendField(out, std::string_view(reinterpret_cast<const char*>(field.data()), field.size()));
}

bool ValidName(std::string_view s) {
  return s.size() <= kMaxNameBytes && s.find_first_of(":\r\n") == std::string_view::npos;
}

}  // namespace

Bytes RandomBytes(size_t count) {
  Bytes out(count);
  if (RAND_bytes(out.data(), static_cast<int>(count)) != 1) abort();  // no entropy: nothing safe to do
  return out;
}

bool ConstantTimeEqual(const Bytes& a, const Bytes& b) {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

com::Expected<Verifier> MakeVerifier(std::string_view user, std::string_view domain, std::string_view password,
                                     uint32_t iterations) {
  if (!ValidName(user) || !ValidName(domain) || user.empty() || iterations == 0 || iterations > kMaxIterations)
    return com::Fail{E_INVALIDARG};
  Verifier v;
  v.user = user;
  v.domain = domain;
  v.iterations = iterations;
  v.salt = RandomBytes(kSaltBytes);
  const Bytes salted = SaltedPassword(password, v.salt, iterations);
  v.stored_key = Sha256(Hmac(salted, "Client Key"));
  v.server_key = Hmac(salted, "Server Key");
  return v;
}

std::string FormatVerifier(const Verifier& v) {
  return v.user + ":" + v.domain + ":" + std::string(kScheme) + std::to_string(v.iterations) + ":" + Base64(v.salt) +
         "$" + Base64(v.stored_key) + ":" + Base64(v.server_key);
}

com::Expected<Verifier> ParseVerifier(std::string_view line) {
  Verifier v;
  const size_t a = line.find(':');
  if (a == std::string_view::npos) return com::Fail{E_INVALIDARG};
  const size_t b = line.find(':', a + 1);
  if (b == std::string_view::npos) return com::Fail{E_INVALIDARG};
  v.user = line.substr(0, a);
  v.domain = line.substr(a + 1, b - a - 1);
  std::string_view rest = line.substr(b + 1);
  if (v.user.empty() || !rest.starts_with(kScheme)) return com::Fail{E_INVALIDARG};
  rest.remove_prefix(kScheme.size());
  const size_t colon = rest.find(':');
  const size_t dollar = rest.find('$');
  if (colon == std::string_view::npos || dollar == std::string_view::npos || dollar < colon)
    return com::Fail{E_INVALIDARG};
  const std::string_view iter_text = rest.substr(0, colon);
  auto [end, ec] = std::from_chars(iter_text.data(), iter_text.data() + iter_text.size(), v.iterations);
  if (ec != std::errc() || end != iter_text.data() + iter_text.size() || v.iterations == 0 ||
      v.iterations > kMaxIterations)
    return com::Fail{E_INVALIDARG};
  const std::string_view keys = rest.substr(dollar + 1);
  const size_t split = keys.find(':');
  if (split == std::string_view::npos) return com::Fail{E_INVALIDARG};
  ASSIGN_OR_RETURN(v.salt, Unbase64(rest.substr(colon + 1, dollar - colon - 1)));
  ASSIGN_OR_RETURN(v.stored_key, Unbase64(keys.substr(0, split)));
  ASSIGN_OR_RETURN(v.server_key, Unbase64(keys.substr(split + 1)));
  if (v.stored_key.size() != SHA256_DIGEST_LENGTH || v.server_key.size() != SHA256_DIGEST_LENGTH)
    return com::Fail{E_INVALIDARG};
  return v;
}

com::Expected<Accounts> Accounts::Load(const std::string& path) {
  Accounts accounts;
  std::ifstream in(path);
  if (!in) {
    if (errno == ENOENT) return accounts;
    return com::Fail{HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)};
  }
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    auto v = ParseVerifier(line);
    if (v) accounts.accounts_.push_back(std::move(*v));  // a malformed line grants nothing
  }
  return accounts;
}

const Verifier* Accounts::Find(std::string_view user, std::string_view domain) const {
  for (const Verifier& v : accounts_)
    if (com::EqualsNoCase(v.user, user) && com::EqualsNoCase(v.domain, domain)) return &v;
  return nullptr;
}

HRESULT AddLogin(const std::string& path, std::string_view user, std::string_view domain, std::string_view password,
                 uint32_t iterations) {
  ASSIGN_OR_RETURN(Verifier added, MakeVerifier(user, domain, password, iterations));
  std::ostringstream text;
  {
    std::ifstream in(path);
    std::string line;
    while (in && std::getline(in, line)) {
      auto v = ParseVerifier(line);
      if (v && com::EqualsNoCase(v->user, user) && com::EqualsNoCase(v->domain, domain)) continue;
      text << line << '\n';
    }
  }
  text << FormatVerifier(added) << '\n';
  const std::string body = text.str();
  const std::string temp = path + ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
  bool ok = ::fchmod(fd, 0600) == 0;
  for (size_t done = 0; ok && done < body.size();) {
    const ssize_t n = ::write(fd, body.data() + done, body.size() - done);
    if (n <= 0)
      ok = false;
    else
      done += static_cast<size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return HRESULT_FROM_WIN32(ERROR_CANTWRITE);
  }
  return S_OK;
}

Bytes AuthMessage(std::string_view user, std::string_view domain, const Bytes& client_nonce, const Bytes& server_nonce,
                  const Bytes& salt, uint32_t iterations) {
  Bytes out;
  AppendField(&out, "qvacom-scram-sha-256");
  AppendField(&out, user);
  AppendField(&out, domain);
  AppendField(&out, client_nonce);
  AppendField(&out, server_nonce);
  AppendField(&out, salt);
  AppendField(&out, std::to_string(iterations));
  return out;
}

ClientProof ComputeClientProof(std::string_view password, const Bytes& salt, uint32_t iterations,
                               const Bytes& auth_message) {
  const Bytes salted = SaltedPassword(password, salt, iterations);
  const Bytes client_key = Hmac(salted, "Client Key");
  const Bytes signature = Hmac(Sha256(client_key), auth_message);
  ClientProof out;
  out.proof.resize(client_key.size());
  for (size_t i = 0; i < client_key.size(); ++i) out.proof[i] = client_key[i] ^ signature[i];
  out.server_signature = Hmac(Hmac(salted, "Server Key"), auth_message);
  return out;
}

bool VerifyClientProof(const Verifier& v, const Bytes& auth_message, const Bytes& proof, Bytes* server_signature) {
  const Bytes signature = Hmac(v.stored_key, auth_message);
  if (proof.size() != signature.size()) return false;
  Bytes client_key(proof.size());
  for (size_t i = 0; i < proof.size(); ++i) client_key[i] = proof[i] ^ signature[i];
  if (!ConstantTimeEqual(Sha256(client_key), v.stored_key)) return false;
  *server_signature = Hmac(v.server_key, auth_message);
  return true;
}

Bytes DecoySalt(const Bytes& secret, std::string_view user, std::string_view domain) {
  Bytes what;
  AppendField(&what, com::ToLower(user));
  AppendField(&what, com::ToLower(domain));
  Bytes salt = Hmac(secret, what);
  salt.resize(kSaltBytes);
  return salt;
}

std::string LoginSourceOf(const sockaddr* address, socklen_t length) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address->sa_family == AF_INET && length >= sizeof(sockaddr_in)) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    return text;
  }
  if (address->sa_family == AF_INET6 && length >= sizeof(sockaddr_in6)) {
    in6_addr a = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&a)) {
      inet_ntop(AF_INET, &a.s6_addr[12], text, sizeof text);
      return text;
    }
    std::memset(&a.s6_addr[8], 0, 8);
    inet_ntop(AF_INET6, &a, text, sizeof text);
    return std::string(text) + "/64";
  }
  return {};
}

std::string LoginSourceOfUid(uid_t uid) { return "uid " + std::to_string(uid); }

LoginThrottle::Time LoginThrottle::HoldAfter(uint32_t failures) const {
  if (failures == 0) return Time::zero();
  const Time first = options_.first_delay, most = options_.max_delay;
  Time hold = first;
  for (uint32_t i = 1; i < failures && hold < most; ++i) hold *= 2;
  return std::min(hold, most);
}

bool LoginThrottle::Quiet(const Entry& e, Time now) const {
  return now >= e.next_answer && now - e.last_failure >= options_.quiet_period;
}

LoginThrottle::Entry* LoginThrottle::Find(const std::string& source, Time now) {
  if (auto it = table_.find(source); it != table_.end()) {
    if (!Quiet(it->second, now)) return &it->second;
    table_.erase(it);
    return nullptr;
  }
  if (table_.size() < options_.max_sources) return nullptr;
  std::erase_if(table_, [&](const auto& entry) { return Quiet(entry.second, now); });
  if (table_.size() < options_.max_sources) return nullptr;
  if (Quiet(overflow_, now)) overflow_ = Entry{};
  return &overflow_;
}

LoginThrottle::Time LoginThrottle::Admit(const std::string& source, Time now) {
  Entry* e = Find(source, now);
  if (!e || e->failures == 0) return now;
  // Queued behind the answers already held, but never further than the longest hold: a flood of
  // attempts must not push the source's answers (or, for the shared count, every newcomer's)
  // hours away.
  e->next_answer = std::min(std::max(now, e->next_answer) + HoldAfter(e->failures), now + Time(options_.max_delay));
  return e->next_answer;
}

void LoginThrottle::Failed(const std::string& source, Time now) {
  Entry* e = Find(source, now);
  if (!e) e = &table_[source];
  // The hold stops growing long before the count could overflow.
  if (e->failures < 64) ++e->failures;
  e->last_failure = now;
}

void LoginThrottle::Succeeded(const std::string& source) { table_.erase(source); }

}  // namespace qva::remote
