// The Qt front end driven end to end: a fake wizard on its own thread uses only the window
// model, and the test acts as the person through the widget tree on the GUI thread.
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/frontend.h"
#include "platform/window.h"
#include "resources/dialog_template.h"

namespace vxt {
namespace {

// A guard against a hang, not a timing check: waits normally end within milliseconds.
constexpr int hang_guard_ms = 30000;

constexpr int closed_marker = 9999;  // result of a fake screen that saw the close event

const char* const welcome_text =
    "Welcome to the Tavero Firmware Upgrade Utility!\r\n\r\nTo begin, select the [Upgrade "
    "Firmware]\r\noption if you would like upgrade the fimrware\r\non a normal VXT unit.";

// ---- running the front end with a fake wizard ----------------------------------------------

std::function<void()> wizard_body;  // on the wizard thread
std::function<void()> driver_body;  // on the GUI thread, inside the event loop
std::thread wizard_thread;
std::atomic<bool> wizard_done{false};

void start_fake_wizard() {
  wizard_thread = std::thread([] {
    wizard_body();
    wizard_done = true;
  });
  QTimer::singleShot(0, [] {
    driver_body();
    if (!QTest::qWaitFor([] { return wizard_done.load(); }, hang_guard_ms)) {
      ADD_FAILURE() << "the fake wizard did not finish";
    }
    QCoreApplication::exit(0);  // quit() would first try to close the windows, which refuse
  });
}

void run_front_end(std::function<void()> wizard, std::function<void()> driver) {
  wizard_done = false;
  wizard_body = std::move(wizard);
  driver_body = std::move(driver);
  // Discovered tests do not carry the CTest environment; no display is needed either way.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  char name[] = "frontend_qt_test";
  char* argv[] = {name, nullptr};
  EXPECT_EQ(frontend::run(1, argv, start_fake_wizard), 0);
  if (wizard_done) {
    wizard_thread.join();
  } else {
    wizard_thread.detach();  // blocked in the model; the failure is already reported
  }
}

// ---- finding things in the widget tree ------------------------------------------------------

int window_number_of(const QWidget* widget) { return widget->property("vxt_window").toInt(); }

// The shown window made from `dialog`, other than window `not_window`.
QDialog* shown_dialog(int dialog, int not_window = 0) {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* candidate = qobject_cast<QDialog*>(widget);
    if (candidate && candidate->isVisible() &&
        candidate->property("vxt_dialog").toInt() == dialog &&
        window_number_of(candidate) != not_window) {
      return candidate;
    }
  }
  return nullptr;
}

QDialog* wait_for_dialog(int dialog, int not_window = 0) {
  QDialog* found = nullptr;
  (void)QTest::qWaitFor([&] { return (found = shown_dialog(dialog, not_window)) != nullptr; },
                        hang_guard_ms);
  return found;
}

// A shown message window other than message number `not_message`.
QMessageBox* shown_message(int not_message = 0) {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(widget);
    if (box && box->isVisible() && box->property("vxt_message").toInt() != not_message) return box;
  }
  return nullptr;
}

QMessageBox* wait_for_message(int not_message = 0) {
  QMessageBox* found = nullptr;
  (void)QTest::qWaitFor([&] { return (found = shown_message(not_message)) != nullptr; },
                        hang_guard_ms);
  return found;
}

template <class W>
W* control(QWidget* dialog, int id) {
  return dialog->findChild<W*>(QStringLiteral("control_%1").arg(id));
}

bool wait_until(const std::function<bool()>& condition) {
  return QTest::qWaitFor(condition, hang_guard_ms);
}

// What the fake wizard saw, read by the GUI thread.
struct Seen {
  std::mutex mutex;
  std::vector<int> results;
  std::map<int, std::string> texts;
  int selection = -2;
  Window* window = nullptr;
};
Seen seen;

void reset_seen() {
  std::lock_guard<std::mutex> lock(seen.mutex);
  seen.results.clear();
  seen.texts.clear();
  seen.selection = -2;
  seen.window = nullptr;
}

// Runs a modal window on the fake wizard's thread and records how it ended.
void run_modal_recording(int dialog, WindowProc proc) {
  const int result = run_modal(dialog, proc);
  std::lock_guard<std::mutex> lock(seen.mutex);
  seen.results.push_back(result);
}

