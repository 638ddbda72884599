#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "resources/dialog_template.h"

namespace vxt {
namespace {

const int screen_ids[] = {101, 103, 104, 105, 110, 111, 114, 139, 141, 142, 168};

std::vector<const DialogTemplate*> every_template() {
  std::size_t count = 0;
  const DialogTemplate* const* templates = all_dialog_templates(&count);
  return std::vector<const DialogTemplate*>(templates, templates + count);
}

const DialogTemplate& dialog_or_fail(int id) {
  const DialogTemplate* dialog = find_dialog_template(id);
  if (dialog == nullptr) throw std::runtime_error("no template " + std::to_string(id));
  return *dialog;
}

TEST(DialogTemplates, ListHoldsEveryScreenOnceInAscendingOrder) {
  const std::vector<const DialogTemplate*> templates = every_template();
  std::vector<int> ids;
  for (const DialogTemplate* dialog : templates) {
    ASSERT_NE(dialog, nullptr);
    ids.push_back(dialog->id);
    EXPECT_EQ(find_dialog_template(dialog->id), dialog) << dialog->id;
  }
  EXPECT_EQ(ids, std::vector<int>(std::begin(screen_ids), std::end(screen_ids)));

  std::size_t count = 0;
  EXPECT_EQ(all_dialog_templates(nullptr), all_dialog_templates(&count));
}

TEST(DialogTemplates, UnknownDialogNumbersFindNothing) {
  for (int id : {0, -1, 100, 102, 106, 112, 140, 169, 1000}) {
    EXPECT_EQ(find_dialog_template(id), nullptr) << id;
  }
}

TEST(DialogTemplates, ControlIdsAreUniqueAndFoundExceptNoControlId) {
  for (const DialogTemplate* dialog : every_template()) {
    SCOPED_TRACE(dialog->id);
    ASSERT_GT(dialog->control_count, 0u);
    std::set<int> seen;
    for (std::size_t i = 0; i < dialog->control_count; ++i) {
      const ControlTemplate& control = dialog->controls[i];
      if (control.id == no_control_id) continue;
      EXPECT_TRUE(seen.insert(control.id).second) << "duplicate id " << control.id;
      EXPECT_EQ(find_control_template(*dialog, control.id), &control);
    }
    EXPECT_EQ(find_control_template(*dialog, no_control_id), nullptr);
    EXPECT_EQ(find_control_template(*dialog, 0), nullptr);
    EXPECT_EQ(find_control_template(*dialog, 9999), nullptr);
  }
}

TEST(DialogTemplates, ControlsLieInsideTheirWindow) {
  for (const DialogTemplate* dialog : every_template()) {
    SCOPED_TRACE(dialog->id);
    EXPECT_GT(dialog->width, 0);
    EXPECT_GT(dialog->height, 0);
    ASSERT_NE(dialog->caption, nullptr);
    EXPECT_STRNE(dialog->caption, "");
    for (std::size_t i = 0; i < dialog->control_count; ++i) {
      const ControlTemplate& c = dialog->controls[i];
      SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(c.id));
      ASSERT_NE(c.text, nullptr);
      EXPECT_GE(c.x, 0);
      EXPECT_GE(c.y, 0);
      EXPECT_GT(c.width, 0);
      EXPECT_GT(c.height, 0);
      EXPECT_LE(c.x + c.width, dialog->width);
      // A drop-down list's height counts the open list, which may hang below the window.
      if (c.kind == ControlKind::drop_down_list) {
        EXPECT_LT(c.y + 14, dialog->height);
      } else {
        EXPECT_LE(c.y + c.height, dialog->height);
      }
    }
  }
}

TEST(DialogTemplates, PicturesShowTheProgramIconAndNothingElseNamesAnIcon) {
  int pictures = 0;
  for (const DialogTemplate* dialog : every_template()) {
    for (std::size_t i = 0; i < dialog->control_count; ++i) {
      const ControlTemplate& c = dialog->controls[i];
      if (c.kind == ControlKind::icon) {
        ++pictures;
        EXPECT_EQ(c.icon_id, 106) << dialog->id;
        EXPECT_EQ(c.id, no_control_id) << dialog->id;
      } else {
        EXPECT_EQ(c.icon_id, 0) << dialog->id << " control " << c.id;
      }
    }
  }
  EXPECT_EQ(pictures, 2);  // the two address screens
}

// Enter presses the default button; the screens without one take no Enter at all.
TEST(DialogTemplates, DefaultPushButtons) {
  const std::pair<int, int> expected[] = {
      {101, 1}, {103, 1}, {104, 1},    {105, 0}, {110, 0}, {111, 1},
      {114, 0}, {139, 2}, {141, 1028}, {142, 1}, {168, 1},
  };
  for (const auto& [dialog_id, default_button] : expected) {
    SCOPED_TRACE(dialog_id);
    const DialogTemplate& dialog = dialog_or_fail(dialog_id);
    std::vector<int> defaults;
    for (std::size_t i = 0; i < dialog.control_count; ++i) {
      const ControlTemplate& c = dialog.controls[i];
      if ((c.style & style_default) == 0) continue;
      EXPECT_EQ(c.kind, ControlKind::push_button) << c.id;
      defaults.push_back(c.id);
    }
    if (default_button == 0) {
      EXPECT_TRUE(defaults.empty());
    } else {
      EXPECT_EQ(defaults, std::vector<int>{default_button});
    }
  }
}

// The controls that the screens' procedures set, read or give the focus to.
TEST(DialogTemplates, ControlsTheScreensUseExistWithTheirKind) {
  using K = ControlKind;
  struct Case {
    int dialog, control;
    ControlKind kind;
    unsigned style;  // bits that must be set
  };
  const unsigned read_only = style_read_only;
  const unsigned text_area = style_read_only | style_multi_line;
  const Case cases[] = {
      {141, 1028, K::push_button, 0},     {141, 1029, K::push_button, 0},
      {141, 1031, K::edit, text_area},    {139, 1, K::push_button, 0},
      {139, 2, K::push_button, 0},        {139, 1021, K::edit, text_area | style_no_tab_stop},
      {101, 1, K::push_button, 0},        {101, 2, K::push_button, 0},
      {101, 1000, K::ipv4_field, 0},      {101, 1007, K::edit, text_area},
      {101, 1008, K::edit, text_area},    {101, 1015, K::edit, read_only},
      {101, 1017, K::drop_down_list, 0},  {168, 1000, K::ipv4_field, 0},
      {168, 1017, K::drop_down_list, 0},  {103, 1, K::push_button, 0},
      {103, 2, K::push_button, 0},        {103, 1002, K::edit, read_only},
      {103, 1003, K::edit, read_only},    {103, 1004, K::edit, read_only},
      {103, 1005, K::edit, read_only},    {103, 1006, K::edit, read_only},
      {103, 1007, K::edit, text_area},    {104, 1, K::push_button, 0},
      {104, 2, K::push_button, 0},        {104, 1003, K::edit, 0},
      {104, 1005, K::edit, style_masked}, {104, 1007, K::edit, text_area},
      {105, 2, K::push_button, 0},        {105, 1010, K::progress_bar, 0},
      {114, 2, K::push_button, 0},        {114, 1010, K::progress_bar, 0},
      {114, 1032, K::static_text, 0},     {110, 2, K::push_button, 0},
      {110, 1010, K::progress_bar, 0},    {111, 1, K::push_button, 0},
      {111, 1004, K::edit, read_only},    {111, 1007, K::edit, text_area},
      {142, 1, K::push_button, 0},        {142, 2, K::push_button, 0},
      {142, 1017, K::drop_down_list, 0},  {142, 1027, K::edit, style_upper_case},
      {142, 1030, K::edit, text_area},    {142, 1031, K::edit, text_area},
      {142, 1032, K::edit, text_area},
  };
  for (const Case& expected : cases) {
    SCOPED_TRACE(std::to_string(expected.dialog) + "/" + std::to_string(expected.control));
    const ControlTemplate* control =
        find_control_template(dialog_or_fail(expected.dialog), expected.control);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->kind, expected.kind);
    EXPECT_EQ(control->style & expected.style, expected.style);
  }
}

