#include "app/recorder_picker.h"

#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>

#include "app/strings.h"
#include "console/printable.h"

namespace kbc::app {

QString recorder_text(const console::ConnectedRecorder& recorder) {
  const QString serial =
      recorder.serial ? from_utf8(console::printable(*recorder.serial)) : text::unknown_serial();
  return QStringLiteral("%1 (%2)").arg(serial, from_utf8(console::printable(recorder.location)));
}

RecorderPicker::RecorderPicker(QWidget* parent)
    : QFrame(parent), label_(new QLabel(this)), list_(new QComboBox(this)) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(2, 0, 2, 0);
  layout->addWidget(label_);
  layout->addWidget(list_);
  list_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  list_->setPlaceholderText(text::pick_recorder());
  list_->hide();
  list_->installEventFilter(this);
  label_->setText(text::no_recorder());
  // Only the operator's own choice picks; refilling the list does not.
  connect(list_, &QComboBox::activated, this, [this](int index) {
    if (index >= 0 && static_cast<std::size_t>(index) < items_.size()) {
      emit picked(items_[static_cast<std::size_t>(index)]);
    }
  });
}

bool RecorderPicker::eventFilter(QObject* watched, QEvent* event) {
  // A wheel turned over the status bar on the way elsewhere must not pick another recorder.
  if (watched == list_ && event->type() == QEvent::Wheel) {
    event->ignore();
    return true;
  }
  return QFrame::eventFilter(watched, event);
}

void RecorderPicker::show_state(const console::DrawerState& state) {
  const auto& connected = state.connected;
  const bool gone = state.picked && state.picked_gone;
  // A list where the console needs a pick, or has one among several.
  const bool choice = connected.size() > 1 || (gone && !connected.empty());

  if (gone) {
    label_->setText(text::picked_recorder_gone(recorder_text(*state.picked)));
  } else if (choice) {
    label_->setText(text::recorder_list());
  } else if (connected.size() == 1) {
    label_->setText(text::recorder() + u' ' + recorder_text(connected.front()));
  } else {
    label_->setText(text::no_recorder());
  }

  const QSignalBlocker quiet(list_);
  list_->clear();
  items_.clear();
  if (choice) {
    items_ = connected;
    for (const console::ConnectedRecorder& recorder : items_) {
      list_->addItem(recorder_text(recorder));
      if (state.picked && !gone && recorder == *state.picked) {
        list_->setCurrentIndex(list_->count() - 1);
      }
    }
    if (!state.picked || gone) {
      list_->setCurrentIndex(-1);
    }
  }
  list_->setVisible(choice);
}

}  // namespace kbc::app
