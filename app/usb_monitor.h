// Hears of USB devices plugged in and pulled out from udev: a monitor on the usb subsystem, read in
// the Qt event loop when its socket has something, so nothing polls.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QSocketNotifier;
struct udev;
struct udev_monitor;

namespace kbc::app {

class UsbMonitor final : public QObject {
  Q_OBJECT

 public:
  explicit UsbMonitor(QObject* parent = nullptr);
  ~UsbMonitor() override;

  // Starts listening; false, with the reason in `why`, when udev cannot be heard.
  bool start(QString* why);

 signals:
  // A device that may be a recorder (vendor 0x4255, or a vendor udev does not tell) arrived at this
  // location ("001/005", as libusb names it) or left it.
  void recorder_plugged(const QString& location);

 private:
  struct UdevUnref {
    void operator()(udev* context) const;
    void operator()(udev_monitor* monitor) const;
  };

  void read_events();

  std::unique_ptr<udev, UdevUnref> udev_;
  std::unique_ptr<udev_monitor, UdevUnref> monitor_;
  QSocketNotifier* notifier_ = nullptr;  // a child
};

}  // namespace kbc::app
