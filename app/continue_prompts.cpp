#include "app/continue_prompts.h"

namespace mirava::app {

Question ContinueRunQuestion(const engine::UnfinishedRun& run, const engine::RunRequest& settings) {
  QString text = QStringLiteral("В папке есть незавершенная работа.\r\n\r\nФайл результатов: ") +
                 QString::fromStdString(run.ResultsFileName) +
                 QStringLiteral("\r\nСобрано организаций: ") + QString::number(run.Rows) +
                 QStringLiteral("\r\nОсталось страниц: ") + QString::number(run.PagesLeft) +
                 QStringLiteral("\r\nПродолжится с настройками окна: потоков ") +
                 QString::number(settings.ThreadsLimit) + QStringLiteral(", интервал ") +
                 QString::number(settings.IntervalSec) + QStringLiteral(" с, ") +
                 (settings.UseProxy ? QStringLiteral("через прокси из proxy.txt")
                                    : QStringLiteral("напрямую, без прокси"));
  if (run.Damage) {
    text += QStringLiteral("\r\n\r\n") + QString::fromStdString(*run.Damage);
  }
  text += QStringLiteral(
      "\r\n\r\nПродолжить ее с места остановки? Если нет, начнется новая работа по выбранным "
      "городам и рубрикам, а файлы незавершенной работы останутся в папке.");
  return {QStringLiteral("Незавершенная работа"), text, QStringLiteral("Продолжить"),
          QStringLiteral("Начать новую")};
}

Question CloseDuringRunQuestion() {
  return {QStringLiteral("Идет сбор данных"),
          QStringLiteral("Сбор данных еще идет. Остановить работу и закрыть программу?\r\n\r\n"
                         "Собранное сохранится, файл Excel и лог будут сформированы, а работу "
                         "можно будет продолжить при следующем старте."),
          QStringLiteral("Остановить и закрыть"), QStringLiteral("Продолжить работу")};
}

}  // namespace mirava::app
