#include "cli/cli_options.h"

#include <charconv>

#include "analysis/text_encoding.h"
#include "config/list_files.h"
#include "config/settings.h"
#include "config/text_file.h"
#include "engine/proxy_list.h"
#include "engine/run_continuation.h"
#include "platform/file_access.h"

namespace mirava::cli {

namespace {

std::optional<int> ParseWholeNumber(const std::string& text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) {
    return std::nullopt;
  }
  return value;
}

// YYYY-MM-DD with a month and day in range; whether the day exists is the calendar's to say.
std::optional<CliOptions::Date> ParseDate(const std::string& text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') {
    return std::nullopt;
  }
  const std::optional<int> year = ParseWholeNumber(text.substr(0, 4));
  const std::optional<int> month = ParseWholeNumber(text.substr(5, 2));
  const std::optional<int> day = ParseWholeNumber(text.substr(8, 2));
  if (!year || !month || !day || *month < 1 || *month > 12 || *day < 1 || *day > 31) {
    return std::nullopt;
  }
  return CliOptions::Date{*year, *month, *day};
}

// The items of one list file whose names were asked for, in list order; `missing` gets every
// asked name that matches no item.
std::vector<std::optional<std::string>> SelectedValues(const std::vector<config::ListItem>& items,
                                                       const std::vector<std::string>& names,
                                                       bool all,
                                                       std::vector<std::string>& missing) {
  std::vector<std::u16string> asked;
  for (const std::string& name : names) {
    asked.push_back(analysis::Utf8ToUtf16(name));
  }
  std::vector<bool> matched(asked.size(), false);
  std::vector<std::optional<std::string>> values;
  for (const config::ListItem& item : items) {
    bool selected = all;
    for (std::size_t i = 0; i < asked.size(); ++i) {
      if (analysis::EqualsIgnoreCase(asked[i], item.Name)) {
        matched[i] = true;
        selected = true;
      }
    }
    if (selected) {
      values.push_back(analysis::Utf16ToUtf8(item.Value));
    }
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!matched[i]) {
      missing.push_back(names[i]);
    }
  }
  return values;
}

// The items of one list file; nothing when it is missing or gives no item. Skipped lines are
// told in `warnings`, as the window tells them at start-up.
std::optional<std::vector<config::ListItem>> ReadList(const std::string& folder,
                                                      const char* file_name, bool categories,
                                                      std::vector<std::string>& warnings) {
  const auto lines = config::ReadTextFileLines(folder + file_name);
  if (!lines) {
    return std::nullopt;
  }
  config::ListFileItems parsed =
      categories ? config::ParseCategoryLines(*lines) : config::ParseCityLines(*lines);
  if (parsed.Items.empty()) {
    return std::nullopt;
  }
  if (auto problem = config::ListFileProblem(file_name, *lines, parsed)) {
    warnings.push_back(std::move(*problem));
  }
  return std::move(parsed.Items);
}

std::string JoinQuoted(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) {
    text += (text.empty() ? "«" : ", «") + name + "»";
  }
  return text;
}

}  // namespace

