// The settings bar: every recorder control of the console, built from dialog template 1111 and
// laid out in the dialog units of the template's font at the screen's DPI, whatever fonts are
// installed; each caption's font is as large as its control allows.
#pragma once

#include <QRect>
#include <QStringList>
#include <QWidget>
#include <map>
#include <set>
#include <vector>

#include "app/dialog_template.h"

class QComboBox;
class QPushButton;

namespace kbc::app {

class ConsoleEdit;

class SettingsBar final : public QWidget {
  Q_OBJECT

 public:
  SettingsBar(const DialogTemplate& dialog, QWidget* parent);

  // The control with this id; nullptr when the template has none.
  QWidget* control(int id) const;
  ConsoleEdit* field(int id) const;
  QComboBox* list(int id) const;
  QPushButton* button(int id) const;
  // Every push button, in template order.
  const std::vector<int>& button_ids() const { return buttons_; }
  // The controls the keyboard reaches, in template order, which is reading order.
  const std::vector<QWidget*>& tab_chain() const { return tab_chain_; }
  BaseUnits base_units() const { return base_; }
  // What the controls cover, in pixels.
  QRect extent() const { return extent_; }

  // Empties the list and adds the items, in GBK order where the list is sorted; nothing is
  // selected afterwards.
  void fill_list(int id, const QStringList& items);

 signals:
  // A push button was clicked, or pressed with Space or Enter.
  void command(int id);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::map<int, QWidget*> controls_;  // owned by the bar as their Qt parent
  std::set<int> sorted_;
  std::vector<int> buttons_;
  std::vector<QWidget*> tab_chain_;
  BaseUnits base_{};
  QRect extent_;
};

// The items in the order of their GBK bytes, the order a sorted list keeps in code page 936.
QStringList gbk_sorted(QStringList items);

// Template 1111 as compiled in from res/.
std::optional<DialogTemplate> settings_bar_template(QString* error);

}  // namespace kbc::app
