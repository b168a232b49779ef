#pragma once
// A window in a temporary folder that stands for the program's folder, with its message boxes
// and process exits recorded instead of shown or taken.
#include <QCoreApplication>
#include <QDir>
#include <QLocale>
#include <QTemporaryDir>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "app/main_form.h"
#include "platform/named_lock.h"
#include "test_files.h"
#include "tests/support/fake_clock.h"

namespace mirava::testing {

struct ShownMessage {
  app::MessageIcon Icon;
  QString Caption;
  QString Text;
};

// 9 March 2026, 07:05:03: every time-stamped line starts with this.
inline const QString kStamp = QStringLiteral("09.03.2026 07:05:03: ");

class FormFixture {
 public:
  FormFixture() : FormFixture(QString()) {}
  // `subfolder` (e.g. "Temp") puts the program folder one level down.
  explicit FormFixture(const QString& subfolder) {
    folder_ = root_.path() + "/" + (subfolder.isEmpty() ? QString() : subfolder + "/");
    QDir().mkpath(folder_);
  }
  ~FormFixture() {
    std::error_code ignored;
    std::filesystem::remove(platform::NamedLockPath(LockName()), ignored);
  }

  QString Path(const QString& name) const { return folder_ + name; }
  void Write(const QString& name, const QByteArray& bytes) const { WriteBytes(Path(name), bytes); }
  QByteArray Read(const QString& name) const { return ReadBytes(Path(name)); }

  // Writes the two list files: cities and categories as UTF-8 with BOM and CR LF.
  void WriteLists(const QStringList& cities, const QStringList& categories) const {
    Write("cities.txt", kBom + cities.join("\r\n").toUtf8() + "\r\n");
    Write("categories.txt", kBom + categories.join("\r\n").toUtf8() + "\r\n");
  }

  app::MainFormEnvironment Environment() {
    app::MainFormEnvironment environment;
    environment.Folder = folder_.toStdString();
    // Far from tick 0, which a run's pacing starts from, so that the first request never waits,
    // however long the machine has been up; later requests wait their interval in fake time.
    environment.Run.Clock = std::make_shared<FakeClock>(3000000000u, std::chrono::milliseconds(1));
    environment.Run.Pacing = std::make_shared<engine::PacingState>();
    environment.Run.Rotation = std::make_shared<engine::ProxyRotation>();
    // A lock of this test program alone, so parallel test programs never wait for each other.
    environment.Run.RequestMutexName = LockName();
    environment.Run.LoopSleep = std::chrono::milliseconds(5);
    environment.Run.Fetch.ConnectTimeout = std::chrono::milliseconds(2000);
    environment.Run.Fetch.ReadTimeout = std::chrono::milliseconds(2000);
    environment.Run.Fetch.MaxAttempts = 1;
    environment.Run.Fetch.RefusalPause = std::chrono::milliseconds(0);
    environment.Run.Fetch.Poll = std::chrono::milliseconds(5);
    environment.Run.OpenWorkbook = [](const std::string&) {};
    environment.Now = [] { return QDateTime(QDate(2026, 3, 9), QTime(7, 5, 3)); };
    environment.Locale = QLocale(QLocale::Russian, QLocale::Russia);
    environment.ShowMessage = [this](app::MessageIcon icon, const QString& caption,
                                     const QString& text) {
      messages.push_back({icon, caption, text});
    };
    environment.Ask = [this](const QString& caption, const QString& text, const QString& yes,
                             const QString& no) {
      questions.push_back({app::MessageIcon::None, caption, text + "\n[" + yes + "|" + no + "]"});
      if (answers.empty()) {
        return false;
      }
      const bool answer = answers.front();
      answers.erase(answers.begin());
      return answer;
    };
    environment.AskSavePath = [this](const QString&, const QString& suggested) {
      save_questions.push_back(suggested);
      return save_answer;
    };
    environment.ExitProcess = [this](int code) {
      exits.push_back(code);
      if (on_exit) {
        on_exit();
      }
    };
    return environment;
  }

  std::unique_ptr<app::TMainForm> MakeForm() {
    return std::make_unique<app::TMainForm>(Environment());
  }

  static std::string LockName() {
    return "MiravaAppTests-" + std::to_string(QCoreApplication::applicationPid());
  }

  std::vector<ShownMessage> messages;
  // Every question asked, its buttons after the text; answered from `answers` in order, "no"
  // once they run out.
  std::vector<ShownMessage> questions;
  std::vector<bool> answers;
  std::vector<int> exits;
  // Where the window asked to save a file (the name it suggested), and what it is told.
  std::vector<QString> save_questions;
  QString save_answer;
  std::function<void()> on_exit;

 private:
  // Windows' temporary folder is named Temp, which the folder check refuses; there the
  // fixture's folders sit beside the test program instead.
#ifdef _WIN32
  QTemporaryDir root_{QCoreApplication::applicationDirPath() + "/form-XXXXXX"};
#else
  QTemporaryDir root_;
#endif
  QString folder_;
};

}  // namespace mirava::testing
