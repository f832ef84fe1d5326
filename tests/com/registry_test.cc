#include "platform/com/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace com {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "registry_test.XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const fs::path& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::set<std::string> FolderEntries(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

RegistryKey* Create(RegistryKey& root, std::string_view path) {
  Expected<RegistryKey*> key = root.CreatePath(path);
  EXPECT_TRUE(key.ok()) << path;
  return key.ok() ? *key : &root;
}

// Names and values that each stress one part of the file format.
RegistryKey OddTree() {
  RegistryKey root("HKEY_CLASSES_ROOT");
  root.SetDefault("root default");
  RegistryKey* odd = Create(root, "Quote\"d [Key]]");
  odd->SetDefault("");  // an empty default is not the same as none
  odd->SetValue("back\\slash", "C:\\Path\\to\\\"file\"\\");
  odd->SetValue("line\r\nbreak", "one\r\ntwo\nthree\rfour");
  odd->SetValue("=@;", "tab\there; [not a section]");
  odd->SetValue("@", "at sign name");
  RegistryKey* unicode = Create(root, "Ключ\\Ünïcødé 中文 🎉");
  unicode->SetValue("Имя", "значение ✓");
  unicode->SetValue("control", "nul\0bell\x07 del\x7F esc\x1B"s);
  unicode->SetValue("not utf-8", "\xFF\xC3(\xE2\x82");
  Create(root, "Empty\\Deeper\\Deepest");
  Create(root, " leading and trailing spaces ");
  return root;
}

TEST(RegistryKeyTest, TextRoundTripKeepsEveryNameAndValue) {
  const RegistryKey tree = OddTree();
  Expected<std::string> text = FormatRegistryText(tree);
  ASSERT_TRUE(text.ok());
  Expected<RegistryKey> parsed = ParseRegistryText(*text);
  ASSERT_TRUE(parsed.ok()) << *text;
  EXPECT_TRUE(*parsed == tree) << *text;
  EXPECT_EQ(parsed->Find("Quote\"d [Key]]")->GetDefault(), std::optional<std::string>(""));
  EXPECT_EQ(parsed->Find("Empty")->GetDefault(), std::nullopt);
}

TEST(RegistryKeyTest, FileTextIsReadableByPeople) {
  RegistryKey root("HKEY_CLASSES_ROOT");
  RegistryKey* cls = Create(root, "CLSID\\{3FB85A50-2E17-4E7C-BC72-DAE077D4BC63}");
  cls->SetDefault("QVAArray Class");
  cls->SetValue("AppID", "{12E92F8C-24C3-48A0-B6D5-9E9A55B8CC3D}");
  Create(root, "CLSID\\{3FB85A50-2E17-4E7C-BC72-DAE077D4BC63}\\InprocServer32")->SetValue("Path", "C:\\qva \"lib\"\n");
  Expected<std::string> text = FormatRegistryText(root);
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(*text,
            "QVACOM Registry Version 1\n"
            "\n"
            "[HKEY_CLASSES_ROOT]\n"
            "\n"
            "[HKEY_CLASSES_ROOT\\CLSID]\n"
            "\n"
            "[HKEY_CLASSES_ROOT\\CLSID\\{3FB85A50-2E17-4E7C-BC72-DAE077D4BC63}]\n"
            "@=\"QVAArray Class\"\n"
            "\"AppID\"=\"{12E92F8C-24C3-48A0-B6D5-9E9A55B8CC3D}\"\n"
            "\n"
            "[HKEY_CLASSES_ROOT\\CLSID\\{3FB85A50-2E17-4E7C-BC72-DAE077D4BC63}\\InprocServer32]\n"
            "\"Path\"=\"C:\\\\qva \\\"lib\\\"\\n\"\n"
            "\n"
            "END\n");
}

TEST(RegistryKeyTest, HandEditedFileWithCommentsAndCrLfIsAccepted) {
  Expected<RegistryKey> parsed = ParseRegistryText(
      "\xEF\xBB\xBFQVACOM Registry Version 1\r\n"
      "; written by hand\r\n"
      "  [hkey_classes_root\\A\\B]  \r\n"
      "\t@=\"x\"\r\n"
      "\"N\"=\"y\"\r\n"
      "END\r\n");
  ASSERT_TRUE(parsed.ok());
  ASSERT_NE(parsed->Find("A\\B"), nullptr);
  EXPECT_EQ(parsed->Find("A\\B")->GetDefault(), std::optional<std::string>("x"));
  EXPECT_EQ(parsed->Find("a\\b")->GetValue("n"), std::optional<std::string>("y"));
}

