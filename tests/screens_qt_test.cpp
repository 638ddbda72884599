// The wizard's real screens drawn by the Qt front end (offscreen platform): every control of
// each template is there with a geometry that follows its dialog units, and no text breaks
// where the text itself does not (a text without line breaks may wrap within the lines its
// box is tall enough for). Registered at 1x and at 2x (QT_SCALE_FACTOR=2).
#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "core/address_screen.h"
#include "core/session_state.h"
#include "core/start_up.h"
#include "core/text.h"
#include "core/upgrade_path.h"
#include "core/warning_screen.h"
#include "core/welcome_screen.h"
#include "platform/clock.h"
#include "platform/frontend.h"
#include "platform/window.h"
#include "recovery/recovery_entry_screen.h"
#include "resources/dialog_template.h"
#include "tftp/success_window.h"
#include "tftp/tftp_listener.h"
#include "tftp/tftp_session.h"
#include "tftp/transfer_window.h"
#include "web/connecting_window.h"
#include "web/password_window.h"

namespace vxt {
namespace {

constexpr int hang_guard_ms = 30000;  // a guard against a hang, not a timing check

QWidget* shown_dialog(int dialog) {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible() && widget->property("vxt_dialog").toInt() == dialog) return widget;
  }
  return nullptr;
}

QWidget* wait_for_dialog(int dialog) {
  QWidget* found = nullptr;
  (void)QTest::qWaitFor([&] { return (found = shown_dialog(dialog)) != nullptr; }, hang_guard_ms);
  return found;
}

// Lines a box of `height` pixels shows in the dialog's font.
int box_lines(const QWidget* widget) {
  return std::max(1, widget->height() / std::max(1, widget->fontMetrics().height()));
}

// Every text of the window keeps its own line breaks and fits its box.
void expect_texts_fit(QWidget* dialog, int dialog_id) {
  for (auto* edit : dialog->findChildren<QPlainTextEdit*>()) {
    const QString text = edit->toPlainText();
    if (text.isEmpty()) continue;
    const bool has_breaks = text.contains(QLatin1Char('\n'));
    int lines = 0;
    for (QTextBlock block = edit->document()->begin(); block.isValid(); block = block.next()) {
      const int block_lines = block.layout() ? block.layout()->lineCount() : 1;
      lines += block_lines;
      if (has_breaks) {
        EXPECT_EQ(block_lines, 1) << "dialog " << dialog_id << " "
                                  << edit->objectName().toStdString() << " breaks the line \""
                                  << block.text().toStdString() << "\"";
      }
    }
    if (!has_breaks) {
      EXPECT_LE(lines, box_lines(edit))
          << "dialog " << dialog_id << " " << edit->objectName().toStdString() << " is cut";
    }
  }
  for (auto* label : dialog->findChildren<QLabel*>()) {
    const QString text = label->text();
    if (text.isEmpty()) continue;
    const QFontMetrics metrics = label->fontMetrics();
    const int width = label->contentsRect().width();
    const QRect bounds = metrics.boundingRect(QRect(0, 0, width, 1 << 20), Qt::TextWordWrap, text);
    EXPECT_LE(bounds.height(), label->height())
        << "dialog " << dialog_id << " label \"" << text.toStdString() << "\" is cut";
    if (text.contains(QLatin1Char('\n')) || box_lines(label) == 1) {
      for (const QString& line : text.split(QLatin1Char('\n'))) {
        const int advance = metrics.horizontalAdvance(line);
        if (advance > 2 * width) continue;  // a paragraph, meant to wrap
        EXPECT_LE(advance, width) << "dialog " << dialog_id << " label \"" << line.toStdString()
                                  << "\"";
      }
    }
  }
  for (auto* edit : dialog->findChildren<QLineEdit*>()) {
    if (!edit->isReadOnly() || edit->text().isEmpty()) continue;
    EXPECT_LE(edit->fontMetrics().horizontalAdvance(edit->text()), edit->width())
        << "dialog " << dialog_id << " field \"" << edit->text().toStdString() << "\"";
  }
  for (auto* button : dialog->findChildren<QAbstractButton*>()) {
    EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()), button->width())
        << "dialog " << dialog_id << " button \"" << button->text().toStdString() << "\"";
  }
}

// Each control with an id is in the widget tree where its dialog units put it.
void expect_layout_follows_template(QWidget* dialog, int dialog_id) {
  const DialogTemplate* layout = find_dialog_template(dialog_id);
  ASSERT_NE(layout, nullptr);
  const frontend::Metrics m = frontend::metrics();
  const double scale = dialog->property("vxt_scale_x").toDouble();
  EXPECT_GE(scale, 1.0);
  const auto x = [&](int units) {
    return static_cast<int>(std::floor(units * m.base_x * scale / 4.0));
  };
  for (std::size_t i = 0; i < layout->control_count; ++i) {
    const ControlTemplate& c = layout->controls[i];
    if (c.id == no_control_id) continue;
    auto* widget = dialog->findChild<QWidget*>(QStringLiteral("control_%1").arg(c.id));
    ASSERT_NE(widget, nullptr) << "dialog " << dialog_id << " lacks control " << c.id;
    EXPECT_EQ(widget->x(), x(c.x)) << "dialog " << dialog_id << " control " << c.id;
    EXPECT_EQ(widget->y(), c.y * m.base_y / 8) << "dialog " << dialog_id << " control " << c.id;
    EXPECT_EQ(widget->width(), std::max(1, x(c.width)))
        << "dialog " << dialog_id << " control " << c.id;
    if (c.kind != ControlKind::drop_down_list) {
      EXPECT_EQ(widget->height(), std::max(1, c.height * m.base_y / 8))
          << "dialog " << dialog_id << " control " << c.id;
    }
  }
  EXPECT_GE(dialog->width(), layout->width * m.base_x / 4);
}

