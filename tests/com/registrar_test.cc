#include "platform/com/registrar.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace com {
namespace {

constexpr std::string_view kClsid = "{3FB85A50-2E17-4E7C-BC72-DAE077D4BC63}";
constexpr std::string_view kAppId = "{12E92F8C-24C3-48A0-B6D5-9E9A55B8CC3D}";
constexpr std::string_view kLibId = "{CED38155-C2C4-4230-AA54-EBC3995F251E}";
constexpr std::string_view kModule = "/opt/qva/lib/libqvacom.so";

constexpr std::string_view kClassScript = R"(HKCR
{
	QVA.Array.1 = s 'QVAArray Class'
	{
		CLSID = s '{3FB85A50-2E17-4E7C-BC72-DAE077D4BC63}'
	}
	QVA.Array = s 'QVAArray Class'
	{
		CLSID = s '{3FB85A50-2E17-4E7C-BC72-DAE077D4BC63}'
		CurVer = s 'QVA.Array.1'
	}
	NoRemove CLSID
	{
		ForceRemove {3FB85A50-2E17-4E7C-BC72-DAE077D4BC63} = s 'QVAArray Class'
		{
			ProgID = s 'QVA.Array.1'
			VersionIndependentProgID = s 'QVA.Array'
			ForceRemove Programmable
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'Apartment'
			}
			val AppID = s '%APPID%'
			TypeLib = s '{CED38155-C2C4-4230-AA54-EBC3995F251E}'
		}
	}
}
)";

constexpr std::string_view kAppIdScript = R"(HKCR
{
	NoRemove AppID
	{
		'%APPID%' = s 'qvacom'
		'qvacom.DLL'
		{
			val AppID = s '%APPID%'
		}
	}
}
)";

const std::map<std::string, std::string>& Replacements() {
  static const std::map<std::string, std::string> map{{"MODULE", std::string(kModule)}, {"APPID", std::string(kAppId)}};
  return map;
}

std::string Cls(std::string_view tail = {}) {
  std::string path = "CLSID\\" + std::string(kClsid);
  if (!tail.empty()) path += "\\" + std::string(tail);
  return path;
}

size_t CountKeys(const RegistryKey& key) {
  size_t n = 0;
  for (const RegistryKey* sub : key.SubKeys()) n += 1 + CountKeys(*sub);
  return n;
}

std::vector<std::string> SubKeyNames(const RegistryKey& key) {
  std::vector<std::string> names;
  for (const RegistryKey* sub : key.SubKeys()) names.push_back(sub->name());
  return names;
}

RegistryKey* Create(RegistryKey& root, std::string_view path) {
  Expected<RegistryKey*> key = root.CreatePath(path);
  EXPECT_TRUE(key.ok()) << path;
  return key.ok() ? *key : &root;
}

TEST(RegistrarTest, ClassScriptRegistersKeyForKey) {
  RegistryKey root;
  ASSERT_EQ(ApplyRegistrationScript(root, kClassScript, Replacements(), true), S_OK);

  using Values = std::vector<std::pair<std::string, std::string>>;
  const struct Expected {
    std::string path;
    std::optional<std::string> default_value;
    Values values;
  } expected[] = {
      {"QVA.Array.1", "QVAArray Class", {}},
      {"QVA.Array.1\\CLSID", std::string(kClsid), {}},
      {"QVA.Array", "QVAArray Class", {}},
      {"QVA.Array\\CLSID", std::string(kClsid), {}},
      {"QVA.Array\\CurVer", "QVA.Array.1", {}},
      {"CLSID", std::nullopt, {}},
      {Cls(), "QVAArray Class", {{"AppID", std::string(kAppId)}}},
      {Cls("ProgID"), "QVA.Array.1", {}},
      {Cls("VersionIndependentProgID"), "QVA.Array", {}},
      {Cls("Programmable"), std::nullopt, {}},
      {Cls("InprocServer32"), std::string(kModule), {{"ThreadingModel", "Apartment"}}},
      {Cls("TypeLib"), std::string(kLibId), {}},
  };
  for (const auto& e : expected) {
    const RegistryKey* key = root.Find(e.path);
    ASSERT_NE(key, nullptr) << e.path;
    EXPECT_EQ(key->GetDefault(), e.default_value) << e.path;
    EXPECT_EQ(key->values(), e.values) << e.path;
  }
  EXPECT_EQ(CountKeys(root), std::size(expected));
  EXPECT_EQ(root.Find(Cls())->name(), kClsid);
}