// A person can type into exactly three boxes; everything else the screens fill in.
TEST(DialogTemplates, OnlyTheCredentialAndSerialBoxesTakeTyping) {
  std::set<std::pair<int, int>> editable, masked, upper_case;
  for (const DialogTemplate* dialog : every_template()) {
    for (std::size_t i = 0; i < dialog->control_count; ++i) {
      const ControlTemplate& c = dialog->controls[i];
      if (c.kind == ControlKind::edit && (c.style & style_read_only) == 0) {
        editable.insert({dialog->id, c.id});
      }
      if (c.style & style_masked) masked.insert({dialog->id, c.id});
      if (c.style & style_upper_case) upper_case.insert({dialog->id, c.id});
    }
  }
  EXPECT_EQ(editable, (std::set<std::pair<int, int>>{{104, 1003}, {104, 1005}, {142, 1027}}));
  EXPECT_EQ(masked, (std::set<std::pair<int, int>>{{104, 1005}}));
  EXPECT_EQ(upper_case, (std::set<std::pair<int, int>>{{142, 1027}}));
}

// Boxes start empty (the screens fill them); buttons and labels carry their own text.
TEST(DialogTemplates, TemplatesHoldOnlyFixedTexts) {
  for (const DialogTemplate* dialog : every_template()) {
    for (std::size_t i = 0; i < dialog->control_count; ++i) {
      const ControlTemplate& c = dialog->controls[i];
      SCOPED_TRACE(std::to_string(dialog->id) + "/" + std::to_string(c.id));
      switch (c.kind) {
        case ControlKind::push_button:
          EXPECT_STRNE(c.text, "");
          break;
        case ControlKind::static_text:
          // Only the waiting window's instruction label is filled in when it opens.
          if (c.id == no_control_id) {
            EXPECT_STRNE(c.text, "");
          } else {
            EXPECT_STREQ(c.text, "");
          }
          break;
        default:
          EXPECT_STREQ(c.text, "");
      }
    }
  }
}

