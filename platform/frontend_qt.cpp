// The desktop front end: shows the window model with Qt 6 Widgets and turns what the person
// does into gestures.
//
// The model notifies from wizard threads while it holds its lock, so every notification only
// copies its data and queues the work to the GUI thread. Widgets never decide anything: a
// click, a key or the close box becomes a gesture, and the window goes away only when the
// model says it is destroyed. Input reaches a window exactly when the model would take it:
// while a message window blocks it (its owner, or every window of the thread that shows a
// task-modal one), the front end keeps the person's input out, and only then.
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFont>
#include <QFontMetrics>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QValidator>

#include <algorithm>
#include <cmath>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "platform/frontend.h"

namespace vxt {
namespace {

// ---- texts ---------------------------------------------------------------------------------

// Texts are bytes in a single-byte character set; Latin-1 maps them one to one.
QString from_bytes(const std::string& bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string to_bytes(const QString& text) {
  const QByteArray bytes = text.toLatin1();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// Multi-line texts carry "\r\n"; Qt widgets break lines at "\n".
QString display_lines(const std::string& bytes) {
  QString text = from_bytes(bytes);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return text;
}

std::string model_lines(QString text) {
  text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  return to_bytes(text);
}

// Static texts treat '&' as a mnemonic marker: "&&" shows one '&', a single '&' nothing.
QString without_mnemonics(const QString& text) {
  QString shown;
  shown.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == QLatin1Char('&') && i + 1 < text.size()) ++i;
    shown.append(text[i]);
  }
  return shown;
}

// ---- metrics -------------------------------------------------------------------------------

std::mutex metrics_mutex;
frontend::Metrics stored_metrics;

// The templates are laid out for 8-point "MS Sans Serif"; fontconfig picks the nearest face.
QFont dialog_font() {
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  return font;
}

frontend::Metrics measure_metrics() {
  frontend::Metrics metrics;
  const QFontMetrics font_metrics(dialog_font());
  // The average width of the Latin letters, rounded, and the line height, as dialog units use.
  const int letters = font_metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  metrics.base_x = std::max(1, (letters / 26 + 1) / 2);
  metrics.base_y = std::max(1, font_metrics.height());
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    metrics.screen_width = screen->geometry().width();
    metrics.screen_height = screen->geometry().height();
  }
  return metrics;
}

// ---- widgets -------------------------------------------------------------------------------

// Turns typed letters into capitals. It may rewrite the input, so textEdited carries the
// capitals; characters whose capital lies outside the character set stay as typed.
class UpperCaseValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int& /*position*/) const override {
    for (QChar& c : input) {
      const QChar upper = c.toUpper();
      if (upper.unicode() < 256) c = upper;
    }
    return Acceptable;
  }
};

// The program's icon, rendered from its SVG at build time in every hicolor size and embedded,
// so windows and the dialogs' icon control stay sharp at any scale.
const QIcon& program_icon() {
  static const QIcon icon = [] {
    QIcon made;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
      made.addFile(QStringLiteral(":/icons/%1x%1/apps/vxt-upgrade.png").arg(size),
                   QSize(size, size));
    }
    return made;
  }();
  return icon;
}

// Read-only single-line texts keep their text unselected when tabbed to: a selected read-only
// value looks like something about to be replaced.
class TextLine : public QLineEdit {
 public:
  using QLineEdit::QLineEdit;

 protected:
  void focusInEvent(QFocusEvent* event) override {
    QLineEdit::focusInEvent(event);
    if (isReadOnly()) deselect();
  }
};

// Pixels a line of text needs beyond its own advance inside each kind of box (frames,
// margins, the caret).
constexpr int text_area_overhead = 6;
constexpr int text_line_overhead = 10;
constexpr int label_overhead = 2;
constexpr int button_overhead = 12;
// A long device value scrolls in its box rather than stretching the whole window.
constexpr double widest_text_fit = 1.6;

