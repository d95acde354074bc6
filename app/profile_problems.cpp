#include "app/profile_problems.h"

#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <algorithm>

#include "app/strings.h"

namespace kbc::app {
namespace {

// Wide enough for a problem of a usual length on two lines, tall enough for a few of them.
constexpr int kHanColumns = 32;
constexpr int kMostTextLines = 12;

}  // namespace

ProfileProblemsBox::ProfileProblemsBox(const QString& heading, const QStringList& problems,
                                       QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      heading_(new QLabel(heading, this)),
      problems_(new QPlainTextEdit(this)) {
  setWindowTitle(text::app_title());
  auto* icon = new QLabel(this);
  const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(size));
  icon->setAlignment(Qt::AlignTop);
  heading_->setTextFormat(Qt::PlainText);

  problems_->setReadOnly(true);
  problems_->setFrameShape(QFrame::NoFrame);
  problems_->viewport()->setAutoFillBackground(false);
  problems_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  problems_->setWordWrapMode(QTextOption::WordWrap);
  problems_->setTabChangesFocus(true);
  problems_->setPlainText(problems.join(u'\n'));
  const QFontMetrics metrics(problems_->font());
  const int lines = std::clamp(static_cast<int>(problems.size()) * 2, 2, kMostTextLines);
  problems_->setMinimumSize(metrics.horizontalAdvance(QChar(u'中')) * kHanColumns,
                            metrics.lineSpacing() * lines);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);

  auto* layout = new QGridLayout(this);
  layout->addWidget(icon, 0, 0, 2, 1);
  layout->addWidget(heading_, 0, 1);
  layout->addWidget(problems_, 1, 1);
  layout->addWidget(buttons, 2, 0, 1, 2);
  layout->setColumnStretch(1, 1);
  buttons->setFocus();
}

}  // namespace kbc::app