std::vector<int> seen_results() {
  std::lock_guard<std::mutex> lock(seen.mutex);
  return seen.results;
}

std::string control_text(Window* window, int id) {
  char buffer[256];
  get_control_text(window, id, buffer, sizeof buffer);
  return buffer;
}

// ---- the welcome screen ---------------------------------------------------------------------

int welcome_proc(Window* window, const Event& event) {
  switch (event.kind) {
    case Event::open:
      set_caption(window, "Tavero Firmware Upgrade Utility");
      set_control_text(window, 1031, welcome_text);
      set_focus(window, 1031);
      return 1;
    case Event::command:
      end_modal(window, event.id);
      return 1;
    case Event::close:
      end_modal(window, closed_marker);
      return 1;
    case Event::timer:
      return 0;
  }
  return 0;
}

TEST(FrontendQt, WelcomeScreenShowsItsTextsAndEachGestureReachesTheScreen) {
  struct Case {
    const char* gesture;
    std::function<void(QDialog*)> act;
    int expected;
  };
  const std::vector<Case> cases = {
      {"click on Recover Firmware",
       [](QDialog* d) { QTest::mouseClick(control<QPushButton>(d, 1029), Qt::LeftButton); }, 1029},
      {"Enter in the text area presses the default button",
       [](QDialog* d) { QTest::keyClick(control<QWidget>(d, 1031), Qt::Key_Return); }, 1028},
      {"Escape", [](QDialog* d) { QTest::keyClick(d, Qt::Key_Escape); }, command_cancel},
      {"close box",
       [](QDialog* d) {
         EXPECT_FALSE(d->close()) << "the close box alone must not close the window";
         EXPECT_TRUE(d->isVisible()) << "only the model destroys a window";
       },
       closed_marker},
  };
  reset_seen();
  run_front_end(
      [&] {
        for (std::size_t i = 0; i < cases.size(); ++i) {
          run_modal_recording(141, welcome_proc);
        }
      },
      [&] {
        int previous = 0;
        for (const Case& c : cases) {
          SCOPED_TRACE(c.gesture);
          QDialog* dialog = wait_for_dialog(141, previous);
          ASSERT_NE(dialog, nullptr);
          previous = window_number_of(dialog);
          if (&c == &cases.front()) {
            EXPECT_EQ(dialog->windowTitle(), "Tavero Firmware Upgrade Utility");
            auto* text = control<QPlainTextEdit>(dialog, 1031);
            ASSERT_NE(text, nullptr);
            EXPECT_EQ(text->toPlainText().toStdString(),
                      "Welcome to the Tavero Firmware Upgrade Utility!\n\nTo begin, select the "
                      "[Upgrade Firmware]\noption if you would like upgrade the fimrware\non a "
                      "normal VXT unit.");
            EXPECT_TRUE(text->isReadOnly());
            EXPECT_EQ(text->frameShape(), QFrame::NoFrame);
            EXPECT_EQ(dialog->focusWidget(), text);

            auto* upgrade = control<QPushButton>(dialog, 1028);
            auto* recover = control<QPushButton>(dialog, 1029);
            ASSERT_TRUE(upgrade && recover);
            EXPECT_EQ(upgrade->text(), "Upgrade Firmware ");
            EXPECT_EQ(recover->text(), "Recover Firmware");
            EXPECT_TRUE(upgrade->isDefault());
            EXPECT_FALSE(recover->isDefault());

            // Dialog units become pixels through the front end's own base units, across
            // stretched as far as the window's texts need (never narrower).
            const frontend::Metrics m = frontend::metrics();
            EXPECT_GT(m.base_x, 0);
            EXPECT_GT(m.base_y, 0);
            const double scale = dialog->property("vxt_scale_x").toDouble();
            EXPECT_GE(scale, 1.0);
            const auto x = [&](int units) {
              return static_cast<int>(std::floor(units * m.base_x * scale / 4.0));
            };
            EXPECT_EQ(upgrade->geometry(),
                      QRect(x(47), 105 * m.base_y / 8, x(93), 14 * m.base_y / 8));
            EXPECT_EQ(recover->geometry().topLeft(), QPoint(x(47), 126 * m.base_y / 8));
            EXPECT_GE(dialog->width(), 192 * m.base_x / 4);
            EXPECT_GE(dialog->height(), 149 * m.base_y / 8);
          }
          c.act(dialog);
        }
      });
  std::vector<int> expected;
  for (const Case& c : cases) expected.push_back(c.expected);
  EXPECT_EQ(seen_results(), expected);
}