TEST(RegistrarTest, UnregisterRestoresThePreviousTreeExceptNoRemoveKeys) {
  RegistryKey bare;
  Create(bare, "txtfile\\shell\\open\\command")->SetDefault("editor \"%1\"");
  RegistryKey with_neighbours = bare;
  Create(with_neighbours, "CLSID\\{00000000-1111-2222-3333-444444444444}\\InprocServer32")->SetDefault("/other.so");
  Create(with_neighbours, "AppID\\other.exe")->SetValue("AppID", "{00000000-1111-2222-3333-444444444444}");

  for (const RegistryKey& before : {bare, with_neighbours}) {
    RegistryKey root = before;
    ASSERT_EQ(ApplyRegistrationScript(root, kAppIdScript, Replacements(), true), S_OK);
    ASSERT_EQ(ApplyRegistrationScript(root, kClassScript, Replacements(), true), S_OK);
    ASSERT_NE(root.Find("AppID\\qvacom.dll"), nullptr);
    ASSERT_EQ(ApplyRegistrationScript(root, kClassScript, Replacements(), false), S_OK);
    ASSERT_EQ(ApplyRegistrationScript(root, kAppIdScript, Replacements(), false), S_OK);

    RegistryKey expected = before;
    Create(expected, "CLSID");  // NoRemove: the containers stay, empty or not
    Create(expected, "AppID");
    EXPECT_TRUE(root == expected) << "keys left: " << CountKeys(root) << ", expected " << CountKeys(expected);
  }
}

TEST(RegistrarTest, UnregisteringWhatIsAbsentSucceedsAndChangesNothing) {
  RegistryKey root;
  Create(root, "Unrelated")->SetDefault("x");
  const RegistryKey before = root;
  EXPECT_EQ(ApplyRegistrationScript(root, kClassScript, Replacements(), false), S_OK);
  EXPECT_TRUE(root == before);
}

TEST(RegistrarTest, ForceRemoveReplacesAStaleSubtree) {
  RegistryKey fresh;
  ASSERT_EQ(ApplyRegistrationScript(fresh, kClassScript, Replacements(), true), S_OK);

  RegistryKey root;
  RegistryKey* stale = Create(root, Cls());
  stale->SetDefault("Old Class");
  stale->SetValue("Obsolete", "1");
  Create(root, Cls("LocalServer32"))->SetDefault("/old/server");
  RegistryKey* server = Create(root, Cls("InprocServer32"));
  server->SetDefault("/old/lib.so");
  server->SetValue("ThreadingModel", "Free");
  Create(root, Cls("Programmable\\Junk"));
  // A key without ForceRemove is only opened: what it held before stays.
  Create(root, "QVA.Array\\Extra")->SetDefault("kept");

  ASSERT_EQ(ApplyRegistrationScript(root, kClassScript, Replacements(), true), S_OK);
  EXPECT_TRUE(*root.Find(Cls()) == *fresh.Find(Cls()));
  EXPECT_EQ(root.Find("QVA.Array\\Extra")->GetDefault(), std::optional<std::string>("kept"));
}

TEST(RegistrarTest, KeyThatStillHoldsForeignSubKeysIsKeptOnUnregister) {
  RegistryKey root;
  ASSERT_EQ(ApplyRegistrationScript(root, kClassScript, Replacements(), true), S_OK);
  Create(root, Cls("Implemented Categories\\{40FC6ED5-2438-11CF-A3DB-080036F12502}"));

  ASSERT_EQ(ApplyRegistrationScript(root, kClassScript, Replacements(), false), S_OK);
  const RegistryKey* cls = root.Find(Cls());
  ASSERT_NE(cls, nullptr);
  EXPECT_EQ(SubKeyNames(*cls), std::vector<std::string>{"Implemented Categories"});
  EXPECT_EQ(cls->GetValue("AppID"), std::nullopt);
  EXPECT_EQ(root.Find("QVA.Array"), nullptr);
  EXPECT_EQ(root.Find("QVA.Array.1"), nullptr);
}

