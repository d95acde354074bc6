#include <gmock/gmock.h>

#include "cli/options.h"
#include "cli_fixture.h"
#include "console/setting_tables.h"

namespace kbc::cli::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct Refused {
  std::vector<std::string> args;
  std::string_view error;  // part of the one-line reason
};

void PrintTo(const Refused& row, std::ostream* os) {
  for (const std::string& arg : row.args) {
    *os << "'" << arg << "' ";
  }
}

// Each is refused before the console looks at the recorder or anyone is asked for a password.
const Refused kRefused[] = {
    {{}, "no COMMAND given"},
    {{"frobnicate"}, "unknown command 'frobnicate'"},
    {{"Verify"}, "unknown command 'Verify'"},
    {{"video"}, "video needs a TEXT"},
    {{"--simulate", "user-name"}, "user-name needs a TEXT"},
    {{"verify", "now"}, "verify takes no TEXT"},
    {{"ir", "手动", "自动"}, "ir takes one TEXT only"},
    {{"--bogus", "verify"}, "unknown option '--bogus'"},
    {{"--simulate=yes", "verify"}, "--simulate=N takes a number of recorders from 1 to 64"},
    {{"--simulate=0", "verify"}, "--simulate=N takes a number of recorders from 1 to 64"},
    {{"--simulate=65", "list"}, "--simulate=N takes a number of recorders from 1 to 64"},
    {{"--simulate=", "list"}, "--simulate=N takes a number"},
    {{"--verbose=1", "verify"}, "--verbose takes no value"},
    {{"-yx", "erase"}, "unknown option '-x'"},
    {{"--all", "verify"}, "--all goes with apply and offload only"},
    {{"--from", "/dev/sdb1", "verify"}, "--from goes with offload only"},
    {{"--store", "/srv", "info"},
     "--store goes with offload, upload, prune, status, station and erase only"},
    {{"--remote", "info"}, "--remote goes with check only"},
    {{"upload", "x"}, "upload takes no TEXT"},
    {{"--serial", "K1", "upload"}, "upload works on stored bags"},
    {{"--dry-run", "upload"}, "--dry-run goes with prune only"},
    {{"--prometheus", "upload"}, "--prometheus goes with status only"},
    {{"status", "x"}, "status takes no TEXT"},
    {{"prune", "x"}, "prune takes no TEXT"},
    {{"--simulate", "prune"}, "prune works on stored bags"},
    {{"--without-offload", "msdc"}, "--without-offload goes with erase only"},
    {{"check"}, "check needs a BAG"},
    {{"--serial", "K1", "check", "bag"}, "check reads bags"},
    {{"offload", "x"}, "offload takes no TEXT"},
    {{"--all", "--device", "001/002", "offload"}, "--all takes every recorder"},
    {{"--from", "/dev/sdb1", "--all", "offload"}, "--from reads the disk it names"},
    {{"--all=1", "apply", "p.toml"}, "--all takes no value"},
    {{"apply"}, "apply needs a PROFILE"},
    {{"apply", "a.toml", "b.toml"}, "apply takes one PROFILE"},
    {{"--all", "--serial", "KBC0001", "apply", "p.toml"}, "--all takes every recorder"},
    {{"--all", "--device", "001/001", "apply", "p.toml"}, "--all takes every recorder"},
    {{"apply", "/nonexistent/station.toml"},
     "apply: /nonexistent/station.toml: No such file or directory"},
    {{"apply", "/dev/null"}, "apply: /dev/null: not a regular file"},
    {{"verify", "--device"}, "--device needs a LOCATION as 'kbcctl list' shows it"},
    {{"--device=", "verify"}, "--device needs a LOCATION"},
    {{"--serial", "", "verify"}, "--serial needs a SERIAL"},
    {{"--device", "001/002", "--serial", "KBC0001", "verify"}, "give one of them"},
    {{"list", "all"}, "list takes no TEXT"},
    {{"--device", "001/002", "list"}, "list shows every recorder"},
    {{"--serial=KBC0001", "list"}, "list shows every recorder"},
    {{"audit", "all"}, "audit takes no TEXT"},
    {{"--device", "001/002", "audit"}, "audit reads the journal"},
    {{"--simulate", "audit"}, "audit reads the journal"},
    {{"audit", "--since"}, "--since needs a TIME such as 2026-12-08"},
    {{"--since", "today", "verify"}, "--since goes with audit only"},
    {{"--since=-1h", "list"}, "--since goes with audit only"},
    {{"verify", "--password-file"}, "--password-file needs a FILE"},
    {{"--password-file=", "verify"}, "--password-file needs a FILE"},
    {{"--password", "888888", "verify"}, "there is no password option"},
    {{"--password=888888", "verify"}, "there is no password option"},
    {{"--passwd=888888", "verify"}, "there is no password option"},
    {{"-p", "888888", "verify"}, "there is no password option"},
    {{"-yp888888", "verify"}, "there is no password option"},
    // TEXTs the list or the field would not take.
    {{"video", "1920x1080(30)"}, "'1920x1080(30)' is no item of the list; one of: 2304X1296(30)"},
    {{"segment", "5 分钟"}, "'5 分钟' is no item"},
    {{"voice", "yes"}, "'yes' is no item of the list; one of: 打开 (on), 关闭 (off)"},
    {{"screen-off", "off"}, "one of: 1分钟 (1min), 5分钟 (5min), 关闭 (never)"},
    {{"motion", ""}, "'' is no item"},
    {{"unit-number", "1234567890123"}, "is 13 GBK bytes, the field holds at most 12"},
    {{"user-number", "1234567"}, "is 7 GBK bytes, the field holds at most 6"},
    {{"unit-name", std::string(33, 'a')}, "is 33 GBK bytes, the field holds at most 32"},
    {{"user-name", "一二三四五六七八九十一二三四五六a"}, "is 33 GBK bytes"},
    {{"user-name", "😀"}, "a character GBK cannot encode"},
    // A tag character, which iconv would drop without a word.
    {{"user-name", "张\xf3\xa0\x80\x81三"}, "a character GBK cannot encode"},
    {{"unit-name", "\xff"}, "unit-name: the TEXT is not valid UTF-8 text"},
    {{"user-number", "ab-1"}, "the field refuses 'ab-1': 仅支持数字或大小写字母!"},
    {{"unit-number", "编号"}, "the field refuses '编号': 仅支持数字或大小写字母!"},
    {{"user-number", "ab 1"}, "the field refuses"},
};