// Lines of `text` when it wraps at `width` pixels (as a word-wrapping label or text area does).
int wrapped_line_count(const QFontMetrics& font_metrics, const QString& text, int width) {
  const QRect bounds =
      font_metrics.boundingRect(QRect(0, 0, std::max(1, width), 1 << 20), Qt::TextWordWrap, text);
  return std::max(1, (bounds.height() + font_metrics.lineSpacing() / 2) /
                         std::max(1, font_metrics.lineSpacing()));
}

// How much wider than its template a window is drawn so that its texts break only where the
// templates' own font breaks them. The templates were sized for "MS Sans Serif"; the face
// that stands in for it (DejaVu Sans on most Linux desktops) sets the same words wider
// relative to its average letter, so the base units alone do not hold the texts. A text that
// carries its own line breaks must keep each line whole; one without breaks may wrap within
// the lines its box is tall enough for, as the original does, and so may a line far longer
// than its box (a paragraph). 1 when everything fits.
double text_fit_scale(const WindowSnapshot& window, const frontend::Metrics& metrics) {
  const QFontMetrics font_metrics(dialog_font());
  double scale = 1.0;
  for (const ControlState& control : window.controls) {
    int overhead = 0;
    const bool read_only = (control.style & style_read_only) != 0;
    if (control.kind == ControlKind::static_text) {
      overhead = label_overhead;
    } else if (control.kind == ControlKind::push_button) {
      overhead = button_overhead;
    } else if (control.kind == ControlKind::edit && read_only) {
      overhead = (control.style & style_multi_line) ? text_area_overhead : text_line_overhead;
    } else {
      continue;  // what a person types may be as long as they like; the box scrolls
    }
    const double room = control.width * metrics.base_x / 4.0;
    if (room <= 0 || control.text.empty()) continue;
    QString text = display_lines(control.text);
    if (control.kind == ControlKind::static_text) text = without_mnemonics(text);
    const int box_lines = control.height * metrics.base_y / 8 / std::max(1, font_metrics.height());
    const bool may_wrap =
        control.kind != ControlKind::push_button && !text.contains(QLatin1Char('\n')) &&
        box_lines >= 2 &&
        (control.kind == ControlKind::static_text || (control.style & style_multi_line) != 0);
    if (may_wrap) {
      double needed = 1.0;
      while (needed < widest_text_fit &&
             wrapped_line_count(font_metrics, text, static_cast<int>(room * needed) - overhead) >
                 box_lines) {
        needed += 0.05;
      }
      scale = std::max(scale, needed);
      continue;
    }
    for (const QString& line : text.split(QLatin1Char('\n'))) {
      const int needed = font_metrics.horizontalAdvance(line) + overhead;
      // A line that no stretch could hold is a paragraph, meant to wrap in its box.
      if (needed > room && needed <= room * widest_text_fit) scale = std::max(scale, needed / room);
    }
  }
  return std::min(scale, widest_text_fit);
}

void blend_into_dialog(QWidget* widget) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Window));
  widget->setPalette(palette);
}

Qt::Alignment horizontal_alignment(unsigned style) {
  if (style & style_align_right) return Qt::AlignRight;
  if (style & style_align_center) return Qt::AlignHCenter;
  return Qt::AlignLeft;
}

// Message windows are at least this wide (dialog units), whatever their text.
constexpr int message_min_width_units = 160;

int clamped(int value, int low, int high) { return std::min(std::max(value, low), high); }

