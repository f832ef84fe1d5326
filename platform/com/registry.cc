#include "platform/com/registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unicode/uchar.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

namespace com {
namespace {

constexpr std::string_view kSignature = "QVACOM Registry Version 1";
constexpr std::string_view kTrailer = "END";
constexpr std::string_view kRootName = "HKEY_CLASSES_ROOT";
// Far beyond any real HKEY_CLASSES_ROOT; bounds what a damaged or hostile file can make us read.
constexpr size_t kMaxFileSize = size_t{64} << 20;
constexpr uint32_t kErrorDiskFull = 112;

std::atomic<RegistryCommitHook> g_commit_hook{nullptr};

// ---- UTF-8 and names ----------------------------------------------------------------------

// Length of the well-formed UTF-8 sequence at s[i] with its code point, or 0 when it is
// ill-formed (overlong forms, surrogates and values beyond U+10FFFF included).
size_t DecodeUtf8(std::string_view s, size_t i, char32_t* cp) {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) {
    *cp = c;
    return 1;
  }
  size_t len;
  char32_t min;
  if ((c & 0xE0) == 0xC0) {
    len = 2, *cp = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3, *cp = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4, *cp = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (s.size() - i < len) return 0;
  for (size_t k = 1; k < len; ++k) {
    const auto cc = static_cast<unsigned char>(s[i + k]);
    if ((cc & 0xC0) != 0x80) return 0;
    *cp = (*cp << 6) | (cc & 0x3F);
  }
  if (*cp < min || *cp > 0x10FFFF || (*cp >= 0xD800 && *cp <= 0xDFFF)) return 0;
  return len;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool IsValidUtf8(std::string_view s) {
  char32_t cp;
  for (size_t i = 0; i < s.size();) {
    const size_t n = DecodeUtf8(s, i, &cp);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

// The lookup form of a name: simple case folding per code point, as the Windows registry compares
// names. A byte that is not valid UTF-8 is kept behind a 0xFF marker (never part of valid UTF-8)
// so it cannot collide with the folding of a valid sequence.
std::string Fold(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size();) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c < 0x80) {
      out += static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
      ++i;
      continue;
    }
    char32_t cp;
    const size_t n = DecodeUtf8(name, i, &cp);
    if (n == 0) {
      out += '\xFF';
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    AppendUtf8(out, static_cast<char32_t>(u_foldCase(static_cast<UChar32>(cp), U_FOLD_CASE_DEFAULT)));
    i += n;
  }
  return out;
}

bool EqualNames(std::string_view a, std::string_view b) {
  if (a.size() == b.size()) {
    bool ascii_equal = true;
    for (size_t i = 0; i < a.size() && ascii_equal; ++i) {
      const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
      if (x >= 0x80 || y >= 0x80) return Fold(a) == Fold(b);
      ascii_equal = x == y || ((x | 0x20) == (y | 0x20) && (x | 0x20) >= 'a' && (x | 0x20) <= 'z');
    }
    if (ascii_equal) return true;
  }
  // Folding can change the length (e.g. U+212A KELVIN SIGN folds to 'k').
  return Fold(a) == Fold(b);
}

// Splits "A\\B\\C"; an empty path gives no components, an empty component gives "".
std::vector<std::string_view> SplitPath(std::string_view path) {
  std::vector<std::string_view> parts;
  if (path.empty()) return parts;
  size_t start = 0;
  for (;;) {
    const size_t sep = path.find('\\', start);
    parts.push_back(path.substr(start, sep == std::string_view::npos ? std::string_view::npos : sep - start));
    if (sep == std::string_view::npos) break;
    start = sep + 1;
  }
  return parts;
}

// ---- file text ----------------------------------------------------------------------------

void AppendHexEscape(std::string& out, unsigned char c) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += "\\x";
  out += kHex[c >> 4];
  out += kHex[c & 0xF];
}

void AppendQuoted(std::string& out, std::string_view s) {
  out += '"';
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      char32_t cp;
      const size_t n = DecodeUtf8(s, i, &cp);
      if (n == 0) {
        AppendHexEscape(out, c);
        ++i;
      } else {
        out.append(s.substr(i, n));
        i += n;
      }
      continue;
    }
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += '\t';
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          AppendHexEscape(out, c);
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  out += '"';
}

bool FormatKey(const RegistryKey& key, std::string& path, size_t depth, std::string& out) {
  if (depth > RegistryKey::kMaxDepth) return false;
  out += '[';
  out += path;
  out += "]\n";
  if (const auto& def = key.GetDefault()) {
    out += '@';
    out += '=';
    AppendQuoted(out, *def);
    out += '\n';
  }
  for (const auto& [name, value] : key.values()) {
    AppendQuoted(out, name);
    out += '=';
    AppendQuoted(out, value);
    out += '\n';
  }
  out += '\n';
  for (const RegistryKey* sub : key.SubKeys()) {
    if (!RegistryKey::IsValidName(sub->name())) return false;
    const size_t mark = path.size();
    path += '\\';
    path += sub->name();
    const bool ok = FormatKey(*sub, path, depth + 1, out);
    path.resize(mark);
    if (!ok) return false;
  }
  return true;
}

// Reads a quoted string at line[*pos] (which must be '"'), advancing *pos past the closing quote.
bool ParseQuoted(std::string_view line, size_t* pos, std::string* out) {
  size_t i = *pos;
  if (i >= line.size() || line[i] != '"') return false;
  ++i;
  out->clear();
  while (i < line.size()) {
    const auto c = static_cast<unsigned char>(line[i]);
    if (c == '"') {
      *pos = i + 1;
      return true;
    }
    if (c == '\\') {
      if (i + 1 >= line.size()) return false;
      const char e = line[i + 1];
      i += 2;
      switch (e) {
        case '\\':
          *out += '\\';
          break;
        case '"':
          *out += '"';
          break;
        case 'r':
          *out += '\r';
          break;
        case 'n':
          *out += '\n';
          break;
        case 'x': {
          if (i + 2 > line.size()) return false;
          int hi = -1, lo = -1;
          for (int* d : {&hi, &lo}) {
            const char h = line[i++];
            *d = h >= '0' && h <= '9'   ? h - '0'
                 : h >= 'a' && h <= 'f' ? h - 'a' + 10
                 : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                        : -1;
          }
          if (hi < 0 || lo < 0) return false;
          *out += static_cast<char>(hi * 16 + lo);
          break;
        }
        default:
          return false;
      }
      continue;
    }
    if ((c < 0x20 && c != '\t') || c == 0x7F) return false;
    *out += static_cast<char>(c);
    ++i;
  }
  return false;  // no closing quote
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// ---- files --------------------------------------------------------------------------------

HRESULT ReadErrorFromErrno(int err) { return err == EACCES || err == EPERM ? E_ACCESSDENIED : REGDB_E_READREGDB; }

HRESULT WriteErrorFromErrno(int err) {
  switch (err) {
    case EACCES:
    case EPERM:
    case EROFS:
      return E_ACCESSDENIED;
    case ENOSPC:
    case EDQUOT:
      return HRESULT_FROM_WIN32(kErrorDiskFull);
    case ENOENT:
    case ENOTDIR:
      return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    default:
      return REGDB_E_WRITEREGDB;
  }
}

std::string ParentFolder(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// mkdir -p; existing folders are fine.
HRESULT MakeFolders(const std::string& folder) {
  struct stat st;
  if (stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? S_OK : HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  if (errno != ENOENT) return WriteErrorFromErrno(errno);
  const std::string parent = ParentFolder(folder);
  if (parent != folder) RETURN_IF_FAILED(MakeFolders(parent));
  if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) return WriteErrorFromErrno(errno);
  return S_OK;
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }
  // Closes now and reports close's own failure (a delayed write error on some file systems).
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Removes temporary files that a writer killed half way left behind. Only called under the
// writers' lock, so no temporary file of a live writer can be among them.
void RemoveStaleTemporaries(const std::string& path) {
  const std::string folder = ParentFolder(path);
  const size_t slash = path.rfind('/');
  const std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".tmp.";
  DIR* dir = opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name.size() == prefix.size() + 6 && name.substr(0, prefix.size()) == prefix)
      unlinkat(dirfd(dir), entry->d_name, 0);
  }
  closedir(dir);
}

// Replaces `path` with `data`: temporary file, fsync, rename, fsync of the folder. On failure the
// old file is untouched and the temporary file removed.
HRESULT WriteFileAtomically(const std::string& path, std::string_view data) {
  const std::string folder = ParentFolder(path);
  RETURN_IF_FAILED(MakeFolders(folder));
  std::string temp = path + ".tmp.XXXXXX";
  Fd fd(mkostemp(temp.data(), O_CLOEXEC));
  if (fd.get() < 0) return WriteErrorFromErrno(errno);
  HRESULT hr = S_OK;
  // The registry is readable by every user, as HKEY_CLASSES_ROOT is; an existing file keeps its mode.
  struct stat old;
  const mode_t mode = stat(path.c_str(), &old) == 0 ? (old.st_mode & 0777) : 0644;
  if (fchmod(fd.get(), mode) != 0 || !WriteAll(fd.get(), data) || fsync(fd.get()) != 0) {
    hr = WriteErrorFromErrno(errno);
  } else if (!fd.Close()) {
    hr = WriteErrorFromErrno(errno);
  } else if (const RegistryCommitHook hook = g_commit_hook.load()) {
    hr = hook(temp);
  }
  if (SUCCEEDED(hr) && rename(temp.c_str(), path.c_str()) != 0) hr = WriteErrorFromErrno(errno);
  if (FAILED(hr)) {
    unlink(temp.c_str());
    return hr;
  }
  // Makes the rename itself durable. The new file is already in place, so a failure here is not
  // reported as a failed edit.
  Fd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) fsync(dir.get());
  return S_OK;
}

}  // namespace

