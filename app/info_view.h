// CFtpInfoView: the information pane, the log every console operation reports to. The operator
// reads, selects, copies and may delete or paste text in it, but cannot type into it.
#pragma once

#include <QPlainTextEdit>

namespace kbc::app {

class CFtpInfoView final : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit CFtpInfoView(QWidget* parent);
  ~CFtpInfoView() override;

  // WM_APPEND_INFO: a line break and the text at the end of the log, the newest line in view.
  // The append is not an edit the operator can undo; it also ends the undo of earlier edits.
  void append_info(const QString& text);

  QSize sizeHint() const override { return {375, 100}; }
  // The pane's height at which its viewport shows this many whole lines.
  int height_for_lines(int lines) const;
  // How many whole lines its viewport shows now.
  int visible_lines() const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
};

// The one pane, set when it is created.
extern CFtpInfoView* g_pInfoView;

// 宋体 9 pt where installed, else a face that has the Chinese texts.
QFont info_font();

}  // namespace kbc::app
