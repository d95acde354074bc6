#include "app/main_frame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>
#include <variant>

#include "app/about_dlg.h"
#include "app/console_edit.h"
#include "app/cursor_override.h"
#include "app/drawer_view.h"
#include "app/field_text.h"
#include "app/fonts.h"
#include "app/info_view.h"
#include "app/lock_indicators.h"
#include "app/offload_panel.h"
#include "app/password_dlg.h"
#include "app/profile_problems.h"
#include "app/recorder_picker.h"
#include "app/settings_bar.h"
#include "app/store_space.h"
#include "app/strings.h"
#include "app/upload_status.h"
#include "console/control_ids.h"
#include "console/printable.h"
#include "console/profile_file.h"
#include "sim/sim_bus.h"
#ifdef KBC_HAVE_UDEV
#include "app/usb_monitor.h"
#endif

namespace kbc::app {
namespace {

QLabel* indicator(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  label->setAlignment(Qt::AlignCenter);
  return label;
}

bool is_lock_key(int key) {
  return key == Qt::Key_CapsLock || key == Qt::Key_NumLock || key == Qt::Key_ScrollLock;
}

// While a handler waits for the operator's answer, the cursor is the ordinary one again.
class OperatorCursor {
 public:
  OperatorCursor() {
    if (QApplication::overrideCursor()) {
      arrow_.emplace(Qt::ArrowCursor);
    }
  }