// ---- RegistryKey ----------------------------------------------------------------------------

RegistryKey::RegistryKey(const RegistryKey& other)
    : name_(other.name_), default_(other.default_), values_(other.values_) {
  for (const auto& [folded, sub] : other.subkeys_) subkeys_.emplace(folded, std::make_unique<RegistryKey>(*sub));
}

RegistryKey& RegistryKey::operator=(const RegistryKey& other) {
  if (this != &other) {
    RegistryKey copy(other);
    *this = std::move(copy);
  }
  return *this;
}

bool RegistryKey::IsValidName(std::string_view name) {
  if (name.empty()) return false;
  size_t utf16_units = 0;
  for (size_t i = 0; i < name.size();) {
    char32_t cp;
    const size_t n = DecodeUtf8(name, i, &cp);
    if (n == 0 || cp < 0x20 || cp == 0x7F || cp == '\\') return false;
    utf16_units += cp >= 0x10000 ? 2 : 1;
    i += n;
  }
  return utf16_units <= kMaxNameLength;
}

const RegistryKey* RegistryKey::FindChild(std::string_view name) const {
  const auto it = subkeys_.find(Fold(name));
  return it == subkeys_.end() ? nullptr : it->second.get();
}

RegistryKey* RegistryKey::FindChild(std::string_view name) {
  return const_cast<RegistryKey*>(std::as_const(*this).FindChild(name));
}

