// HKEY_CLASSES_ROOT as a persistent key tree kept in one text file.
//
// RegistryKey is the tree itself: a value type, so a copy is a snapshot that later edits of the
// original do not touch. Registry binds a tree to its file: readers get an immutable snapshot that
// is re-read only when the file changed on disk; writers go through Edit, which serialises them
// across processes and replaces the file atomically.
//
// Where the file is (Registry::DefaultPath):
//   1. $QVA_REGISTRY, when set and not empty (tests and packaged services point it elsewhere);
//   2. else $XDG_DATA_HOME/qvacom/registry, when XDG_DATA_HOME is an absolute path;
//   3. else $HOME/.local/share/qvacom/registry, when HOME is set and not empty;
//   4. else /var/lib/qvacom/registry.
// Next to it live "<path>.lock" (the writers' advisory lock, never removed) and, only while a write
// is under way, "<path>.tmp.XXXXXX".
//
// File format (UTF-8, in the manner of a REGEDIT4 export, meant to be read and fixed by people):
//
//   QVACOM Registry Version 1
//
//   [HKEY_CLASSES_ROOT]
//
//   [HKEY_CLASSES_ROOT\CLSID\{3FB85A50-2E17-4E7C-BC72-DAE077D4BC63}]
//   @="QVAArray Class"
//   "AppID"="{12E92F8C-24C3-48A0-B6D5-9E9A55B8CC3D}"
//
//   END
//
// One section per key, every key including empty ones, parents before children; "@" is the
// default value, then the named values in their order. Inside quotes \\, \", \r and \n stand for
// backslash, quote, CR and LF, and \xHH for any other control byte or a byte that is not part of
// valid UTF-8, so every string survives the round trip. Key names cannot hold a backslash (it
// separates path components) nor control characters, so section headers need no escapes. Blank
// lines and lines starting with ';' are ignored. The closing "END" line lets a truncated file be
// told from a complete one. Anything else makes the whole file malformed: it is refused with
// REGDB_E_READREGDB, never half loaded.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com/result.h"
#include "platform/com/text.h"

struct stat;  // <sys/stat.h>

namespace com {

// One registry key: its name, an optional default value, named string values and sub-keys.
// Key and value names keep the case they were created with and are looked up case-insensitively
// (Unicode simple case folding). Values are REG_SZ strings: any bytes, normally UTF-8.
// Not thread-safe: share it between threads only as a const snapshot.
class COM_CXX_API RegistryKey {
 public:
  // Win32's limits: key names of at most 255 UTF-16 units, trees at most 512 levels deep.
  static constexpr size_t kMaxNameLength = 255;
  static constexpr size_t kMaxDepth = 512;

  RegistryKey() = default;
  explicit RegistryKey(std::string name) : name_(std::move(name)) {}
  RegistryKey(const RegistryKey& other);
  RegistryKey& operator=(const RegistryKey& other);
  RegistryKey(RegistryKey&&) noexcept = default;
  RegistryKey& operator=(RegistryKey&&) noexcept = default;
  ~RegistryKey() = default;

  const std::string& name() const { return name_; }

  // Whether `name` may name a key: 1 to kMaxNameLength UTF-16 units of valid UTF-8, no backslash,
  // no control character.
  static bool IsValidName(std::string_view name);

  // The key at `path` ("A\\B\\C", relative to this key; "" is this key itself), or null when a
  // component is missing or empty. Pointers stay valid until that key or an ancestor is deleted
  // (adding sibling keys does not move them).
  const RegistryKey* Find(std::string_view path) const;
  RegistryKey* Find(std::string_view path);

  // Opens every key along `path`, creating the missing ones with the case given. E_INVALIDARG when
  // a component is not a valid name or the path is deeper than kMaxDepth; nothing is created then.
  Expected<RegistryKey*> CreatePath(std::string_view path);

  // Deletes the key at `path` with its values. Win32 semantics: a non-recursive delete of a key
  // that still has sub-keys fails with HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED); a missing key gives
  // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND); an empty path E_INVALIDARG.
  HRESULT DeleteSubKey(std::string_view path, bool recursive);

  size_t subkey_count() const { return subkeys_.size(); }
  // Direct sub-keys in case-insensitive name order, as RegEnumKeyEx lists them.
  std::vector<const RegistryKey*> SubKeys() const;
  std::vector<RegistryKey*> SubKeys();

  // The default value ("@"); nullopt when it is not set, which differs from an empty string.
  const std::optional<std::string>& GetDefault() const { return default_; }
  void SetDefault(std::string value) { default_ = std::move(value); }
  void ClearDefault() { default_.reset(); }

