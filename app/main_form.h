#pragma once
// TMainForm: the program's one window. The operator picks cities and categories, sets the thread
// count, the request interval and the proxy switch, and starts, pauses and stops a run; the run
// announces what happened through engine::IRunEvents, which the window implements: the run's
// threads queue each event to the window thread (QtRunEvents), where it is handled below.
#include <QDateTime>
#include <QLocale>
#include <QRect>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/qt_window_link.h"
#include "engine/scraper.h"

class QCheckBox;
class QKeyEvent;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTimer;

namespace mirava::app {

enum class MessageIcon { None, Warning };

// What the window takes from the program; tests supply their own.
struct MainFormEnvironment {
  // The folder of every file the window and its runs read and write, with a trailing "/".
  std::string Folder;
  // The pieces every run is built from; the window puts in its own events and time stamps.
  engine::RunEnvironment Run;
  // The local date and time of log lines; the current time when empty. Called on the window
  // thread and on the run's threads.
  std::function<QDateTime()> Now;
  QLocale Locale = QLocale::system();
  // Shows a modal message box with an OK button; a message box when empty.
  std::function<void(MessageIcon icon, const QString& caption, const QString& text)> ShowMessage;
  // Asks a modal question with two buttons; true for `yes`. A message box when empty.
  std::function<bool(const QString& caption, const QString& text, const QString& yes,
                     const QString& no)>
      Ask;
  // Ends the process at once, without unwinding; std::_Exit when empty.
  std::function<void(int code)> ExitProcess;
  // Asks where to save a file, `suggested` first; empty when the operator declined. A file
  // dialog when empty.
  std::function<QString(const QString& caption, const QString& suggested)> AskSavePath;
};

class TMainForm : public QWidget, public engine::IRunEvents {
  Q_OBJECT

 public:
  // The client area as designed, at 96 dpi.
  static constexpr int kDesignWidth = 1290;
  static constexpr int kDesignHeight = 747;

  explicit TMainForm(MainFormEnvironment environment, QWidget* parent = nullptr);
  ~TMainForm() override;

  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;
  QLabel* Label5;
  QLabel* Label6;
  QListWidget* CitiesListBox;
  QListWidget* CatsListBox;
  QPlainTextEdit* LogsMemo;
  QPushButton* StartButton;
  QPushButton* PauseButton;
  QPushButton* StopButton;
  // Checks that the site's pages are still recognised before a long run.
  QPushButton* CheckButton;
  QSpinBox* LimitEdit;
  QSpinBox* IntervalSpinEdit;
  QCheckBox* UseProxyCheckBox;
  QProgressBar* ProgressBar;
  // The folder's organization base: a run that takes only organizations it does not know, how
  // old a known one may be before it is fetched again, and the whole base as a workbook.
  QCheckBox* OnlyNewCheckBox;
  QLabel* Label7;
  QSpinBox* RefreshDaysEdit;
  QPushButton* ExportBaseButton;

  // The run started last; it frees itself when it has finished.
  std::weak_ptr<engine::TScraper> CurrentScraper;
  // Category names carried across a reload of the category list; never emptied.
  std::vector<std::u16string> CatsSelectionSnapshot;

  void FormCreate();
  // False when a folder check failed and the process was told to end.
  bool FormShow();
  void StartButtonClick();
  void PauseButtonClick();
  void StopButtonClick();
  void CheckButtonClick();
  void UseProxyCheckBoxClick();
  void ExportBaseButtonClick();
  // True when the key was taken (Ctrl with the A key selects the whole log).
  bool LogsMemoKeyDown(const QKeyEvent& event);
  void FormClose();

  void LoadCitiesList();
  void LoadCatsList();
  // One log line per list file with mistakes and one message box for all of them.
  void ReportListFileProblems();
  void LoadSettings();
  void RestoreSelection();
  // Each returns the reason the file could not be written, or an empty text.
  QString SaveSettings();
  QString SaveSelection();

  // What a start hands the run: the selected items' values in list order, the limits, the proxy
  // switch and the folder.
  engine::RunRequest MakeRunRequest() const;

  // The current run while it exists and has not given the window back; null otherwise.
  std::shared_ptr<engine::TScraper> ActiveRun() const;

  // The run's events, on the window thread.
  void BusyChanged(bool busy) override;
  void LogLine(const std::string& line) override;
  void ProgressChanged(const engine::RunProgress& progress) override;
  void PagesUnrecognised(const std::string& message) override;
  void BaseUnavailable(const std::string& message) override;
  void RunEnded(engine::RunOutcome outcome, const std::string& message) override;

  void AddLogLine(const QString& message);  // with the time stamp
  void AddPlainLine(const QString& text);   // without it

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  enum Anchor { kLeft = 1, kTop = 2, kRight = 4, kBottom = 8 };
  struct Placement {
    QWidget* Control;
    QRect Designed;
    int Anchors;
  };

  void CreateControls();
  void Place(QWidget* control, QRect designed, int anchors);
  void ApplyAnchors();
  void ShowMessage(MessageIcon icon, const QString& caption, const QString& text);
  bool Ask(const QString& caption, const QString& text, const QString& yes, const QString& no);
  // Offers the folder's unfinished run; true when the operator chose to continue it (the
  // continued run was started, or refused with a message), false for a new run.
  bool OfferUnfinishedRun();
  // True when a city and a category are selected and, with the proxy box ticked, proxy.txt has a
  // proxy; otherwise the operator has been told why nothing starts.
  bool ReadyToStart();
  void StartRun(engine::RunRequest request);
  void EndProcess(int code);
  void ExportBaseFinished(const QString& line, bool done);
  std::string Folder() const { return environment_.Folder; }
  std::string LogTimestamp() const;

  MainFormEnvironment environment_;
  std::shared_ptr<QtRunEvents> run_events_;
  std::shared_ptr<QtProgressView> progress_view_;
  std::shared_ptr<QtLogView> log_view_;
  std::vector<Placement> placements_;
  bool shown_ = false;
  // Mistakes found in the list files at creation, told to the operator once the window shows.
  std::vector<std::string> list_file_problems_;
  bool ended_ = false;  // the process was told to end; nothing more is loaded or saved
  bool closed_ = false;
  bool close_after_run_ = false;  // the operator chose to stop the run and close the window
  // Writes the base's workbook off the window thread; joined before the window goes.
  std::thread export_thread_;
};

// Every name of the list's selected items, in list order, appended to `names`.
void CollectSelectedNames(const QListWidget& list, std::vector<std::u16string>& names);
// Selects exactly the items whose name is in `names` (letter case ignored).
void SelectByNames(QListWidget& list, const std::vector<std::u16string>& names);

}  // namespace mirava::app
