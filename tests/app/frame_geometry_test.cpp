// The main window's geometry with the fonts this machine has. CTest also runs these on an X
// server of their own, once with only Noto Sans CJK and once with only WenQuanYi Zen Hei visible.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <vector>

#include "app/caption_fit.h"
#include "app/drawer_view.h"
#include "app/info_view.h"
#include "app/main_frame.h"
#include "app/offload_panel.h"
#include "app/password_dlg.h"
#include "app/recorder_picker.h"
#include "app/settings_bar.h"
#include "app/store_space.h"
#include "app/upload_status.h"
#include "frame_fixture.h"
#include "recorder_disk.h"
#include "tests/console/station_profile.h"

namespace kbc::app {
namespace {

using FrameGeometry = FrameFixture;

// Where a screenshot goes, named after the fonts CTest made visible, where it did.
QString screenshot(const QString& what) {
  const QString fonts = qEnvironmentVariable("KBC_FONTS", QStringLiteral("system"));
  return QStringLiteral(KBC_TEST_OUTPUT_DIR "/kbc-q7-%1-%2.png").arg(what, fonts);
}

// Where a control of the bar is, in the coordinates of the bar's visible part.
QRect in_viewport(const BarScroller& scroller, const QWidget& control) {
  return QRect(control.mapTo(scroller.viewport(), QPoint(0, 0)), control.size());
}

// The bottom of the line'th line of the pane (line 0 is the log's empty first line), with the
// log scrolled to its top.
int line_bottom(CFtpInfoView& pane, int line) {
  pane.verticalScrollBar()->setValue(0);
  QTextCursor cursor(pane.document()->findBlockByNumber(line));
  return pane.cursorRect(cursor).bottom();
}

TEST_F(FrameGeometry, WholeBarAndFiveLinesAtTheFullHeight) {
  if (frame->height() < frame_size(frame->logicalDpiY(), nullptr).height()) {
    GTEST_SKIP() << "the screen is shorter than the window";
  }
  const BarScroller& scroller = *frame->bar_scroller();
  EXPECT_FALSE(scroller.verticalScrollBar()->isVisible());
  EXPECT_FALSE(scroller.horizontalScrollBar()->isVisible());
  const QRect window = frame->rect();
  for (const QWidget* control : bar()->findChildren<QWidget*>()) {
    if (!control->isVisible() || control->parentWidget() != bar()) {
      continue;
    }
    const QRect in_window(control->mapTo(frame.get(), QPoint(0, 0)), control->size());
    EXPECT_TRUE(window.contains(in_window)) << control->metaObject()->className();
    EXPECT_TRUE(scroller.viewport()->rect().contains(in_viewport(scroller, *control)));
  }

  CFtpInfoView& pane = *frame->info_view();
  for (int n = 1; n <= 5; ++n) {
    pane.append_info(QStringLiteral("line %1").arg(n));
  }
  EXPECT_LE(line_bottom(pane, 5), pane.viewport()->height())
      << "viewport " << pane.viewport()->height() << ", line spacing "
      << pane.fontMetrics().lineSpacing();
}

TEST_F(FrameGeometry, OnAShortScreenTheBarScrollsAndThePaneKeepsTwoLines) {
  frame->setFixedSize(frame->width(), 480);
  QApplication::sendPostedEvents();
  frame->centralWidget()->layout()->activate();
  BarScroller& scroller = *frame->bar_scroller();
  for (QWidget* control : bar()->findChildren<QWidget*>()) {
    if (!control->isVisible() || control->parentWidget() != bar()) {
      continue;
    }
    scroller.ensureWidgetVisible(control, 0, 0);
    EXPECT_TRUE(scroller.viewport()->rect().contains(in_viewport(scroller, *control)))
        << control->metaObject()->className();
  }
  CFtpInfoView& pane = *frame->info_view();
  pane.append_info(QStringLiteral("one"));
  pane.append_info(QStringLiteral("two"));
  EXPECT_GE(pane.visible_lines(), kLeastPaneLines);
  EXPECT_LE(line_bottom(pane, 1), pane.viewport()->height());
}

// Each caption whole inside where its control draws text, and a button's within the button.
void expect_captions_fit(const QWidget& window) {
  for (const QWidget* control : window.findChildren<QWidget*>()) {
    const bool captioned = qobject_cast<const QPushButton*>(control) ||
                           qobject_cast<const QLabel*>(control) ||
                           qobject_cast<const QComboBox*>(control);
    if (!captioned || control->parentWidget() != &window) {
      continue;
    }
    const QStringList texts = shown_texts(*control);
    EXPECT_TRUE(fits(*control, control->font())) << texts.join(u'|').toStdString();
    if (const auto* button = qobject_cast<const QPushButton*>(control)) {
      EXPECT_LT(button->fontMetrics().horizontalAdvance(button->text()), button->width());
      EXPECT_LT(button->fontMetrics().height(), button->height());
    }
    // A list as wide as Qt itself wants it for its widest item, or wider.
    if (const auto* list = qobject_cast<const QComboBox*>(control)) {
      EXPECT_LE(list->sizeHint().width(), list->width()) << texts.join(u'|').toStdString();
    }
  }
}

TEST_F(FrameGeometry, NoCaptionIsClipped) {
  expect_captions_fit(*bar());
  for (const auto role : {console::PasswordRole::super, console::PasswordRole::normal}) {
    console::g_passwordRole = static_cast<int>(role);
    console::PasswordDialog logic(bus.link());
    CPasswordDlg dialog(frame.get(), logic);
    expect_captions_fit(dialog);
    if (role == console::PasswordRole::super) {
      EXPECT_TRUE(dialog.grab().save(screenshot(QStringLiteral("password"))));
    }
  }
}

TEST_F(FrameGeometry, ReportLineInViewAfterAVerificationWithAScreenshot) {
  frame->mark_simulated();
  verify("888888");
  bar()->list(idc::ir_list)->setCurrentIndex(1);
  click(idc::ir);
  settle(*frame);
  CFtpInfoView& pane = *frame->info_view();
  const QRect last = pane.cursorRect(QTextCursor(pane.document()->lastBlock()));
  EXPECT_TRUE(pane.viewport()->rect().contains(last));
  EXPECT_EQ(lines().last(), QString::fromUtf8("自动红外设置成功!"));

  const QString path = screenshot(QStringLiteral("window"));
  ASSERT_TRUE(frame->grab().save(path)) << path.toStdString();
}

TEST_F(FrameGeometry, StatusBarWithTheRecorderListOfTwoRecordersWithScreenshots) {
  frame->mark_simulated();
  // A station that uploads, with a bag the store refused at length.
  const evidence::testing::Scratch scratch;
  const upload::UploadQueue queue{evidence::Store(scratch / "store")};
  ASSERT_TRUE(queue.enqueue(scratch / "store/KBC0001_20261208T143005Z"));
  std::ofstream(queue.folder() / "KBC0001_20261208T143005Z.state", std::ios::app)
      << "error station-07/440300000000/000001/KBC0001_20261208T143005Z/data/DCIM/0001.MP4: "
         "not stored: 403 AccessDenied\n";
  frame->set_evidence(scratch / "store", {}, nullptr, {}, true);
  // A store below the station's mark: its room in red.
  offload::Station station;
  station.low_space.share = 0.99;
  frame->show_store_space(station, scratch / "store");
  const StoreSpace& space = *frame->store_space();
  const UploadStatus& upload = *frame->upload_status();
  bus.add_recorder();
  hear_bus(*frame);
  const RecorderPicker& picker = *frame->recorder_picker();
  QComboBox& list = *picker.list();
  ASSERT_TRUE(list.isVisible());
  for (const char* state : {"drawer", "drawer-picked"}) {
    SCOPED_TRACE(state);
    const QRect window = frame->rect();
    for (const QWidget* part : frame->statusBar()->findChildren<QWidget*>()) {
      if (part->isVisible() && !part->isWindow()) {
        EXPECT_TRUE(window.contains(QRect(part->mapTo(frame.get(), QPoint(0, 0)), part->size())))
            << part->metaObject()->className();
      }
    }
    // Nothing squeezed: the label and the list as wide as their texts need.
    EXPECT_GE(picker.label()->width(), picker.label()->sizeHint().width());
    EXPECT_GE(list.width(), list.sizeHint().width());
    // The upload's word shown whole as far as it goes, its problem whole in the tip.
    ASSERT_TRUE(upload.isVisible());
    EXPECT_GE(upload.width(), upload.sizeHint().width());
    EXPECT_TRUE(upload.text().startsWith(QString::fromUtf8("待上传: 1个 (0 字节) 上传出错: ")))
        << upload.text().toStdString();
    EXPECT_TRUE(upload.text().endsWith(QChar(0x2026)));
    EXPECT_TRUE(upload.toolTip().endsWith(QStringLiteral("403 AccessDenied")));
    ASSERT_TRUE(space.isVisible());
    EXPECT_TRUE(space.low());
    EXPECT_GE(space.width(), space.sizeHint().width());
    EXPECT_TRUE(space.text().startsWith(QString::fromUtf8("证据库仅剩 ")))
        << space.text().toStdString();
    EXPECT_EQ(space.palette().color(QPalette::WindowText), QColor(Qt::red));
    const QString path = screenshot(QString::fromLatin1(state));
    EXPECT_TRUE(frame->grab().save(path)) << path.toStdString();
    if (list.currentIndex() < 0) {
      QTest::keyClick(&list, Qt::Key_Down);
      settle(*frame);
    }
  }
  EXPECT_EQ(list.currentIndex(), 0);
}

TEST_F(FrameGeometry, ProfileMenuAndTheReceiptsOfTwoRecordersWithAScreenshot) {
  const QRect bar_area = frame->menuBar()->rect();
  for (QAction* menu : frame->menuBar()->actions()) {
    const QRect item = frame->menuBar()->actionGeometry(menu);
    EXPECT_TRUE(bar_area.contains(item)) << menu->text().toStdString();
    EXPECT_GE(item.width(), frame->menuBar()->fontMetrics().horizontalAdvance(menu->text()));
  }

  frame->mark_simulated();
  bus.add_recorder();
  hear_bus(*frame);
  QTemporaryDir folder;
  // A file with two bad lines first: its problems, every one whole.
  const QString bad = folder.filePath(QStringLiteral("bad.toml"));
  QFile bad_file(bad);
  ASSERT_TRUE(bad_file.open(QIODevice::WriteOnly));
  bad_file.write("colour = \"red\"\nsegment = \"12\xe5\x88\x86\xe9\x92\x9f\"\n");
  bad_file.close();
  const ModalAnswers answers({[&](QWidget* box) {
    const QString shot = screenshot(QStringLiteral("profile-problems"));
    EXPECT_TRUE(box->grab().save(shot)) << shot.toStdString();
    QTest::keyClick(box, Qt::Key_Escape);
  }});
  frame->apply_profile_file(bad, console::ApplyTo::every);
  EXPECT_EQ(answers.answered(), 1u);

  const QString path = folder.filePath(QStringLiteral("station.toml"));
  QFile profile(path);
  ASSERT_TRUE(profile.open(QIODevice::WriteOnly));
  profile.write(kbc::testing::kStationProfile.data(),
                static_cast<qint64>(kbc::testing::kStationProfile.size()));
  profile.close();
  field(idc::password)->setText(QStringLiteral("888888"));
  frame->apply_profile_file(path, console::ApplyTo::every);
  settle(*frame);

  CFtpInfoView& pane = *frame->info_view();
  const QRect last = pane.cursorRect(QTextCursor(pane.document()->lastBlock()));
  EXPECT_TRUE(pane.viewport()->rect().contains(last));
  EXPECT_EQ(lines().last(), QString::fromUtf8("配置文件应用完毕: 2台记录仪中2台全部设置成功"));
  const QString shot = screenshot(QStringLiteral("profile"));
  EXPECT_TRUE(frame->grab().save(shot)) << shot.toStdString();
}

// The keyboard alone: Enter in the password field verifies; Tab goes from it through every control
// the bar enables in reading order, into the pane and out again, round to the password field;
// Shift+Tab and Ctrl+Tab leave the pane as well; a list and Enter on its button set the recorder;
// Esc does nothing; Alt+P and C open the profile file dialog.
TEST_F(FrameGeometry, TheKeyboardAloneVerifiesGoesRoundAndSets) {
  QWidget* password = field(idc::password);
  frame->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
  password->setFocus();
  QTest::keyClicks(password, QStringLiteral("888888"));
  QTest::keyClick(password, Qt::Key_Return);
  settle(*frame);
  EXPECT_EQ(lines().last(), QString::fromUtf8("成功设置系统时间:2024-6-5 7:8:9"));

  CFtpInfoView* pane = frame->info_view();
  std::vector<QWidget*> round{password};
  for (QWidget* control : bar()->tab_chain()) {
    if (control != password && control->isEnabled() && control->isVisible()) {
      round.push_back(control);
    }
  }
  round.push_back(pane);
  round.push_back(password);  // the recorder list shows only with several recorders
  std::vector<QWidget*> visited{QApplication::focusWidget()};
  for (std::size_t i = 1; i < round.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    visited.push_back(QApplication::focusWidget());
  }
  EXPECT_EQ(visited, round);
  pane->setFocus();
  QTest::keyClick(pane, Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(QApplication::focusWidget(), round[round.size() - 3]);
  pane->setFocus();
  QTest::keyClick(pane, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(QApplication::focusWidget(), password);
  const QString log = pane->toPlainText();

  QComboBox* ir = bar()->list(idc::ir_list);
  ir->setFocus();
  QTest::keyClick(ir, Qt::Key_Down);
  QTest::keyClick(ir, Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), bar()->button(idc::ir));
  QTest::keyClick(bar()->button(idc::ir), Qt::Key_Return);
  settle(*frame);
  EXPECT_EQ(pane->toPlainText(), log + QString::fromUtf8("\n手动红外设置成功!"));

  QTest::keyClick(frame.get(), Qt::Key_Escape);
  EXPECT_TRUE(frame->isVisible());
  EXPECT_FALSE(frame->busy());

  QString dialog;
  const ModalAnswers answers({[&](QWidget* modal) {
    dialog = modal->windowTitle();
    QTest::keyClick(modal, Qt::Key_Escape);
  }});
  QTest::keyClick(frame.get(), Qt::Key_P, Qt::AltModifier);
  QWidget* menu = QApplication::activePopupWidget();
  ASSERT_NE(menu, nullptr);
  QTest::keyClick(menu, Qt::Key_C);
  EXPECT_EQ(dialog, QString::fromUtf8("选择配置文件"));
}

// The message pane's word on the store: its room, the days left below the mark, the recorders
// overdue.
TEST(StoreSpaceText, SaysTheRoomTheDaysLeftAndTheRecordersOverdue) {
  offload::Health health;
  health.free_bytes = 8'000'000'000;
  EXPECT_EQ(store_space_text(health), QString::fromUtf8("证据库剩余 8.0 GB"));
  health.low_space = true;
  health.days_left = 3.7;
  EXPECT_EQ(store_space_text(health), QString::fromUtf8("证据库仅剩 8.0 GB，约3天"));
  health.overdue = {{"KBC0001", {}}, {"KBC0002", {}}};
  EXPECT_EQ(store_space_text(health),
            QString::fromUtf8("证据库仅剩 8.0 GB，约3天 2台记录仪逾期未导出"));
}

// The recorder's disk where a test puts it, or none until the offload is cancelled.
class TestDiskWatch final : public offload::DiskWatch {
 public:
  std::optional<std::string> disk;
  std::optional<std::string> port_of(std::string_view) override { return "1-1"; }
  offload::WaitedDisk wait_for_disk(std::string_view, std::chrono::milliseconds,
                                    std::stop_token stop) override {
    if (disk) {
      return {disk, {}};
    }
    std::mutex mutex;
    std::condition_variable_any stopped;
    std::unique_lock lock(mutex);
    stopped.wait(lock, stop, [] { return false; });
    return {};
  }
};

// The event loop until no offload of the panel runs.
void wait_idle(OffloadPanel& panel) {
  if (!panel.running()) {
    return;
  }
  QEventLoop loop;
  QObject::connect(&panel, &OffloadPanel::idle, &loop, &QEventLoop::quit);
  QTimer::singleShot(20000, &loop, [&loop] {
    ADD_FAILURE() << "the offload did not finish";
    loop.quit();
  });
  loop.exec();
}

// A row per recorder that goes to verified with its counts, or that the operator cancels; the
// receipt to the pane under the recorder's name; a screenshot of the panel.
TEST(OffloadPanelOnScreen, ARowGoesToVerifiedOrIsCancelledAndTheReceiptGoesToThePane) {
  const evidence::testing::Scratch scratch;
  const auto image = scratch / "disk.img";
  evidence::testing::make_fat32(image, {{"DCIM/V0001.MP4", evidence::testing::pattern(300000, 5)},
                                        {"DCIM/V0002.MP4", evidence::testing::pattern(1000, 6)}});
  TestDiskWatch watch;
  offload::OffloadSettings settings{evidence::Store(scratch / "store"), "kbc-q7 test"};
  settings.watch = &watch;
  const upload::UploadQueue queue(settings.store);
  settings.upload = &queue;
  UploadStatus status(queue, nullptr);
  EXPECT_EQ(status.text(), QString::fromUtf8("已全部上传"));
  const auto switched = [](const char* location, const char* serial) {
    offload::Switched recorder;
    recorder.receipt.location = location;
    recorder.receipt.serial = serial;
    recorder.receipt.officer = {"000001", "张三", "440300000000", "深圳市公安局"};
    recorder.receipt.stage = offload::Stage::waiting_for_disk;
    recorder.port = "1-1";
    return recorder;
  };

  OffloadPanel panel(nullptr);
  std::vector<QStringList> receipts;
  QObject::connect(&panel, &OffloadPanel::receipt,
                   [&](const QStringList& lines) { receipts.push_back(lines); });
  panel.show();
  // Waiting for a disk that never comes, until the operator cancels.
  std::vector<offload::Switched> waiting;
  waiting.push_back(switched("001/002", "KBC0002"));
  panel.start(std::move(waiting), settings);
  QTableWidget& table = *panel.table();
  ASSERT_EQ(table.rowCount(), 1);
  EXPECT_EQ(table.item(0, 6)->text(), QString::fromUtf8("等待磁盘"));
  QTest::mouseClick(qobject_cast<QPushButton*>(table.cellWidget(0, 7)), Qt::LeftButton);
  wait_idle(panel);
  EXPECT_EQ(table.item(0, 6)->text(), QString::fromUtf8("已取消"));
  ASSERT_EQ(receipts.size(), 1u);
  EXPECT_EQ(receipts[0], QStringList({QString::fromUtf8("记录仪 KBC0002 (001/002):"),
                                      QString::fromUtf8("导出已取消")}));

  watch.disk = image.string();
  std::vector<offload::Switched> going;
  going.push_back(switched("001/001", "KBC0001"));
  panel.start(std::move(going), settings);
  wait_idle(panel);
  ASSERT_EQ(table.rowCount(), 2);
  const QStringList row = [&] {
    QStringList cells;
    for (int column = 0; column < 7; ++column) {
      cells.push_back(table.item(1, column)->text());
    }
    return cells;
  }();
  EXPECT_EQ(row.mid(0, 4),
            QStringList({QString::fromUtf8("KBC0001 (001/001)"), QString::fromUtf8("张三 000001"),
                         QStringLiteral("2/2"), QStringLiteral("301.0 KB/301.0 KB")}));
  EXPECT_EQ(row[6], QString::fromUtf8("已验证"));
  ASSERT_EQ(receipts.size(), 2u);
  EXPECT_TRUE(receipts[1][1].startsWith(QString::fromUtf8("导出已验证: ")))
      << receipts[1].join(u'\n').toStdString();
  EXPECT_FALSE(panel.running());
  // The verified bag waits for the object store, and the status bar hears of it from the queue.
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return status.text() == QString::fromUtf8("待上传: 1个 (301.0 KB)"); }, 5000))
      << status.text().toStdString();
  // Every column as wide as its texts.
  for (int column = 0; column < 7; ++column) {
    EXPECT_GE(table.columnWidth(column),
              table.fontMetrics().horizontalAdvance(table.item(1, column)->text()));
  }
  const QString shot = screenshot(QStringLiteral("offload"));
  EXPECT_TRUE(panel.grab().save(shot)) << shot.toStdString();
}

