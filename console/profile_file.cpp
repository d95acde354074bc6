#include "console/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "link/descriptor.h"

namespace kbc::console {
namespace {

std::string_view chinese_reason(int error) {
  switch (error) {
    case ENOENT:
      return "文件不存在";
    case EACCES:
    case EPERM:
      return "没有读取权限";
    default:
      return "无法读取";
  }
}

}  // namespace

// Only a regular file is read: a FIFO or a device could keep the reader waiting or give no end.
std::variant<std::string, Wording> read_settings_file(const std::string& path) {
  const auto failed = [](int error) {
    return Wording{std::strerror(error), std::string(chinese_reason(error))};
  };
  const link::Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (file.get() < 0 || ::fstat(file.get(), &status) != 0) {
    return failed(errno);
  }
  if (!S_ISREG(status.st_mode)) {
    return Wording{"not a regular file", "不是普通文件"};
  }
  std::string text(kMostProfileBytes + 1, '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = ::read(file.get(), text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      return failed(errno);
    }
    if (n == 0) {
      break;
    }
    got += static_cast<std::size_t>(n);
  }
  if (got > kMostProfileBytes) {
    const std::string most = std::to_string(kMostProfileBytes / 1024);
    return Wording{"larger than " + most + " KiB, too large for a profile",
                   "超过" + most + " KiB，不是配置文件"};
  }
  text.resize(got);
  return text;
}

std::variant<Profile, ProfileError> read_profile(const std::string& path) {
  auto text = read_settings_file(path);
  if (auto* problem = std::get_if<Wording>(&text)) {
    return ProfileError{{{0, std::move(*problem)}}};
  }
  return parse_profile(std::get<std::string>(text));
}

std::vector<std::string> problem_lines(const ProfileError& error, std::string_view shown_as,
                                       Language language) {
  std::vector<std::string> lines;
  for (const ProfileProblem& problem : error.problems) {
    std::string line(shown_as);
    const std::string number = std::to_string(problem.line);
    if (language == Language::english) {
      line.append(problem.line > 0 ? ":" + number : "").append(": ").append(problem.said.english);
    } else {
      line.append(problem.line > 0 ? " 第" + number + "行" : "")
          .append(": ")
          .append(problem.said.chinese);
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace kbc::console
