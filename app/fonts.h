// The faces the window draws Chinese text with, whatever fonts the desktop has.
#pragma once

#include <QFont>

namespace kbc::app {

// The desktop's face for Simplified Chinese (its fontconfig choice for sans-serif in zh-cn), or
// the default face where no installed face has Han characters.
QFont cjk_font();

}  // namespace kbc::app