class DialogWindow : public QDialog {
 public:
  DialogWindow(const WindowSnapshot& window, const frontend::Metrics& metrics)
      : number_(window.number), metrics_(metrics), scale_x_(text_fit_scale(window, metrics)) {
    setObjectName(QStringLiteral("window_%1").arg(window.number));
    setProperty("vxt_dialog", window.dialog);
    setProperty("vxt_window", window.number);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(dialog_font());
    setWindowTitle(from_bytes(window.caption));

    QWidget* previous = nullptr;
    for (const ControlState& control : window.controls) {
      QWidget* widget = make_control(control);
      widget->setGeometry(to_x(control.x), control.y * metrics.base_y / 8,
                          std::max(1, to_x(control.width)),
                          std::max(1, control.height * metrics.base_y / 8));
      if (control.kind == ControlKind::drop_down_list) {
        // The template's height includes the dropped list; the closed box keeps its own.
        widget->resize(widget->width(), widget->sizeHint().height());
      }
      if (control.id != no_control_id) {
        widget->setObjectName(QStringLiteral("control_%1").arg(control.id));
      }
      if (widget->focusPolicy() != Qt::NoFocus) {
        if (control.style & style_no_tab_stop) widget->setFocusPolicy(Qt::ClickFocus);
        if (previous) QWidget::setTabOrder(previous, widget);
        previous = widget;
      }
    }

    // The model's size is in pixels of our own base units; never cut the laid-out controls.
    const int width = std::max(window.width, to_x(window.width_units));
    const int height = std::max(window.height, window.height_units * metrics.base_y / 8);
    setFixedSize(std::max(1, width), std::max(1, height));
    // A window drawn wider than the model knows it keeps the centre the model gave it.
    widened_by_ = std::max(0, width - window.width);
    setProperty("vxt_scale_x", scale_x_);
    place(window.x, window.y);
    setWindowIcon(program_icon());
    set_focus(window.focus);
    blocked_ = window.blocked;
  }

  // Moves to where the model put the window.
  void place(int x, int y) { move(x - widened_by_ / 2, y); }

  bool blocked() const { return blocked_; }
  void set_blocked(bool blocked) { blocked_ = blocked; }

  void change(const ControlState& control, ControlChange what) {
    auto found = controls_.find(control.id);
    if (found == controls_.end()) return;
    Control& entry = found->second;
    switch (what) {
      case ControlChange::text:
        set_text(entry, control.text);
        break;
      case ControlChange::progress:
        set_progress(entry, control);
        break;
      case ControlChange::list:
        set_list(entry, control);
        break;
    }
  }

  void set_focus(int control_id) {
    auto found = controls_.find(control_id);
    if (found == controls_.end()) return;
    QWidget* widget = found->second.widget;
    widget->setFocus(Qt::OtherFocusReason);
    // The wizard moves the focus into a box after refusing its text (an invalid address):
    // selected, the next keystroke replaces the bad text.
    if (auto* edit = qobject_cast<QLineEdit*>(widget); edit && !edit->isReadOnly()) {
      edit->selectAll();
    }
  }