// ---- edit boxes, the IPv4 field, the list, and changes made by the wizard -------------------

int address_proc(Window* window, const Event& event) {
  static int presses = 0;
  switch (event.kind) {
    case Event::open:
      presses = 0;
      set_caption(window, "VXT Firmware Upgrade");
      list_append(window, 1017, "192.168.1.10");
      list_append(window, 1017, "10.0.0.2");
      list_append(window, 1017, "127.0.0.1");
      list_select(window, 1017, 0);
      set_control_text(window, 1015, "Version 2.0.1");
      set_focus(window, 1000);
      {
        std::lock_guard<std::mutex> lock(seen.mutex);
        seen.window = window;
      }
      return 1;
    case Event::command:
      if (event.id != command_ok) return 1;
      if (++presses == 1) {
        {
          std::lock_guard<std::mutex> lock(seen.mutex);
          seen.texts[1000] = control_text(window, 1000);
          seen.selection = list_selection(window, 1017);
        }
        // The wizard's own changes while the screen stays open.
        set_control_text(window, 1000, "10.1.0.13");
        move_window(window, 5, 7);
        set_focus(window, 1017);
        set_caption(window, "Changed");
        return 1;
      }
      end_modal(window, command_ok);
      return 1;
    case Event::close:
    case Event::timer:
      return 0;
  }
  return 0;
}

TEST(FrontendQt, AddressScreenTypingAndListReachTheModelAndWizardChangesShow) {
  reset_seen();
  run_front_end(
      [] { run_modal_recording(101, address_proc); },
      [] {
        QDialog* dialog = wait_for_dialog(101);
        ASSERT_NE(dialog, nullptr);
        auto* address = control<QLineEdit>(dialog, 1000);
        auto* list = control<QComboBox>(dialog, 1017);
        auto* version = control<QLineEdit>(dialog, 1015);
        ASSERT_TRUE(address && list && version);
        EXPECT_EQ(version->text(), "Version 2.0.1");
        EXPECT_TRUE(version->isReadOnly());
        EXPECT_EQ(dialog->focusWidget(), address);
        ASSERT_EQ(list->count(), 3);
        EXPECT_EQ(list->currentIndex(), 0);
        EXPECT_EQ(list->itemText(2), "127.0.0.1");
        Window* window = nullptr;
        {
          std::lock_guard<std::mutex> lock(seen.mutex);
          window = seen.window;
        }
        ASSERT_NE(window, nullptr);

        // Any text may be typed into the address field: checking it is the wizard's job.
        // The model echoes every keystroke; echoes of older texts arrive after newer typing and
        // must neither undo it nor move the cursor.
        QTest::keyClicks(address, "10.1.0.13");
        address->setCursorPosition(2);
        ASSERT_TRUE(wait_until([&] { return control_text(window, 1000) == "10.1.0.13"; }));
        QTest::qWait(0);
        EXPECT_EQ(address->text(), "10.1.0.13");
        EXPECT_EQ(address->cursorPosition(), 2);
        QTest::keyClicks(address, "x");
        ASSERT_TRUE(wait_until([&] { return control_text(window, 1000) == "10x.1.0.13"; }));
        QTest::qWait(0);
        EXPECT_EQ(address->text(), "10x.1.0.13");
        EXPECT_EQ(address->cursorPosition(), 3);

        QTest::keyClick(list, Qt::Key_Down);
        EXPECT_EQ(list->currentIndex(), 1);
        ASSERT_TRUE(wait_until([&] { return list_selection(window, 1017) == 1; }));

        QTest::mouseClick(control<QPushButton>(dialog, command_ok), Qt::LeftButton);
        ASSERT_TRUE(wait_until([&] { return dialog->windowTitle() == "Changed"; }));
        {
          std::lock_guard<std::mutex> lock(seen.mutex);
          EXPECT_EQ(seen.texts[1000], "10x.1.0.13");
          EXPECT_EQ(seen.selection, 1);
        }
        EXPECT_EQ(address->text(), "10.1.0.13");
        EXPECT_EQ(dialog->pos(), QPoint(5, 7));
        EXPECT_EQ(dialog->focusWidget(), list);
        QTest::mouseClick(control<QPushButton>(dialog, command_ok), Qt::LeftButton);
      });
  EXPECT_EQ(seen_results(), std::vector<int>{command_ok});
}

