// The backup and archive listings: which files they list, where they look, and the backups'
// Add and Exists.
#include "qvacom/settings/backups_archs.h"

#include <gtest/gtest.h>

#include "tests/settings/list_fixture.h"

namespace qva {
namespace {

namespace fs = std::filesystem;
using testing::Make;

template <class List, class Item>
std::vector<std::string> Names(List* list) {
  LONG n = 0;
  EXPECT_EQ(list->get_Count(&n), S_OK);
  std::vector<std::string> names;
  for (LONG i = 0; i < n; ++i) {
    com::ComPtr<Item> item;
    EXPECT_EQ(list->Index(com::Variant::I4(i), item.put()), S_OK);
    com::Bstr name;
    item->get_Name(name.put());
    names.push_back(name.utf8());
  }
  return names;
}

class ListingTest : public ::testing::Test {
 protected:
  void Touch(const fs::path& relative) {
    fs::create_directories((dir_.path() / relative).parent_path());
    testing::WriteFile(dir_.path() / relative, "x");
  }
  std::string CurDir() const { return dir_.path().string() + "/"; }
  testing::TempDir dir_;
};

TEST_F(ListingTest, ListsMatchingFilesByNameAndSkipsOthersAndFolders) {
  for (const char* f : {"backup/b.xml", "backup/a.xml", "backup/b.txt", "backup/C.XML", "backup/sub.xml/inner.xml",
                        "Arch/2024.fdb", "Arch/notes.xml", "a.xml"})
    Touch(f);
  fs::create_symlink(dir_.path() / "backup/a.xml", dir_.path() / "backup/link.xml");

  auto backups = Make<CQVABackups>();
  ASSERT_EQ(backups->Init(com::Bstr(CurDir()).get()), S_OK);
  EXPECT_EQ((Names<CQVABackups, IQVABackup>(backups.get())),
            (std::vector<std::string>{"C.XML", "a.xml", "b.xml", "link.xml"}));

  auto archs = Make<CQVAArchs>();
  ASSERT_EQ(archs->Init(com::Bstr(CurDir()).get()), S_OK);
  EXPECT_EQ((Names<CQVAArchs, IQVAArch>(archs.get())), (std::vector<std::string>{"2024.fdb"}));

  // Load lists the folder again.
  Touch("Arch/2025.fdb");
  fs::remove(dir_.path() / "Arch/2024.fdb");
  ASSERT_EQ(archs->Load(), S_OK);
  EXPECT_EQ((Names<CQVAArchs, IQVAArch>(archs.get())), (std::vector<std::string>{"2025.fdb"}));
}

TEST_F(ListingTest, TheFolderIsCurDirWithItsSeparatorAndTheSubFolder) {
  struct Case {
    std::string cur_dir, dir;
  } cases[] = {
      {"/opt/vodrik/", "/opt/vodrik/backup/"},
      {"/opt/vodrik", "/opt/vodrik/backup/"},
      {"C:\\Vodrik\\", "C:\\Vodrik\\backup/"},
      {"", "backup/"},
  };
  for (const Case& c : cases) {
    auto backups = Make<CQVABackups>();
    EXPECT_EQ(backups->Init(com::Bstr(c.cur_dir).get()), S_OK) << "a missing folder is an empty list";
    com::Bstr dir;
    EXPECT_EQ(backups->get_Dir(dir.put()), S_OK);
    EXPECT_EQ(dir.utf8(), c.dir);
  }
  auto archs = Make<CQVAArchs>();
  ASSERT_EQ(archs->Init(com::Bstr("/opt/vodrik").get()), S_OK);
  com::Bstr dir;
  EXPECT_EQ(archs->get_Dir(dir.put()), S_OK);
  EXPECT_EQ(dir.utf8(), "/opt/vodrik/Arch/");
  LONG n = -1;
  EXPECT_EQ(archs->get_Count(&n), S_OK);
  EXPECT_EQ(n, 0);
}

TEST_F(ListingTest, BackupsAddHandsOutTheListedBackupOrListsANewOne) {
  Touch("backup/a.xml");
  auto backups = Make<CQVABackups>();
  ASSERT_EQ(backups->Init(com::Bstr(CurDir()).get()), S_OK);
  com::ComPtr<IQVABackup> listed, again, added;
  ASSERT_EQ(backups->Index(com::Variant::I4(0), listed.put()), S_OK);
  ASSERT_EQ(backups->Add(com::Bstr("a.xml").get(), again.put()), S_OK);
  EXPECT_EQ(again.get(), listed.get());
  ASSERT_EQ(backups->Add(com::Bstr("new.xml").get(), added.put()), S_OK);
  EXPECT_FALSE(fs::exists(dir_.path() / "backup/new.xml")) << "no file is made";

  struct Case {
    const char* name;
    VARIANT_BOOL exists;
  } cases[] = {{"a.xml", 1}, {"new.xml", 1}, {"A.xml", 0}, {"b.xml", 0}};
  for (const Case& c : cases) {
    VARIANT_BOOL exists = -7;
    EXPECT_EQ(backups->Exists(com::Bstr(c.name).get(), &exists), S_OK);
    EXPECT_EQ(exists, c.exists) << c.name;
  }
  EXPECT_EQ((Names<CQVABackups, IQVABackup>(backups.get())), (std::vector<std::string>{"a.xml", "new.xml"}));
}

}  // namespace
}  // namespace qva