TEST(RegistryKeyTest, LookupIgnoresCaseAndKeepsTheOriginalName) {
  RegistryKey root;
  Create(root, "CLSID\\{3fb85a50-2e17-4e7c-bc72-dae077d4bc63}\\InprocServer32")
      ->SetValue("ThreadingModel", "Apartment");
  Create(root, "Ärger\\ΣΊΣΥΦΟΣ");
  struct Case {
    std::string_view path;
    bool found;
  } cases[] = {
      {"clsid\\{3FB85A50-2E17-4E7C-BC72-DAE077D4BC63}\\INPROCSERVER32", true},
      {"CLSID\\{3fb85a50-2e17-4e7c-bc72-dae077d4bc63}", true},
      {"ärger\\σίσυφος", true},  // Unicode case folding, final sigma included
      {"", true},
      {"CLSID\\missing", false},
      {"CLSID\\", false},
      {"\\CLSID", false},
      {"CLSID\\\\{3fb85a50-2e17-4e7c-bc72-dae077d4bc63}", false},
  };
  for (const Case& c : cases) EXPECT_EQ(root.Find(c.path) != nullptr, c.found) << c.path;

  RegistryKey* same = Create(root, "clsid\\{3FB85A50-2E17-4E7C-BC72-DAE077D4BC63}");
  EXPECT_EQ(root.Find("CLSID")->subkey_count(), 1u);
  EXPECT_EQ(same->name(), "{3fb85a50-2e17-4e7c-bc72-dae077d4bc63}");
  RegistryKey* server = root.Find("CLSID\\{3FB85A50-2E17-4E7C-BC72-DAE077D4BC63}\\InprocServer32");
  EXPECT_EQ(server->GetValue("THREADINGMODEL"), std::optional<std::string>("Apartment"));
  server->SetValue("threadingmodel", "Both");
  ASSERT_EQ(server->values().size(), 1u);
  EXPECT_EQ(server->values()[0].first, "ThreadingModel");
  EXPECT_EQ(server->values()[0].second, "Both");
}

TEST(RegistryKeyTest, InvalidKeyNamesAreRefused) {
  RegistryKey root;
  for (std::string_view path : {"A\\\\B", "A\\", "bad\x01name", "bad\nname", "\xFF"})
    EXPECT_EQ(root.CreatePath(path).error(), E_INVALIDARG) << path;
  EXPECT_EQ(root.CreatePath(std::string(256, 'x')).error(), E_INVALIDARG);
  EXPECT_TRUE(root.CreatePath(std::string(255, 'x')).ok());
  EXPECT_EQ(root.subkey_count(), 1u);  // nothing of the refused paths was created
}

