// The Windows registry operations against Wine's real registry, on a
// scratch key under HKEY_LOCAL_MACHINE that each test creates and deletes.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "list_model.h"
#include "registry.h"

namespace {

constexpr REGSAM kView32 = KEY_WOW64_32KEY;
const std::string kScratchParent = "Software\\ksthunk-filter-tests";

class WindowsRegistryTest : public testing::Test {
 protected:
  void SetUp() override {
    path_ = kScratchParent + "\\" +
            testing::UnitTest::GetInstance()->current_test_info()->name();
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS | kView32, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }

  // Tests run in parallel in one prefix, so each deletes only its own key;
  // the parent goes once the last of them has (deleting a key that still
  // has subkeys fails).
  void TearDown() override {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0,
                      KEY_ALL_ACCESS | kView32, &key) == ERROR_SUCCESS) {
      RegDeleteTreeA(key, nullptr);
      RegCloseKey(key);
    }
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), kView32, 0);
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kScratchParent.c_str(), kView32, 0);
  }

  void Seed(const std::string& bytes, DWORD type = REG_MULTI_SZ) {
    HKEY key = Open();
    ASSERT_EQ(RegSetValueExA(key, "UpperFilters", 0, type,
                             reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }

  // The stored bytes and type, read back through the same narrow call the
  // program uses.
  std::string Stored(DWORD* type = nullptr) {
    HKEY key = Open();
    DWORD size = 0;
    std::string bytes;
    if (RegQueryValueExA(key, "UpperFilters", nullptr, type, nullptr, &size) ==
        ERROR_SUCCESS) {
      bytes.resize(size);
      RegQueryValueExA(key, "UpperFilters", nullptr, type,
                       reinterpret_cast<BYTE*>(bytes.data()), &size);
      bytes.resize(size);
    } else {
      bytes = "<absent>";
    }
    RegCloseKey(key);
    return bytes;
  }

  HKEY Open() {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0,
                            KEY_ALL_ACCESS | kView32, &key),
              ERROR_SUCCESS);
    return key;
  }

  std::string path_;
};

TEST_F(WindowsRegistryTest, AMissingKeyGivesStatusTwo) {
  RegistryKey key = nullptr;
  EXPECT_EQ(RegistryOpenKey(RegistryLocalMachine(),
                            (path_ + "\\missing").c_str(), 0xF023F, &key),
            2u);
  EXPECT_EQ(key, nullptr);
}

TEST_F(WindowsRegistryTest, SetAndQueryKeepTheExactBytes) {
  RegistryKey key = nullptr;
  ASSERT_EQ(
      RegistryOpenKey(RegistryLocalMachine(), path_.c_str(), 0xF023F, &key),
      0u);
  const std::string list = Bytes("a\0\0b\xE9\0\0", 7);
  EXPECT_EQ(RegistrySetValue(key, "UpperFilters", kRegMultiSz, list.data(),
                             static_cast<std::uint32_t>(list.size())),
            0u);
  std::uint32_t size = 0;
  EXPECT_EQ(RegistryQueryValue(key, "UpperFilters", nullptr, &size), 0u);
  EXPECT_GE(size, list.size());
  std::string read(size, 'x');
  EXPECT_EQ(RegistryQueryValue(key, "UpperFilters", read.data(), &size), 0u);
  EXPECT_EQ(read.substr(0, size), list);

  std::uint32_t tooSmall = 2;
  EXPECT_EQ(RegistryQueryValue(key, "UpperFilters", read.data(), &tooSmall),
            0xEAu);
  std::uint32_t absent = 0;
  EXPECT_EQ(RegistryQueryValue(key, "Missing", nullptr, &absent), 2u);
  RegistryCloseKey(key);

  DWORD type = 0;
  EXPECT_EQ(Stored(&type), list);
  EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
}

// The test runs in code page 1252, which has no Cyrillic: the narrow read
// would turn the Zhe into '?', so the data query refuses it, while an e-acute,
// which 1252 holds, reads as its byte. A binary value is no list of names,
// whatever its bytes, and is refused too.
TEST_F(WindowsRegistryTest, ADataQueryFailsWhereTheCodePageWouldRename) {
  HKEY key = Open();
  const auto seedWide = [key](const std::wstring& list) {
    ASSERT_EQ(RegSetValueExW(key, L"UpperFilters", 0, REG_MULTI_SZ,
                             reinterpret_cast<const BYTE*>(list.data()),
                             static_cast<DWORD>(list.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);
  };
  std::string read(64, 'x');
  std::uint32_t size = 64;
  seedWide(std::wstring(L"caf\x00E9\0\0", 6));
  EXPECT_EQ(RegistryQueryValue(key, "UpperFilters", read.data(), &size), 0u);
  EXPECT_EQ(read.substr(0, size), Bytes("caf\xE9\0\0", 6));

  seedWide(
      std::wstring(L"MSTEE\0\x0416"
                   L"flt\0\0",
                   12));
  size = 64;
  EXPECT_EQ(RegistryQueryValue(key, "UpperFilters", read.data(), &size),
            kStatusNoUnicodeTranslation);

  Seed(Bytes("a\0b\0\0", 5), REG_BINARY);
  size = 64;
  EXPECT_EQ(RegistryQueryValue(key, "UpperFilters", read.data(), &size),
            kStatusNoUnicodeTranslation);
  RegCloseKey(key);
}

}  // namespace