// Every editable box of every screen: typed text arrives as the model's bytes.
struct EditCase {
  int dialog;
  int control;
  unsigned style;
  int default_button;
};

std::vector<EditCase> editable_boxes() {
  std::vector<EditCase> cases;
  std::size_t count = 0;
  const DialogTemplate* const* dialogs = all_dialog_templates(&count);
  for (std::size_t d = 0; d < count; ++d) {
    int default_button = 0;
    for (std::size_t i = 0; i < dialogs[d]->control_count; ++i) {
      const ControlTemplate& c = dialogs[d]->controls[i];
      if (c.kind == ControlKind::push_button && (c.style & style_default)) default_button = c.id;
    }
    for (std::size_t i = 0; i < dialogs[d]->control_count; ++i) {
      const ControlTemplate& c = dialogs[d]->controls[i];
      const bool editable = (c.kind == ControlKind::edit && !(c.style & style_read_only) &&
                             !(c.style & style_multi_line)) ||
                            c.kind == ControlKind::ipv4_field;
      if (editable && default_button != 0)
        cases.push_back({dialogs[d]->id, c.id, c.style, default_button});
    }
  }
  return cases;
}

EditCase current_edit_case;

int edit_proc(Window* window, const Event& event) {
  if (event.kind == Event::command && event.id == current_edit_case.default_button) {
    {
      std::lock_guard<std::mutex> lock(seen.mutex);
      seen.texts[current_edit_case.control] = control_text(window, current_edit_case.control);
    }
    end_modal(window, event.id);
    return 1;
  }
  return event.kind == Event::open ? 1 : 0;
}

TEST(FrontendQt, EveryEditableBoxDeliversTypedTextInTheSingleByteCharacterSet) {
  const std::vector<EditCase> cases = editable_boxes();
  ASSERT_FALSE(cases.empty());
  for (const EditCase& c : cases) {
    SCOPED_TRACE("dialog " + std::to_string(c.dialog) + " control " + std::to_string(c.control));
    reset_seen();
    current_edit_case = c;
    run_front_end(
        [] { run_modal(current_edit_case.dialog, edit_proc); },
        [] {
          const EditCase& e = current_edit_case;
          QDialog* dialog = wait_for_dialog(e.dialog);
          ASSERT_NE(dialog, nullptr);
          auto* edit = control<QLineEdit>(dialog, e.control);
          ASSERT_NE(edit, nullptr);
          EXPECT_EQ(edit->echoMode() == QLineEdit::Password, (e.style & style_masked) != 0);
          QTest::keyClicks(edit, "ab1.x-");
          // QTest types ASCII only; a Latin-1 letter comes as a plain key event.
          QKeyEvent e_acute(QEvent::KeyPress, Qt::Key_Eacute, Qt::NoModifier, QString(QChar(0xe9)));
          QApplication::sendEvent(edit, &e_acute);
          QTest::mouseClick(control<QPushButton>(dialog, e.default_button), Qt::LeftButton);
        });
    std::lock_guard<std::mutex> lock(seen.mutex);
    const std::string expected = (c.style & style_upper_case) ? "AB1.X-\xc9" : "ab1.x-\xe9";
    EXPECT_EQ(seen.texts[c.control], expected);
  }
}

int reads_address_at_ok_proc(Window* window, const Event& event) {
  if (event.kind == Event::command && event.id == command_ok) {
    {
      std::lock_guard<std::mutex> lock(seen.mutex);
      seen.texts[1000] = control_text(window, 1000);
    }
    end_modal(window, command_ok);
  }
  return 1;
}

TEST(FrontendQt, TypingRightAfterAClickIsNotSeenByTheScreenHandlingTheClick) {
  reset_seen();
  run_front_end([] { run_modal_recording(101, reads_address_at_ok_proc); },
                [] {
                  QDialog* dialog = wait_for_dialog(101);
                  ASSERT_NE(dialog, nullptr);
                  auto* address = control<QLineEdit>(dialog, 1000);
                  ASSERT_NE(address, nullptr);
                  QTest::keyClicks(address, "10.1.0.13");
                  QTest::mouseClick(control<QPushButton>(dialog, command_ok), Qt::LeftButton);
                  QTest::keyClicks(address, "9");  // before the wizard has read the field
                });
  std::lock_guard<std::mutex> lock(seen.mutex);
  EXPECT_EQ(seen.texts[1000], "10.1.0.13");
}

