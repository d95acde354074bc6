#include "app/fonts.h"

#include <QStringList>
#include <memory>

#ifdef KBC_HAVE_FONTCONFIG
#include <fontconfig/fontconfig.h>
#endif

namespace kbc::app {
namespace {

#ifdef KBC_HAVE_FONTCONFIG
struct PatternFree {
  void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
using Pattern = std::unique_ptr<FcPattern, PatternFree>;

// fontconfig's best face for Chinese sans-serif text, honouring the user's configuration; empty
// when even that face has no Han characters (no CJK font is installed).
QString desktop_cjk_family() {
  const Pattern wanted(FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif:lang=zh-cn")));
  if (!wanted || !FcConfigSubstitute(nullptr, wanted.get(), FcMatchPattern)) {
    return {};
  }
  FcDefaultSubstitute(wanted.get());
  FcResult result = FcResultNoMatch;
  const Pattern match(FcFontMatch(nullptr, wanted.get(), &result));
  FcCharSet* characters = nullptr;
  FcChar8* family = nullptr;
  if (!match || FcPatternGetCharSet(match.get(), FC_CHARSET, 0, &characters) != FcResultMatch ||
      !FcCharSetHasChar(characters, U'中') ||
      FcPatternGetString(match.get(), FC_FAMILY, 0, &family) != FcResultMatch) {
    return {};
  }
  return QString::fromUtf8(reinterpret_cast<const char*>(family));
}
#else
QString desktop_cjk_family() {
  return QStringLiteral("SimSun");
}
#endif

}  // namespace

QFont cjk_font() {
  // Asked once: the installed fonts do not change under a running window.
  static const QString family = desktop_cjk_family();
  QFont font;
  if (!family.isEmpty()) {
    font.setFamilies(QStringList{family});
  }
  return font;
}

}  // namespace kbc::app
