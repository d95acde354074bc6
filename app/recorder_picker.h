// The status bar's name of the recorder the console talks to: its serial number and location, or
// that none is connected; with several connected, a list to pick one from. Recorder text is shown
// as plain text, whatever bytes the recorder sent.
#pragma once

#include <QFrame>
#include <QString>
#include <vector>

#include "console/drawer.h"

class QComboBox;
class QLabel;

namespace kbc::app {

// "KBC0001 (001/005)".
QString recorder_text(const console::ConnectedRecorder& recorder);

class RecorderPicker final : public QFrame {
  Q_OBJECT

 public:
  explicit RecorderPicker(QWidget* parent);

  void show_state(const console::DrawerState& state);

  QLabel* label() const { return label_; }
  QComboBox* list() const { return list_; }

 signals:
  // The operator chose this recorder of the list.
  void picked(const console::ConnectedRecorder& recorder);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLabel* label_;
  QComboBox* list_;
  std::vector<console::ConnectedRecorder> items_;
};

}  // namespace kbc::app