TEST(RegistrarTest, DeleteRemovesWholeKeysOnRegisterOnly) {
  RegistryKey root;
  Create(root, "Obsolete.Class\\CLSID")->SetDefault("{old}");
  Create(root, "CLSID\\{old}\\InprocServer32");
  constexpr std::string_view kScript = R"(HKCR {
    Delete Obsolete.Class
    NoRemove CLSID { Delete {old} = s 'ignored' }
  })";
  ASSERT_EQ(ApplyRegistrationScript(root, kScript, {}, true), S_OK);
  EXPECT_EQ(root.Find("Obsolete.Class"), nullptr);
  EXPECT_EQ(root.Find("CLSID\\{old}"), nullptr);
  ASSERT_NE(root.Find("CLSID"), nullptr);

  Create(root, "Obsolete.Class");
  const RegistryKey before = root;
  ASSERT_EQ(ApplyRegistrationScript(root, kScript, {}, false), S_OK);
  EXPECT_TRUE(root == before);
}

TEST(RegistrarTest, NamesValuesAndTypes) {
  const struct Case {
    std::string_view script;
    std::string_view path;
    std::optional<std::string> default_value;
  } cases[] = {
      {"HKCR { 'Key With Spaces' = s 'It''s here' }", "Key With Spaces", "It's here"},
      {"HKCR { '''' = s 'a''b''''' }", "'", "a'b''"},
      {"HKCR { 'val' = s 'a key, not a value' }", "val", "a key, not a value"},
      {"HKCR { 'NoRemove' }", "NoRemove", std::nullopt},
      {"HKCR { '}' = s '{' }", "}", "{"},
      {"HKCR { Bare = s Word }", "Bare", "Word"},
      {"HKCR { {GUID-LIKE} = s 'braces are part of bare names' }", "{GUID-LIKE}", "braces are part of bare names"},
      {"HKCR { N = d '55' }", "N", "55"},
      {"HKCR { N = d '0x1F' }", "N", "31"},
      {"HKCR { N = d '&H55' }", "N", "85"},
      {"HKCR { N = d '-1' }", "N", "4294967295"},
      {"HKCR { N = d 4294967295 }", "N", "4294967295"},
      {"hkey_classes_root { Lower }", "Lower", std::nullopt},
      {"HKCR { A } HKCR { B = s 'second block' }", "B", "second block"},
      {"HKCR { A { val '' = s 'default through val' } }", "A", "default through val"},
      {"HKCR\n{\n\tnoremove A\n\t{\n\t\tFORCEREMOVE B = s 'keywords in any case'\n\t}\n}", "A\\B",
       "keywords in any case"},
  };
  for (const Case& c : cases) {
    RegistryKey root;
    ASSERT_EQ(ApplyRegistrationScript(root, c.script, {}, true), S_OK) << c.script;
    const RegistryKey* key = root.Find(c.path);
    ASSERT_NE(key, nullptr) << c.script;
    EXPECT_EQ(key->GetDefault(), c.default_value) << c.script;
  }
}