  void reject() override { escape(); }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    const int key = event->key();
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
      // A focused push button takes Enter itself; anywhere else Enter means the default one.
      std::string error;
      gesture::key_enter(number_, &error);
      event->accept();
      return;
    }
    if (plain && key == Qt::Key_Escape) {
      escape();
      event->accept();
      return;
    }
    QDialog::keyPressEvent(event);
  }

  void closeEvent(QCloseEvent* event) override {
    // The model decides what the close box does; the window goes when the model destroys it.
    event->ignore();
    std::string error;
    gesture::close(number_, &error);
  }

 private:
  struct Control {
    ControlKind kind;
    unsigned style;
    QWidget* widget;
    // Texts the person typed and sent, not yet seen coming back from the model.
    std::deque<QString> typed;
  };

  void escape() {
    std::string error;
    gesture::key_escape(number_, &error);
  }

  void typed(int id, const QString& shown, const std::string& text) {
    auto found = controls_.find(id);
    if (found == controls_.end()) return;
    std::deque<QString>& typed_texts = found->second.typed;
    typed_texts.push_back(shown);
    if (typed_texts.size() > 64) typed_texts.pop_front();
    std::string error;
    // A refused gesture is not echoed.
    if (!gesture::type_text(number_, id, text, &error)) typed_texts.pop_back();
  }

  QWidget* make_control(const ControlState& control) {
    QWidget* widget = nullptr;
    const int id = control.id;
    const unsigned style = control.style;
    switch (control.kind) {
      case ControlKind::push_button: {
        auto* button = new QPushButton(this);
        button->setAutoDefault(true);
        button->setDefault((style & style_default) != 0);
        connect(button, &QPushButton::clicked, this, [this, id] {
          std::string error;
          gesture::press(number_, id, &error);
        });
        widget = button;
        break;
      }
      case ControlKind::static_text: {
        auto* label = new QLabel(this);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setAlignment(horizontal_alignment(style) | Qt::AlignTop);
        if (style & style_border) label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        widget = label;
        break;
      }
      case ControlKind::edit:
        widget = (style & style_multi_line) ? make_multi_line_edit(id, style)
                                            : make_line_edit(id, style);
        break;
      case ControlKind::ipv4_field: {
        // Any text may be typed: whether it is an address is the wizard's decision.
        auto* edit = new QLineEdit(this);
        edit->setMaxLength(30);
        connect(edit, &QLineEdit::textEdited, this,
                [this, id](const QString& text) { typed(id, text, to_bytes(text)); });
        widget = edit;
        break;
      }
      case ControlKind::progress_bar: {
        auto* bar = new QProgressBar(this);
        bar->setTextVisible(false);
        widget = bar;
        break;
      }
      case ControlKind::drop_down_list: {
        auto* list = new QComboBox(this);
        list->setEditable(false);
        // activated comes from the person only, never from setCurrentIndex.
        connect(list, &QComboBox::activated, this, [this, id](int index) {
          std::string error;
          gesture::select(number_, id, index, &error);
        });
        widget = list;
        break;
      }
      case ControlKind::icon: {
        auto* picture = new QLabel(this);
        picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = picture;
        break;
      }
    }
    Control entry{control.kind, style, widget, {}};
    set_text(entry, control.text);
    if (control.kind == ControlKind::progress_bar) set_progress(entry, control);
    if (control.kind == ControlKind::drop_down_list) set_list(entry, control);
    if (control.kind == ControlKind::icon) {
      // Icons keep their natural size at the control's corner, as dialogs draw them.
      auto* picture = static_cast<QLabel*>(widget);
      picture->setPixmap(program_icon().pixmap(QSize(32, 32), devicePixelRatioF()));
    }
    if (id != no_control_id) controls_[id] = std::move(entry);
    return widget;
  }

  QWidget* make_line_edit(int id, unsigned style) {
    auto* edit = new TextLine(this);
    edit->setReadOnly((style & style_read_only) != 0);
    edit->setFrame((style & style_border) != 0 || !(style & style_read_only));
    edit->setAlignment(horizontal_alignment(style) | Qt::AlignVCenter);
    if (style & style_masked) edit->setEchoMode(QLineEdit::Password);
    if (style & style_upper_case) edit->setValidator(new UpperCaseValidator(edit));
    if (style & style_read_only) blend_into_dialog(edit);
    connect(edit, &QLineEdit::textEdited, this,
            [this, id](const QString& text) { typed(id, text, to_bytes(text)); });
    return edit;
  }

  QWidget* make_multi_line_edit(int id, unsigned style) {
    auto* edit = new QPlainTextEdit(this);
    const bool read_only = (style & style_read_only) != 0;
    edit->setReadOnly(read_only);
    if (!(style & style_border)) edit->setFrameStyle(QFrame::NoFrame);
    edit->setVerticalScrollBarPolicy((style & style_vscroll) ? Qt::ScrollBarAsNeeded
                                                             : Qt::ScrollBarAlwaysOff);
    edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    edit->setLineWrapMode((style & style_auto_hscroll) ? QPlainTextEdit::NoWrap
                                                       : QPlainTextEdit::WidgetWidth);
    edit->document()->setDocumentMargin(1);
    QTextOption option = edit->document()->defaultTextOption();
    option.setAlignment(horizontal_alignment(style));
    edit->document()->setDefaultTextOption(option);
    if (read_only) {
      blend_into_dialog(edit);
      edit->viewport()->setAutoFillBackground(false);
      // A caret shows where the focus is when the text is tabbed to; nothing gets selected.
      edit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    } else {
      // QPlainTextEdit has no textEdited; programmatic changes are fenced by the flag.
      connect(edit, &QPlainTextEdit::textChanged, this, [this, id, edit] {
        if (edit->property("vxt_setting").toBool()) return;
        const QString shown = edit->toPlainText();
        typed(id, shown, model_lines(shown));
      });
    }
    return edit;
  }

  static QString shown_text(const Control& control) {
    if (auto* edit = qobject_cast<QLineEdit*>(control.widget)) return edit->text();
    if (auto* edit = qobject_cast<QPlainTextEdit*>(control.widget)) return edit->toPlainText();
    return QString();
  }

  void set_text(Control& control, const std::string& text) {
    const bool line_edit = qobject_cast<QLineEdit*>(control.widget) != nullptr;
    const QString shown = line_edit ? from_bytes(text) : display_lines(text);
    if (auto* edit = qobject_cast<QPlainTextEdit*>(control.widget); edit || line_edit) {
      // The model echoes what the person typed; leave the widget (and its cursor) alone then.
      // Newer typing may already stand in the widget then; it comes back in its own turn.
      auto echoed = std::find(control.typed.begin(), control.typed.end(), shown);
      if (echoed != control.typed.end()) {
        control.typed.erase(control.typed.begin(), echoed + 1);
        return;
      }
      control.typed.clear();
      if (shown == shown_text(control)) return;
      if (edit) {
        edit->setProperty("vxt_setting", true);
        edit->setPlainText(shown);
        edit->setProperty("vxt_setting", false);
      } else {
        static_cast<QLineEdit*>(control.widget)->setText(shown);
      }
      return;
    }
    if (auto* button = qobject_cast<QPushButton*>(control.widget)) {
      button->setText(shown);
    } else if (control.kind == ControlKind::static_text) {
      static_cast<QLabel*>(control.widget)->setText(without_mnemonics(shown));
    }
  }

  static void set_progress(Control& control, const ControlState& state) {
    auto* bar = qobject_cast<QProgressBar*>(control.widget);
    if (!bar) return;
    // The model keeps positions outside the range; only the display is clamped.
    // An empty range shows an empty bar, not Qt's busy indicator.
    const int low = state.range_min;
    const int high = std::max(state.range_min, state.range_max);
    bar->setRange(low, high > low ? high : low + 1);
    bar->setValue(clamped(state.position, low, high));
  }

  static void set_list(Control& control, const ControlState& state) {
    auto* list = qobject_cast<QComboBox*>(control.widget);
    if (!list) return;
    QStringList items;
    for (const std::string& item : state.items) items.append(from_bytes(item));
    bool same = list->count() == items.size();
    for (int i = 0; same && i < list->count(); ++i) same = list->itemText(i) == items[i];
    if (!same) {
      list->clear();
      list->addItems(items);
    }
    const int selected =
        (state.selected >= 0 && state.selected < list->count()) ? state.selected : -1;
    if (list->currentIndex() != selected) list->setCurrentIndex(selected);
  }

  // Dialog units to pixels across; the vertical unit is never stretched.
  int to_x(int units) const {
    return static_cast<int>(std::floor(units * metrics_.base_x * scale_x_ / 4.0));
  }

  int number_;
  frontend::Metrics metrics_;
  double scale_x_;
  int widened_by_ = 0;
  std::map<int, Control> controls_;
  bool blocked_ = false;
};