// ---- progress bars --------------------------------------------------------------------------

int progress_proc(Window* window, const Event& event) {
  static int cancels = 0;
  switch (event.kind) {
    case Event::open:
      cancels = 0;
      set_progress_range(window, 1010, 200);
      set_progress_position(window, 1010, 250);
      return 1;
    case Event::command:
      ++cancels;
      if (cancels == 1) set_progress_position(window, 1010, -5);
      if (cancels == 2) {
        set_progress_range(window, 1010, 0);
        set_progress_position(window, 1010, 3);
      }
      if (cancels == 3) end_modal(window, command_cancel);
      return 1;
    case Event::close:
    case Event::timer:
      return 0;
  }
  return 0;
}

TEST(FrontendQt, ProgressPositionsOutsideTheRangeAreClampedForDisplayOnly) {
  reset_seen();
  run_front_end([] { run_modal_recording(105, progress_proc); },
                [] {
                  QDialog* dialog = wait_for_dialog(105);
                  ASSERT_NE(dialog, nullptr);
                  auto* bar = control<QProgressBar>(dialog, 1010);
                  auto* cancel = control<QPushButton>(dialog, command_cancel);
                  ASSERT_TRUE(bar && cancel);
                  EXPECT_EQ(bar->minimum(), 0);
                  EXPECT_EQ(bar->maximum(), 200);
                  EXPECT_EQ(bar->value(), 200);

                  QTest::mouseClick(cancel, Qt::LeftButton);
                  EXPECT_TRUE(wait_until([&] { return bar->value() == 0; }))
                      << "position -5 shows as 0";

                  // An empty range must not turn into Qt's busy indicator.
                  QTest::mouseClick(cancel, Qt::LeftButton);
                  EXPECT_TRUE(wait_until([&] { return bar->maximum() != 200; }));
                  EXPECT_GT(bar->maximum(), bar->minimum());
                  EXPECT_EQ(bar->value(), 0);
                  QTest::mouseClick(cancel, Qt::LeftButton);
                });
  EXPECT_EQ(seen_results(), std::vector<int>{command_cancel});
}

// The waiting window's bar moves every millisecond, the upload's caption changes with every
// block, and the screen is updated a few dozen times a second: whatever the pace, both end on
// their newest state, and a window that ends while its update is on the way takes it along.
std::atomic<bool> fast_bar_checked{false};

TEST(FrontendQt, AFastBarAndCaptionEndOnTheirNewestState) {
  fast_bar_checked = false;
  run_front_end(
      [] {
        Window* gone = create_modeless(105, [](Window*, const Event&) { return 1; });
        show_window(gone);
        set_progress_range(gone, 1010, 100);
        set_progress_position(gone, 1010, 50);
        set_caption(gone, "gone");
        destroy_window(gone);
        Window* fast = create_modeless(114, [](Window*, const Event&) { return 1; });
        show_window(fast);
        set_progress_range(fast, 1010, 5000);
        for (int position = 1; position <= 5000; ++position) {
          set_progress_position(fast, 1010, position);
          set_caption(fast, ("step " + std::to_string(position)).c_str());
        }
        while (!fast_bar_checked) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        destroy_window(fast);
      },
      [] {
        struct Done {
          ~Done() { fast_bar_checked = true; }
        } done;
        QDialog* fast = wait_for_dialog(114);
        ASSERT_NE(fast, nullptr);
        auto* bar = control<QProgressBar>(fast, 1010);
        ASSERT_NE(bar, nullptr);
        EXPECT_TRUE(wait_until([&] { return bar->value() == 5000; }))
            << "stopped at " << bar->value();
        EXPECT_EQ(bar->maximum(), 5000);
        EXPECT_TRUE(wait_until([&] { return fast->windowTitle() == "step 5000"; }))
            << fast->windowTitle().toStdString();
      });
}

// ---- message windows ------------------------------------------------------------------------

std::atomic<int> messages_returned{0};

int message_proc(Window* window, const Event& event) {
  if (event.kind == Event::command && event.id == 1028) {
    message_box(window, "Error", "Invalid IP Address\r\nTry again");
    messages_returned = 1;
    task_modal_message_box("VXT Firwmare Upgrade Error", "Upgrade Failed: User Abort");
    messages_returned = 2;
    end_modal(window, command_ok);
    return 1;
  }
  return event.kind == Event::open ? 1 : 0;
}