const RegistryKey* RegistryKey::Find(std::string_view path) const {
  const RegistryKey* key = this;
  for (std::string_view part : SplitPath(path)) {
    if (part.empty()) return nullptr;
    key = key->FindChild(part);
    if (!key) return nullptr;
  }
  return key;
}

RegistryKey* RegistryKey::Find(std::string_view path) {
  return const_cast<RegistryKey*>(std::as_const(*this).Find(path));
}

Expected<RegistryKey*> RegistryKey::CreatePath(std::string_view path) {
  const std::vector<std::string_view> parts = SplitPath(path);
  if (parts.size() > kMaxDepth) return Fail{E_INVALIDARG};
  for (std::string_view part : parts)
    if (!IsValidName(part)) return Fail{E_INVALIDARG};
  RegistryKey* key = this;
  for (std::string_view part : parts) {
    std::string folded = Fold(part);
    auto it = key->subkeys_.find(folded);
    if (it == key->subkeys_.end())
      it = key->subkeys_.emplace(std::move(folded), std::make_unique<RegistryKey>(std::string(part))).first;
    key = it->second.get();
  }
  return key;
}

HRESULT RegistryKey::DeleteSubKey(std::string_view path, bool recursive) {
  if (path.empty()) return E_INVALIDARG;
  const size_t sep = path.rfind('\\');
  RegistryKey* parent = sep == std::string_view::npos ? this : Find(path.substr(0, sep));
  const std::string_view leaf = sep == std::string_view::npos ? path : path.substr(sep + 1);
  if (!parent || leaf.empty()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  const auto it = parent->subkeys_.find(Fold(leaf));
  if (it == parent->subkeys_.end()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  if (!recursive && !it->second->subkeys_.empty()) return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
  parent->subkeys_.erase(it);
  return S_OK;
}

std::vector<const RegistryKey*> RegistryKey::SubKeys() const {
  std::vector<const RegistryKey*> keys;
  keys.reserve(subkeys_.size());
  for (const auto& entry : subkeys_) keys.push_back(entry.second.get());
  return keys;
}

std::vector<RegistryKey*> RegistryKey::SubKeys() {
  std::vector<RegistryKey*> keys;
  keys.reserve(subkeys_.size());
  for (const auto& entry : subkeys_) keys.push_back(entry.second.get());
  return keys;
}

std::optional<std::string> RegistryKey::GetValue(std::string_view name) const {
  if (name.empty()) return default_;
  for (const auto& [n, v] : values_)
    if (EqualNames(n, name)) return v;
  return std::nullopt;
}

void RegistryKey::SetValue(std::string_view name, std::string value) {
  if (name.empty()) {
    default_ = std::move(value);
    return;
  }
  for (auto& [n, v] : values_) {
    if (EqualNames(n, name)) {
      v = std::move(value);
      return;
    }
  }
  values_.emplace_back(std::string(name), std::move(value));
}

HRESULT RegistryKey::DeleteValue(std::string_view name) {
  if (name.empty()) {
    if (!default_) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    default_.reset();
    return S_OK;
  }
  for (auto it = values_.begin(); it != values_.end(); ++it) {
    if (EqualNames(it->first, name)) {
      values_.erase(it);
      return S_OK;
    }
  }
  return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
}

bool operator==(const RegistryKey& a, const RegistryKey& b) {
  if (a.name_ != b.name_ || a.default_ != b.default_ || a.values_ != b.values_ ||
      a.subkeys_.size() != b.subkeys_.size())
    return false;
  for (auto i = a.subkeys_.begin(), j = b.subkeys_.begin(); i != a.subkeys_.end(); ++i, ++j)
    if (i->first != j->first || !(*i->second == *j->second)) return false;
  return true;
}

// ---- file text ----------------------------------------------------------------------------

Expected<std::string> FormatRegistryText(const RegistryKey& root) {
  std::string out;
  out += kSignature;
  out += "\n\n";
  std::string path(kRootName);
  if (!FormatKey(root, path, 0, out)) return Fail{REGDB_E_WRITEREGDB};
  out += kTrailer;
  out += '\n';
  return out;
}

Expected<RegistryKey> ParseRegistryText(std::string_view text) {
  constexpr HRESULT kMalformed = REGDB_E_READREGDB;
  if (text.size() > kMaxFileSize || !IsValidUtf8(text)) return Fail{kMalformed};
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  // Every complete file ends with the trailer line (blank lines after it do not matter); a file
  // without it was cut off.
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  const std::string_view trailer = "\nEND";
  if (!text.ends_with(trailer)) return Fail{kMalformed};
  text.remove_suffix(trailer.size() - 1);

  RegistryKey root{std::string(kRootName)};
  RegistryKey* current = nullptr;
  bool first_line = true;
  std::string name, value;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view raw = text.substr(start, end - start);
    start = end + 1;
    if (first_line) {
      first_line = false;
      if (Trim(raw) != kSignature) return Fail{kMalformed};
      continue;
    }
    const std::string_view line = Trim(raw);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line.back() != ']') return Fail{kMalformed};
      const std::vector<std::string_view> parts = SplitPath(line.substr(1, line.size() - 2));
      if (parts.empty() || !EqualNames(parts.front(), kRootName) || parts.size() - 1 > RegistryKey::kMaxDepth)
        return Fail{kMalformed};
      current = &root;
      for (size_t i = 1; i < parts.size(); ++i) {
        if (!RegistryKey::IsValidName(parts[i])) return Fail{kMalformed};
        ASSIGN_OR_RETURN(current, current->CreatePath(parts[i]));
      }
      continue;
    }
    if (!current) return Fail{kMalformed};
    size_t pos = 0;
    bool is_default = false;
    if (line.front() == '@') {
      is_default = true;
      pos = 1;
    } else if (!ParseQuoted(line, &pos, &name) || name.empty()) {
      return Fail{kMalformed};
    }
    if (pos >= line.size() || line[pos] != '=') return Fail{kMalformed};
    ++pos;
    if (!ParseQuoted(line, &pos, &value) || pos != line.size()) return Fail{kMalformed};
    if (is_default) {
      current->SetDefault(std::move(value));
    } else {
      current->SetValue(name, std::move(value));
    }
  }
  if (first_line) return Fail{kMalformed};
  return root;
}

