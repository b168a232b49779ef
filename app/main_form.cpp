#include "app/main_form.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFontInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QTimer>
#include <climits>
#include <cstdlib>
#include <exception>

#include "analysis/text_encoding.h"
#include "app/continue_prompts.h"
#include "config/folder_checks.h"
#include "config/list_files.h"
#include "config/selection.h"
#include "config/settings.h"
#include "config/text_file.h"
#include "engine/base_export.h"
#include "engine/log_line.h"
#include "engine/proxy_list.h"
#include "platform/file_access.h"

namespace mirava::app {

// The window's files and their rules live in the core's configuration layer.
using namespace mirava::config;

namespace {

constexpr const char* kTitle = "Парсер организаций Mirava";
constexpr int kProgressBarHeight = 17;
constexpr int kListItemHeight = 13;
constexpr int kProxyInterval = 0;
constexpr int kDirectInterval = 10;
// Ten years: any more is "never", which is 0.
constexpr int kMaxRefreshDays = 3650;
constexpr int kLogPaneLines = 10000;
// What the operator does when the run held because the site's pages stopped being recognised.
constexpr const char* kPagesUnrecognisedAdvice =
    "Откройте этот адрес в браузере и посмотрите, что показывает сайт. Работа приостановлена, "
    "запросы к сайту не отправляются: кнопка «пауза» продолжит работу, кнопка «стоп» завершит "
    "ее, и ее можно будет продолжить позже с места остановки.";

QString FromU16(const std::u16string& text) {
  return QString::fromStdU16String(text);
}

std::u16string ToU16(const QString& text) {
  return text.toStdU16String();
}

// Tahoma as designed where the machine has it. Otherwise DejaVu Sans, narrowed to Tahoma's
// widths at the same pixel size, so every text still fits the designed layout.
QFont DesignFont(int pixel_size) {
  QFont font(QStringLiteral("Tahoma"));
  font.setPixelSize(pixel_size);
  if (QFontInfo(font).family() != QStringLiteral("Tahoma")) {
    font.setFamilies({QStringLiteral("DejaVu Sans")});
    font.setStretch(84);
  }
  return font;
}

class FixedHeightDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return {QStyledItemDelegate::sizeHint(option, index).width(), kListItemHeight};
  }
};

QListWidget* MakeListBox(QWidget* parent, const char* name, const QStringList& placeholders) {
  auto* list = new QListWidget(parent);
  list->setObjectName(QString::fromLatin1(name));
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  list->setUniformItemSizes(true);
  list->setItemDelegate(new FixedHeightDelegate(list));
  list->addItems(placeholders);  // placeholder items carry no value
  return list;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, bool word_wrap) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setWordWrap(word_wrap);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setFlat(true);
  button->setAutoDefault(false);
  return button;
}

bool AnySelected(const QListWidget& list) {
  for (int i = 0; i < list.count(); ++i) {
    if (list.item(i)->isSelected()) {
      return true;
    }
  }
  return false;
}

std::vector<std::u16string> ItemNames(const QListWidget& list) {
  std::vector<std::u16string> names;
  names.reserve(static_cast<std::size_t>(list.count()));
  for (int i = 0; i < list.count(); ++i) {
    names.push_back(ToU16(list.item(i)->text()));
  }
  return names;
}

void SelectItems(QListWidget& list, const std::vector<bool>& selected) {
  for (int i = 0; i < list.count(); ++i) {
    if (selected[static_cast<std::size_t>(i)]) {
      list.item(i)->setSelected(true);
    }
  }
}

// One line-down step of the list's scroll bar when the selection does not start at the top.
void ScrollOneLineIfNeeded(QListWidget& list) {
  if (list.count() == 0 || !AnySelected(list) || list.item(0)->isSelected()) {
    return;
  }
  list.doItemsLayout();  // brings the scroll bar's range up to date
  list.verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
}

void AddItems(QListWidget& list, const std::vector<ListItem>& items) {
  for (const ListItem& item : items) {
    auto* entry = new QListWidgetItem(FromU16(item.Name));
    entry->setData(Qt::UserRole, FromU16(item.Value));
    list.addItem(entry);
  }
}

QString SaveFailure(const platform::FileError& error) {
  return QStringLiteral("Не удалось сохранить файл %1: %2")
      .arg(QString::fromStdString(error.Path()), QString::fromStdString(error.Reason()));
}