class RefusedTest : public CliTest, public ::testing::WithParamInterface<Refused> {};

TEST_P(RefusedTest, IsAUsageErrorAndSendsNothing) {
  env["KBC_PASSWORD"] = kAdmin;
  EXPECT_EQ(kbcctl(GetParam().args), kUsage);
  EXPECT_THAT(err.str(), HasSubstr(GetParam().error));
  EXPECT_THAT(err.str(), HasSubstr("Try 'kbcctl --help'."));
  EXPECT_THAT(err.str(), Not(HasSubstr("888888")));
  EXPECT_EQ(out.str(), "");
  EXPECT_TRUE(usb_bus.wire().empty());
  EXPECT_TRUE(terminal.prompts.empty());
}

INSTANTIATE_TEST_SUITE_P(Arguments, RefusedTest, ::testing::ValuesIn(kRefused));

TEST(ParseArguments, TakesOptionsAnywhereAndBundledFlags) {
  const std::vector<std::string> args{
      "info", "-yv", "--password-file=pw", "--json", "--simulate", "--device", "001/005"};
  const Parsed parsed = parse_arguments(args);
  ASSERT_EQ(parsed.action, Parsed::Action::run);
  EXPECT_EQ(parsed.options.command->name, "info");
  EXPECT_TRUE(parsed.options.yes);
  EXPECT_TRUE(parsed.options.verbose);
  EXPECT_TRUE(parsed.options.json);
  EXPECT_EQ(parsed.options.simulate, 1);
  EXPECT_EQ(parsed.options.password_file, "pw");
  EXPECT_EQ(parsed.options.device, "001/005");
  EXPECT_EQ(parsed.options.serial, std::nullopt);
}