std::variant<CliOptions, UsageError> ParseArguments(const std::vector<std::string>& arguments) {
  CliOptions options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    // "--name value" or "--name=value".
    std::string name = argument;
    std::optional<std::string> inline_value;
    if (const std::size_t equals = argument.find('=');
        argument.starts_with("--") && equals != std::string::npos) {
      name = argument.substr(0, equals);
      inline_value = argument.substr(equals + 1);
    }
    const auto value = [&]() -> std::optional<std::string> {
      if (inline_value) {
        return inline_value;
      }
      if (i + 1 < arguments.size()) {
        return arguments[++i];
      }
      return std::nullopt;
    };
    const auto flag = [&](bool& target) -> std::optional<UsageError> {
      if (inline_value) {
        return UsageError{"Параметр " + name + " не принимает значения"};
      }
      target = true;
      return std::nullopt;
    };
    std::optional<UsageError> error;
    if (name == "--help" || name == "-h") {
      error = flag(options.Help);
    } else if (name == "--all-cities") {
      error = flag(options.AllCities);
    } else if (name == "--all-categories") {
      error = flag(options.AllCategories);
    } else if (name == "--proxy" || name == "--no-proxy") {
      bool given = false;
      error = flag(given);
      if (options.UseProxy && *options.UseProxy != (name == "--proxy")) {
        return UsageError{"--proxy и --no-proxy не указываются вместе"};
      }
      options.UseProxy = name == "--proxy";
    } else if (name == "--no-open") {
      error = flag(options.NoOpen);
    } else if (name == "--continue") {
      error = flag(options.Continue);
    } else if (name == "--check") {
      error = flag(options.Check);
    } else if (name == "--only-new") {
      bool given = false;
      error = flag(given);
      options.OnlyNew = true;
    } else if (name == "--city" || name == "--category" || name == "--threads" ||
               name == "--interval" || name == "--folder" || name == "--refresh-days" ||
               name == "--export-base" || name == "--since") {
      const std::optional<std::string> text = value();
      if (!text) {
        return UsageError{"Параметру " + name + " нужно значение"};
      }
      if (name == "--city") {
        options.Cities.push_back(*text);
      } else if (name == "--category") {
        options.Categories.push_back(*text);
      } else if (name == "--folder") {
        options.Folder = *text;
      } else if (name == "--export-base") {
        options.ExportBase = *text;
      } else if (name == "--since") {
        options.Since = ParseDate(*text);
        if (!options.Since) {
          return UsageError{"Дата для --since пишется как ГГГГ-ММ-ДД, например 2026-12-01, а не «" +
                            *text + "»"};
        }
      } else if (name == "--refresh-days") {
        const std::optional<int> days = ParseWholeNumber(*text);
        if (!days || *days < 0) {
          return UsageError{"Число дней для --refresh-days должно быть целым не меньше 0, а не «" +
                            *text + "»"};
        }
        options.RefreshDays = *days;
      } else if (name == "--threads") {
        const std::optional<int> threads = ParseWholeNumber(*text);
        if (!threads || *threads < kMinThreads || *threads > kMaxThreads) {
          return UsageError{"Число потоков должно быть целым от " + std::to_string(kMinThreads) +
                            " до " + std::to_string(kMaxThreads) + ", а не «" + *text + "»"};
        }
        options.Threads = *threads;
      } else {
        const std::optional<int> seconds = ParseWholeNumber(*text);
        if (!seconds || *seconds < 0) {
          return UsageError{"Интервал должен быть целым числом секунд не меньше 0, а не «" + *text +
                            "»"};
        }
        options.IntervalSec = *seconds;
      }
    } else {
      return UsageError{"Неизвестный параметр «" + argument + "»"};
    }
    if (error) {
      return *error;
    }
  }
  if (options.Help) {
    return options;
  }
  if (options.ExportBase) {
    if (options.Continue || options.Check || !options.Cities.empty() || options.AllCities ||
        !options.Categories.empty() || options.AllCategories || options.OnlyNew ||
        options.RefreshDays) {
      return UsageError{
          "--export-base только выгружает базу организаций: города, рубрики и параметры "
          "работы с ним не указываются"};
    }
    return options;
  }
  if (options.Since) {
    return UsageError{"--since указывается только с --export-base"};
  }
  if (options.RefreshDays && !options.OnlyNew && !options.Continue) {
    return UsageError{
        "--refresh-days действует только вместе с --only-new: без него загружаются все "
        "организации"};
  }
  if (options.Continue && options.Check) {
    return UsageError{
        "--check и --continue не указываются вместе: проверка читает первое задание "
        "выбранных городов и рубрик"};
  }
  if (options.Continue) {
    // The run goes on with the selection it was started with.
    if (!options.Cities.empty() || options.AllCities || !options.Categories.empty() ||
        options.AllCategories) {
      return UsageError{
          "С --continue города и рубрики не указываются: прерванная работа "
          "продолжается с тем выбором, с которым была начата"};
    }
    return options;
  }
  if (options.Cities.empty() && !options.AllCities) {
    return UsageError{"Не выбран ни один город: укажите --city или --all-cities"};
  }
  if (options.Categories.empty() && !options.AllCategories) {
    return UsageError{"Не выбрана ни одна рубрика: укажите --category или --all-categories"};
  }
  return options;
}

