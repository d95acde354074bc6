// A text field's text as the console reads it. Any field may hold a password, so the conversion
// leaves no copy of its own behind: the returned string is the only one.
#pragma once

#include <QString>
#include <string>

namespace kbc::app {

std::string field_utf8(const QString& text);

}  // namespace kbc::app