TEST(RegistrarTest, ReplacementsAreLiteralText) {
  const std::map<std::string, std::string> replacements{{"MODULE", "/opt/it's a {path}/lib.so"},
                                                        {"APPID", std::string(kAppId)}};
  constexpr std::string_view kScript = R"(HKCR {
    K = s '%MODULE%'
    {
      val AppID = s '%appid%'
      val Percent = s '100%%'
      val Escaped = s '%%MODULE%%'
      %APPID% = s bare%MODULE%
    }
  })";
  RegistryKey root;
  ASSERT_EQ(ApplyRegistrationScript(root, kScript, replacements, true), S_OK);
  const RegistryKey* key = root.Find("K");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->GetDefault(), std::optional<std::string>("/opt/it's a {path}/lib.so"));
  EXPECT_EQ(key->GetValue("AppID"), std::optional<std::string>(kAppId));
  EXPECT_EQ(key->GetValue("Percent"), std::optional<std::string>("100%"));
  EXPECT_EQ(key->GetValue("Escaped"), std::optional<std::string>("%MODULE%"));
  ASSERT_NE(root.Find("K\\" + std::string(kAppId)), nullptr);
  EXPECT_EQ(root.Find("K\\" + std::string(kAppId))->GetDefault(),
            std::optional<std::string>("bare/opt/it's a {path}/lib.so"));
}

TEST(RegistrarTest, ErrorHalfWayChangesNothing) {
  const struct Case {
    std::string_view what;
    std::string_view script;
    HRESULT expected;
  } cases[] = {
      {"unterminated quote", "HKCR { A = s 'x' B = s 'unterminated }", DISP_E_EXCEPTION},
      {"missing closing brace", "HKCR { A = s 'x' { B ", DISP_E_EXCEPTION},
      {"value without assignment", "HKCR { A { val X } }", DISP_E_EXCEPTION},
      {"assignment without value", "HKCR { A = s }", DISP_E_EXCEPTION},
      {"type of several letters", "HKCR { A = s 'x' B = str 'x' }", DISP_E_EXCEPTION},
      {"unknown type", "HKCR { A = s 'x' B = q 'x' }", DISP_E_EXCEPTION},
      {"bad DWORD", "HKCR { A = s 'x' B = d '12abc' }", DISP_E_EXCEPTION},
      {"DWORD out of range", "HKCR { A = s 'x' B = d '4294967296' }", DISP_E_EXCEPTION},
      {"binary type", "HKCR { A = s 'x' B = b '0102' }", REGDB_E_INVALIDVALUE},
      {"multi-string type", "HKCR { A = s 'x' val B = m 'a\\0b' }", REGDB_E_INVALIDVALUE},
      {"unknown replacement", "HKCR { A = s 'x' B = s '%NOPE%' }", DISP_E_EXCEPTION},
      {"lone percent", "HKCR { A = s 'x' B = s '50%' }", DISP_E_EXCEPTION},
      {"compound key name", "HKCR { A = s 'x' 'B\\C' = s 'x' }", DISP_E_EXCEPTION},
      {"empty key name", "HKCR { A = s 'x' '' = s 'x' }", DISP_E_EXCEPTION},
      {"block after a value", "HKCR { A { val X = s 'y' { } } }", DISP_E_EXCEPTION},
      {"block after Delete", "HKCR { A Delete B { } }", DISP_E_EXCEPTION},
      {"assignment as name", "HKCR { A = s 'x' = s 'x' }", DISP_E_EXCEPTION},
      {"stray closing brace", "HKCR { A } }", DISP_E_EXCEPTION},
      {"root without block", "HKCR A", DISP_E_EXCEPTION},
      {"root alone", "HKCR", DISP_E_EXCEPTION},
      {"unknown root", "HKCR { A } HKXX { B }", DISP_E_EXCEPTION},
      {"other hive", "HKCR { A } HKLM { Software }", HRESULT_FROM_WIN32(ERROR_BADKEY)},
      {"name the registry cannot hold", "HKCR { A = s 'x' 'bad\x01name' = s 'x' }", E_INVALIDARG},
  };
  RegistryKey registered;
  ASSERT_EQ(ApplyRegistrationScript(registered, kClassScript, Replacements(), true), S_OK);
  for (const Case& c : cases) {
    for (const bool do_register : {true, false}) {
      if (!do_register && c.expected == E_INVALIDARG) continue;  // unregistering creates no names
      RegistryKey root = registered;
      EXPECT_EQ(ApplyRegistrationScript(root, c.script, Replacements(), do_register), c.expected)
          << c.what << (do_register ? " (register)" : " (unregister)");
      EXPECT_TRUE(root == registered) << c.what;
    }
  }
}

}  // namespace
}  // namespace com
