#include "app_test_main.h"

#include <QApplication>
#include <QTest>

namespace mirava::testing {

std::vector<TestFactory>& AppTestRegistry() {
  static std::vector<TestFactory> registry;
  return registry;
}

}  // namespace mirava::testing

// "mirava_app_tests [TestClass] [QTest options and functions]": with a class name first, only
// that class runs.
int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication application(argc, argv);
  std::vector<char*> arguments(argv, argv + argc);
  QByteArray only;
  if (arguments.size() > 1 && arguments[1][0] != '-' && !QByteArray(arguments[1]).contains("::") &&
      !QByteArray(arguments[1]).contains('(')) {
    only = arguments[1];
    arguments.erase(arguments.begin() + 1);
  }
  int failures = 0;
  for (const auto& factory : mirava::testing::AppTestRegistry()) {
    const std::unique_ptr<QObject> test = factory();
    if (!only.isEmpty() && only != test->metaObject()->className()) {
      continue;
    }
    failures += QTest::qExec(test.get(), static_cast<int>(arguments.size()), arguments.data());
  }
  return failures == 0 ? 0 : 1;
}