// The slots the service publishes, as several windows see them, following each change.
TEST(DrawerViewOnScreen, FollowsTheServiceLiveWithRedWhereAttentionIsDueAndAScreenshot) {
  const evidence::testing::Scratch scratch;
  const std::filesystem::path folder = scratch / "station";
  auto opened = station::Board::open(folder);
  ASSERT_TRUE(std::holds_alternative<station::Board>(opened));
  station::Board& board = std::get<station::Board>(opened);
  board.publish(station::StationState{1, 0, 25, "/srv/evidence", "证据库仅剩 65.3 GB，约12天"});
  const std::int64_t now = QDateTime::currentSecsSinceEpoch();
  using station::SlotStage;
  const auto slot = [&](std::string port, std::string serial, SlotStage stage, std::string result) {
    station::SlotState state;
    state.port = std::move(port);
    state.location = "001/0" + state.port.substr(state.port.size() - 2);
    state.serial = std::move(serial);
    state.officer = "000001 张三";
    state.unit = "440300000000 深圳市公安局";
    state.stage = stage;
    state.result = std::move(result);
    state.docked_since = now - 95;
    return state;
  };
  station::SlotState copying = slot("1-2.1", "KBC0001", SlotStage::copying, "");
  copying.files_done = 3;
  copying.files_total = 7;
  copying.bytes_done = 2'100'000;
  copying.bytes_total = 4'313'320;
  copying.rate = 12.5e6;
  copying.seconds_left = 1;
  station::SlotState failed = slot("1-2.2", "KBC0002", SlotStage::failed, "密码错误!");
  failed.ended = now;
  station::SlotState overdue = slot("1-2.3", "KBC0003", SlotStage::queued, "");
  overdue.overdue = true;
  station::SlotState verified = slot("1-2.4", "KBC0004", SlotStage::verified,
                                     "导出已验证: /srv/evidence/440300000000/000001/"
                                     "KBC0004_20261209T085055Z (7个文件, 4.3 MB)");
  verified.files_done = verified.files_total = 7;
  verified.bytes_done = verified.bytes_total = 4'313'320;
  for (const station::SlotState* state : {&copying, &failed, &overdue, &verified}) {
    board.publish(*state);
  }

  DrawerView view(folder, nullptr), second(folder, nullptr);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  QTableWidget& table = *view.table();
  ASSERT_EQ(table.rowCount(), 4);
  const QColor red(0xc0, 0, 0);
  for (int row = 0; row < 4; ++row) {
    EXPECT_EQ(table.item(row, 1)->foreground().color() == red, row == 1 || row == 2) << row;
  }
  EXPECT_EQ(table.item(0, 4)->text(), QString::fromUtf8("复制中"));
  EXPECT_EQ(table.item(0, 6)->text(), QStringLiteral("12.5 MB/s"));
  // Docked 95 s when the slots were written; a second may have begun since.
  EXPECT_THAT(table.item(0, 9)->text().toStdString(), ::testing::AnyOf("1:35", "1:36"));
  EXPECT_EQ(qobject_cast<QProgressBar*>(table.cellWidget(0, 5))->value(), 486);
  EXPECT_TRUE(view.heading()->text().contains(QString::fromUtf8("证据库仅剩 65.3 GB")));
  EXPECT_TRUE(view.heading()->styleSheet().contains(QStringLiteral("#c00000")));
  // Every column but the result's as wide as its texts, the result's in the window.
  for (int row = 0; row < 4; ++row) {
    for (int column = 0; column < 10; ++column) {
      if (column == 5 || column == 8) {
        continue;
      }
      EXPECT_GE(table.columnWidth(column),
                table.fontMetrics().horizontalAdvance(table.item(row, column)->text()))
          << row << "," << column;
    }
  }
  EXPECT_LE(table.columnViewportPosition(8) + table.columnWidth(8), table.viewport()->width());

  // A change of the service is seen by both windows, through inotify.
  copying.stage = SlotStage::verified;
  copying.files_done = 7;
  copying.bytes_done = copying.bytes_total;
  board.publish(copying);
  for (DrawerView* watching : {&view, &second}) {
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return watching->table()->item(0, 4)->text() == QString::fromUtf8("已验证"); },
        5000));
  }
  board.remove("1-2.2");
  EXPECT_TRUE(QTest::qWaitFor([&] { return table.rowCount() == 3; }, 5000));
  board.publish(failed);
  EXPECT_TRUE(QTest::qWaitFor([&] { return table.rowCount() == 4; }, 5000));
  const QString shot = screenshot(QStringLiteral("drawer"));
  EXPECT_TRUE(view.grab().save(shot)) << shot.toStdString();
  // The service's end is seen too, though a lock given back tells inotify nothing.
  EXPECT_TRUE(view.heading()->text().startsWith(QString::fromUtf8("导出服务正在运行")));
  opened.emplace<std::string>();
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return view.heading()->text() == QString::fromUtf8("导出服务没有运行"); }, 5000))
      << view.heading()->text().toStdString();
}

}  // namespace
}  // namespace kbc::app