 private:
  std::optional<CursorOverride> arrow_;
};

}  // namespace

QSize frame_size(qreal logical_dpi, const QScreen* screen) {
  // Scaled like the settings bar, with the screen's DPI, and never taller than the screen.
  const qreal scale = logical_dpi >= 24 && logical_dpi <= 960 ? logical_dpi / 96 : 1;
  const int height = qRound(kFrameHeight * scale);
  return {qRound(kFrameWidth * scale),
          screen ? std::min(height, screen->availableGeometry().height()) : height};
}

BarScroller::BarScroller(SettingsBar* bar, QWidget* parent) : QScrollArea(parent) {
  setFrameShape(QFrame::NoFrame);
  setWidget(bar);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

QSize BarScroller::sizeHint() const {
  return widget()->size();
}

QSize BarScroller::minimumSizeHint() const {
  return {0, 0};
}

CMainFrame::CMainFrame(const DialogTemplate& settings_bar, link::Link link, console::Clock& clock,
                       console::AuditTrail* trail, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint),
      trail_(trail),
      console_(carried_, link, clock, trail),
      drawer_(console_, link) {
  setWindowTitle(text::app_title());
  // The menu and the status bar speak Chinese too; set before they are laid out, so that they
  // are laid out once.
  QFont chinese = cjk_font();
  chinese.setPointSize(9);
  setFont(chinese);

  QMenu* profile_menu = menuBar()->addMenu(text::with_mnemonic(text::profile_menu(), 'P'));
  profile_menu->addAction(text::apply_to_chosen(), this,
                          [this] { choose_profile(console::ApplyTo::chosen); });
  profile_menu->addAction(text::apply_to_every(), this,
                          [this] { choose_profile(console::ApplyTo::every); });
  QMenu* offload_menu = menuBar()->addMenu(text::with_mnemonic(text::offload_menu(), 'E'));
  offload_menu->addAction(text::offload_chosen(), this,
                          [this] { start_offload(console::ApplyTo::chosen); });
  offload_menu->addAction(text::offload_every(), this,
                          [this] { start_offload(console::ApplyTo::every); });
  offload_menu->addSeparator();
  offload_menu->addAction(text::drawer_item(), this, &CMainFrame::show_drawer_view);
  QMenu* about_menu = menuBar()->addMenu(text::with_mnemonic(text::about_menu(), 'H'));
  about_menu->addAction(text::with_mnemonic(text::about_item(), 'A'), this, &CMainFrame::about);

  auto* client = new QWidget(this);
  auto* layout = new QVBoxLayout(client);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  bar_ = new SettingsBar(settings_bar, client);
  bar_scroller_ = new BarScroller(bar_, client);
  pane_ = new CFtpInfoView(client);
  // The pane takes what the bar leaves, and keeps a few lines even on a short screen, where the
  // bar scrolls instead.
  pane_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
  pane_->setMinimumHeight(pane_->height_for_lines(kLeastPaneLines));
  layout->addWidget(bar_scroller_);
  layout->addWidget(pane_, 1);
  setCentralWidget(client);

  statusBar()->setSizeGripEnabled(false);
  idle_ = new QLabel(text::idle(), statusBar());
  statusBar()->addWidget(idle_, 1);
  picker_ = new RecorderPicker(statusBar());
  statusBar()->addPermanentWidget(picker_);
  connect(picker_, &RecorderPicker::picked, this, [this](const console::ConnectedRecorder& picked) {
    post([this, picked] {
      drawer_.pick(picked);
      show_drawer();
    });
  });
  simulated_ = indicator(text::simulated(), statusBar());
  simulated_->hide();
  statusBar()->addPermanentWidget(simulated_);
  caps_ = indicator(text::caps_lock(), statusBar());
  num_ = indicator(text::num_lock(), statusBar());
  scroll_ = indicator(text::scroll_lock(), statusBar());
  for (QLabel* label : {caps_, num_, scroll_}) {
    statusBar()->addPermanentWidget(label);
  }
  update_lock_indicators();
  qApp->installEventFilter(this);

  connect(&thread_, &ConsoleThread::job_started, this,
          [this] { waits_.push_back(std::make_unique<CursorOverride>(Qt::WaitCursor)); });
  connect(&thread_, &ConsoleThread::job_finished, this, [this] {
    if (!waits_.empty()) {
      waits_.pop_back();
    }
  });
  connect(&thread_, &ConsoleThread::idle, this, [this] {
    if (closing_) {
      close();
    }
    emit idle();
  });
  connect(bar_, &SettingsBar::command, this, &CMainFrame::run_command);
  // Nothing runs on the console thread yet, so its flags can be read here: locked until verified.
  show_button_states(button_states());
  for (const int id : {idc::user_number_field, idc::unit_number_field}) {
    connect(bar_->field(id), &QLineEdit::textChanged, this, [this, id] { field_changed(id); });
  }
  // Enter in the password field verifies it, as the button beside it does.
  connect(bar_->field(idc::password), &QLineEdit::returnPressed, bar_->button(idc::verify),
          &QPushButton::click);
  // The keyboard goes through the bar in reading order, then the pane and the recorder list, and
  // round again; the scroller around the bar is no stop of its own.
  bar_scroller_->setFocusPolicy(Qt::NoFocus);
  QWidget* previous = nullptr;
  for (QWidget* next : bar_->tab_chain()) {
    if (previous) {
      setTabOrder(previous, next);
    }
    previous = next;
  }
  setTabOrder(previous, pane_);
  setTabOrder(pane_, picker_->list());

  setFixedSize(frame_size(logicalDpiY(), QGuiApplication::primaryScreen()));
  // The recorders already plugged in.
  queue_refresh();
  // The icon is drawn by Qt's SVG plugin, loaded once the window is up. Null where the plugin is
  // missing; the window then has the platform's default icon.
  QTimer::singleShot(0, this,
                     [this] { setWindowIcon(QIcon(QStringLiteral(":/res/icons/kbc-q7.svg"))); });
}

CMainFrame::~CMainFrame() {
  if (followed_bus_) {
    followed_bus_->set_hotplug_listener({});
  }
  // The running call still reaches the window and the console; both outlive it.
  closing_ = true;
  thread_.stop();
}

void CMainFrame::mark_simulated() {
  simulated_->show();
}

bool CMainFrame::follow_udev(QString* why) {
#ifdef KBC_HAVE_UDEV
  auto monitor = std::make_unique<UsbMonitor>();
  if (!monitor->start(why)) {
    return false;
  }
  connect(monitor.get(), &UsbMonitor::recorder_plugged, this, &CMainFrame::recorder_plugged);
  monitor.release()->setParent(this);
  return true;
#else
  *why = QStringLiteral("no udev on this platform");
  return false;
#endif
}

void CMainFrame::follow(sim::SimBus& bus) {
  followed_bus_ = &bus;
  // The bus tells from whichever thread plugged the recorder in or out; the window hears here.
  bus.set_hotplug_listener([this](const std::string& location, bool) {
    QMetaObject::invokeMethod(
        this, [this, location = QString::fromStdString(location)] { recorder_plugged(location); },
        Qt::QueuedConnection);
  });
}

void CMainFrame::recorder_plugged(const QString& location) {
  plugged_.push_back(location.toStdString());
  queue_refresh();
}

void CMainFrame::queue_refresh() {
  // A burst of events (a hub of recorders plugged in) makes one refresh.
  if (refresh_queued_) {
    return;
  }
  refresh_queued_ = true;
  post([this] {
    const std::vector<std::string> plugged = thread_.carry([this] {
      refresh_queued_ = false;
      return std::exchange(plugged_, {});
    });
    for (const std::string& location : plugged) {
      drawer_.forget(location);
    }
    drawer_.refresh();
    show_drawer();
  });
}

void CMainFrame::show_drawer() {
  const console::DrawerState state = drawer_.state();
  thread_.carry([&] { picker_->show_state(state); });
  if (const auto heading = drawer_.heading_if_changed()) {
    carried_.append_line(*heading);
  }
}

void CMainFrame::come_forward(const QString& activation_token) {
  if (!activation_token.isEmpty()) {
    // Where the compositor wants a token to hand the focus over, the platform takes it from here.
    qputenv("XDG_ACTIVATION_TOKEN", activation_token.toUtf8());
  }
  setWindowState(windowState() &
                 ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
  show();
  raise();
  activateWindow();
}

void CMainFrame::about() {
  CAboutDlg dialog(this);
  dialog.exec();
}

void CMainFrame::choose_profile(console::ApplyTo to) {
  const QString path =
      QFileDialog::getOpenFileName(this, text::open_profile(), QString(), text::profile_filter());
  if (!path.isEmpty()) {
    apply_profile_file(path, to);
  }
}

void CMainFrame::apply_profile_file(const QString& path, console::ApplyTo to) {
  // Read here, a small regular file at most, so that a file that is no profile is reported
  // before anything is queued.
  const QByteArray name = QFileInfo(path).fileName().toUtf8();
  auto read = console::read_profile(QFile::encodeName(path).toStdString());
  if (const auto* error = std::get_if<console::ProfileError>(&read)) {
    QStringList problems;
    for (const std::string& line :
         console::problem_lines(*error, name.toStdString(), console::Language::chinese)) {
      problems.push_back(from_utf8(console::printable(line)));
    }
    ProfileProblemsBox box(text::profile_unusable(), problems, this);
    box.exec();
    return;
  }
  post([this, profile = std::get<console::Profile>(std::move(read)), name, to] {
    console_.apply_profile(profile, name.toStdString(), to);
    if (console_.needs_recorder_choice()) {
      drawer_.refresh();
      show_drawer();
    }
  });
}

void CMainFrame::show_store_space(const offload::Station& station,
                                  const std::filesystem::path& store) {
  // It takes the message pane's place: "就绪" while the store has room.
  store_space_ = new StoreSpace(station, evidence::Store(store), statusBar());
  statusBar()->removeWidget(idle_);
  idle_->deleteLater();
  idle_ = store_space_;
  statusBar()->insertWidget(0, store_space_, 1);
}

void CMainFrame::set_evidence(const std::filesystem::path& store, console::ErasePolicy policy,
                              offload::DiskWatch* watch, const QStringList& station_problems,
                              bool upload,
                              const std::optional<std::filesystem::path>& erase_store) {
  offload::OffloadSettings settings{evidence::Store(store),
                                    QStringLiteral("kbc-q7 %1").arg(text::version()).toStdString()};
  settings.trail = trail_;
  settings.watch = watch;
  if (upload) {
    // Verified bags wait here for the upload service; the status bar says how many.
    upload_queue_ = std::make_unique<upload::UploadQueue>(evidence::Store(store));
    settings.upload = upload_queue_.get();
    upload_status_ = new UploadStatus(*upload_queue_, statusBar());
    statusBar()->insertPermanentWidget(1, upload_status_);
  }
  offload_settings_ = std::move(settings);
  ledger_ = std::make_unique<offload::StoreLedger>(evidence::Store(erase_store.value_or(store)));
  // Nothing runs on the console thread before the window is shown.
  console_.set_erase_guard(ledger_.get(), policy);
  for (const QString& problem : station_problems) {
    pane_->append_info(text::station_problem() + problem);
  }
}

void CMainFrame::set_station_folder(std::filesystem::path folder) {
  station_folder_ = std::move(folder);
}

void CMainFrame::show_drawer_view() {
  // Built when first asked for: the window's start does not pay for it.
  if (drawer_view_ == nullptr) {
    drawer_view_ = new DrawerView(station_folder_, this);
  }
  drawer_view_->reload();
  drawer_view_->show();
  drawer_view_->raise();
}

void CMainFrame::start_offload(console::ApplyTo to) {
  if (!offload_settings_) {
    return;
  }
  // While the station service runs, the drawer is its own.
  if (!station_folder_.empty() && station::service_running(station_folder_)) {
    pane_->append_info(text::drawer_taken());
    return;
  }
  post([this, to] {
    const std::optional<link::Secret> password = console_.checked_password();
    const auto targets = password ? console_.addressed_targets(to) : std::nullopt;
    if (!targets) {
      if (console_.needs_recorder_choice()) {
        drawer_.refresh();
        show_drawer();
      }
      return;
    }
    carried_.append_line(text::offload_starting(static_cast<int>(targets->size())).toStdString());
    std::vector<offload::Switched> switched =
        offload::switch_recorders(console_.link(), *targets, *password, *offload_settings_, {});
    std::vector<offload::Switched> going;
    for (offload::Switched& recorder : switched) {
      if (recorder.ok()) {
        going.push_back(std::move(recorder));
        continue;
      }
      const offload::Offloaded& receipt = recorder.receipt;
      carried_.append_line(console::recorder_heading(
          receipt.location, receipt.serial.empty() ? std::nullopt : std::optional(receipt.serial)));
      for (const std::string& line : receipt.lines()) {
        carried_.append_line(line);
      }
    }
    if (going.empty()) {
      return;
    }
    thread_.carry([&] {
      if (!offload_panel_) {
        offload_panel_ = new OffloadPanel(this);
        connect(offload_panel_, &OffloadPanel::receipt, this, [this](const QStringList& lines) {
          for (const QString& line : lines) {
            pane_->append_info(line);
          }
          if (store_space_ != nullptr) {
            store_space_->refresh();
          }
        });
      }
      offload_panel_->start(std::move(going), *offload_settings_);
      offload_panel_->show();
      offload_panel_->raise();
    });
  });
}

std::string CMainFrame::field_text(int id) {
  const ConsoleEdit* field = bar_->field(id);
  return field ? field_utf8(field->text()) : std::string();
}

void CMainFrame::set_field_text(int id, std::string_view text) {
  if (ConsoleEdit* field = bar_->field(id)) {
    field->setText(from_utf8(text));
  }
}

std::string CMainFrame::selection_text(int id) {
  const QComboBox* list = bar_->list(id);
  return list && list->currentIndex() >= 0 ? list->currentText().toStdString() : std::string();
}

void CMainFrame::refill_list(int id, std::span<const std::string_view> items) {
  QStringList texts;
  for (const std::string_view item : items) {
    texts.push_back(from_utf8(item));
  }
  bar_->fill_list(id, texts);
}

void CMainFrame::limit_field(int id, int gbk_bytes) {
  if (ConsoleEdit* field = bar_->field(id)) {
    field->set_gbk_limit(gbk_bytes);
  }
}

void CMainFrame::show_control(int id, bool visible) {
  if (QWidget* control = bar_->control(id)) {
    control->setVisible(visible);
  }
}

void CMainFrame::append_line(std::string_view text) {
  if (g_pInfoView) {
    g_pInfoView->append_info(from_utf8(text));
  }
}

bool CMainFrame::ask_yes_no(std::string_view text, std::string_view caption) {
  // A window that is closing erases nothing.
  if (closing_) {
    return false;
  }
  const OperatorCursor cursor;
  QMessageBox box(QMessageBox::Warning, from_utf8(caption), from_utf8(text),
                  QMessageBox::Yes | QMessageBox::No, this);
  // Enter and Esc answer No: erasing takes an explicit Yes.
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void CMainFrame::show_message(std::string_view text) {
  if (closing_) {
    return;
  }
  const OperatorCursor cursor;
  QMessageBox box(QMessageBox::Warning, text::app_title(), from_utf8(text), QMessageBox::Ok, this);
  // What a profile file or the recorder gave is shown as text, never as markup.
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

void CMainFrame::run_password_dialog(console::PasswordDialog& dialog) {
  if (closing_) {
    return;
  }
  const OperatorCursor cursor;
  app::run_password_dialog(this, dialog, &thread_);
}

void CMainFrame::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // Only a show the program asks for; the window system's own (restoring a minimised window)
  // is no show notification and leaves the console as it is.
  if (!event->spontaneous()) {
    post([this] { console_.on_show(); });
  }
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  // Offloads still copying are cancelled only on the operator's word; what they stored stays,
  // and the next offload of the recorder goes on from it.
  if (offload_panel_ && offload_panel_->running() && !closing_) {
    QMessageBox box(QMessageBox::Question, text::app_title(), text::offload_running_question(),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() != QMessageBox::Yes) {
      event->ignore();
      return;
    }
    offload_panel_->cancel_all();
  }
  if (thread_.busy()) {
    closing_ = true;
    thread_.drop_queued();
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

void CMainFrame::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::ActivationChange) {
    update_lock_indicators();
  }
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyRelease && is_lock_key(static_cast<QKeyEvent*>(event)->key())) {
    update_lock_indicators();
  }
  return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::post(std::function<void()> call) {
  if (closing_) {
    return;
  }
  thread_.post([this, call = std::move(call)] {
    call();
    // A snapshot of the flags, taken where they change, for the buttons to show.
    const ButtonStates states = button_states();
    thread_.carry([&] { show_button_states(states); });
  });
}

void CMainFrame::run_command(int id) {
  post([this, id] {
    console_.on_command(id);
    // The console's own scan found several recorders: the status bar offers them even where no
    // udev event told of them.
    if (console_.needs_recorder_choice()) {
      drawer_.refresh();
      show_drawer();
    }
  });
}

void CMainFrame::field_changed(int id) {
  post([this, id] { console_.on_field_changed(id); });
}

CMainFrame::ButtonStates CMainFrame::button_states() const {
  // The bar's button list never changes after it is built.
  ButtonStates states;
  for (const int id : bar_->button_ids()) {
    states.emplace_back(id, console_.is_enabled(id));
  }
  return states;
}

void CMainFrame::show_button_states(const ButtonStates& states) {
  for (const auto& [id, enabled] : states) {
    bar_->button(id)->setEnabled(enabled);
  }
}

void CMainFrame::update_lock_indicators() {
  // Lit while the lock is on; greyed while it is off or no keyboard tells.
  const LockState state = read_lock_leds();
  caps_->setEnabled(state.caps.value_or(false));
  num_->setEnabled(state.num.value_or(false));
  scroll_->setEnabled(state.scroll.value_or(false));
}

}  // namespace kbc::app
