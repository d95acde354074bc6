// The password-change dialog's logic: which password it changes, how it sets itself up and the
// confirm procedure with its fixed order of checks. The window itself (Qt, or the command line)
// implements DialogView.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "console/messages.h"
#include "link/secret.h"
#include "link/session.h"

namespace kbc::console {

enum class PasswordRole { none = 0, normal = 1, super = 2 };

// The role the last click of "修改密码" found: 0 none, 1 normal, 2 super. The dialog takes it up
// when it initialises.
extern int g_passwordRole;

// What the three fields hold, in UTF-8.
struct PasswordEntry {
  link::Secret old_password;
  link::Secret new_password;
  link::Secret confirmation;
};

struct ChangeResult {
  enum class Kind {
    no_recorder,  // nothing was checked; the fields keep their text
    incomplete,   // a field empty, the new password not six bytes or not confirmed
    refused,      // the old password was not the recorder's, or the new one is the other one
    failed,       // the set command failed
    changed,
  };
  Kind kind;
  std::string_view report;
};

// One confirm attempt in a session of its own: changes the role's password when the recorder
// accepts the old one and the new one is six bytes, confirmed and not the other password.
ChangeResult change_password(link::Link link, PasswordRole role, const PasswordEntry& entry);

enum class MessageIcon { warning, information };

// The dialog window as the procedures see it. Text is UTF-8.
class DialogView {
 public:
  virtual ~DialogView() = default;

  virtual std::string field_text(int id) = 0;
  virtual void set_field_text(int id, std::string_view text) = 0;
  virtual void limit_field(int id, int characters) = 0;
  virtual void show_control(int id, bool visible) = 0;
  virtual void set_title(std::string_view title) = 0;
  // Same position and height, half the width (the hint is cut off).
  virtual void halve_width() = 0;
  // Modal, OK button, the application's title as caption; the exclamation icon, or the
  // information icon for the success report.
  virtual void show_message(std::string_view text, MessageIcon icon) = 0;
  // Closes the dialog as confirmed.
  virtual void accept() = 0;
};

class PasswordDialog {
 public:
  explicit PasswordDialog(link::Link link) : link_(link) {}

  // Takes up g_passwordRole and sets the window up for it.
  void initialise(DialogView& view);
  // 1102 changes the administrator password, 1159 the normal one, 1 (Enter) the role's own.
  void on_command(DialogView& view, int id);
  // The change notification of 1021, 1022 and 1023.
  void on_field_changed(DialogView& view, int id);

  PasswordRole role() const { return role_; }
  // The visible confirm button of the role.
  int confirm_button() const;
  // Whether a password was changed before the dialog closed.
  bool changed() const;
  // What each confirm attempt came to, in order.
  const std::vector<ChangeResult>& attempts() const { return attempts_; }

 private:
  void confirm(DialogView& view, PasswordRole procedure);

  link::Link link_;
  PasswordRole role_ = PasswordRole::none;
  std::vector<ChangeResult> attempts_;
};

}  // namespace kbc::console