std::string HelpText() {
  return R"(mirava-cli — сбор данных организаций без окна.

Использование: mirava-cli (--city НАЗВАНИЕ ... | --all-cities)
                          (--category НАЗВАНИЕ ... | --all-categories) [параметры]
               mirava-cli --continue [параметры]
               mirava-cli --export-base ФАЙЛ.xlsx [--since ГГГГ-ММ-ДД] [--folder ПАПКА]

  --city НАЗВАНИЕ      город из cities.txt; можно указать несколько раз
  --category НАЗВАНИЕ  рубрика из categories.txt; можно указать несколько раз
  --all-cities         все города из cities.txt
  --all-categories     все рубрики из categories.txt
  --threads N          число потоков, от 1 до 1000 (по умолчанию 1)
  --interval СЕКУНДЫ   интервал между запросами к сайту (по умолчанию 10, с --proxy 0)
  --proxy              использовать прокси из файла proxy.txt
  --no-proxy           работать напрямую (с --continue: переключить работу, начатую
                       через прокси, на прямые запросы)
  --folder ПАПКА       где лежат cities.txt, categories.txt, proxy.txt и куда пишутся
                       результаты (по умолчанию папка программы)
  --no-open            не открывать файл Excel по окончании (без этого параметра он
                       открывается, только если есть графический экран)
  --continue           продолжить прерванную работу из папки (остановленную, закрытую
                       или оборванную сбоем) с того места, где она прервалась, с теми же
                       числом потоков, интервалом и прокси; заданный параметр меняет
                       только свое значение
  --check              не собирать, а проверить сайт: загрузить страницу списка первого
                       задания и до 5 страниц организаций из нее (с тем же интервалом и
                       прокси, что и работа), показать, что на каждой распознано, и
                       вынести вердикт; файлы результатов не создаются
  --only-new           только новые организации: страницы организаций, которые уже есть
                       в базе организаций папки, не загружаются и строк не получают
                       (страницы списков читаются как всегда)
  --refresh-days N     с --only-new: известные организации, не встречавшиеся дольше
                       N дней, загружаются снова, чтобы обновить их в базе (0 — никогда)
  --export-base ФАЙЛ   не собирать, а выгрузить базу организаций папки в файл Excel
                       (двенадцать столбцов, дата первой и последней встречи)
  --since ГГГГ-ММ-ДД   с --export-base: только организации, впервые найденные с этого дня
  --help               эта справка

Задания составляются в порядке списков, как в окне программы. Строки лога идут в
стандартный вывод, ход работы — в стандартный поток ошибок; лог также сохраняется в
файл log<номер>.txt. Ctrl+C (SIGINT) или SIGTERM останавливают работу, как кнопка
«стоп»; второй Ctrl+C завершает программу сразу. Прерванную работу можно продолжить
с --continue.

Каждая работа записывает свои строки в базу организаций папки, файл organizations.db
рядом с результатами; второй лист файла Excel, «Новые», — организации, которых в базе
еще не было. В конце работы в лог и в итог пишется, сколько организаций новых,
известных, пропущенных и обновленных. Начать базу заново: переместить файл из папки.

Если 20 страниц сайта подряд не распознаны (сайт изменил страницы или показывает
проверку «я не робот»), работа останавливается, как по Ctrl+C, и ее можно продолжить
с --continue, когда сайт снова в порядке. Порог задается ключом UnrecognisedPagesLimit
в разделе [Settings] файла settings.ini (0 отключает остановку).

Коды завершения: 0 — сбор завершен (с --check: все страницы распознаны); 1 — ошибка во
время работы; 2 — неверные параметры или файлы списков; 3 — работа остановлена;
4 — страницы сайта перестали распознаваться (с --check: не все страницы распознаны);
130 — прервана вторым Ctrl+C.

Usage: mirava-cli (--city NAME ... | --all-cities)
                  (--category NAME ... | --all-categories) [options]
       mirava-cli --continue [options]
       mirava-cli --export-base FILE.xlsx [--since YYYY-MM-DD] [--folder DIR]

  --city NAME          a city as named in cities.txt; may be repeated
  --category NAME      a category as named in categories.txt; may be repeated
  --all-cities         every city of cities.txt
  --all-categories     every category of categories.txt
  --threads N          download threads, 1 to 1000 (default 1)
  --interval SECONDS   time between requests to the site (default 10, 0 with --proxy)
  --proxy              use the proxies listed in proxy.txt
  --no-proxy           send requests directly (with --continue: switch a run started
                       through proxies to direct requests)
  --folder DIR         where cities.txt, categories.txt and proxy.txt are and where the
                       results go (default: the program's own folder)
  --no-open            do not open the workbook at the end (by default it is opened only
                       when a display is present)
  --continue           continue the folder's interrupted run (stopped, closed or cut short
                       by a crash) where it left off, with its threads, interval and proxy
                       mode; an option given changes its own value only
  --check              check the site instead of crawling it: fetch the first job's listing
                       page and up to 5 of its organization pages (paced and proxied as a
                       run), tell what was recognised on each and give a verdict; no
                       results file is written
  --only-new           only new organizations: organization pages the folder's base already
                       knows are not fetched and get no row (listing pages are read as
                       always)
  --refresh-days N     with --only-new: known organizations not seen for more than N days
                       are fetched again to update them in the base (0: never)
  --export-base FILE   instead of a run, write the folder's organization base into a
                       workbook (the twelve columns, first and last seen)
  --since YYYY-MM-DD   with --export-base: only organizations first seen on that day or later
  --help               this text

Jobs are formed in list order, as the window does. Log lines go to standard output,
progress to standard error; the log is also saved as log<number>.txt. Ctrl+C (SIGINT)
or SIGTERM stops the run as the "стоп" button does; a second Ctrl+C ends at once. An
interrupted run goes on with --continue.

Every run records its rows in the folder's organization base, the file organizations.db
beside the results; the workbook's second sheet, "Новые", holds the organizations the base
did not know. At the end, the log and the summary count new, known, skipped and refreshed
organizations. To start the base afresh, move the file out of the folder.

When 20 pages of the site in a row are not recognised (the site changed its pages or shows
an "are you a robot?" check), the run stops as on Ctrl+C and can be continued with
--continue once the site is back to normal. The key UnrecognisedPagesLimit in section
[Settings] of settings.ini sets the number (0 switches the stop off).

Exit status: 0 complete run (with --check: every page recognised); 1 an error during the
run; 2 bad options or list files; 3 stopped; 4 the site's pages stopped being recognised
(with --check: not every page was recognised); 130 ended by a second Ctrl+C.
)";
}