  // Named values. As in Win32, the empty name stands for the default value. Setting an existing
  // value replaces its text and keeps its position and the case of its name.
  std::optional<std::string> GetValue(std::string_view name) const;
  void SetValue(std::string_view name, std::string value);
  // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when there is no such value.
  HRESULT DeleteValue(std::string_view name);
  // Named values (the default value is not among them) in the order they were first set.
  const std::vector<std::pair<std::string, std::string>>& values() const { return values_; }

  // Exact structural equality: names with their case, default values, named values in order, and
  // sub-keys.
  friend COM_CXX_API bool operator==(const RegistryKey& a, const RegistryKey& b);

 private:
  const RegistryKey* FindChild(std::string_view name) const;
  RegistryKey* FindChild(std::string_view name);

  std::string name_;
  std::optional<std::string> default_;
  std::vector<std::pair<std::string, std::string>> values_;
  // Keyed by the case-folded name; the order of the map is the enumeration order.
  std::map<std::string, std::unique_ptr<RegistryKey>, std::less<>> subkeys_;
};

// The file text of a tree whose root is HKEY_CLASSES_ROOT (the root's own name is not written).
// REGDB_E_WRITEREGDB when the tree holds an invalid key name or is deeper than kMaxDepth, which
// the loader would refuse.
COM_CXX_API Expected<std::string> FormatRegistryText(const RegistryKey& root);
// Parses file text; REGDB_E_READREGDB for anything malformed. Never crashes on any input.
COM_CXX_API Expected<RegistryKey> ParseRegistryText(std::string_view text);

// A registry file. Thread-safe: every member may be called from several threads at once.
class COM_CXX_API Registry {
 public:
  explicit Registry(std::string path);
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // The path chosen from the environment as described at the top of this file.
  static std::string DefaultPath();
  // The process-wide instance for DefaultPath() as it is at the call, one per distinct path, alive
  // until the process ends; the runtime and every library of the process share its cache.
  static Registry& Shared();

  const std::string& path() const { return path_; }

  // The current tree. Cheap when the file did not change since the last call (one stat): the file
  // counts as changed when its inode, size or modification time (ns) differ. Edits through any
  // Registry object replace the file with a new inode, so they are always seen; a change by a
  // program that rewrites the file in place within the file system's timestamp granularity and
  // keeps its size can go unseen. A missing file is an empty tree. A malformed or unreadable file
  // gives REGDB_E_READREGDB (E_ACCESSDENIED when permission is lacking); snapshots handed out
  // before stay as they are.
  Expected<std::shared_ptr<const RegistryKey>> Read();

  // Runs `edit` on a copy of the current tree while holding an exclusive flock on "<path>.lock"
  // (other processes' and threads' Edit calls wait). When `edit` succeeds and changed the tree,
  // the file is replaced atomically: a temporary file in the same folder is written and synced,
  // renamed over the old one, and the folder synced; the folder is created when missing. When
  // `edit` fails nothing is written and its code is returned, so a multi-step change (a
  // registration) either lands whole or not at all. Returns the edit's code on success, or the
  // failure of reading (as Read) or writing: E_ACCESSDENIED, HRESULT_FROM_WIN32(ERROR_DISK_FULL),
  // HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) when the folder cannot be made, else
  // REGDB_E_WRITEREGDB. A malformed file is never overwritten: Edit fails until it is repaired or
  // removed.
  HRESULT Edit(const std::function<HRESULT(RegistryKey& root)>& edit);

 private:
  // Identity of the file's content as stat sees it.
  struct FileStamp {
    bool exists = false;
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t mtime_ns = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
  };
  static FileStamp StampOf(const struct ::stat& st);
  Expected<std::shared_ptr<const RegistryKey>> ReloadLocked();

  const std::string path_;
  std::mutex mutex_;  // guards the members below
  bool loaded_ = false;
  FileStamp stamp_;
  HRESULT load_result_ = S_OK;  // of the file with stamp_; tree_ is the last good tree
  std::shared_ptr<const RegistryKey> tree_;
};

// Test seam: when set, called with the temporary file's path after it was written and synced and
// just before it is renamed over the registry file; a failure code aborts the write there, as a
// failing rename would. Null (the default) in production.
using RegistryCommitHook = HRESULT (*)(const std::string& temp_path);
COM_CXX_API void SetRegistryCommitHookForTesting(RegistryCommitHook hook);

}  // namespace com
