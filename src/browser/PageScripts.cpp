#include "browser/PageScripts.h"

#include <cstdio>

namespace velm {

namespace {

constexpr const char16_t* kFormWindowScript =
    uR"JS(
(function (frameName, fieldName, script) {
  try {
    var composing = function (w) {
      try { return w.__velmComposing === true; } catch (e) { return false; }
    };
    if (composing(window)) return {status: 'composing'};
    for (var k = 0; k < window.frames.length; k++)
      if (composing(window.frames[k])) return {status: 'composing'};
    var win = window;
    var frames = window.frames;
    for (var i = 0; i < frames.length; i++) {
      if (frames[i].name === frameName) { win = frames[i]; break; }
    }
    var forms = win.document.forms;
    for (var j = 0; j < forms.length; j++) {
      if (forms[j].elements.namedItem(fieldName)) {
        win.eval(script);
        return {status: 'ran'};
      }
    }
    return {status: 'noform'};
  } catch (e) {
    var text = (e && e.message !== undefined) ? e.message : e;
    return {status: 'failed', error: String(text)};
  }
})(%1, %2, %3)
)JS";

}  // namespace

std::u16string JsStringLiteral(const std::u16string& text) {
  std::u16string out = u"\"";
  for (char16_t c : text) {
    switch (c) {
      case u'"':
        out += u"\\\"";
        break;
      case u'\\':
        out += u"\\\\";
        break;
      case u'\n':
        out += u"\\n";
        break;
      case u'\r':
        out += u"\\r";
        break;
      default:
        if (c < 0x20 || c == 0x2028 || c == 0x2029) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
          for (const char* p = buf; *p; ++p) out += static_cast<char16_t>(*p);
        } else {
          out += c;
        }
    }
  }
  out += u'"';
  return out;
}

std::u16string FormWindowScript(const std::u16string& frameName, const std::u16string& fieldName,
                                const std::u16string& script) {
  std::u16string text = kFormWindowScript;
  const std::u16string args[3] = {JsStringLiteral(frameName), JsStringLiteral(fieldName),
                                  JsStringLiteral(script)};
  const std::u16string marks[3] = {u"%1", u"%2", u"%3"};
  for (int i = 0; i < 3; ++i) {
    std::size_t at = text.rfind(marks[i]);
    text.replace(at, marks[i].size(), args[i]);
  }
  return text;
}

}  // namespace velm
