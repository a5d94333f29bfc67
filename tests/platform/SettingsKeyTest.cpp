// The settings store under concurrent use: a reader never finds a text value missing while
// another thread replaces it with a longer one.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "common/Text.h"
#include "platform/SettingsStore.h"
#include "tests/support/TestSupport.h"

using namespace vq::platform;

TEST(SettingsKeyRace, AGrowingTextIsReadWholeNeverAsMissing) {
  vqtest::PointConfigAt(vqtest::MakeScratchDir(L"store"));
  const std::wstring name = L"vqRaceTest";
  const std::wstring shortText = L"short";
  const std::wstring longText(3000, L'长');
  {
    SettingsKey k;
    ASSERT_TRUE(k.SetString(name, shortText));
  }
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 0; !stop.load(); ++i) {
      SettingsKey k;
      k.SetString(name, i % 2 ? longText : shortText);
    }
  });
  int missing = 0, torn = 0;
  for (int i = 0; i < 3000; ++i) {
    SettingsKey k;
    std::wstring v;
    if (!k.GetString(name, &v))
      ++missing;
    else if (v != shortText && v != longText)
      ++torn;
  }
  stop = true;
  writer.join();
  EXPECT_EQ(missing, 0) << "a value being replaced counted as missing";
  EXPECT_EQ(torn, 0);
  SettingsKey k;
  k.Delete(name);
}