// Both address screens run the same procedure; only the arrangement differs.
TEST(DialogTemplates, AddressScreensHoldTheSameControlsInTheSameOrder) {
  const DialogTemplate& adapter = dialog_or_fail(101);
  const DialogTemplate& phone = dialog_or_fail(168);
  ASSERT_EQ(adapter.control_count, phone.control_count);
  bool moved = false;
  for (std::size_t i = 0; i < adapter.control_count; ++i) {
    const ControlTemplate& a = adapter.controls[i];
    const ControlTemplate& p = phone.controls[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(a.id, p.id);
    EXPECT_EQ(a.kind, p.kind);
    EXPECT_STREQ(a.text, p.text);
    EXPECT_EQ(a.style, p.style);
    EXPECT_EQ(a.icon_id, p.icon_id);
    moved = moved || a.x != p.x || a.y != p.y;
  }
  EXPECT_TRUE(moved);
  EXPECT_STREQ(adapter.caption, phone.caption);
}

// Windows whose stored caption reaches the person unchanged, at least for a while.
TEST(DialogTemplates, CaptionsShownAsStored) {
  const std::pair<int, const char*> shown[] = {
      {104, "Enter Password Information"},
      {110, "Uploading Firmware To VXT"},
      {114, "Waiting For Firmware Download Request From VXT"},
      {141, "Tavero Firmware Upgrade Utility"},
  };
  for (const auto& [dialog_id, caption] : shown) {
    EXPECT_STREQ(dialog_or_fail(dialog_id).caption, caption) << dialog_id;
  }
}

}  // namespace
}  // namespace vxt
