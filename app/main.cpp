#include <QApplication>
#include <QString>
#include <memory>
#include <string>

#include "app/main_form.h"
#include "app/startup_check.h"
#include "engine/http_client.h"
#include "engine/proxy_list.h"
#include "engine/request_pacing.h"
#include "platform/clock.h"
#include "platform/exe_folder.h"

int main(int argc, char* argv[]) {
  // Before any thread exists: the HTTP library's global set-up is not thread-safe.
  mirava::engine::InitHttpGlobally();

  const std::string folder = mirava::platform::ExecutableFolder();
  if (!mirava::app::PassesStartupFolderCheck(folder)) {
    return 1;
  }

  QApplication application(argc, argv);
  const QString title = QStringLiteral("Парсер организаций Mirava");
  QApplication::setApplicationName(title);
  QApplication::setApplicationDisplayName(title);

  mirava::app::MainFormEnvironment environment;
  environment.Folder = folder;
  environment.Run.Clock = mirava::platform::MakeSystemClock();
  environment.Run.Pacing = std::make_shared<mirava::engine::PacingState>();
  environment.Run.Rotation = std::make_shared<mirava::engine::ProxyRotation>();

  mirava::app::TMainForm form(std::move(environment));
  form.move(0, 0);
  form.resize(mirava::app::TMainForm::kDesignWidth, mirava::app::TMainForm::kDesignHeight);
  form.show();
  return application.exec();
}