namespace {

// As the window's start: proxies asked for never turn into direct requests by accident.
std::optional<UsageError> ProxyProblem(bool use_proxy, const std::string& folder) {
  if (!use_proxy) {
    return std::nullopt;
  }
  if (auto why = engine::ProxyFileProblem(folder + "proxy.txt")) {
    return UsageError{"Задан --proxy, но " + *why + ". Впишите в proxy.txt прокси, по одному в " +
                      "строке " + engine::kProxyFormats + ", или уберите --proxy, чтобы " +
                      "работать напрямую: тогда запросы идут по одному с заданным интервалом."};
  }
  return std::nullopt;
}

// What a new run and a continued one take alike from the command line; a continued run's own
// settings come later, from its journal.
void ApplyRunSettings(const CliOptions& options, const std::string& folder,
                      engine::RunRequest& request) {
  const bool use_proxy = options.UseProxy.value_or(false);
  request.ThreadsLimit = options.Threads.value_or(1);
  request.UseProxy = use_proxy;
  request.IntervalSec =
      options.IntervalSec.value_or(use_proxy ? kProxyIntervalSec : kDirectIntervalSec);
  request.Folder = folder;
  request.CheckOnly = options.Check;
  request.OnlyNew = options.OnlyNew.value_or(false);
  request.RefreshDays = options.RefreshDays.value_or(0);
  // The window's settings file holds the operator's limit, if he set one.
  if (const auto limit =
          config::ReadSettings(folder + config::kSettingsFileName).UnrecognisedPagesLimit) {
    request.UnrecognisedPagesLimit = *limit;
  }
}

}  // namespace

std::variant<engine::RunRequest, UsageError> MakeRunRequest(const CliOptions& options,
                                                            const std::string& folder,
                                                            std::vector<std::string>& warnings) {
  if (options.Continue) {
    // The selection and the settings come from the run's journal; the list files are not
    // needed. A --proxy given is checked at once, a recorded proxy mode once it is known.
    if (auto problem = ProxyProblem(options.UseProxy.value_or(false), folder)) {
      return *problem;
    }
    engine::RunRequest request;
    ApplyRunSettings(options, folder, request);
    return request;
  }
  const auto cities = ReadList(folder, config::kCitiesFileName, false, warnings);
  if (!cities) {
    return UsageError{"Файл " + folder + config::kCitiesFileName + " не найден или пуст"};
  }
  const auto categories = ReadList(folder, config::kCategoriesFileName, true, warnings);
  if (!categories) {
    return UsageError{"Файл " + folder + config::kCategoriesFileName +
                      " не найден или в нем меньше двух строк"};
  }
  engine::RunRequest request;
  std::vector<std::string> missing_cities;
  std::vector<std::string> missing_categories;
  request.Cities = SelectedValues(*cities, options.Cities, options.AllCities, missing_cities);
  request.Categories =
      SelectedValues(*categories, options.Categories, options.AllCategories, missing_categories);
  if (!missing_cities.empty()) {
    return UsageError{"В файле " + std::string(config::kCitiesFileName) + " нет городов " +
                      JoinQuoted(missing_cities)};
  }
  if (!missing_categories.empty()) {
    return UsageError{"В файле " + std::string(config::kCategoriesFileName) + " нет рубрик " +
                      JoinQuoted(missing_categories)};
  }
  if (auto problem = ProxyProblem(options.UseProxy.value_or(false), folder)) {
    return *problem;
  }
  ApplyRunSettings(options, folder, request);
  return request;
}