TEST(FrontendQt, MessageWindowsHoldTheWizardUntilDismissed) {
  reset_seen();
  messages_returned = 0;
  run_front_end([] { run_modal_recording(141, message_proc); },
                [] {
                  QDialog* dialog = wait_for_dialog(141);
                  ASSERT_NE(dialog, nullptr);
                  QTest::mouseClick(control<QPushButton>(dialog, 1028), Qt::LeftButton);

                  QPointer<QMessageBox> owned = wait_for_message();
                  ASSERT_NE(owned, nullptr);
                  const int owned_number = owned->property("vxt_message").toInt();
                  EXPECT_EQ(owned->windowTitle(), "Error");
                  EXPECT_EQ(owned->text(), "Invalid IP Address\nTry again");
                  EXPECT_EQ(owned->icon(), QMessageBox::NoIcon);
                  EXPECT_EQ(owned->buttons().size(), 1);
                  EXPECT_EQ(owned->parentWidget(), dialog);
                  EXPECT_EQ(owned->windowModality(), Qt::WindowModal);
                  QTest::qWait(0);
                  EXPECT_EQ(messages_returned.load(), 0) << "the wizard must wait for OK";
                  QPushButton* ok = qobject_cast<QPushButton*>(owned->button(QMessageBox::Ok));
                  ASSERT_NE(ok, nullptr);
                  QTest::mouseClick(ok, Qt::LeftButton);

                  QMessageBox* task_modal = wait_for_message(owned_number);
                  ASSERT_NE(task_modal, nullptr);
                  EXPECT_EQ(messages_returned.load(), 1);
                  EXPECT_TRUE(owned.isNull() || !owned->isVisible());
                  EXPECT_EQ(task_modal->windowTitle(), "VXT Firwmare Upgrade Error");
                  EXPECT_EQ(task_modal->text(), "Upgrade Failed: User Abort");
                  EXPECT_EQ(task_modal->parentWidget(), nullptr);
                  // Escape dismisses a window whose only button is OK.
                  QTest::keyClick(task_modal, Qt::Key_Escape);
                });
  EXPECT_EQ(messages_returned.load(), 2);
  EXPECT_EQ(seen_results(), std::vector<int>{command_ok});
}

// ---- what each kind of message window blocks ------------------------------------------------

// Thread A runs the modal window X (141) and owns the modeless window Z (105); thread B owns
// the modeless window Y (139). X: 1028 shows a message owned by X, 1029 a task-modal one,
// Escape is only counted. Y: Continue is counted, Cancel shows a message owned by none.
std::atomic<int> x_escapes{0};
std::atomic<int> y_continues{0};
std::atomic<bool> y_closed{false};

int x_proc(Window* window, const Event& event) {
  if (event.kind == Event::close) {
    end_modal(window, 0);
    return 1;
  }
  if (event.kind != Event::command) return 1;
  if (event.id == 1028) message_box(window, "Error", "owned by X");
  if (event.id == 1029) task_modal_message_box("VXT Firwmare Upgrade Error", "task-modal");
  if (event.id == command_cancel) ++x_escapes;
  return 1;
}

int y_proc(Window*, const Event& event) {
  if (event.kind == Event::close) y_closed = true;
  if (event.kind != Event::command) return 1;
  if (event.id == command_ok) ++y_continues;
  if (event.id == command_cancel) message_box(nullptr, "Error", "owned by none");
  return 1;
}

// Which windows Qt's own modality blocks: it tells each window when that changes.
class QtBlocking : public QObject {
 public:
  bool blocks(QWidget* widget) const {
    for (QObject* o :
         {static_cast<QObject*>(widget), static_cast<QObject*>(widget->windowHandle())})
      if (auto found = blocked_.find(o); found != blocked_.end() && found->second) return true;
    return false;
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::WindowBlocked) blocked_[watched] = true;
    if (event->type() == QEvent::WindowUnblocked) blocked_[watched] = false;
    return false;
  }

 private:
  std::map<QObject*, bool> blocked_;
};
QtBlocking* qt_blocking = nullptr;