// ---- Registry -------------------------------------------------------------------------------

Registry::Registry(std::string path) : path_(std::move(path)) {}

Registry::FileStamp Registry::StampOf(const struct ::stat& st) {
  return {true, st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec * 1'000'000'000LL + st.st_mtim.tv_nsec};
}

std::string Registry::DefaultPath() {
  const auto env = [](const char* name) -> std::string_view {
    const char* v = std::getenv(name);
    return v ? v : "";
  };
  if (const std::string_view p = env("QVA_REGISTRY"); !p.empty()) return std::string(p);
  // The XDG base directory rules ignore a relative XDG_DATA_HOME.
  if (const std::string_view p = env("XDG_DATA_HOME"); p.starts_with('/')) return std::string(p) + "/qvacom/registry";
  if (const std::string_view p = env("HOME"); !p.empty()) return std::string(p) + "/.local/share/qvacom/registry";
  return "/var/lib/qvacom/registry";
}

Registry& Registry::Shared() {
  static std::mutex mutex;
  // Never destroyed: libraries may still look classes up while the process exits.
  static auto* instances = new std::map<std::string, std::unique_ptr<Registry>>;
  std::string path = DefaultPath();
  std::lock_guard lock(mutex);
  auto& slot = (*instances)[path];
  if (!slot) slot = std::make_unique<Registry>(std::move(path));
  return *slot;
}

Expected<std::shared_ptr<const RegistryKey>> Registry::Read() {
  try {
    std::lock_guard lock(mutex_);
    struct stat st;
    FileStamp stamp;
    if (stat(path_.c_str(), &st) == 0) {
      stamp = StampOf(st);
    } else if (errno != ENOENT && errno != ENOTDIR) {
      return Fail{ReadErrorFromErrno(errno)};
    }
    if (loaded_ && stamp == stamp_) {
      if (FAILED(load_result_)) return Fail{load_result_};
      return tree_;
    }
    return ReloadLocked();
  } catch (const std::bad_alloc&) {
    return Fail{E_OUTOFMEMORY};
  }
}

Expected<std::shared_ptr<const RegistryKey>> Registry::ReloadLocked() {
  // The stamp is taken from the open file, so it describes exactly the bytes parsed even when
  // the file is replaced meanwhile.
  FileStamp stamp;
  HRESULT hr = S_OK;
  std::shared_ptr<const RegistryKey> tree;
  Fd fd(open(path_.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (fd.get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      tree = std::make_shared<const RegistryKey>(std::string(kRootName));
    } else {
      return Fail{ReadErrorFromErrno(errno)};  // nothing known about the file: nothing cached
    }
  } else if (fstat(fd.get(), &st) != 0) {
    return Fail{ReadErrorFromErrno(errno)};
  } else {
    stamp = StampOf(st);
    if (!S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > kMaxFileSize) {
      hr = REGDB_E_READREGDB;
    } else {
      std::string text(static_cast<size_t>(st.st_size), '\0');
      size_t done = 0;
      while (done < text.size()) {
        const ssize_t n = pread(fd.get(), text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      if (done != text.size()) {
        hr = REGDB_E_READREGDB;
      } else {
        Expected<RegistryKey> parsed = ParseRegistryText(text);
        if (parsed) {
          tree = std::make_shared<const RegistryKey>(std::move(parsed).value());
        } else {
          hr = parsed.error();
        }
      }
    }
  }
  loaded_ = true;
  stamp_ = stamp;
  load_result_ = hr;
  if (FAILED(hr)) return Fail{hr};
  tree_ = std::move(tree);
  return tree_;
}

HRESULT Registry::Edit(const std::function<HRESULT(RegistryKey& root)>& edit) {
  try {
    RETURN_IF_FAILED(MakeFolders(ParentFolder(path_)));
    Fd lock(open((path_ + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (lock.get() < 0) return WriteErrorFromErrno(errno);
    while (flock(lock.get(), LOCK_EX) != 0) {
      if (errno != EINTR) return REGDB_E_WRITEREGDB;
    }
    RemoveStaleTemporaries(path_);
    // Under the lock no cooperating writer can change the file, so what Read returns is current.
    ASSIGN_OR_RETURN(std::shared_ptr<const RegistryKey> current, Read());
    RegistryKey work = *current;
    const HRESULT result = edit(work);
    if (FAILED(result)) return result;
    if (work == *current) return result;
    ASSIGN_OR_RETURN(const std::string text, FormatRegistryText(work));
    RETURN_IF_FAILED(WriteFileAtomically(path_, text));

    std::lock_guard guard(mutex_);
    struct stat st;
    if (stat(path_.c_str(), &st) == 0) {
      stamp_ = StampOf(st);
      load_result_ = S_OK;
      loaded_ = true;
      tree_ = std::make_shared<const RegistryKey>(std::move(work));
    } else {
      loaded_ = false;  // the next Read loads from the file
    }
    return result;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

void SetRegistryCommitHookForTesting(RegistryCommitHook hook) { g_commit_hook.store(hook); }

}  // namespace com
