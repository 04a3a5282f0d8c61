/*
 * NavigationLog - a plug-in for the Velmara client that writes every navigation and every title
 * change of every tab to "NavigationLog.txt" beside the client (in the folder this library was
 * loaded from). Its menu item pauses and resumes the log.
 *
 * Lines look like
 *   2026-12-11 14:05:31 tab 2 navigate http://velmara.example/main.php
 *   2026-12-11 14:05:32 tab 2 loaded http://velmara.example/main.php
 *   2026-12-11 14:05:32 tab 2 title Велмара
 *   2026-12-11 14:07:10 tab 2 closed
 * Texts are written as UTF-8. Tabs are numbered in the order the client opened them.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "velm_plugin.h"

enum { kMaxTabs = 256 };

static struct {
  TBrowserPage* Page;
  int Number;
} gTabs[kMaxTabs];
static int gNextNumber = 1;
static int gPaused;
static char gLogPath[4096];

/* The log file lives in the folder of this library, which is the client's program folder. */
static const char* LogPath(void) {
  if (!gLogPath[0]) {
    Dl_info info;
    const char* name = "NavigationLog.txt";
    if (dladdr(&gNextNumber, &info) && info.dli_fname && strrchr(info.dli_fname, '/')) {
      size_t folder = (size_t)(strrchr(info.dli_fname, '/') - info.dli_fname) + 1;
      if (folder + strlen(name) < sizeof gLogPath) {
        memcpy(gLogPath, info.dli_fname, folder);
        strcpy(gLogPath + folder, name);
      }
    }
    if (!gLogPath[0]) strcpy(gLogPath, name);
  }
  return gLogPath;
}

static int TabNumber(TBrowserPage* page) {
  if (!page) return 0;
  for (int i = 0; i < kMaxTabs; ++i)
    if (gTabs[i].Page == page) return gTabs[i].Number;
  return 0;
}

/* UTF-16 to UTF-8, pairs of surrogates joined; line breaks become blanks. */
static void ToUtf8(const VelmWideChar* s, char* out, size_t size) {
  uint32_t n = VelmWideStringLength(s);
  size_t used = 0;
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
    if (c == '\r' || c == '\n') c = ' ';
    unsigned char b[4];
    size_t k;
    if (c < 0x80) {
      b[0] = (unsigned char)c, k = 1;
    } else if (c < 0x800) {
      b[0] = (unsigned char)(0xC0 | (c >> 6)), b[1] = (unsigned char)(0x80 | (c & 0x3F)), k = 2;
    } else if (c < 0x10000) {
      b[0] = (unsigned char)(0xE0 | (c >> 12)), b[1] = (unsigned char)(0x80 | ((c >> 6) & 0x3F));
      b[2] = (unsigned char)(0x80 | (c & 0x3F)), k = 3;
    } else {
      b[0] = (unsigned char)(0xF0 | (c >> 18)), b[1] = (unsigned char)(0x80 | ((c >> 12) & 0x3F));
      b[2] = (unsigned char)(0x80 | ((c >> 6) & 0x3F)), b[3] = (unsigned char)(0x80 | (c & 0x3F));
      k = 4;
    }
    if (used + k >= size) break;
    memcpy(out + used, b, k);
    used += k;
  }
  out[used] = 0;
}

static void Write(TBrowserPage* page, const char* what, const VelmWideChar* text) {
  if (gPaused) return;
  FILE* log = fopen(LogPath(), "a");
  if (!log) return;
  char stamp[32] = "";
  time_t now = time(NULL);
  struct tm local;
  if (localtime_r(&now, &local)) strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  char utf8[8192];
  ToUtf8(text, utf8, sizeof utf8);
  if (page) fprintf(log, "%s tab %d ", stamp, TabNumber(page));
  else fprintf(log, "%s ", stamp);
  fprintf(log, "%s%s%s\n", what, utf8[0] ? " " : "", utf8);
  fclose(log);
}

static const VelmWideChar* UrlText(const VelmVariant* url) {
  const VelmVariant* v = VelmVariantDeref(url);
  return v && v->Type == VELM_VT_BSTR ? v->Value.Str : NULL;
}

/* Frames navigate too; only the tab's own document is logged. */
static int IsTopDocument(TBrowserPage* page, VelmObject pDisp) {
  VelmObject browser = NULL;
  page->Application.Code(page->Application.Context, &browser);
  return pDisp == browser;
}

static void OnBeforeNavigate2(TBrowserPage* page, VelmObject pDisp, VelmVariant* url,
                              VelmVariant* flags, VelmVariant* targetFrameName,
                              VelmVariant* postData, VelmVariant* headers, VelmBool* cancel) {
  (void)flags, (void)targetFrameName, (void)postData, (void)headers;
  if (IsTopDocument(page, pDisp)) Write(page, *cancel ? "blocked" : "navigate", UrlText(url));
}

static void OnDocumentComplete(TBrowserPage* page, VelmObject pDisp, VelmVariant* url) {
  if (IsTopDocument(page, pDisp)) Write(page, "loaded", UrlText(url));
}

static void OnTitleChange(TBrowserPage* page, VelmWideString text) { Write(page, "title", text); }

VELM_PLUGIN_EXPORT int32_t GetVersion(void) { return 100; }

VELM_PLUGIN_EXPORT void GetDescription(VelmAnsiString* description) {
  /* "Журнал переходов" in Windows-1251, the client's code page */
  static const char kText[] = "\xC6\xF3\xF0\xED\xE0\xEB \xEF\xE5\xF0\xE5\xF5\xEE\xE4\xEE\xE2";
  VelmAnsiStringAssign(description, kText);
}

VELM_PLUGIN_EXPORT void OpenBrowserPage(TBrowserPage* page, TBrowserPageEvents* events) {
  for (int i = 0; i < kMaxTabs; ++i) {
    if (!gTabs[i].Page) {
      gTabs[i].Page = page;
      gTabs[i].Number = gNextNumber++;
      break;
    }
  }
  events->BeforeNavigate2 = OnBeforeNavigate2;
  events->DocumentComplete = OnDocumentComplete;
  events->TitleChange = OnTitleChange;
}

VELM_PLUGIN_EXPORT void CloseBrowserPage(TBrowserPage* page) {
  Write(page, "closed", NULL);
  for (int i = 0; i < kMaxTabs; ++i)
    if (gTabs[i].Page == page) gTabs[i].Page = NULL;
}

/* The menu item: pause or resume; the log says which. */
VELM_PLUGIN_EXPORT void ShowSettings(void) {
  if (gPaused) {
    gPaused = 0;
    Write(NULL, "log resumed", NULL);
  } else {
    Write(NULL, "log paused", NULL);
    gPaused = 1;
  }
}