// Clicks the button; whether the window takes input: neither Qt's modality nor the front end
// keeps the click from the button.
bool takes_click(QDialog* dialog, int button_id) {
  auto* button = control<QPushButton>(dialog, button_id);
  if (button == nullptr) {
    ADD_FAILURE() << "no button " << button_id;
    return false;
  }
  QSignalSpy clicked(button, &QPushButton::clicked);
  QTest::mouseClick(button, Qt::LeftButton);
  return clicked.count() == 1 && !qt_blocking->blocks(dialog);
}

void dismiss(QMessageBox* box) {
  ASSERT_NE(box, nullptr);
  QTest::mouseClick(qobject_cast<QPushButton*>(box->button(QMessageBox::Ok)), Qt::LeftButton);
  // The click told the model at once; what the model answered was queued for the GUI thread
  // meanwhile and comes before anything the person does next.
  QCoreApplication::sendPostedEvents();
}

TEST(FrontendQt, AMessageWindowBlocksExactlyWhatTheModelBlocks) {
  x_escapes = 0;
  y_continues = 0;
  y_closed = false;
  run_front_end(
      [] {
        std::thread b([] {
          Window* y = create_modeless(139, y_proc);
          show_window(y);
          while (!y_closed) {
            if (!poll_event(y)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
          destroy_window(y);
        });
        Window* z = create_modeless(105, [](Window*, const Event&) { return 1; });
        show_window(z);
        run_modal(141, x_proc);
        destroy_window(z);
        b.join();
      },
      [] {
        QtBlocking blocking;
        qt_blocking = &blocking;
        qApp->installEventFilter(&blocking);
        QDialog* x = wait_for_dialog(141);
        QDialog* y = wait_for_dialog(139);
        QDialog* z = wait_for_dialog(105);
        ASSERT_TRUE(x && y && z);
        int owned_number = 0;
        int task_modal_number = 0;
        {
          SCOPED_TRACE("a message owned by X blocks X alone");
          ASSERT_TRUE(takes_click(x, 1028));
          QMessageBox* owned = wait_for_message();
          ASSERT_NE(owned, nullptr);
          owned_number = owned->property("vxt_message").toInt();
          EXPECT_EQ(owned->parentWidget(), x);
          EXPECT_FALSE(takes_click(x, 1029));
          EXPECT_TRUE(takes_click(z, command_cancel));
          EXPECT_TRUE(takes_click(y, command_ok));
          EXPECT_TRUE(wait_until([] { return y_continues == 1; }));
          dismiss(owned);
        }
        {
          SCOPED_TRACE("a task-modal message blocks every window of its thread, X and Z");
          ASSERT_TRUE(wait_until([&] { return shown_message() == nullptr; }));
          ASSERT_TRUE(takes_click(x, 1029));
          QMessageBox* task_modal = wait_for_message(owned_number);
          ASSERT_NE(task_modal, nullptr);
          task_modal_number = task_modal->property("vxt_message").toInt();
          EXPECT_EQ(task_modal->parentWidget(), nullptr);
          EXPECT_FALSE(takes_click(x, 1028));
          EXPECT_FALSE(takes_click(z, command_cancel));
          EXPECT_TRUE(takes_click(y, command_ok)) << "thread B's window takes input";
          EXPECT_TRUE(wait_until([] { return y_continues == 2; }));
          dismiss(task_modal);
        }
        {
          SCOPED_TRACE("a message owned by none blocks nothing");
          ASSERT_TRUE(wait_until([&] { return shown_message() == nullptr; }));
          ASSERT_TRUE(takes_click(y, command_cancel));
          QMessageBox* unowned = wait_for_message(task_modal_number);
          ASSERT_NE(unowned, nullptr);
          EXPECT_EQ(unowned->parentWidget(), nullptr);
          QTest::keyClick(x, Qt::Key_Escape);
          EXPECT_TRUE(wait_until([] { return x_escapes == 1; })) << "X takes input meanwhile";
          EXPECT_TRUE(takes_click(z, command_cancel));
          EXPECT_TRUE(takes_click(y, command_ok)) << "even the caller's own window takes it";
          dismiss(unowned);
          // Y's thread was held by the message; the click waited in Y's queue.
          EXPECT_TRUE(wait_until([] { return y_continues == 3; }));
        }
        y->close();
        x->close();
        qApp->removeEventFilter(&blocking);
      });
  EXPECT_TRUE(y_closed.load());
}

}  // namespace
}  // namespace vxt