// What a person does to a window: kept out of a blocked one. Everything else (painting,
// hovering, the model's own changes) goes on.
bool is_input(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::Close:
      return true;
    default:
      return false;
  }
}

// ---- the GUI thread's side -----------------------------------------------------------------

// Lives on the GUI thread; queued notifications run in its context.
class Hub : public QObject {
 public:
  Hub() { qApp->installEventFilter(this); }
  ~Hub() override {
    qApp->removeEventFilter(this);
    for (auto& [number, box] : messages) delete box.data();
    for (auto& [number, window] : windows) delete window;
  }

  DialogWindow* window(int number) const {
    auto found = windows.find(number);
    return found == windows.end() ? nullptr : found->second;
  }

  std::map<int, DialogWindow*> windows;
  std::map<int, QPointer<QMessageBox>> messages;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!is_input(event->type()) || !watched->isWidgetType()) return false;
    auto* dialog = dynamic_cast<DialogWindow*>(static_cast<QWidget*>(watched)->window());
    if (dialog == nullptr || !dialog->blocked()) return false;
    // A close that is merely swallowed would count as accepted and hide the window.
    event->ignore();
    return true;
  }
};

std::mutex hub_mutex;
Hub* hub = nullptr;  // set while run() has its QApplication

// Queues work for the GUI thread. Never blocks beyond posting an event.
void post(std::function<void(Hub&)> work) {
  std::lock_guard<std::mutex> lock(hub_mutex);
  if (!hub) return;
  Hub* target = hub;
  QMetaObject::invokeMethod(
      target, [target, work = std::move(work)] { work(*target); }, Qt::QueuedConnection);
}

