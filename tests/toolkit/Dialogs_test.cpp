#include "toolkit/Dialogs.h"

#include <gtest/gtest.h>

namespace {

TEST(Dialogs, FilterPairsBecomeQtNameFiltersWithBlankSeparatedPatterns) {
  const struct {
    const char* Filter;
    std::vector<std::string> Expected;
  } Cases[] = {
      {"All (*.jpg;*.bmp)|*.jpg;*.bmp|Bitmaps (*.bmp)|*.bmp",
       {"All (*.jpg *.bmp)", "Bitmaps (*.bmp)"}},
      // A description without its own pattern list gets one.
      {"Pictures|*.png;*.gif", {"Pictures (*.png *.gif)"}},
      // A description whose parentheses are not a trailing list keeps them.
      {"Icons (small) of ours|*.ico", {"Icons (small) of ours (*.ico)"}},
      // A description without patterns is dropped.
      {"Lonely", {}},
      {"", {}},
  };
  for (const auto& C : Cases) EXPECT_EQ(QtNameFilters(C.Filter), C.Expected) << C.Filter;
}

}  // namespace
