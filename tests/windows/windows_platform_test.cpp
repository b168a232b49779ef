// The Windows side of the platform layer, run on Windows (or wine): ticks and sleeps, the folder
// of the executable, the named mutex across threads and processes, the ANSI code page, and the
// files of a run in a folder whose name needs more than the ANSI code page.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/x509_vfy.h>

#include "analysis/text_encoding.h"
#include "config/folder_checks.h"
#include "engine/http_client.h"
#include "output/results_file.h"
#include "output/workbook_export.h"
#include "platform/clock.h"
#include "platform/exe_folder.h"
#include "platform/file_access.h"
#include "platform/named_lock.h"
#include "platform/windows_text.h"
#include "tests/windows/child_process.h"

namespace mirava {
namespace {

using platform::windows::Utf8;
using platform::windows::Wide;

// A fresh folder named with Cyrillic letters and a space under the user's temporary folder.
class CyrillicFolder {
 public:
  CyrillicFolder() {
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    path_ = std::filesystem::path(std::wstring(temp, length)) /
            (L"Мирава тест " + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(next_++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~CyrillicFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& Path() const { return path_; }
  // A file inside, as the core takes paths: UTF-8.
  std::string File(const std::wstring& name) const { return Utf8((path_ / name).wstring()); }

 private:
  static inline int next_ = 0;
  std::filesystem::path path_;
};

std::string ReadBytes(const std::string& utf8_path) {
  std::ifstream in(std::filesystem::path(Wide(utf8_path)), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(WindowsClockTest, TicksFollowTheSystemCounterAndSleepsLast) {
  const std::shared_ptr<platform::IClock> clock = platform::MakeSystemClock();
  const auto before = static_cast<std::uint32_t>(GetTickCount());
  const std::uint32_t tick = clock->TickCount();
  const auto after = static_cast<std::uint32_t>(GetTickCount());
  EXPECT_LE(platform::TickDiff(tick, before), platform::TickDiff(after, before));

  const std::uint32_t start = clock->TickCount();
  clock->SleepMs(60);
  const std::uint32_t slept = platform::TickDiff(clock->TickCount(), start);
  // The tick counter's resolution on Windows is about 16 ms.
  EXPECT_GE(slept, 60u - 16u);
  EXPECT_LT(slept, 30000u);
}

TEST(WindowsExecutableFolderTest, IsTheProgramsFolderEvenWithCyrillicLetters) {
  wchar_t own[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
  const std::filesystem::path own_path(std::wstring(own, length));
  EXPECT_EQ(platform::ExecutableFolder(), Utf8(own_path.parent_path().wstring()) + "\\");

  // A copy of this program in a Cyrillic folder reports that folder, in UTF-8.
  CyrillicFolder folder;
  const std::filesystem::path copy = folder.Path() / L"копия.exe";
  ASSERT_TRUE(CopyFileW(own_path.c_str(), copy.c_str(), FALSE));
  const std::string report = folder.File(L"папка.txt");
  ASSERT_EQ(testing::RunChild(copy, {"--print-exe-folder", report}), 0);
  EXPECT_EQ(ReadBytes(report), Utf8(folder.Path().wstring()) + "\\");
}

// Either separator spells a folder on Windows; only a whole folder named Temp counts.
TEST(WindowsFolderCheckTest, TemporaryFolderWithEitherSeparator) {
  const struct {
    const char* folder;
    bool flagged;
  } cases[] = {
      {"C:\\Users\\Иван\\AppData\\Local\\Temp\\", true},
      {"C:/Users/Иван/AppData/Local/TEMP/x/", true},
      {"C:\\Users/Иван\\temp/", true},
      {"C:\\Temperature\\", false},
      {"D:\\Парсер\\", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(config::FailedFolderCheck(c.folder).has_value(), c.flagged) << c.folder;
  }
}

// Without Qt's platform plugin beside it the program says so before Qt starts. The folder sits
// beside this test program: one under the user's temporary folder would trip the Temp check.
TEST(WindowsFolderCheckTest, StartupCheckWantsThePlatformPluginBesideTheProgram) {
  const std::string own_folder = platform::ExecutableFolder();
  if (config::FailedFolderCheck(own_folder)) {
    GTEST_SKIP() << "the test program itself runs from a folder the checks refuse: " << own_folder;
  }
  const std::filesystem::path folder =
      std::filesystem::path(Wide(own_folder)) /
      (L"Папка оператора " + std::to_wstring(GetCurrentProcessId()));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder / L"platforms");
  const std::string utf8_folder = Utf8(folder.wstring()) + "\\";
  const std::string plugin = "platforms\\qwindows.dll";

  const auto missing = config::FailedStartupCheck(utf8_folder, plugin);
  ASSERT_TRUE(missing.has_value());
  EXPECT_TRUE(missing->starts_with("Программа не обнаружила необходимые для работы файлы!\r\n"));
  // Checks 1 and 2 still come first.
  const auto inside_archive = config::FailedStartupCheck(utf8_folder + "Rar$EXa0.1\\", plugin);
  ASSERT_TRUE(inside_archive.has_value());
  EXPECT_TRUE(inside_archive->starts_with("Вы запустили программу изнутри архива!"));

  std::ofstream(folder / L"platforms" / L"qwindows.dll") << "plugin";
  EXPECT_FALSE(config::FailedStartupCheck(utf8_folder, plugin).has_value());
  std::filesystem::remove_all(folder);
}

TEST(WindowsNamedLockTest, LockFileLivesInTheUsersTemporaryFolder) {
  const std::string path = platform::NamedLockPath("MiravaParserMutex");
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  EXPECT_EQ(path, Utf8(std::wstring(temp, length)) + "MiravaParserMutex.lock");
}

TEST(WindowsNamedLockTest, ThreadsOfOneProcessTakeTurns) {
  CyrillicFolder folder;
  const auto lock = platform::NamedLock::AtPath(folder.File(L"MiravaTestThreads.lock"));
  std::atomic<int> inside{0};
  std::atomic<int> most{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20; ++i) {
        platform::NamedLock::Holding holding(lock);
        const int now = ++inside;
        most = std::max(most.load(), now);
        Sleep(1);
        --inside;
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(most.load(), 1);
}

// A second process holds the lock; this one gets it only after that one let go or died holding
// it. The helper writes a marker once it holds the lock and another just before it lets go, so
// the order shows without timing.
TEST(WindowsNamedLockTest, ProcessesExcludeEachOtherAndADeadHolderFreesTheLock) {
  CyrillicFolder folder;
  const std::string lock_path = folder.File(L"MiravaTestProcesses.lock");
  const auto lock = platform::NamedLock::AtPath(lock_path);
  const auto exists = [](const std::string& path) {
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  };
  for (const char* ending : {"release", "die"}) {
    SCOPED_TRACE(ending);
    const std::string held = folder.File(L"held-" + Wide(ending));
    const std::string leaving = folder.File(L"leaving-" + Wide(ending));
    testing::ChildProcess child(testing::OwnProgram(),
                                {"--hold-lock", lock_path, held, leaving, "300", ending});
    for (int i = 0; i < 6000 && !exists(held); ++i) {
      Sleep(10);
    }
    ASSERT_TRUE(exists(held));
    {
      platform::NamedLock::Holding holding(lock);
      EXPECT_TRUE(exists(leaving));
    }
    EXPECT_EQ(child.Wait(), 0);
  }
}

// The statically linked OpenSSL has no folder of authorities on Windows: they must come from the
// system's "ROOT" store (wine fills it from the host's authorities).
TEST(WindowsCertificatesTest, SystemTrustStoreHoldsTheSystemsAuthorities) {
  X509_STORE* store = engine::TlsTrustStore::System()->Store();
  ASSERT_NE(store, nullptr);
  EXPECT_GT(sk_X509_OBJECT_num(X509_STORE_get0_objects(store)), 10);
}

TEST(WindowsCodePageTest, WritesAndReadsTheAnsiCodePage) {
  if (GetACP() != 1251) {
    GTEST_SKIP() << "the ANSI code page is " << GetACP()
                 << ", not 1251 (run with LANG=ru_RU.UTF-8)";
  }
  EXPECT_EQ(analysis::EncodeSystemCodePage(u"Привет, мир"),
            "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0");
  EXPECT_EQ(analysis::EncodeSystemCodePage(u"日本 ok"), "?? ok");
  EXPECT_EQ(analysis::DecodeSystemCodePage("\xCF\xF0\xE8\xE2\xE5\xF2"), u"Привет");
  // Well-formed UTF-8 is read as UTF-8, as everywhere.
  EXPECT_EQ(analysis::DecodeSystemCodePage("\xD0\x9F\xD1\x80\xD0\xB8"), u"При");
  EXPECT_EQ(analysis::ReadTextLines("\xC0\r\n\xDF"), (std::vector<std::u16string>{u"А", u"Я"}));
}

TEST(WindowsRunFilesTest, ResultsFileIsBinaryLockedAgainstASecondWriterAndReadable) {
  CyrillicFolder folder;
  const std::string path = folder.File(L"данные 1.tab");
  output::ResultsWriter writer(platform::CreateResultsSink(path));
  writer.WriteLine("Имя\tГород");
  writer.WriteLine("a\tb");

  // Another writer is refused and leaves the lines alone; a reader may look.
  EXPECT_THROW(platform::CreateResultsSink(path), std::runtime_error);
  platform::InputFile reader(path);
  char buffer[256];
  const std::size_t got = reader.Read(buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer, got),
            "\xEF\xBB\xBF\xD0\x98\xD0\xBC\xD1\x8F\t\xD0\x93\xD0\xBE\xD1"
            "\x80\xD0\xBE\xD0\xB4\r\na\tb\r\n");
  writer.Close();

  // Closed, it can be written anew, and that empties it first.
  output::ResultsWriter again(platform::CreateResultsSink(path));
  again.WriteLine("c");
  again.Close();
  EXPECT_EQ(ReadBytes(path),
            "\xEF\xBB\xBF"
            "c\r\n");
}

TEST(WindowsRunFilesTest, LogIsWrittenInTheAnsiCodePageWithCrLf) {
  if (GetACP() != 1251) {
    GTEST_SKIP() << "the ANSI code page is " << GetACP()
                 << ", not 1251 (run with LANG=ru_RU.UTF-8)";
  }
  CyrillicFolder folder;
  const std::string path = folder.File(L"журнал.txt");
  output::SaveRunLog(path, "Готово\nline\r\nдалее");
  EXPECT_EQ(ReadBytes(path), "\xC3\xEE\xF2\xEE\xE2\xEE\r\nline\r\n\xE4\xE0\xEB\xE5\xE5\r\n");
}

TEST(WindowsRunFilesTest, SmallFileOperationsUseWidePaths) {
  CyrillicFolder folder;
  const std::string a = folder.File(L"первый.txt");
  const std::string b = folder.File(L"второй.txt");
  EXPECT_EQ(platform::ReadFileIfPresent(a), std::nullopt);
  EXPECT_EQ(platform::ReadFileIfPresent(Utf8(folder.Path().wstring())), std::nullopt);  // a folder

  platform::ReplaceFileContents(a, "one\r\ntwo\n");
  EXPECT_EQ(platform::ReadFileIfPresent(a), "one\r\ntwo\n");
  EXPECT_FALSE(platform::CreateNewFile(a));
  EXPECT_TRUE(platform::CreateNewFile(b));

  // Moving onto an existing file replaces it.
  platform::MoveReplacing(a, b);
  EXPECT_EQ(ReadBytes(b), "one\r\ntwo\n");
  EXPECT_EQ(platform::ReadFileIfPresent(a), std::nullopt);
  platform::RemoveFileQuietly(b);
  EXPECT_EQ(platform::ReadFileIfPresent(b), std::nullopt);
  EXPECT_THROW(platform::InputFile{b}, platform::FileError);
}

TEST(WindowsRunFilesTest, WorkbookIsWrittenInACyrillicFolder) {
  CyrillicFolder folder;
  const std::string results = folder.File(L"данные 7.tab");
  {
    output::ResultsWriter writer(platform::CreateResultsSink(results));
    writer.WriteLine("Название\tГород");
    writer.WriteLine("ООО Ромашка\tМосква");
    writer.Close();
  }
  const std::string workbook = folder.File(L"данные 7.xlsx");
  const output::WorkbookSummary summary = output::ExportResultsWorkbook(results, workbook);
  EXPECT_EQ(summary.UsedRows, 2);
  EXPECT_EQ(ReadBytes(workbook).substr(0, 2), "PK");
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 2) << "the part file was left behind";
}

}  // namespace
}  // namespace mirava