// Progress bars may move every millisecond and the upload's caption changes with every block,
// and a person sees no more than the screen shows. The newest state of each moved bar and
// each changed caption waits here (under hub_mutex), and the GUI thread takes them all at
// once, `display_interval_ms` after the first: a moving bar costs a few dozen repaints a
// second, not a thousand events.
struct PendingDisplay {
  std::map<std::pair<int, int>, ControlState> bars;  // by window and control
  std::map<int, std::string> captions;               // by window
  bool flush_posted = false;
};
PendingDisplay pending_display;
constexpr int display_interval_ms = 30;

void flush_display(Hub& gui) {
  PendingDisplay latest;
  {
    std::lock_guard<std::mutex> lock(hub_mutex);
    std::swap(latest, pending_display);
  }
  for (const auto& [window, caption] : latest.captions) {
    if (DialogWindow* dialog = gui.window(window)) dialog->setWindowTitle(from_bytes(caption));
  }
  for (const auto& [key, state] : latest.bars) {
    if (DialogWindow* dialog = gui.window(key.first))
      dialog->change(state, ControlChange::progress);
  }
}

// Lock held. The first change after a flush schedules the next one.
void schedule_display_flush() {
  if (pending_display.flush_posted) return;
  pending_display.flush_posted = true;
  Hub* target = hub;
  QMetaObject::invokeMethod(
      target,
      [target] {
        QTimer::singleShot(display_interval_ms, target, [target] { flush_display(*target); });
      },
      Qt::QueuedConnection);
}

void post_progress(int window, const ControlState& control) {
  std::lock_guard<std::mutex> lock(hub_mutex);
  if (!hub) return;
  pending_display.bars[{window, control.id}] = control;
  schedule_display_flush();
}

void post_caption(int window, const std::string& caption) {
  std::lock_guard<std::mutex> lock(hub_mutex);
  if (!hub) return;
  pending_display.captions[window] = caption;
  schedule_display_flush();
}

void retire(QWidget* widget) {
  widget->hide();
  widget->deleteLater();  // a nested loop (a context menu, say) may still be inside it
}

}  // namespace