constexpr const char* kStyleSheet = R"(
QPushButton {
  border: 1px solid #8a8a8a;
  background: #f4f4f4;
}
QPushButton:hover { background: #e5f1fb; border-color: #0078d7; }
QPushButton:pressed { background: #cce4f7; }
QPushButton:disabled { color: #a0a0a0; border-color: #c0c0c0; }
QListWidget {
  border: 1px solid #8a8a8a;
  background: white;
}
QProgressBar {
  border: 1px solid #a0a0a0;
  background: #ffffff;
}
QProgressBar::chunk {
  background: qlineargradient(x1: 0, y1: 0, x2: 1, y2: 0, stop: 0 #10a010, stop: 1 #c4f0c4);
}
)";

}  // namespace

void CollectSelectedNames(const QListWidget& list, std::vector<std::u16string>& names) {
  for (int i = 0; i < list.count(); ++i) {
    if (list.item(i)->isSelected()) {
      names.push_back(ToU16(list.item(i)->text()));
    }
  }
}

void SelectByNames(QListWidget& list, const std::vector<std::u16string>& names) {
  for (int i = 0; i < list.count(); ++i) {
    const std::u16string name = ToU16(list.item(i)->text());
    bool found = false;
    for (const std::u16string& entry : names) {
      if (analysis::EqualsIgnoreCase(entry, name)) {
        found = true;
        break;
      }
    }
    list.item(i)->setSelected(found);
  }
}

TMainForm::TMainForm(MainFormEnvironment environment, QWidget* parent)
    : QWidget(parent), environment_(std::move(environment)) {
  if (!environment_.Now) {
    environment_.Now = [] { return QDateTime::currentDateTime(); };
  }
  run_events_ = std::make_shared<QtRunEvents>(this, this);
  CreateControls();
  FormCreate();
}

TMainForm::~TMainForm() {
  // Whatever a run still announces is dropped from now on.
  run_events_->Shutdown();
  if (export_thread_.joinable()) {
    export_thread_.join();
  }
}

void TMainForm::CreateControls() {
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QString::fromUtf8(kTitle));
  setFont(DesignFont(11));
  setStyleSheet(QString::fromLatin1(kStyleSheet));

  Label1 = MakeLabel(this, "Label1",
                     QStringLiteral("Выберите один или несколько городов (Shift,Ctrl)"), true);
  Label3 = MakeLabel(this, "Label3",
                     QStringLiteral("Выберите одну или несколько категорий (Shift,Ctrl)"), true);
  Label2 = MakeLabel(this, "Label2", QStringLiteral("Логи:"), false);
  CitiesListBox =
      MakeListBox(this, "CitiesListBox", {QStringLiteral("Список"), QStringLiteral("Городов")});
  CatsListBox =
      MakeListBox(this, "CatsListBox", {QStringLiteral("категория1"), QStringLiteral("2")});

  LogsMemo = new QPlainTextEdit(this);
  LogsMemo->setObjectName(QStringLiteral("LogsMemo"));
  LogsMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
  // The whole log is in log<m>.txt as the run goes; the pane keeps only the latest lines, so a
  // run of any length holds the same memory.
  LogsMemo->setMaximumBlockCount(kLogPaneLines);
  LogsMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  LogsMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  LogsMemo->installEventFilter(this);

  StartButton = MakeButton(this, "StartButton", QStringLiteral("СТАРТ"));
  StartButton->setFont(DesignFont(19));
  PauseButton = MakeButton(this, "PauseButton", QStringLiteral("пауза"));
  StopButton = MakeButton(this, "StopButton", QStringLiteral("стоп"));
  CheckButton = MakeButton(this, "CheckButton", QStringLiteral("проверить\nсайт"));
  CheckButton->setToolTip(
      QStringLiteral("Загрузить страницу списка первого выбранного города и рубрики и до 5 "
                     "страниц организаций из нее и показать в логе, что на них распознано. "
                     "Файлы результатов не создаются."));

  Label5 = MakeLabel(this, "Label5", QStringLiteral("Число потоков:"), false);
  LimitEdit = new QSpinBox(this);
  LimitEdit->setObjectName(QStringLiteral("LimitEdit"));
  LimitEdit->setRange(1, 1000);
  LimitEdit->setValue(1);

  Label4 = MakeLabel(this, "Label4", QStringLiteral("Интервал между запросами к сайту, с:"), false);
  IntervalSpinEdit = new QSpinBox(this);
  IntervalSpinEdit->setObjectName(QStringLiteral("IntervalSpinEdit"));
  IntervalSpinEdit->setRange(0, INT_MAX);
  IntervalSpinEdit->setValue(kDirectInterval);

  UseProxyCheckBox = new QCheckBox(QStringLiteral("Использовать прокси из файла proxy.txt"), this);
  UseProxyCheckBox->setObjectName(QStringLiteral("UseProxyCheckBox"));

  Label6 = MakeLabel(
      this, "Label6",
      QStringLiteral("ВАЖНО! Сайт блокирует IP-адрес навсегда при большой интенсивности запросов "
                     "(более 1 потока с интервалом менее 10с). Рекомендуется использовать прокси "
                     "с ротацией для многопоточного сбора с нулевым интервалом."),
      true);

  ProgressBar = new QProgressBar(this);
  ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
  ProgressBar->setTextVisible(false);

  OnlyNewCheckBox = new QCheckBox(QStringLiteral("только новые организации"), this);
  OnlyNewCheckBox->setObjectName(QStringLiteral("OnlyNewCheckBox"));
  OnlyNewCheckBox->setToolTip(
      QStringLiteral("Не загружать страницы организаций, которые уже есть в базе организаций "
                     "папки (organizations.db): в результаты попадут только новые. Страницы "
                     "списков читаются как всегда."));
  Label7 = MakeLabel(this, "Label7", QStringLiteral("обновлять известные через, дн.:"), false);
  RefreshDaysEdit = new QSpinBox(this);
  RefreshDaysEdit->setObjectName(QStringLiteral("RefreshDaysEdit"));
  RefreshDaysEdit->setRange(0, kMaxRefreshDays);
  RefreshDaysEdit->setValue(0);
  RefreshDaysEdit->setToolTip(
      QStringLiteral("С «только новые организации»: известную организацию, которая не "
                     "встречалась дольше этого числа дней, загрузить снова и обновить в базе "
                     "(строки в результатах она не получает). 0 — никогда."));
  ExportBaseButton = MakeButton(this, "ExportBaseButton", QStringLiteral("выгрузить базу"));
  ExportBaseButton->setToolTip(
      QStringLiteral("Сохранить все организации базы папки в файл Excel: двенадцать столбцов "
                     "и даты, когда организация найдена впервые и в последний раз."));

  Place(Label1, {8, 8, 158, 26}, kLeft | kTop);
  Place(Label3, {187, 8, 158, 26}, kLeft | kTop);
  Place(Label2, {559, 21, 28, 13}, kLeft | kTop);
  Place(CitiesListBox, {8, 40, 173, 635}, kLeft | kTop | kBottom);
  Place(CatsListBox, {187, 40, 366, 635}, kLeft | kTop | kBottom);
  Place(LogsMemo, {559, 40, 723, 634}, kLeft | kTop | kRight | kBottom);
  Place(StartButton, {8, 681, 253, 43}, kLeft | kBottom);
  Place(PauseButton, {267, 682, 75, 18}, kLeft | kBottom);
  Place(StopButton, {267, 706, 75, 18}, kLeft | kBottom);
  Place(Label5, {360, 686, 79, 13}, kLeft | kBottom);
  Place(LimitEdit, {445, 683, 48, 21}, kLeft | kBottom);
  Place(Label4, {504, 687, 197, 13}, kLeft | kBottom);
  Place(IntervalSpinEdit, {703, 683, 43, 21}, kLeft | kBottom);
  Place(UseProxyCheckBox, {360, 710, 233, 17}, kLeft | kBottom);
  Place(Label6, {763, 680, 423, 39}, kLeft | kBottom);
  Place(CheckButton, {1192, 681, 90, 43}, kLeft | kBottom);
  Place(OnlyNewCheckBox, {700, 17, 170, 17}, kLeft | kTop);
  Place(Label7, {884, 19, 166, 13}, kLeft | kTop);
  Place(RefreshDaysEdit, {1052, 15, 52, 21}, kLeft | kTop);
  Place(ExportBaseButton, {1172, 12, 110, 25}, kLeft | kTop);

  QWidget::setTabOrder(StartButton, LogsMemo);
  QWidget::setTabOrder(LogsMemo, LimitEdit);
  QWidget::setTabOrder(LimitEdit, UseProxyCheckBox);
  QWidget::setTabOrder(UseProxyCheckBox, PauseButton);
  QWidget::setTabOrder(PauseButton, StopButton);
  QWidget::setTabOrder(StopButton, CitiesListBox);
  QWidget::setTabOrder(CitiesListBox, CatsListBox);
  QWidget::setTabOrder(CatsListBox, IntervalSpinEdit);

  log_view_ = std::make_shared<QtLogView>(LogsMemo);
  progress_view_ = std::make_shared<QtProgressView>(ProgressBar);

  connect(StartButton, &QPushButton::clicked, this, [this] { StartButtonClick(); });
  connect(PauseButton, &QPushButton::clicked, this, [this] { PauseButtonClick(); });
  connect(StopButton, &QPushButton::clicked, this, [this] { StopButtonClick(); });
  connect(CheckButton, &QPushButton::clicked, this, [this] { CheckButtonClick(); });
  connect(ExportBaseButton, &QPushButton::clicked, this, [this] { ExportBaseButtonClick(); });
  connect(UseProxyCheckBox, &QCheckBox::clicked, this, [this] { UseProxyCheckBoxClick(); });
  // A run reads these where it used to read the controls; it is told of every change.
  connect(LimitEdit, &QSpinBox::valueChanged, this, [this](int threads) {
    if (const auto run = ActiveRun()) {
      run->SetThreadsLimit(threads);
    }
  });
  connect(IntervalSpinEdit, &QSpinBox::valueChanged, this, [this](int seconds) {
    if (const auto run = ActiveRun()) {
      run->SetInterval(seconds);
    }
  });
  connect(UseProxyCheckBox, &QCheckBox::toggled, this, [this](bool checked) {
    if (const auto run = ActiveRun()) {
      run->SetUseProxy(checked);
    }
  });

  resize(kDesignWidth, kDesignHeight);
  ApplyAnchors();
}

void TMainForm::Place(QWidget* control, QRect designed, int anchors) {
  placements_.push_back({control, designed, anchors});
}

// Each control keeps its designed distance to the edges it is anchored to; anchored to both
// opposite edges it stretches.
void TMainForm::ApplyAnchors() {
  const int grow_x = width() - kDesignWidth;
  const int grow_y = height() - kDesignHeight;
  for (const Placement& placement : placements_) {
    QRect rect = placement.Designed;
    if (placement.Anchors & kRight) {
      if (placement.Anchors & kLeft) {
        rect.setWidth(rect.width() + grow_x);
      } else {
        rect.moveLeft(rect.left() + grow_x);
      }
    }
    if (placement.Anchors & kBottom) {
      if (placement.Anchors & kTop) {
        rect.setHeight(rect.height() + grow_y);
      } else {
        rect.moveTop(rect.top() + grow_y);
      }
    }
    placement.Control->setGeometry(rect);
  }
  ProgressBar->setGeometry(0, height() - kProgressBarHeight, width(), kProgressBarHeight);
}

void TMainForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  ApplyAnchors();
}

void TMainForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!shown_) {
    shown_ = true;
    FormShow();
  }
}

void TMainForm::closeEvent(QCloseEvent* event) {
  // A run in progress is stopped first and finished as after a stop, so it can be continued;
  // the window closes when the run has given it back.
  if (const std::shared_ptr<engine::TScraper> run = ActiveRun(); run && !ended_) {
    event->ignore();
    if (close_after_run_) {
      return;
    }
    const Question question = CloseDuringRunQuestion();
    if (Ask(question.Caption, question.Text, question.Yes, question.No)) {
      close_after_run_ = true;
      StopButtonClick();
    }
    return;
  }
  FormClose();
  event->accept();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == LogsMemo && event->type() == QEvent::KeyPress &&
      LogsMemoKeyDown(static_cast<const QKeyEvent&>(*event))) {
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TMainForm::ShowMessage(MessageIcon icon, const QString& caption, const QString& text) {
  if (environment_.ShowMessage) {
    environment_.ShowMessage(icon, caption, text);
    return;
  }
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QMessageBox box(icon == MessageIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon,
                  caption, shown, QMessageBox::Ok, this);
  box.exec();
}

bool TMainForm::Ask(const QString& caption, const QString& text, const QString& yes,
                    const QString& no) {
  if (environment_.Ask) {
    return environment_.Ask(caption, text, yes, no);
  }
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QMessageBox box(QMessageBox::Question, caption, shown, QMessageBox::NoButton, this);
  QPushButton* yes_button = box.addButton(yes, QMessageBox::YesRole);
  QPushButton* no_button = box.addButton(no, QMessageBox::NoRole);
  box.setDefaultButton(no_button);
  box.setEscapeButton(no_button);
  box.exec();
  return box.clickedButton() == yes_button;
}

void TMainForm::EndProcess(int code) {
  ended_ = true;
  run_events_->Shutdown();
  if (environment_.ExitProcess) {
    environment_.ExitProcess(code);
    return;
  }
  std::_Exit(code);
}

std::string TMainForm::LogTimestamp() const {
  return FormatLogTimestamp(environment_.Now(), environment_.Locale).toStdString();
}

void TMainForm::AddLogLine(const QString& message) {
  log_view_->AppendLine(engine::FormatLogLine(LogTimestamp(), message.toStdString()));
}

void TMainForm::AddPlainLine(const QString& text) {
  log_view_->AppendLine(text.toStdString());
}

std::shared_ptr<engine::TScraper> TMainForm::ActiveRun() const {
  std::shared_ptr<engine::TScraper> run = CurrentScraper.lock();
  if (run && run->HasEnded()) {
    return nullptr;
  }
  return run;
}

void TMainForm::FormCreate() {
  CatsSelectionSnapshot.clear();
  LoadCitiesList();
  LoadCatsList();
}

bool TMainForm::FormShow() {
  if (const auto failure = FailedFolderCheck(Folder())) {
    ShowMessage(MessageIcon::None, QString::fromUtf8(kFolderCheckCaption),
                QString::fromStdString(*failure));
    EndProcess(1);
    return false;
  }
  AddPlainLine(QStringLiteral("Спасибо, что пользуетесь парсером от сервиса Tervona!"));
  // Once the window is on the screen, so the box stands over the lists it speaks of.
  QTimer::singleShot(0, this, [this] { ReportListFileProblems(); });
  LoadSettings();
  RestoreSelection();
  return true;
}

void TMainForm::StartButtonClick() {
  // Until the run's busy state disables the button, a second click must not start a second run
  // into the same window.
  if (ActiveRun()) {
    return;
  }
  log_view_->Clear();
  if (OfferUnfinishedRun()) {
    return;
  }
  if (ReadyToStart()) {
    StartRun(MakeRunRequest());
  }
}

bool TMainForm::ReadyToStart() {
  if (!AnySelected(*CitiesListBox)) {
    AddPlainLine(QStringLiteral("Ни один город не выбран, старт невозможен"));
    return false;
  }
  if (!AnySelected(*CatsListBox)) {
    AddPlainLine(
        QStringLiteral("Ни одна рубрика не выбрана, старт невозможен. Кликните по нужной "
                       "рубрике для её выбора."));
    return false;
  }
  if (UseProxyCheckBox->isChecked()) {
    // A ticked box must never mean requests from the operator's own address by accident.
    if (const auto problem = engine::ProxyModeStartProblem(Folder() + "proxy.txt")) {
      AddPlainLine(QStringLiteral("Нет годных прокси, старт невозможен"));
      ShowMessage(MessageIcon::Warning, QStringLiteral("Прокси не заданы"),
                  QString::fromStdString(*problem));
      return false;
    }
  }
  return true;
}

void TMainForm::CheckButtonClick() {
  if (ActiveRun()) {
    return;
  }
  log_view_->Clear();
  if (ReadyToStart()) {
    engine::RunRequest request = MakeRunRequest();
    request.CheckOnly = true;
    StartRun(std::move(request));
  }
}

void TMainForm::StartRun(engine::RunRequest request) {
  try {
    engine::RunEnvironment run_environment = environment_.Run;
    run_environment.Events = run_events_;
    run_environment.LogTimestamp = [now = environment_.Now, locale = environment_.Locale] {
      return FormatLogTimestamp(now(), locale).toStdString();
    };
    std::shared_ptr<engine::TScraper> run =
        engine::TScraper::Create(std::move(run_environment), std::move(request));
    CurrentScraper = run;
    run->Start();
  } catch (const std::exception& error) {
    AddLogLine(QStringLiteral("Ошибка: ") + QString::fromUtf8(error.what()));
  }
}

bool TMainForm::OfferUnfinishedRun() {
  std::optional<engine::UnfinishedRun> unfinished;
  try {
    unfinished = engine::FindUnfinishedRun(Folder());
  } catch (const std::exception&) {
    return false;  // a folder that cannot be listed has nothing to offer; the start goes on
  }
  if (!unfinished) {
    return false;
  }
  const Question question = ContinueRunQuestion(*unfinished, MakeRunRequest());
  if (!Ask(question.Caption, question.Text, question.Yes, question.No)) {
    try {
      engine::SetAsideUnfinishedRun(Folder(), unfinished->ResultsFileName);
    } catch (const std::exception& error) {
      AddLogLine(QStringLiteral("Ошибка: ") + QString::fromUtf8(error.what()));
    }
    return false;
  }
  if (UseProxyCheckBox->isChecked()) {
    if (const auto problem = engine::ProxyModeStartProblem(Folder() + "proxy.txt")) {
      AddPlainLine(QStringLiteral("Нет годных прокси, старт невозможен"));
      ShowMessage(MessageIcon::Warning, QStringLiteral("Прокси не заданы"),
                  QString::fromStdString(*problem));
      return true;
    }
  }
  // The run's own selection comes from its journal; only the limits and the proxy switch are
  // taken from the window.
  engine::RunRequest request = MakeRunRequest();
  request.Cities.clear();
  request.Categories.clear();
  request.ContinueResultsFile = unfinished->ResultsFileName;
  StartRun(std::move(request));
  return true;
}

void TMainForm::PauseButtonClick() {
  const std::shared_ptr<engine::TScraper> run = ActiveRun();
  if (!run) {
    return;
  }
  // The run announces the lines of its pause and resume itself; either cancels the automatic
  // resume of a pause after an error.
  if (run->IsPaused()) {
    run->Resume();
  } else {
    run->Pause();
  }
}

void TMainForm::StopButtonClick() {
  const std::shared_ptr<engine::TScraper> run = ActiveRun();
  if (!run) {
    return;
  }
  // A stop lifts a pause without a resume line and announces its own line.
  run->Stop();
  progress_view_->SetPosition(0);
}

void TMainForm::UseProxyCheckBoxClick() {
  IntervalSpinEdit->setValue(UseProxyCheckBox->isChecked() ? kProxyInterval : kDirectInterval);
}

bool TMainForm::LogsMemoKeyDown(const QKeyEvent& event) {
  // Under a Russian layout the A key reports its Cyrillic letter, capital EF.
  const bool a_key = event.key() == Qt::Key_A || event.key() == 0x0424;
  if (a_key && (event.modifiers() & Qt::ControlModifier)) {
    LogsMemo->selectAll();
    return true;
  }
  return false;
}

void TMainForm::FormClose() {
  if (closed_) {
    return;
  }
  closed_ = true;
  if (!ended_) {
    QStringList failures;
    for (const QString& failure : {SaveSettings(), SaveSelection()}) {
      if (!failure.isEmpty()) {
        failures << failure;
      }
    }
    if (!failures.isEmpty()) {
      ShowMessage(MessageIcon::Warning, QStringLiteral("Внимание!"),
                  failures.join(QStringLiteral("\r\n")));
    }
  }
  run_events_->Shutdown();
  // A stopped run frees itself once its workers have broken their requests off, which takes
  // moments; then the process ends normally. Its rows are on disk already, so a worker the stop
  // cannot reach is not waited for beyond the bound.
  if (!engine::WaitUntilRunFreed(CurrentScraper, engine::timings::kStoppedRunFreeWait)) {
    EndProcess(0);
  }
}

void TMainForm::LoadCitiesList() {
  const auto lines = ReadTextFileLines(Folder() + kCitiesFileName);
  if (!lines) {
    ShowMessage(MessageIcon::Warning, QStringLiteral("Архив распакован не полностью"),
                QStringLiteral("Программа не нашла файл с городами, Вам необходимо распаковать "
                               "архив программы полностью, со всеми файлами"));
    return;
  }
  CitiesListBox->clear();
  const ListFileItems parsed = ParseCityLines(*lines);
  if (auto problem = ListFileProblem(kCitiesFileName, *lines, parsed)) {
    list_file_problems_.push_back(std::move(*problem));
  }
  AddItems(*CitiesListBox, parsed.Items);
}

void TMainForm::LoadCatsList() {
  const auto lines = ReadTextFileLines(Folder() + kCategoriesFileName);
  if (!lines) {
    ShowMessage(MessageIcon::Warning, QStringLiteral("Архив распакован не полностью"),
                QStringLiteral("Программа не нашла файл с рубриками, Вам необходимо распаковать "
                               "архив программы полностью, со всеми файлами"));
    return;
  }
  CollectSelectedNames(*CatsListBox, CatsSelectionSnapshot);
  CatsListBox->clear();
  const ListFileItems parsed = ParseCategoryLines(*lines);
  if (auto problem = ListFileProblem(kCategoriesFileName, *lines, parsed)) {
    list_file_problems_.push_back(std::move(*problem));
  }
  const std::vector<ListItem>& items = parsed.Items;
  if (items.empty()) {
    return;
  }
  AddItems(*CatsListBox, items);
  SelectByNames(*CatsListBox, CatsSelectionSnapshot);
}

void TMainForm::ReportListFileProblems() {
  if (list_file_problems_.empty()) {
    return;
  }
  QStringList texts;
  for (const std::string& problem : list_file_problems_) {
    AddLogLine(QString::fromStdString(problem));
    texts << QString::fromStdString(problem);
  }
  ShowMessage(MessageIcon::Warning, QStringLiteral("Ошибки в списках"),
              texts.join(QStringLiteral("\r\n\r\n")));
}

void TMainForm::LoadSettings() {
  const StoredSettings stored = ReadSettings(Folder() + kSettingsFileName);
  if (UseProxyCheckBox->isChecked() != stored.UseProxy) {
    UseProxyCheckBox->setChecked(stored.UseProxy);
    UseProxyCheckBoxClick();
  }
  LimitEdit->setValue(stored.Threads);
  // The interval the operator set last survives a restart. Only when none is stored does the
  // proxy rule above decide it (0 with proxies, 10 without).
  if (stored.Interval) {
    IntervalSpinEdit->setValue(*stored.Interval);
  }
  OnlyNewCheckBox->setChecked(stored.OnlyNew.value_or(false));
  RefreshDaysEdit->setValue(stored.RefreshDays.value_or(0));
}

void TMainForm::RestoreSelection() {
  std::vector<std::u16string> cities = ReadTextFileLines(Folder() + kCitySelectionFileName)
                                           .value_or(std::vector<std::u16string>{kDefaultCity});
  std::vector<std::u16string> categories =
      ReadTextFileLines(Folder() + kCategorySelectionFileName)
          .value_or(std::vector<std::u16string>{kDefaultCategory});

  SelectItems(*CatsListBox, MatchCategories(ItemNames(*CatsListBox), categories));
  if (!categories.empty()) {
    AddPlainLine(FromU16(UnmatchedCategoriesText(categories)));
  }
  SelectItems(*CitiesListBox, MatchCities(ItemNames(*CitiesListBox), cities));

  ScrollOneLineIfNeeded(*CatsListBox);
  ScrollOneLineIfNeeded(*CitiesListBox);
}

QString TMainForm::SaveSettings() {
  const std::string path = Folder() + kSettingsFileName;
  try {
    WriteSetting(path, kUseProxyKey, UseProxyCheckBox->isChecked() ? 1 : 0);
    WriteSetting(path, kThreadsKey, LimitEdit->value());
    WriteSetting(path, kIntervalKey, IntervalSpinEdit->value());
    // Written once the operator has set them to anything but their defaults, so a folder that
    // never used them keeps its settings.ini as it was.
    const StoredSettings stored = ReadSettings(path);
    if (stored.OnlyNew || OnlyNewCheckBox->isChecked()) {
      WriteSetting(path, kOnlyNewKey, OnlyNewCheckBox->isChecked() ? 1 : 0);
    }
    if (stored.RefreshDays || RefreshDaysEdit->value() != 0) {
      WriteSetting(path, kRefreshDaysKey, RefreshDaysEdit->value());
    }
  } catch (const platform::FileError& error) {
    return SaveFailure(error);
  }
  return {};
}

QString TMainForm::SaveSelection() {
  QStringList failures;
  std::vector<std::u16string> cities;
  CollectSelectedNames(*CitiesListBox, cities);
  const std::string cities_path = Folder() + kCitySelectionFileName;
  try {
    platform::WriteFileAtomically(cities_path, EncodeCitySelection(cities));
  } catch (const platform::FileError& error) {
    failures << SaveFailure(error);
  }
  std::vector<std::u16string> categories;
  CollectSelectedNames(*CatsListBox, categories);
  const std::string categories_path = Folder() + kCategorySelectionFileName;
  try {
    platform::WriteFileAtomically(categories_path, EncodeCategorySelection(categories));
  } catch (const platform::FileError& error) {
    failures << SaveFailure(error);
  }
  return failures.join(QStringLiteral("\r\n"));
}

engine::RunRequest TMainForm::MakeRunRequest() const {
  engine::RunRequest request;
  const auto selected_values = [](const QListWidget& list,
                                  std::vector<std::optional<std::string>>& values) {
    for (int i = 0; i < list.count(); ++i) {
      const QListWidgetItem* item = list.item(i);
      if (!item->isSelected()) {
        continue;
      }
      // The placeholder items of an unread list carry no value.
      const QVariant value = item->data(Qt::UserRole);
      values.push_back(value.isValid() ? std::optional(value.toString().toStdString())
                                       : std::nullopt);
    }
  };
  selected_values(*CitiesListBox, request.Cities);
  selected_values(*CatsListBox, request.Categories);
  request.ThreadsLimit = LimitEdit->value();
  request.IntervalSec = IntervalSpinEdit->value();
  request.UseProxy = UseProxyCheckBox->isChecked();
  request.OnlyNew = OnlyNewCheckBox->isChecked();
  request.RefreshDays = RefreshDaysEdit->value();
  request.Folder = Folder();
  // Only the operator writes this key; the window never stores it.
  if (const auto limit = ReadSettings(Folder() + kSettingsFileName).UnrecognisedPagesLimit) {
    request.UnrecognisedPagesLimit = *limit;
  }
  return request;
}

void TMainForm::BusyChanged(bool busy) {
  if (busy) {
    log_view_->Clear();
  }
  StartButton->setEnabled(!busy);
  CheckButton->setEnabled(!busy);
  CitiesListBox->setEnabled(!busy);
  CatsListBox->setEnabled(!busy);
}

void TMainForm::LogLine(const std::string& line) {
  log_view_->AppendLine(line);
}

void TMainForm::ProgressChanged(const engine::RunProgress& progress) {
  progress_view_->SetMaximum(progress.Maximum);
  progress_view_->SetPosition(progress.Position);
  progress_view_->SetHint(engine::ProgressHint(progress.Position, progress.Maximum));
}

void TMainForm::BaseUnavailable(const std::string& message) {
  ShowMessage(MessageIcon::Warning, QStringLiteral("Внимание!"), QString::fromStdString(message));
}

void TMainForm::ExportBaseButtonClick() {
  if (export_thread_.joinable()) {
    return;  // the previous export is still being written
  }
  const std::string folder = Folder();
  if (!platform::NameTaken(folder + std::string(base::kBaseFileName))) {
    ShowMessage(MessageIcon::Warning, QStringLiteral("Внимание!"),
                QStringLiteral("В папке программы еще нет базы организаций: она появляется после "
                               "первой работы."));
    return;
  }
  const QString caption = QStringLiteral("Выгрузить базу организаций");
  const QString suggested = QString::fromStdString(folder + "organizations.xlsx");
  const QString chosen = environment_.AskSavePath
                             ? environment_.AskSavePath(caption, suggested)
                             : QFileDialog::getSaveFileName(this, caption, suggested,
                                                            QStringLiteral("Файлы Excel (*.xlsx)"));
  if (chosen.isEmpty()) {
    return;
  }
  const std::string target = chosen.toStdString();
  ExportBaseButton->setEnabled(false);
  AddLogLine(QStringLiteral("Выгружаем базу организаций в файл ") + chosen);
  // A base of a million organizations takes seconds: the window stays free meanwhile.
  export_thread_ = std::thread([this, folder, target] {
    QString line;
    bool done = false;
    try {
      const long long count = engine::ExportOrganizationBase(folder, target, std::nullopt);
      line = QStringLiteral("База организаций выгружена в файл %1, организаций: %2")
                 .arg(QString::fromStdString(target))
                 .arg(count);
      done = true;
    } catch (const std::exception& error) {
      line = QStringLiteral("Не удалось выгрузить базу организаций: ") +
             QString::fromUtf8(error.what());
    }
    QMetaObject::invokeMethod(
        this, [this, line, done] { ExportBaseFinished(line, done); }, Qt::QueuedConnection);
  });
}

void TMainForm::ExportBaseFinished(const QString& line, bool done) {
  export_thread_.join();
  ExportBaseButton->setEnabled(true);
  AddLogLine(line);
  if (!done) {
    ShowMessage(MessageIcon::Warning, QStringLiteral("Внимание!"), line);
  }
}

void TMainForm::PagesUnrecognised(const std::string& message) {
  ShowMessage(MessageIcon::Warning, QStringLiteral("Внимание!"),
              QString::fromStdString(message) + QStringLiteral("\n\n") +
                  QString::fromUtf8(kPagesUnrecognisedAdvice));
}

void TMainForm::RunEnded(engine::RunOutcome, const std::string&) {
  // Everything the operator sees of the end has been shown by the events before it.
  if (close_after_run_) {
    close();
  }
}

}  // namespace mirava::app