TEST(RegistryKeyTest, DeleteFollowsWin32Rules) {
  RegistryKey root;
  Create(root, "A\\B\\C");
  Create(root, "A\\Leaf")->SetValue("v", "1");
  EXPECT_EQ(root.DeleteSubKey("A", false), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
  EXPECT_EQ(root.DeleteSubKey("a\\leaf", false), S_OK);
  EXPECT_EQ(root.DeleteSubKey("A\\Leaf", false), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(root.DeleteSubKey("Missing\\X", true), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(root.DeleteSubKey("", true), E_INVALIDARG);
  EXPECT_EQ(root.DeleteSubKey("A", true), S_OK);
  EXPECT_EQ(root.subkey_count(), 0u);

  RegistryKey* key = Create(root, "K");
  key->SetValue("x", "1");
  EXPECT_EQ(key->DeleteValue("X"), S_OK);
  EXPECT_EQ(key->DeleteValue("x"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  key->SetValue("", "default through the empty name");
  EXPECT_EQ(key->GetDefault(), std::optional<std::string>("default through the empty name"));
  EXPECT_EQ(key->DeleteValue(""), S_OK);
  EXPECT_EQ(key->GetDefault(), std::nullopt);
}

TEST(RegistryKeyTest, CopyIsASnapshot) {
  RegistryKey original = OddTree();
  const RegistryKey copy = original;
  EXPECT_TRUE(copy == original);
  Create(original, "Ключ\\Ünïcødé 中文 🎉\\New")->SetDefault("x");
  original.Find("Quote\"d [Key]]")->SetValue("back\\slash", "changed");
  EXPECT_EQ(copy.Find("Ключ\\Ünïcødé 中文 🎉\\New"), nullptr);
  EXPECT_EQ(copy.Find("Quote\"d [Key]]")->GetValue("back\\slash"),
            std::optional<std::string>("C:\\Path\\to\\\"file\"\\"));
  EXPECT_FALSE(copy == original);
}

TEST(RegistryKeyTest, MalformedTextIsRefused) {
  const std::string head = "QVACOM Registry Version 1\n[HKEY_CLASSES_ROOT]\n";
  std::string deep = "QVACOM Registry Version 1\n[HKEY_CLASSES_ROOT";
  for (int i = 0; i < 600; ++i) deep += "\\k";
  deep += "]\nEND\n";
  const struct Case {
    std::string_view what;
    std::string text;
  } cases[] = {
      {"empty file", ""},
      {"not this format", "REGEDIT4\n[HKEY_CLASSES_ROOT]\nEND\n"},
      {"no trailer", head},
      {"trailer not on a line of its own", head + "xEND\n"},
      {"data after trailer", head + "END\nx\n"},
      {"value before any section", "QVACOM Registry Version 1\n@=\"x\"\nEND\n"},
      {"section outside the root", head + "[HKEY_LOCAL_MACHINE\\A]\nEND\n"},
      {"section without bracket", head + "[HKEY_CLASSES_ROOT\\A\nEND\n"},
      {"empty component", head + "[HKEY_CLASSES_ROOT\\\\A]\nEND\n"},
      {"control character in key name", head + "[HKEY_CLASSES_ROOT\\a\x01]\nEND\n"},
      {"unterminated value", head + "@=\"abc\nEND\n"},
      {"unknown escape", head + "@=\"a\\tb\"\nEND\n"},
      {"short hex escape", head + "@=\"\\x4\"\nEND\n"},
      {"bad hex escape", head + "@=\"\\xZZ\"\nEND\n"},
      {"text after value", head + "\"a\"=\"b\" junk\nEND\n"},
      {"unquoted value", head + "\"a\"=b\nEND\n"},
      {"empty value name", head + "\"\"=\"b\"\nEND\n"},
      {"raw control character in value", head + "@=\"a\x02\"\nEND\n"},
      {"invalid UTF-8", head + "@=\"\xC0\xAF\"\nEND\n"},
      {"NUL byte", head + "@=\"a\0b\"\nEND\n"s},
      {"stray line", head + "hello\nEND\n"},
      {"too deep", deep},
      {"overlong line", head + "[HKEY_CLASSES_ROOT\\" + std::string(10 << 20, 'k') + "]\nEND\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseRegistryText(c.text).error(), REGDB_E_READREGDB) << c.what;
}

TEST(RegistryKeyTest, EveryTruncationIsRefused) {
  Expected<std::string> text = FormatRegistryText(OddTree());
  ASSERT_TRUE(text.ok());
  // Only the last byte, the trailer's newline, can go without losing anything.
  for (size_t n = 0; n + 1 < text->size(); ++n)
    EXPECT_EQ(ParseRegistryText(std::string_view(*text).substr(0, n)).error(), REGDB_E_READREGDB) << n;
}

TEST(RegistryKeyTest, DamagedTextNeverCrashes) {
  Expected<std::string> valid = FormatRegistryText(OddTree());
  ASSERT_TRUE(valid.ok());
  std::mt19937 rng(20240601);
  constexpr std::string_view kAlphabet = "[]\\\"@=;\n\r\t xEND\x01\xFF\xC3\xA9QVACOM";
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    if (round % 2 == 0) {
      // The valid text with a few bytes changed, dropped or inserted.
      text = *valid;
      for (int k = std::uniform_int_distribution<int>(1, 4)(rng); k > 0; --k) {
        const size_t at = std::uniform_int_distribution<size_t>(0, text.size() - 1)(rng);
        const char c = kAlphabet[std::uniform_int_distribution<size_t>(0, kAlphabet.size() - 1)(rng)];
        switch (rng() % 3) {
          case 0:
            text[at] = c;
            break;
          case 1:
            text.erase(at, 1);
            break;
          default:
            text.insert(at, 1, c);
        }
      }
    } else {
      text = "QVACOM Registry Version 1\n";
      for (int n = std::uniform_int_distribution<int>(0, 200)(rng); n > 0; --n)
        text += kAlphabet[std::uniform_int_distribution<size_t>(0, kAlphabet.size() - 1)(rng)];
      text += "\nEND\n";
    }
    Expected<RegistryKey> parsed = ParseRegistryText(text);
    if (!parsed.ok()) {
      EXPECT_EQ(parsed.error(), REGDB_E_READREGDB);
    } else {
      // Whatever was accepted must survive its own round trip.
      Expected<std::string> again = FormatRegistryText(*parsed);
      ASSERT_TRUE(again.ok());
      Expected<RegistryKey> reparsed = ParseRegistryText(*again);
      ASSERT_TRUE(reparsed.ok());
      EXPECT_TRUE(*reparsed == *parsed);
    }
  }
}

class RegistryFileTest : public testing::Test {
 protected:
  std::string RegistryPath() const { return (dir_.path() / "registry").string(); }
  static HRESULT AddKey(Registry& registry, std::string path, std::string value) {
    return registry.Edit([&](RegistryKey& root) -> HRESULT {
      ASSIGN_OR_RETURN(RegistryKey * key, root.CreatePath(path));
      key->SetDefault(value);
      return S_OK;
    });
  }

  TempDir dir_;
};

TEST_F(RegistryFileTest, MissingFileIsAnEmptyTree) {
  Registry registry(RegistryPath());
  Expected<std::shared_ptr<const RegistryKey>> tree = registry.Read();
  ASSERT_TRUE(tree.ok());
  EXPECT_EQ((*tree)->subkey_count(), 0u);
  EXPECT_EQ((*tree)->GetDefault(), std::nullopt);
  EXPECT_FALSE(fs::exists(RegistryPath()));
}

TEST_F(RegistryFileTest, EditedTreeRoundTripsThroughTheFile) {
  const RegistryKey odd = OddTree();
  Registry writer(RegistryPath());
  ASSERT_EQ(writer.Edit([&](RegistryKey& root) {
    root = odd;
    return S_OK;
  }),
            S_OK);
  Registry reader(RegistryPath());
  Expected<std::shared_ptr<const RegistryKey>> tree = reader.Read();
  ASSERT_TRUE(tree.ok());
  EXPECT_TRUE(**tree == odd);
  EXPECT_EQ(FolderEntries(dir_.path()), (std::set<std::string>{"registry", "registry.lock"}));
}

TEST_F(RegistryFileTest, CachedReaderSeesChangesOnDisk) {
  Registry reader(RegistryPath());
  Registry writer(RegistryPath());
  ASSERT_EQ(AddKey(writer, "A", "1"), S_OK);
  Expected<std::shared_ptr<const RegistryKey>> first = reader.Read();
  Expected<std::shared_ptr<const RegistryKey>> again = reader.Read();
  ASSERT_TRUE(first.ok() && again.ok());
  EXPECT_EQ(first->get(), again->get()) << "an unchanged file is not parsed again";

  ASSERT_EQ(AddKey(writer, "B", "2"), S_OK);
  Expected<std::shared_ptr<const RegistryKey>> changed = reader.Read();
  ASSERT_TRUE(changed.ok());
  ASSERT_NE((*changed)->Find("B"), nullptr);
  EXPECT_EQ((*first)->Find("B"), nullptr) << "a snapshot never changes";
}

TEST_F(RegistryFileTest, CorruptFileIsRefusedAndNeverOverwritten) {
  Registry registry(RegistryPath());
  ASSERT_EQ(AddKey(registry, "Good", "1"), S_OK);
  Expected<std::shared_ptr<const RegistryKey>> before = registry.Read();
  ASSERT_TRUE(before.ok());
  const std::string good_text = ReadFile(RegistryPath());

  const std::string corrupt = good_text.substr(0, good_text.size() / 2) + "\x01\x02 garbage";
  WriteFile(RegistryPath(), corrupt);
  EXPECT_EQ(registry.Read().error(), REGDB_E_READREGDB);
  EXPECT_EQ(Registry(RegistryPath()).Read().error(), REGDB_E_READREGDB);
  EXPECT_EQ(AddKey(registry, "Other", "2"), REGDB_E_READREGDB);
  EXPECT_EQ(ReadFile(RegistryPath()), corrupt);
  ASSERT_NE((*before)->Find("Good"), nullptr);

  WriteFile(RegistryPath(), good_text + "\n");  // repaired by hand
  ASSERT_TRUE(registry.Read().ok());
  EXPECT_EQ(AddKey(registry, "Other", "2"), S_OK);
}

TEST_F(RegistryFileTest, FailedEditWritesNothing) {
  Registry registry(RegistryPath());
  ASSERT_EQ(AddKey(registry, "Kept", "1"), S_OK);
  const std::string text = ReadFile(RegistryPath());
  struct stat before;
  ASSERT_EQ(stat(RegistryPath().c_str(), &before), 0);

  EXPECT_EQ(registry.Edit([](RegistryKey& root) {
    EXPECT_TRUE(root.CreatePath("Half\\Done").ok());
    root.DeleteSubKey("Kept", true);
    return E_ABORT;
  }),
            E_ABORT);
  struct stat after;
  ASSERT_EQ(stat(RegistryPath().c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(ReadFile(RegistryPath()), text);
  Expected<std::shared_ptr<const RegistryKey>> tree = registry.Read();
  ASSERT_TRUE(tree.ok());
  EXPECT_NE((*tree)->Find("Kept"), nullptr);
  EXPECT_EQ((*tree)->Find("Half"), nullptr);
}

// Checks that the new text really reached the temporary file, then fails as a rename would.
std::string* g_expected_temp_text = nullptr;
HRESULT FailBeforeRename(const std::string& temp_path) {
  return ReadFile(temp_path) == *g_expected_temp_text ? HRESULT_FROM_WIN32(ERROR_CANTWRITE) : E_UNEXPECTED;
}

TEST_F(RegistryFileTest, FailureBetweenWriteAndRenameLeavesTheOldFileWhole) {
  Registry registry(RegistryPath());
  ASSERT_EQ(AddKey(registry, "Old", "1"), S_OK);
  const std::string old_text = ReadFile(RegistryPath());

  RegistryKey expected = **registry.Read();
  ASSERT_TRUE(expected.CreatePath("New").ok());
  std::string new_text = *FormatRegistryText(expected);
  g_expected_temp_text = &new_text;
  SetRegistryCommitHookForTesting(&FailBeforeRename);
  const HRESULT hr = registry.Edit([](RegistryKey& root) { return root.CreatePath("New").error(); });
  SetRegistryCommitHookForTesting(nullptr);

  EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_CANTWRITE));
  EXPECT_EQ(ReadFile(RegistryPath()), old_text);
  EXPECT_EQ(FolderEntries(dir_.path()), (std::set<std::string>{"registry", "registry.lock"}));
  EXPECT_EQ((**registry.Read()).Find("New"), nullptr);
  EXPECT_EQ((**Registry(RegistryPath()).Read()).Find("New"), nullptr);
}

TEST_F(RegistryFileTest, TemporaryFileOfAKilledWriterIsRemoved) {
  WriteFile(dir_.path() / "registry.tmp.Ab12Cd", "half written");
  WriteFile(dir_.path() / "unrelated.tmp.Ab12Cd", "not ours");
  Registry registry(RegistryPath());
  ASSERT_EQ(AddKey(registry, "A", "1"), S_OK);
  EXPECT_EQ(FolderEntries(dir_.path()), (std::set<std::string>{"registry", "registry.lock", "unrelated.tmp.Ab12Cd"}));
}

TEST_F(RegistryFileTest, EditCreatesMissingFoldersAndReportsImpossibleOnes) {
  Registry nested((dir_.path() / "a" / "b" / "registry").string());
  EXPECT_EQ(AddKey(nested, "K", "v"), S_OK);
  EXPECT_TRUE(fs::is_regular_file(dir_.path() / "a" / "b" / "registry"));

  WriteFile(dir_.path() / "file", "x");
  Registry impossible((dir_.path() / "file" / "sub" / "registry").string());
  EXPECT_EQ(AddKey(impossible, "K", "v"), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
}

TEST_F(RegistryFileTest, ConcurrentEditsFromTwoProcessesLoseNothing) {
  constexpr int kEditsPerProcess = 40;
  const auto work = [&](const std::string& who) {
    Registry registry(RegistryPath());
    for (int i = 0; i < kEditsPerProcess; ++i) {
      const HRESULT hr = registry.Edit([&](RegistryKey& root) -> HRESULT {
        const std::optional<std::string>& count = root.GetDefault();
        root.SetDefault(std::to_string(count ? std::stoi(*count) + 1 : 1));
        return root.CreatePath(who + "\\" + std::to_string(i)).error();
      });
      if (FAILED(hr)) return false;
    }
    return true;
  };
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(work("Child") ? 0 : 1);
  const bool parent_ok = work("Parent");
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(parent_ok);

  Expected<std::shared_ptr<const RegistryKey>> tree = Registry(RegistryPath()).Read();
  ASSERT_TRUE(tree.ok());
  EXPECT_EQ((*tree)->GetDefault(), std::optional<std::string>(std::to_string(2 * kEditsPerProcess)));
  EXPECT_EQ((*tree)->Find("Child")->subkey_count(), size_t{kEditsPerProcess});
  EXPECT_EQ((*tree)->Find("Parent")->subkey_count(), size_t{kEditsPerProcess});
}

TEST_F(RegistryFileTest, ThreadsShareOneRegistry) {
  Registry registry(RegistryPath());
  constexpr int kThreads = 4, kEdits = 15;
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kEdits; ++i) {
        const HRESULT hr = registry.Edit([](RegistryKey& root) {
          const std::optional<std::string>& count = root.GetDefault();
          root.SetDefault(std::to_string(count ? std::stoi(*count) + 1 : 1));
          return S_OK;
        });
        Expected<std::shared_ptr<const RegistryKey>> tree = registry.Read();
        if (FAILED(hr) || !tree.ok() || !(*tree)->GetDefault()) ++failures;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ((**registry.Read()).GetDefault(), std::optional<std::string>(std::to_string(kThreads * kEdits)));
}

// Sets environment variables for one scope and puts the old values back.
class ScopedEnv {
 public:
  void Set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        setenv(it->first, it->second->c_str(), 1);
      } else {
        unsetenv(it->first);
      }
    }
  }

 private:
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

TEST(RegistryPathTest, DefaultPathFollowsTheEnvironment) {
  const struct Case {
    const char* qva_registry;
    const char* xdg_data_home;
    const char* home;
    std::string_view expected;
  } cases[] = {
      {"/srv/reg", "/xdg", "/home/u", "/srv/reg"},
      {"", "/xdg", "/home/u", "/xdg/qvacom/registry"},
      {nullptr, "/xdg", "/home/u", "/xdg/qvacom/registry"},
      {nullptr, "relative/xdg", "/home/u", "/home/u/.local/share/qvacom/registry"},
      {nullptr, "", "/home/u", "/home/u/.local/share/qvacom/registry"},
      {nullptr, nullptr, "/home/u", "/home/u/.local/share/qvacom/registry"},
      {nullptr, nullptr, "", "/var/lib/qvacom/registry"},
      {nullptr, nullptr, nullptr, "/var/lib/qvacom/registry"},
  };
  for (const Case& c : cases) {
    ScopedEnv env;
    env.Set("QVA_REGISTRY", c.qva_registry);
    env.Set("XDG_DATA_HOME", c.xdg_data_home);
    env.Set("HOME", c.home);
    EXPECT_EQ(Registry::DefaultPath(), c.expected);
  }
}

TEST(RegistryPathTest, SharedInstanceFollowsTheEnvironment) {
  ScopedEnv env;
  env.Set("QVA_REGISTRY", "/nonexistent/one");
  Registry& one = Registry::Shared();
  EXPECT_EQ(&Registry::Shared(), &one);
  env.Set("QVA_REGISTRY", "/nonexistent/two");
  EXPECT_EQ(Registry::Shared().path(), "/nonexistent/two");
}

}  // namespace
}  // namespace com
