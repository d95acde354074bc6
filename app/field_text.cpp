#include "app/field_text.h"

#include <QByteArray>
#include <span>

#include "link/secret.h"

namespace kbc::app {

std::string field_utf8(const QString& text) {
  QByteArray utf8 = text.toUtf8();
  std::string result;
  // Room first, so that no buffer is outgrown and dropped unwiped.
  result.reserve(static_cast<std::size_t>(utf8.size()));
  result.assign(utf8.constData(), static_cast<std::size_t>(utf8.size()));
  link::wipe(std::span(utf8.data(), static_cast<std::size_t>(utf8.size())));
  return result;
}

}  // namespace kbc::app
