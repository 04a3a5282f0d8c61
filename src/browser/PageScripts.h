// Scripts the client runs inside pages. Page scripts never report exceptions to the client, so
// each one catches its own and answers with a result object.
#pragma once

#include <string>

namespace velm {

// Injected into every document and frame at its creation: keeps window.__velmComposing true
// while an input-method composition is open, so an Enter that confirms one is left to the page.
inline constexpr const char* kCompositionTrackerScript = R"JS(
(function () {
  if (window.__velmComposing !== undefined) return;
  window.__velmComposing = false;
  window.addEventListener('compositionstart', function () { window.__velmComposing = true; }, true);
  window.addEventListener('compositionend', function () { window.__velmComposing = false; }, true);
})();
)JS";

// The frame-and-form search of IWebBrowser::RunScriptInFormWindow as one script for the top
// window. Answers {status: 'ran' | 'noform' | 'composing' | 'failed', error: text}.
std::u16string FormWindowScript(const std::u16string& frameName, const std::u16string& fieldName,
                                const std::u16string& script);

// A JavaScript string literal holding text (quotes, backslashes, line ends and controls escaped).
std::u16string JsStringLiteral(const std::u16string& text);

}  // namespace velm
