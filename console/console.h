// The recorder settings console: the handlers behind the settings bar's buttons, the enable flags
// they set and the layout applied when the window is shown.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/audit.h"
#include "console/erase_guard.h"
#include "console/handler.h"
#include "console/profile.h"
#include "console/setting_tables.h"
#include "console/target.h"
#include "console/transcript.h"
#include "console/view.h"
#include "link/identity.h"
#include "link/secret.h"
#include "link/session.h"
#include "link/time_text.h"

namespace kbc::console {

inline constexpr std::string_view kAppTitle = "执法记录仪管理软件(KBC-Q7)";

// Where the console reads the PC's local time (set_time); tests inject a fixed one. Profiles read
// it from a thread per recorder.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual link::LocalTime now() = 0;
};

class SystemClock final : public Clock {
 public:
  link::LocalTime now() override { return link::local_time_now(); }
};

// Sends set_time with this time and makes the report "验证密码" makes of it:
// "成功设置系统时间:2024-3-5 7:8:9", or "重新连接!". True when the recorder took it.
bool set_clock(const Call& call, const link::LocalTime& time);

struct IdentityButton;

// The recorders a station profile from the window goes to: the one the buttons talk to, or every
// one on the bus.
enum class ApplyTo { chosen, every };

class Console {
 public:
  // Every operation that addresses a recorder gets an entry in `trail`; none without one.
  Console(View& view, link::Link link, Clock& clock, AuditTrail* trail = nullptr);

  // The recorder every later button talks to, by its location ("001/005"); nullopt: the only
  // recorder on the bus. With several connected and none chosen, a button sends nothing. Its
  // serial number, where the view knows it, saves looking it up for the audit trail.
  void choose_recorder(std::optional<std::string> location,
                       std::optional<std::string> serial = std::nullopt) {
    chosen_serial_ = location ? std::move(serial) : std::nullopt;
    link_.location = std::move(location);
  }
  const std::optional<std::string>& chosen_recorder() const { return link_.location; }

  // What the erase button knows before it asks: the station's evidence store (none: the seed's
  // questions and flow alone) and its rule. With `without_offload`, the rule's refusal is
  // overridden, and the audit entry says so.
  void set_erase_guard(OffloadLedger* ledger, ErasePolicy policy, bool without_offload = false) {
    ledger_ = ledger;
    erase_policy_ = policy;
    without_offload_ = without_offload;
  }

  // The show-window notification: locks the console, limits the fields, refills the lists.
  void on_show();
  // A button of the settings bar. True when the handler produced its success report.
  bool on_command(int id);
  // The change notification of a text field (the character filter of 1108 and 1113).
  void on_field_changed(int id);
  // The enabled state of a button under the current flags; buttons without a flag are enabled.
  bool is_enabled(int id) const;
  // Button 1114: the record as the recorder returned it, after its five lines were reported;
  // nullopt when it was not read.
  std::optional<link::IdentityRecord> show_device_info();
  // Applies a station profile, named in the pane as `shown_as`, with the password field's text to
  // the recorders `to` names, all at once, each in a session of its own as kbcctl apply does it.
  // Each recorder's receipt goes to the information pane as it finishes, and to the audit trail.
  // True when every recorder took every setting.
  bool apply_profile(const Profile& profile, std::string_view shown_as, ApplyTo to);
  // For an operation of the view's own on several recorders (an offload): the password field's
  // text when the pre-check passes it, else nullopt after its report.
  std::optional<link::Secret> checked_password();
  // The recorders `to` names from one scan, as apply_profile() takes them, the chosen one with
  // the serial number the view gave; nullopt after the report of why there are none. `gone` is
  // called when the recorder the operator chose is not on the bus.
  std::optional<std::vector<Target>> addressed_targets(ApplyTo to,
                                                       const std::function<void()>& gone = {});
  // The recorders' link, for the view's own operations between buttons.
  const link::Link& link() const { return link_; }
  // Whether the last button sent nothing because several recorders are connected and none is
  // chosen.
  bool needs_recorder_choice() const { return needs_recorder_choice_; }
  // How the last button's own handler sequence ended (not the sessions that follow it, such as
  // the officer-identifier refresh); nullopt when it ran none.
  std::optional<Outcome> outcome() const { return outcome_; }

  std::array<std::uint8_t, 24> m_bFeatureEnabled{};
  std::uint8_t m_bPasswordVerified = 0;

 private:
  // Forgets what the previous button left.
  void begin_button();
  // The operation under way, as its audit entry will tell it.
  struct Operation {
    std::string_view action;
    bool changes;
    std::string value{};
    std::optional<AuditOutcome> said{};     // where its report says more than outcome() does
    bool looked_up = false;                 // the recorder below was looked for
    std::optional<std::string> location{};  // none: no recorder was addressed, no entry
    std::optional<std::string> serial{};
    std::vector<std::pair<std::string, std::string>> fields{};
  };

  // Runs the button's operation and writes its entry.
  bool audited(int button, const std::function<bool()>& operation);
  // Before the operation's first session: which recorder it addresses, and its serial number in
  // a session of its own when the view does not know it.
  void find_audited_recorder();
  void note_value(std::string value);
  void note_outcome(AuditOutcome outcome);
  void note_field(std::string name, std::string value);
  std::optional<AuditEntry> entry_of(Operation& operation, std::vector<std::string> report) const;

  // Puts the link's choice back however an operation that pinned it ends.
  class ChoiceKept {
   public:
    explicit ChoiceKept(link::Link& link) : link_(link), location_(link.location) {}
    ~ChoiceKept() { link_.location = std::move(location_); }
    ChoiceKept(const ChoiceKept&) = delete;
    ChoiceKept& operator=(const ChoiceKept&) = delete;

   private:
    link::Link& link_;
    std::optional<std::string> location_;
  };

  bool dispatch(int id);
  // The handler sequence on this console's view and recorder. `reaching` runs once the pre-check
  // has passed, before the session opens.
  Outcome run(const Sequence& sequence, const Body& body,
              const std::function<void()>& reaching = {});
  // Before the erase session: the serial number of the recorder it will reach, read in a
  // session of its own where neither the view nor the audit trail gave it; the link is pinned
  // to that recorder.
  std::optional<std::string> serial_to_erase();
  bool verify_password();
  bool switch_to_disk();
  bool erase_all_files();
  bool apply_setting(const SettingButton& button);
  bool set_identity_field(const IdentityButton& button);
  void refresh_officer_identifier();
  // Button 1019; true when the dialog changed a password.
  bool open_password_dialog();
  std::optional<link::IdentityRecord> read_device_info();

  Transcript view_;
  link::Link link_;
  Clock& clock_;
  AuditTrail* trail_;
  std::optional<std::string> chosen_serial_;
  OffloadLedger* ledger_ = nullptr;
  ErasePolicy erase_policy_;
  bool without_offload_ = false;
  std::optional<Operation> operation_;
  bool needs_recorder_choice_ = false;
  std::optional<Outcome> outcome_;
};

}  // namespace kbc::console
