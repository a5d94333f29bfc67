// The log view's context menu: which items a user can choose in each state of the control.
#include <gtest/gtest.h>

#include <set>

#include "controls/LogViewMenu.h"

using namespace vq;

namespace {
std::set<int> Enabled(bool selectionEmpty, bool readOnly, bool canUndo) {
  std::set<int> out;
  for (const LogViewMenuItem& item : kLogViewMenu)
    if (item.id != 0 && !LogViewItemGreyed(item.id, LogViewState{selectionEmpty, readOnly, canUndo}))
      out.insert(item.id);
  return out;
}
}  // namespace

TEST(LogViewMenu, ReadOnlyLogWithoutSelectionOffersSelectAllAndClearOnly) {
  EXPECT_EQ(Enabled(true, true, false), (std::set<int>{106, 107}));
  EXPECT_EQ(Enabled(true, true, true), (std::set<int>{106, 107})) << "undo stays grey while read-only";
}

TEST(LogViewMenu, ASelectionInTheReadOnlyLogAddsCopy) {
  EXPECT_EQ(Enabled(false, true, false), (std::set<int>{103, 106, 107}));
}

TEST(LogViewMenu, AnEditableControlOffersEditing) {
  EXPECT_EQ(Enabled(false, false, true), (std::set<int>{101, 102, 103, 104, 105, 106, 107}));
  EXPECT_EQ(Enabled(true, false, false), (std::set<int>{104, 106, 107}));
}