namespace frontend {

int run(int argc, char** argv, void (*start_wizard)()) {
  static char program_name[] = "vxt-upgrade";
  static char* fallback_argv[] = {program_name, nullptr};
  int qt_argc = argc;
  char** qt_argv = argv;
  if (argc <= 0 || !argv || !argv[0]) {
    qt_argc = 1;
    qt_argv = fallback_argv;
  }
  QApplication application(qt_argc, qt_argv);
  // Between two screens no window may be open; the process ends through the wizard.
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(program_icon());
  QGuiApplication::setDesktopFileName(QStringLiteral("vxt-upgrade"));
  {
    const Metrics measured = measure_metrics();
    std::lock_guard<std::mutex> lock(metrics_mutex);
    stored_metrics = measured;
  }
  auto* gui_hub = new Hub;
  {
    std::lock_guard<std::mutex> lock(hub_mutex);
    hub = gui_hub;
  }
  if (start_wizard) start_wizard();
  const int status = QApplication::exec();
  {
    std::lock_guard<std::mutex> lock(hub_mutex);
    hub = nullptr;
    pending_display = PendingDisplay{};  // its flush went with the hub; a later run starts clean
  }
  delete gui_hub;
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // retired windows
  return status;
}

Metrics metrics() {
  std::lock_guard<std::mutex> lock(metrics_mutex);
  return stored_metrics;
}

void window_shown(const WindowSnapshot& window) {
  post([window, measured = metrics()](Hub& gui) {
    if (DialogWindow* old = gui.window(window.number)) retire(old);
    auto* dialog = new DialogWindow(window, measured);
    gui.windows[window.number] = dialog;
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
  });
}

void caption_changed(int window, const std::string& caption) { post_caption(window, caption); }

void control_changed(int window, const ControlState& control, ControlChange change) {
  if (change == ControlChange::progress) {
    post_progress(window, control);
    return;
  }
  post([window, control, change](Hub& gui) {
    if (DialogWindow* dialog = gui.window(window)) dialog->change(control, change);
  });
}

void focus_changed(int window, int control) {
  post([window, control](Hub& gui) {
    if (DialogWindow* dialog = gui.window(window)) dialog->set_focus(control);
  });
}

void window_moved(int window, int x, int y) {
  post([window, x, y](Hub& gui) {
    if (DialogWindow* dialog = gui.window(window)) {
      dialog->place(x, y);
      dialog->raise();
    }
  });
}

void window_destroyed(int window, bool /*had_result*/, int /*result*/) {
  post([window](Hub& gui) {
    auto found = gui.windows.find(window);
    if (found == gui.windows.end()) return;
    retire(found->second);
    gui.windows.erase(found);
  });
}

void message_opened(const MessageSnapshot& message) {
  post([message](Hub& gui) {
    DialogWindow* owner = gui.window(message.owner);
    auto* box = new QMessageBox(owner);
    box->setObjectName(QStringLiteral("message_%1").arg(message.number));
    box->setProperty("vxt_message", message.number);
    box->setIcon(QMessageBox::NoIcon);
    box->setTextFormat(Qt::PlainText);
    box->setWindowTitle(from_bytes(message.title));
    box->setText(display_lines(message.text));
    box->setStandardButtons(QMessageBox::Ok);
    // Drawn like the screens: their font, a plain OK button, room for a short message.
    box->setFont(dialog_font());
    box->setWindowIcon(program_icon());
    if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
      ok->setIcon(QIcon());
      ok->setFont(dialog_font());
    }
    if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
      label->setFont(dialog_font());
      label->setMinimumWidth(message_min_width_units * metrics().base_x / 4);
    }
    // Qt's own modality can only block the owner or everything; what a task-modal message
    // blocks comes from the model (input_blocked), and a message owned by none blocks nothing.
    box->setWindowModality(owner ? Qt::WindowModal : Qt::NonModal);
    const int number = message.number;
    // OK, Escape and the close box all dismiss a window with one OK button.
    QObject::connect(box, &QMessageBox::finished, box, [number] {
      std::string error;
      gesture::dismiss(number, &error);
    });
    if (QMessageBox* old = gui.messages[number]) retire(old);
    gui.messages[number] = box;
    box->show();
    box->raise();
    box->activateWindow();
  });
}

void message_closed(int message) {
  post([message](Hub& gui) {
    auto found = gui.messages.find(message);
    if (found == gui.messages.end()) return;
    if (QMessageBox* box = found->second) {
      QObject::disconnect(box, &QMessageBox::finished, nullptr, nullptr);
      retire(box);
    }
    gui.messages.erase(found);
  });
}

void input_blocked(int window, bool blocked) {
  post([window, blocked](Hub& gui) {
    if (DialogWindow* dialog = gui.window(window)) dialog->set_blocked(blocked);
  });
}

// A person sees the window go; nothing more to say.
void gesture_refused(const std::string& /*text*/) {}

void process_ending(int /*status*/) {
  // Nothing is buffered here: everything shown is already on the screen.
}

}  // namespace frontend
}  // namespace vxt
