// A drawer of recorders on one bus: no button reaches a recorder the operator did not choose.
#include <gtest/gtest.h>

#include <algorithm>

#include "console/messages.h"
#include "console/setting_tables.h"
#include "console_fixture.h"

namespace kbc::console::testing {
namespace {

// Every button of the settings bar that talks to the recorder.
const int kEveryButton[] = {
    idc::verify,      idc::change_password, idc::erase,      idc::msdc,        idc::video,
    idc::segment,     idc::photo,           idc::brightness, idc::screen_off,  idc::ir,
    idc::voice,       idc::motion,          idc::user_name,  idc::user_number, idc::unit_name,
    idc::unit_number, idc::device_info};

class RecorderChoiceTest : public ConsoleTest {
 protected:
  RecorderChoiceTest() {
    // Every button has what it needs to go all the way to its own command.
    for (const SettingButton& button : setting_buttons()) {
      view.selections[button.list] = button.rows.front().text;
    }
    for (const int field : {idc::user_name_field, idc::user_number_field, idc::unit_name_field,
                            idc::unit_number_field}) {
      view.fields[field] = "A7";
    }
  }
  void answer_yes() { view.answers = {true, true}; }

  // Recorder A, a mouse, recorder B.
  sim::SimRecorder& mouse_then_recorder() {
    bus.add_other_device(0x046d);
    return bus.add_recorder();
  }
  sim::SimRecorder& b = mouse_then_recorder();
};

TEST_F(RecorderChoiceTest, WithSeveralAndNoneChosenEveryButtonSendsNothingAndAsksForAChoice) {
  for (const int id : kEveryButton) {
    SCOPED_TRACE(id);
    answer_yes();
    EXPECT_FALSE(press(id, kAdmin));
    EXPECT_EQ(view.lines, Lines{std::string(msg::choose_recorder)});
    EXPECT_TRUE(console.needs_recorder_choice());
    for (const sim::WireEvent& event : bus.wire()) {
      EXPECT_NE(event.kind, sim::WireEvent::Kind::open) << event.device;
    }
    EXPECT_TRUE(view.messages.empty());
  }
  EXPECT_EQ(recorder.state().clock, "");
  EXPECT_EQ(b.state().erase_count, 0);
}

TEST_F(RecorderChoiceTest, AChosenRecorderAloneGetsTheCommands) {
  console.choose_recorder(b.location());
  EXPECT_EQ(console.chosen_recorder(), "001/003");
  for (const int id : kEveryButton) {
    SCOPED_TRACE(id);
    answer_yes();
    press(id, kAdmin);
    EXPECT_FALSE(console.needs_recorder_choice());
    EXPECT_EQ(std::count(view.lines.begin(), view.lines.end(), msg::choose_recorder), 0);
    recorder.reconnect();
    b.reconnect();  // after the mass-storage switch
  }
  EXPECT_TRUE(recorder.payloads().empty());
  EXPECT_EQ(b.state().clock, "20240305070809");
  EXPECT_EQ(b.state().erase_count, 1);
  EXPECT_EQ(b.state().video, "set_video_2304x1296");
  EXPECT_EQ(b.state().officer_identifier, "KBC0002-A7");
  for (const sim::WireEvent& event : bus.wire()) {
    if (event.kind == sim::WireEvent::Kind::open) {
      EXPECT_EQ(event.device, b.location());
    }
  }
}

TEST_F(RecorderChoiceTest, AChosenRecorderThatIsGoneIsNoRecorderAndTheOtherIsNotTaken) {
  console.choose_recorder(b.location());
  b.unplug();
  EXPECT_FALSE(press(idc::verify, kAdmin));
  EXPECT_EQ(view.lines, Lines{std::string(msg::reconnect)});
  EXPECT_FALSE(console.needs_recorder_choice());
  EXPECT_TRUE(bus.payloads().empty());
}

TEST_F(RecorderChoiceTest, WithTheChoiceUndoneAndOneLeftThatOneIsUsedAsBefore) {
  console.choose_recorder(b.location());
  console.choose_recorder(std::nullopt);
  b.unplug();
  EXPECT_TRUE(press(idc::verify, kAdmin));
  EXPECT_EQ(recorder.letters(), "-3E6");
}

}  // namespace
}  // namespace kbc::console::testing
