// CMainFrame: the tool's only window. A fixed-size frame with the About menu, the settings bar
// across the top, the information pane below it and the status bar; it is the console's view and
// routes the bar's buttons and field changes to the console.
#pragma once

#include <QMainWindow>

#include "app/dialog_template.h"
#include "console/console.h"
#include "console/view.h"
#include "link/session.h"

class QLabel;

namespace kbc::app {

class CFtpInfoView;
class SettingsBar;

inline constexpr int kFrameWidth = 828;
inline constexpr int kFrameHeight = 600;  // at most; less on a shorter screen

class CMainFrame final : public QMainWindow, public console::View {
  Q_OBJECT

 public:
  CMainFrame(const DialogTemplate& settings_bar, link::Link link, console::Clock& clock,
             QWidget* parent = nullptr);
  ~CMainFrame() override;

  SettingsBar* settings_bar() const { return bar_; }
  CFtpInfoView* info_view() const { return pane_; }
  console::Console& console() { return console_; }

  // The status bar tells the operator that the recorder is the built-in simulation.
  void mark_simulated();
  // A later copy's request: back to normal size, in front and active.
  void come_forward(const QString& activation_token);
  void about();

  // console::View
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

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void run_command(int id);
  void field_changed(int id);
  void update_buttons();
  void update_lock_indicators();

  SettingsBar* bar_;
  CFtpInfoView* pane_;
  QLabel* simulated_;
  QLabel* caps_;
  QLabel* num_;
  QLabel* scroll_;
  console::Console console_;
};

}  // namespace kbc::app