TEST(ParseArguments, ListAndTheRecorderOptions) {
  const std::vector<std::string> list{"--simulate=16", "list", "--json"};
  const Parsed listed = parse_arguments(list);
  ASSERT_EQ(listed.action, Parsed::Action::list);
  EXPECT_EQ(listed.options.simulate, 16);
  EXPECT_TRUE(listed.options.json);
  EXPECT_EQ(listed.options.command, nullptr);

  const std::vector<std::string> serial{"--serial=KBC0002", "verify"};
  EXPECT_EQ(parse_arguments(serial).options.serial, "KBC0002");
  const std::vector<std::string> device{"verify", "--device=001/007"};
  EXPECT_EQ(parse_arguments(device).options.device, "001/007");
}

TEST(ParseArguments, AuditWithItsOptions) {
  const std::vector<std::string> args{"audit", "--serial", "KBC0001", "--since=-2h", "--json"};
  const Parsed parsed = parse_arguments(args);
  ASSERT_EQ(parsed.action, Parsed::Action::audit);
  EXPECT_EQ(parsed.options.serial, "KBC0001");
  EXPECT_EQ(parsed.options.since, "-2h");
  EXPECT_TRUE(parsed.options.json);
  EXPECT_EQ(parsed.options.command, nullptr);
}

TEST(ParseArguments, DoubleDashEndsTheOptions) {
  const std::vector<std::string> args{"--password-file", "-", "user-name", "--", "-x"};
  const Parsed parsed = parse_arguments(args);
  ASSERT_EQ(parsed.action, Parsed::Action::run);
  EXPECT_EQ(parsed.options.password_file, "-");
  EXPECT_EQ(parsed.options.text, "-x");
}

TEST(ParseArguments, HelpAndVersionNeedNoCommand) {
  for (const auto& [arg, action] :
       {std::pair{"--help", Parsed::Action::help}, std::pair{"-h", Parsed::Action::help},
        std::pair{"--version", Parsed::Action::version}}) {
    const std::vector<std::string> args{"--simulate", arg};
    EXPECT_EQ(parse_arguments(args).action, action) << arg;
  }
}

// Every item of every list is taken as the list shows it and carried out.
TEST_F(CliTest, EveryListItemIsAccepted) {
  env["KBC_PASSWORD"] = kAdmin;
  for (const Command& command : commands()) {
    if (command.text != TextKind::item) {
      continue;
    }
    for (const console::Setting& row : console::setting_button(command.button)->rows) {
      const std::string name(command.name), item(row.text);
      EXPECT_EQ(kbcctl({name, item}), kSucceeded) << name << " " << item << err.str();
      ASSERT_EQ(output().size(), 1u) << name << " " << item;
      EXPECT_THAT(output()[0], HasSubstr("成功")) << name << " " << item;
    }
  }
}

struct Boundary {
  std::string command;
  std::string text;  // exactly as long as the field takes
  link::IdentityField field;
};

void PrintTo(const Boundary& row, std::ostream* os) {
  *os << row.command << " " << row.text;
}

class FieldBoundaryTest : public CliTest, public ::testing::WithParamInterface<Boundary> {};

TEST_P(FieldBoundaryTest, TakesTheLongestTextTheFieldHolds) {
  env["KBC_PASSWORD"] = kAdmin;
  EXPECT_EQ(kbcctl({GetParam().command, GetParam().text}), kSucceeded) << err.str();
  EXPECT_EQ(usb.state().identity.field(GetParam().field).bytes(), gbk(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    Fields, FieldBoundaryTest,
    ::testing::Values(Boundary{"unit-number", "A1b2C3d4E5f6", link::IdentityField::unit_number},
                      Boundary{"user-number", "Zz0099", link::IdentityField::user_number},
                      Boundary{"unit-name", "一二三四五六七八九十一二三四五六",
                               link::IdentityField::unit_name},
                      Boundary{"user-name", std::string(32, 'n'), link::IdentityField::user_name}));

}  // namespace
}  // namespace kbc::cli::testing