// The screens, opened by the wizard's own procedures on the wizard thread; the GUI thread
// checks each and ends it.
std::atomic<int> modeless_checked{0};

void show_modeless_until_checked(int dialog, WindowProc proc, void (*fill)(Window*)) {
  const int before = modeless_checked.load();
  Window* window = create_modeless(dialog, proc);
  if (fill) fill(window);
  show_window(window);
  while (modeless_checked.load() == before) {
    poll_event(window);
    sleep_ms(1);
  }
  destroy_window(window);
}

void wizard_screens() {
  start_up();
  run_welcome_screen();
  run_warning_screen();
  run_address_screen();
  copy_text(session.device_label, "127.0.0.2");
  copy_text(session.device_info.serial_number, "VX0001");
  copy_text(session.device_info.mac_address, "001A2B3C4D5E");
  copy_text(session.device_info.software_version, "1.0.0");
  copy_text(session.device_info.hardware_version, "HW-1");
  copy_text(session.device_info.product_name, "VXT-200");
  run_confirm_screen();
  run_modal(password_dialog, password_window_proc);
  show_modeless_until_checked(105, connecting_window_proc, nullptr);
  show_modeless_until_checked(waiting_dialog, transfer_window_proc, [](Window* w) {
    set_control_text(w, waiting_instructions, waiting_instruction_text);
  });
  show_modeless_until_checked(uploading_dialog, transfer_window_proc, [](Window* w) {
    set_caption(w, "Uploading Firmware to VXT@127.0.0.2 761368/761368 Bytes");
  });
  run_modal(111, success_window_proc);
  run_recovery_entry_screen();
  session.device_kind = 1;  // the IP phone has an address screen of its own
  run_address_screen();
}

struct Screen {
  int dialog;
  bool modeless;
  std::function<void(QWidget*)> end;  // the person's gesture that ends it
};

void press(QWidget* dialog, int control) {
  auto* button = dialog->findChild<QAbstractButton*>(QStringLiteral("control_%1").arg(control));
  ASSERT_NE(button, nullptr);
  QTest::mouseClick(button, Qt::LeftButton);
}

std::thread wizard;
std::atomic<bool> wizard_done{false};

void start_wizard_screens() {
  wizard = std::thread([] {
    wizard_screens();
    wizard_done = true;
  });
  QTimer::singleShot(0, [] {
    const std::vector<Screen> screens = {
        {141, false, [](QWidget* d) { press(d, 1028); }},
        {139, false, [](QWidget* d) { press(d, 2); }},
        {101, false, [](QWidget* d) { press(d, 2); }},
        {103, false, [](QWidget* d) { press(d, 2); }},
        {104, false, [](QWidget* d) { press(d, 2); }},
        {105, true, nullptr},
        {114, true, nullptr},
        {110, true, nullptr},
        {111, false, [](QWidget* d) { press(d, 1); }},
        {142, false, [](QWidget* d) { press(d, 2); }},
        {168, false, [](QWidget* d) { press(d, 2); }},
    };
    for (const Screen& screen : screens) {
      SCOPED_TRACE("dialog " + std::to_string(screen.dialog));
      QWidget* dialog = wait_for_dialog(screen.dialog);
      if (dialog == nullptr) {
        ADD_FAILURE() << "dialog " << screen.dialog << " did not appear";
        break;
      }
      QTest::qWait(20);  // let queued text changes of the opening land; not a check
      expect_layout_follows_template(dialog, screen.dialog);
      expect_texts_fit(dialog, screen.dialog);
      if (screen.modeless) {
        ++modeless_checked;
        (void)QTest::qWaitFor([&] { return shown_dialog(screen.dialog) == nullptr; },
                              hang_guard_ms);
      } else {
        screen.end(dialog);
      }
    }
    if (!QTest::qWaitFor([] { return wizard_done.load(); }, hang_guard_ms)) {
      ADD_FAILURE() << "the screens did not all end";
    }
    QCoreApplication::exit(0);
  });
}

TEST(ScreensQt, EveryScreenHoldsItsControlsAndTexts) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  char name[] = "screens_qt_test";
  char* argv[] = {name, nullptr};
  EXPECT_EQ(frontend::run(1, argv, start_wizard_screens), 0);
  if (wizard_done) {
    wizard.join();
  } else {
    wizard.detach();
  }
}

}  // namespace
}  // namespace vxt
