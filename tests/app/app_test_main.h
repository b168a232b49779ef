#pragma once
// One test program for the window: every test class registers itself here and main() runs each
// with QTest on the offscreen platform.
#include <QObject>
#include <functional>
#include <memory>
#include <vector>

namespace mirava::testing {

using TestFactory = std::function<std::unique_ptr<QObject>()>;
std::vector<TestFactory>& AppTestRegistry();

struct RegisterAppTest {
  explicit RegisterAppTest(TestFactory factory) { AppTestRegistry().push_back(std::move(factory)); }
};

}  // namespace mirava::testing

#define MIRAVA_APP_TEST(Class)                                      \
  static const ::mirava::testing::RegisterAppTest register_##Class{ \
      [] { return std::unique_ptr<QObject>(std::make_unique<Class>()); }};