namespace {

void ApplyRecordedSettings(const CliOptions& options,
                           const std::optional<engine::RecordedSettings>& recorded,
                           engine::RunRequest& request) {
  // A run that recorded nothing continues as a new run would start.
  const engine::RecordedSettings base = recorded.value_or(engine::RecordedSettings{
      1, options.UseProxy.value_or(false) ? kProxyIntervalSec : kDirectIntervalSec, false});
  request.ThreadsLimit = options.Threads.value_or(base.ThreadsLimit);
  request.UseProxy = options.UseProxy.value_or(base.UseProxy);
  // Switching the mode takes that mode's interval, as the window's proxy box does: direct
  // requests must never go on at a proxy run's interval of 0 unless asked for.
  const int mode_interval = request.UseProxy == base.UseProxy
                                ? base.IntervalSec
                                : (request.UseProxy ? kProxyIntervalSec : kDirectIntervalSec);
  request.IntervalSec = options.IntervalSec.value_or(mode_interval);
  request.OnlyNew = options.OnlyNew.value_or(base.OnlyNew);
  request.RefreshDays = options.RefreshDays.value_or(base.RefreshDays);
}

std::string SettingsText(const engine::RunRequest& request) {
  return "потоков " + std::to_string(request.ThreadsLimit) + ", интервал " +
         std::to_string(request.IntervalSec) + " с, " +
         (request.UseProxy ? "через прокси из proxy.txt" : "напрямую, без прокси") +
         (request.OnlyNew ? ", только новые организации" : "") +
         (request.OnlyNew && request.RefreshDays > 0
              ? ", известные старше " + std::to_string(request.RefreshDays) + " дн. обновляются"
              : "");
}

}  // namespace

std::optional<UsageError> ApplyUnfinishedRun(const CliOptions& options, const std::string& folder,
                                             engine::RunRequest& request,
                                             std::vector<std::string>& notes) {
  std::optional<engine::UnfinishedRun> unfinished;
  try {
    unfinished = engine::FindUnfinishedRun(folder);
  } catch (const std::exception& error) {
    if (options.Continue) {
      return UsageError{std::string("Не удалось найти прерванную работу: ") + error.what()};
    }
    return std::nullopt;
  }
  if (!options.Continue) {
    if (unfinished) {
      notes.push_back("В папке есть прерванная работа (" +
                      engine::DescribeUnfinishedRun(*unfinished) +
                      "); она оставлена как есть, продолжить ее: mirava-cli --continue");
    }
    return std::nullopt;
  }
  if (!unfinished) {
    return UsageError{"В папке " + folder + " нет прерванной работы: продолжать нечего"};
  }
  if (unfinished->Damage) {
    return UsageError{*unfinished->Damage};
  }
  ApplyRecordedSettings(options, unfinished->Settings, request);
  if (auto problem = ProxyProblem(request.UseProxy, folder)) {
    return problem;
  }
  notes.push_back("Продолжаем прерванную работу: " + engine::DescribeUnfinishedRun(*unfinished) +
                  "; " + SettingsText(request));
  request.ContinueResultsFile = unfinished->ResultsFileName;
  return std::nullopt;
}

std::optional<UsageError> CheckFolderWritable(const std::string& folder) {
  const std::string probe =
      folder + ".mirava-cli-" + std::to_string(platform::CurrentProcessNumber());
  try {
    // A probe that exists already is a leftover of an earlier copy with the same number: the
    // folder took files then, and the leftover is not this copy's to remove.
    if (platform::CreateNewFile(probe)) {
      platform::RemoveFileQuietly(probe);
    }
  } catch (const platform::FileError& error) {
    return UsageError{"В папку " + folder + " нельзя записать файлы: " + error.Reason()};
  }
  return std::nullopt;
}

}  // namespace mirava::cli
