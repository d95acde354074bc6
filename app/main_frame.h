// CMainFrame: the tool's only window. A fixed-size frame with the profile and About menus, the
// settings bar across the top, the information pane below it and the status bar; it is the
// console's view and routes the bar's buttons and field changes to the console, which runs on a
// thread of its own: a click made during a session runs after it, in a session of its own, and the
// window paints and answers meanwhile. The status bar names the recorder the console talks to and,
// with several connected, lets the operator pick one; it follows the recorders as they come and go.
#pragma once

#include <QMainWindow>
#include <QScrollArea>
#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

#include "app/carried_view.h"
#include "app/console_thread.h"
#include "app/cursor_override.h"
#include "app/dialog_template.h"
#include "console/console.h"
#include "console/drawer.h"
#include "console/view.h"
#include "evidence/store.h"
#include "link/session.h"
#include "offload/ledger.h"
#include "offload/offload.h"
#include "offload/station_file.h"

class QLabel;
class QScreen;

namespace kbc::sim {
class SimBus;
}

namespace kbc::app {

class CFtpInfoView;
class DrawerView;
class OffloadPanel;
class StoreSpace;
class UploadStatus;
class RecorderPicker;
class SettingsBar;

inline constexpr int kFrameWidth = 828;
inline constexpr int kFrameHeight = 600;  // at most; less on a shorter screen
inline constexpr int kLeastPaneLines = 2;

// The frame's fixed size on this screen: 828 x 600 at 96 dpi, scaled with the screen's DPI, no
// taller than the screen's available area.
QSize frame_size(qreal logical_dpi, const QScreen* screen);

// Holds the settings bar: as tall as the bar where there is room, scrolling where there is not.
class BarScroller final : public QScrollArea {
  Q_OBJECT

 public:
  BarScroller(SettingsBar* bar, QWidget* parent);
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
};

class CMainFrame final : public QMainWindow, public console::View {
  Q_OBJECT

 public:
  // `trail`: where the console enters each operation on a recorder; none without one.
  CMainFrame(const DialogTemplate& settings_bar, link::Link link, console::Clock& clock,
             console::AuditTrail* trail = nullptr, QWidget* parent = nullptr);
  ~CMainFrame() override;

  SettingsBar* settings_bar() const { return bar_; }
  BarScroller* bar_scroller() const { return bar_scroller_; }
  CFtpInfoView* info_view() const { return pane_; }
  RecorderPicker* recorder_picker() const { return picker_; }
  // The thread every console call runs on; more work for the console is queued there.
  ConsoleThread& console_thread() { return thread_; }
  // Whether a console call is queued or running.
  bool busy() const { return thread_.busy(); }

  // The status bar tells the operator that the recorder is the built-in simulation.
  void mark_simulated();
  // Hears of recorders plugged in and pulled out from udev; false, with the reason, when udev
  // cannot be heard: the status bar then learns of them only when a button finds several.
  bool follow_udev(QString* why);
  // Hears of them from the simulated bus instead, which must outlive the window.
  void follow(sim::SimBus& bus);
  // A device that may be a recorder arrived at this location or left it: the console thread scans
  // the bus and reads the serial number of what is new, and the status bar shows the outcome.
  void recorder_plugged(const QString& location);
  // A later copy's request: back to normal size, in front and active.
  void come_forward(const QString& activation_token);
  void about();
  // Applies the station profile in the file at `path` to the recorder the buttons talk to, or to
  // every recorder, on the console thread, the receipts in the pane. A file that is no profile
  // is reported in a message box and nothing is sent.
  void apply_profile_file(const QString& path, console::ApplyTo to);
  // Where offloads go and when a recorder may be erased: the evidence store, the station's rule,
  // where recorders' disks appear (none: offloads cannot tell them), and what was wrong with the
  // station file, said in the pane. Under the station's own rule the erase asks `erase_store`
  // where it names one. Before the window is shown.
  void set_evidence(const std::filesystem::path& store, console::ErasePolicy policy,
                    offload::DiskWatch* watch, const QStringList& station_problems,
                    bool upload = false,
                    const std::optional<std::filesystem::path>& erase_store = std::nullopt);
  // With an [upload] table: the queue's word in the status bar; nullptr without.
  UploadStatus* upload_status() const { return upload_status_; }
  // The status bar's word on the store's room, read again after each offload.
  void show_store_space(const offload::Station& station, const std::filesystem::path& store);
  StoreSpace* store_space() const { return store_space_; }
  // Offloads the recorder the buttons talk to, or every one: the switch on the console thread,
  // the rest in the offload panel.
  void start_offload(console::ApplyTo to);
  // Where the station service tells of its drawer; the drawer view follows it.
  void set_station_folder(std::filesystem::path folder);
  void show_drawer_view();
  DrawerView* drawer_view() const { return drawer_view_; }
  OffloadPanel* offload_panel() const { return offload_panel_; }

  // console::View, on the user-interface thread; the console reaches it through CarriedView.
  std::string field_text(int id) override;
  void set_field_text(int id, std::string_view text) override;
  std::string selection_text(int id) override;
  void refill_list(int id, std::span<const std::string_view> items) override;
  void limit_field(int id, int gbk_bytes) override;
  void show_control(int id, bool visible) override;
  void append_line(std::string_view text) override;
  bool ask_yes_no(std::string_view text, std::string_view caption) override;
  void show_message(std::string_view text) override;
  void run_password_dialog(console::PasswordDialog& dialog) override;

 signals:
  // Every console call queued so far has run.
  void idle();

 protected:
  void showEvent(QShowEvent* event) override;
  // During a session the window closes once the running handler has finished; the queued
  // clicks are dropped.
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  using ButtonStates = std::vector<std::pair<int, bool>>;

  // Queues a console call; the buttons then show the flags as the call left them.
  void post(std::function<void()> call);
  void run_command(int id);
  // The operator picks a profile file to apply.
  void choose_profile(console::ApplyTo to);
  void queue_refresh();
  // Console thread: the drawer as it is now, in the status bar.
  void show_drawer();
  void field_changed(int id);
  // Console thread: the buttons' enabled states under the console's flags.
  ButtonStates button_states() const;
  void show_button_states(const ButtonStates& states);
  void update_lock_indicators();

  SettingsBar* bar_;
  BarScroller* bar_scroller_;
  CFtpInfoView* pane_;
  RecorderPicker* picker_;
  QLabel* simulated_;
  QLabel* caps_;
  QLabel* num_;
  QLabel* scroll_;
  bool closing_ = false;
  console::AuditTrail* trail_;
  std::optional<offload::OffloadSettings> offload_settings_;
  std::unique_ptr<offload::StoreLedger> ledger_;
  OffloadPanel* offload_panel_ = nullptr;
  std::unique_ptr<upload::UploadQueue> upload_queue_;
  std::filesystem::path station_folder_;
  DrawerView* drawer_view_ = nullptr;
  UploadStatus* upload_status_ = nullptr;
  StoreSpace* store_space_ = nullptr;
  QLabel* idle_ = nullptr;            // the message pane
  std::vector<std::string> plugged_;  // locations heard of since the queued refresh was queued
  bool refresh_queued_ = false;
  sim::SimBus* followed_bus_ = nullptr;
  std::vector<std::unique_ptr<CursorOverride>> waits_;  // one per running console call
  ConsoleThread thread_;
  CarriedView carried_{thread_, *this};
  console::Console console_;  // only ever used on thread_
  console::Drawer drawer_;    // only ever used on thread_
};

}  // namespace kbc::app
