/*
 * velm_plugin.h - the interface between the Velmara client and its plug-ins.
 *
 * A plug-in is a shared library (".so") placed in the client's program folder, beside the
 * executable. At start-up the client lists the ordinary "*.so" files of that folder (names
 * beginning with "." are skipped) in name order, letter case aside, loads each one by its path
 * in that folder (dlopen("/program/folder/NAME", RTLD_NOW | RTLD_LOCAL); the library search path
 * is never used) and looks up the five exports below, by these exact names and in this order:
 *
 *   GetVersion, GetDescription, OpenBrowserPage, CloseBrowserPage, ShowSettings
 *
 * A library that cannot be loaded, or that lacks any of the five, is unloaded again and ignored.
 * Loaded plug-ins stay loaded until the program ends. Every call between the client and a
 * plug-in happens on the client's user-interface thread, one at a time.
 *
 * This header is self-contained C99: a plug-in needs nothing else to build against the client.
 *     cc -std=c99 -shared -fPIC -o MyPlugin.so MyPlugin.c
 * Everything uses the platform's C calling convention; parameters come in the order shown.
 *
 * Offsets given below are for this platform (LP64: pointers and code addresses are 8 bytes).
 * Each record also states its layout as a formula in pointer-sized words, and the header checks
 * the formulas at compile time.
 *
 * Texts
 *   VelmWideString  UTF-16 text. The pointer addresses the first character; the 32-bit count of
 *                   BYTES (characters * 2) lies in the 4 bytes before it and a zero character
 *                   follows the last. The block comes from malloc(). NULL is the empty text.
 *                   Create with VelmWideStringAlloc, release with VelmWideStringFree.
 *   VelmAnsiString  8-bit text in Windows-1251 (the client's code page), used for the
 *                   description. The pointer addresses the first character; the 32-bit character
 *                   count lies in the 4 bytes before it and a 32-bit reference count in the 4
 *                   bytes before that; a zero byte follows the last character. A reference count
 *                   of -1 marks a constant that is never freed (VELM_ANSI_CONSTANT). NULL is the
 *                   empty text. Create with VelmAnsiStringAlloc, release with
 *                   VelmAnsiStringRelease.
 *
 * Who frees what
 *   - Texts and variants the client passes INTO a call belong to the client; the plug-in copies
 *     what it wants to keep. A plug-in that replaces the content of a variant it was given by
 *     address clears the old content first (VelmVariantClear).
 *   - A text the client stores into a plug-in's variable (LocationName, LocationURL) belongs to
 *     the plug-in; the client releases the variable's old value before storing the new one, so
 *     the variable must hold NULL or a valid wide string when it is handed over.
 *   - GetDescription receives the client's counted-string variable, which may still hold an
 *     earlier text: the plug-in releases it (VelmAnsiStringRelease) and stores its description,
 *     either a new text (VelmAnsiStringAlloc), a constant (VELM_ANSI_CONSTANT), or a text of its
 *     own whose reference count it raised (VelmAnsiStringAddRef). The client releases its
 *     reference when it is done with the text.
 *   - Object handles are owned by the client and never released by the plug-in.
 *
 * Objects
 *   VelmObject is an opaque, pointer-sized handle. A plug-in never dereferences it; it may keep
 *   it and compare it with others. The client hands out:
 *     - the browser handle of a tab: Application, Parent and Container of the page, and pDisp
 *       of events about the tab's top-level document;
 *     - a frame handle, different from the browser handle, as pDisp of events about a frame;
 *     - the document handle: Document of the page, NULL while the tab has no document.
 *   Handles are valid until CloseBrowserPage of their tab returns.
 *
 * Failures
 *   A plug-in routine should not fail. If one does (a fault such as a bad memory access, or a
 *   C++ exception leaving it), the client catches it: a failing event handler is written to the
 *   client's debug log and the next plug-in still receives the event; failures in
 *   OpenBrowserPage and CloseBrowserPage are dropped; a failing GetDescription at start-up marks
 *   the plug-in's entry in the client's statistics report; failures in ShowSettings (and in
 *   GetDescription or GetVersion later on) reach the client's exception log. A plug-in whose
 *   routine faulted may be left in an inconsistent state; the client does not unload it.
 */
#ifndef VELM_PLUGIN_H
#define VELM_PLUGIN_H
/* The records below are laid out to be read as tables. */
/* clang-format off */

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Version of this interface. It changes whenever a record, an export or a rule changes. */
#define VELM_PLUGIN_INTERFACE_VERSION 1

/* Marks the five exports of a plug-in. */
#if defined(__GNUC__)
#define VELM_PLUGIN_EXPORT __attribute__((visibility("default")))
#else
#define VELM_PLUGIN_EXPORT
#endif

/* Compile-time check of the record layouts (C99 has no static assertion). */
#define VELM_LAYOUT_CHECK(name, condition) \
  typedef char velm_layout_check_##name[(condition) ? 1 : -1]

/* ---- Booleans ---------------------------------------------------------------------------- */

/* 16-bit Boolean: 0 is false, -1 (all bits set) is true. Treat any non-zero value as true. */
typedef int16_t VelmBool;
#define VELM_FALSE ((VelmBool)0)
#define VELM_TRUE ((VelmBool)-1)

/* ---- Wide strings ------------------------------------------------------------------------ */

typedef uint16_t VelmWideChar;
typedef VelmWideChar* VelmWideString;

/* A new wide string holding `length` UTF-16 characters copied from `text`; with text NULL the
   characters are left for the caller to fill in. Returns NULL for length 0 (the empty text) or
   when memory is exhausted. */
static inline VelmWideString VelmWideStringAlloc(const VelmWideChar* text, uint32_t length) {
  if (length == 0 || length > (UINT32_MAX - 8) / 2) return NULL;
  unsigned char* block = (unsigned char*)malloc(4 + (size_t)length * 2 + 2);
  if (!block) return NULL;
  uint32_t bytes = length * 2;
  memcpy(block, &bytes, 4);
  VelmWideString s = (VelmWideString)(void*)(block + 4);
  if (text) memcpy(s, text, (size_t)length * 2);
  s[length] = 0;
  return s;
}

/* A new wide string from zero-terminated 7-bit ASCII text (for literals such as URLs). */
static inline VelmWideString VelmWideStringFromAscii(const char* text) {
  uint32_t length = text ? (uint32_t)strlen(text) : 0;
  VelmWideString s = VelmWideStringAlloc(NULL, length);
  for (uint32_t i = 0; s && i < length; ++i) s[i] = (VelmWideChar)(unsigned char)text[i];
  return s;
}

/* Number of UTF-16 characters (not bytes) of the text; 0 for NULL. */
static inline uint32_t VelmWideStringLength(const VelmWideChar* s) {
  uint32_t bytes = 0;
  if (s) memcpy(&bytes, (const unsigned char*)s - 4, 4);
  return bytes / 2;
}

/* Frees a wide string; NULL is allowed. */
static inline void VelmWideStringFree(VelmWideString s) {
  if (s) free((unsigned char*)s - 4);
}

/* ---- Counted 8-bit strings (the description) --------------------------------------------- */

typedef char* VelmAnsiString;

/* A new counted string with reference count 1 holding `length` bytes of `text`. Returns NULL
   for length 0 or when memory is exhausted. */
static inline VelmAnsiString VelmAnsiStringAlloc(const char* text, int32_t length) {
  if (length <= 0 || length > INT32_MAX - 16) return NULL;
  unsigned char* block = (unsigned char*)malloc(8 + (size_t)length + 1);
  if (!block) return NULL;
  int32_t refCount = 1;
  memcpy(block, &refCount, 4);
  memcpy(block + 4, &length, 4);
  VelmAnsiString s = (VelmAnsiString)(block + 8);
  if (text) memcpy(s, text, (size_t)length);
  s[length] = 0;
  return s;
}

/* Number of characters; 0 for NULL. */
static inline int32_t VelmAnsiStringLength(const char* s) {
  int32_t length = 0;
  if (s) memcpy(&length, s - 4, 4);
  return length;
}

/* Takes one more reference (constants stay constants). Returns s. */
static inline VelmAnsiString VelmAnsiStringAddRef(VelmAnsiString s) {
  if (s) {
    int32_t refCount;
    memcpy(&refCount, s - 8, 4);
    if (refCount != -1) {
      ++refCount;
      memcpy(s - 8, &refCount, 4);
    }
  }
  return s;
}

/* Drops the reference held by *variable and sets it to NULL; the text is freed with its last
   reference. Constants (reference count -1) are never written or freed. */
static inline void VelmAnsiStringRelease(VelmAnsiString* variable) {
  VelmAnsiString s = *variable;
  *variable = NULL;
  if (!s) return;
  int32_t refCount;
  memcpy(&refCount, s - 8, 4);
  if (refCount == -1) return;
  if (--refCount <= 0) {
    free(s - 8);
  } else {
    memcpy(s - 8, &refCount, 4);
  }
}

/* Replaces the text held by *variable with a new copy of the zero-terminated `text`. */
static inline void VelmAnsiStringAssign(VelmAnsiString* variable, const char* text) {
  VelmAnsiStringRelease(variable);
  *variable = VelmAnsiStringAlloc(text, text ? (int32_t)strlen(text) : 0);
}

/* Declares a constant counted string `name` holding a string literal; hand it out as
   VELM_ANSI_CONSTANT_TEXT(name). */
#define VELM_ANSI_CONSTANT(name, literal)                         \
  static const struct {                                           \
    int32_t RefCount;                                             \
    int32_t Length;                                               \
    char Text[sizeof(literal)];                                   \
  } name = {-1, (int32_t)(sizeof(literal) - 1), literal}
#define VELM_ANSI_CONSTANT_TEXT(name) ((VelmAnsiString)(name).Text)

/* ---- Objects and variants ---------------------------------------------------------------- */

typedef struct VelmObjectHandle* VelmObject;

/* Type tags of VelmVariant. The numbers are those of the classic automation variants. */
enum {
  VELM_VT_EMPTY = 0,     /* no value */
  VELM_VT_I4 = 3,        /* Value.Int */
  VELM_VT_BSTR = 8,      /* Value.Str, owned by the variant */
  VELM_VT_OBJECT = 9,    /* Value.Obj */
  VELM_VT_BOOL = 11,     /* Value.Bool, 0 or -1 */
  VELM_VT_BYREF_VARIANT = 0x400C /* Value.Ref, another variant that holds the value */
};

/* 16 bytes: Type at offset 0, three reserved words (zero), the value at offset 8. */
typedef struct VelmVariant {
  uint16_t Type;
  uint16_t Reserved1;
  uint16_t Reserved2;
  uint16_t Reserved3;
  union {
    int32_t Int;
    VelmBool Bool;
    VelmWideString Str;
    VelmObject Obj;
    struct VelmVariant* Ref;
    uint64_t Raw;
  } Value;
} VelmVariant;
VELM_LAYOUT_CHECK(variant_size, sizeof(VelmVariant) == 16);
VELM_LAYOUT_CHECK(variant_value, offsetof(VelmVariant, Value) == 8);

/* Frees what the variant owns and makes it empty. */
static inline void VelmVariantClear(VelmVariant* v) {
  if (v->Type == VELM_VT_BSTR) VelmWideStringFree(v->Value.Str);
  memset(v, 0, sizeof *v);
}

/* The variant that holds the value: follows by-reference variants (at most a few levels). */
static inline const VelmVariant* VelmVariantDeref(const VelmVariant* v) {
  for (int depth = 0; v && v->Type == VELM_VT_BYREF_VARIANT && depth < 8; ++depth)
    v = v->Value.Ref;
  return v;
}

/* ---- TBrowserPage: operations on one tab's browser (client to plug-in) -------------------- */

/* One per tab. 17 entries; each is a code address followed by a pointer-sized context word, and
   the plug-in calls entry k as  page->Op.Code(page->Op.Context, parameters...).
   Entry k lies at offset k * 2 * sizeof(void*): 16 * k here; the record is 272 bytes.

    k  offset  entry         parameters after the context             result
    0     0    GoBack        -                                        -
    1    16    GoForward     -                                        -
    2    32    Navigate      URL, Flags*, TargetFrameName*,           -
                             PostData*, Headers*  (variants by address;
                             NULL or empty = not given)
    3    48    Refresh       -                                        -
    4    64    Refresh2      Level* (variant: VELM_VT_I4)             -
    5    80    Stop          -                                        -
    6    96    Application   VelmObject* (receives the object)        -
    7   112    Parent        as Application                           -
    8   128    Container     as Application                           -
    9   144    Document      as Application                           -
   10   160    Left          -                                        int32_t, in its page
   11   176    Top           -                                        int32_t
   12   192    Width         -                                        int32_t
   13   208    Height        -                                        int32_t
   14   224    LocationName  VelmWideString* (receives the text)      -
   15   240    LocationURL   as LocationName                          -
   16   256    Busy          -                                        VelmBool

   Navigate: Flags is VELM_VT_I4, 1 opens the address in a new tab; TargetFrameName a wide
   string; PostData a wide string sent as the request body in UTF-8 (a POST); Headers a wide
   string of "Name: value" lines separated by CR LF. LocationName is the page title. */
typedef struct TBrowserPage {
  struct { void (*Code)(void* context); void* Context; } GoBack;
  struct { void (*Code)(void* context); void* Context; } GoForward;
  struct {
    void (*Code)(void* context, VelmWideString url, VelmVariant* flags,
                 VelmVariant* targetFrameName, VelmVariant* postData, VelmVariant* headers);
    void* Context;
  } Navigate;
  struct { void (*Code)(void* context); void* Context; } Refresh;
  struct { void (*Code)(void* context, VelmVariant* level); void* Context; } Refresh2;
  struct { void (*Code)(void* context); void* Context; } Stop;
  struct { void (*Code)(void* context, VelmObject* object); void* Context; } Application;
  struct { void (*Code)(void* context, VelmObject* object); void* Context; } Parent;
  struct { void (*Code)(void* context, VelmObject* object); void* Context; } Container;
  struct { void (*Code)(void* context, VelmObject* object); void* Context; } Document;
  struct { int32_t (*Code)(void* context); void* Context; } Left;
  struct { int32_t (*Code)(void* context); void* Context; } Top;
  struct { int32_t (*Code)(void* context); void* Context; } Width;
  struct { int32_t (*Code)(void* context); void* Context; } Height;
  struct { void (*Code)(void* context, VelmWideString* text); void* Context; } LocationName;
  struct { void (*Code)(void* context, VelmWideString* text); void* Context; } LocationURL;
  struct { VelmBool (*Code)(void* context); void* Context; } Busy;
} TBrowserPage;
#define VELM_BROWSER_PAGE_ENTRIES 17
VELM_LAYOUT_CHECK(page_size,
                  sizeof(TBrowserPage) == VELM_BROWSER_PAGE_ENTRIES * 2 * sizeof(void*));
VELM_LAYOUT_CHECK(page_navigate, offsetof(TBrowserPage, Navigate) == 2 * 2 * sizeof(void*));
VELM_LAYOUT_CHECK(page_busy, offsetof(TBrowserPage, Busy) == 16 * 2 * sizeof(void*));

/* ---- TBrowserPageEvents: the plug-in's event handlers for one tab (plug-in to client) ------ */

/* One per plug-in and tab, all NULL when OpenBrowserPage is called; the plug-in fills in the
   handlers it wants, NULL meaning "not wanted". 20 code addresses; entry n lies at offset
   n * sizeof(void*): 8 * n here; the record is 160 bytes. The client calls entry n with the
   tab's TBrowserPage first, after the client's own handling of the event, so the plug-in sees
   (and may change) what the tab already decided, such as the Cancel flag of BeforeNavigate2.

    n  offset  event               parameters after the page
    0     0    StatusTextChange    Text
    1     8    ProgressChange      Progress, ProgressMax
    2    16    CommandStateChange  Command, Enable
    3    24    DownloadBegin       -
    4    32    DownloadComplete    -
    5    40    TitleChange         Text
    6    48    BeforeNavigate2     pDisp, URL*, Flags*, TargetFrameName*, PostData*, Headers*,
                                   Cancel*
    7    56    NewWindow2          ppDisp*, Cancel*
    8    64    NavigateComplete2   pDisp, URL*
    9    72    DocumentComplete    pDisp, URL*
   10    80    OnVisible           Visible
   11    88    WindowSetResizable  Resizable
   12    96    WindowSetLeft       Left
   13   104    WindowSetTop        Top
   14   112    WindowSetWidth      Width
   15   120    WindowSetHeight     Height
   16   128    WindowClosing       IsChildWindow, Cancel*
   17   136    FileDownload        Cancel*
   18   144    NavigateError       pDisp, URL*, Frame*, StatusCode*, Cancel*
   19   152    UpdatePageStatus    pDisp, nPage*, fDone*

   "*" marks a parameter passed by address. URL, Flags, TargetFrameName, PostData, Headers,
   Frame are variants as in Navigate (URL: VELM_VT_BSTR); StatusCode and nPage VELM_VT_I4; fDone
   VELM_VT_BOOL. Setting *Cancel to VELM_TRUE in BeforeNavigate2 stops that navigation; in
   NewWindow2 it suppresses the new window, and *ppDisp holds the browser handle of the tab the
   client opened for it. Texts passed by value belong to the client and live for the call. */
typedef struct TBrowserPageEvents {
  void (*StatusTextChange)(TBrowserPage* page, VelmWideString text);
  void (*ProgressChange)(TBrowserPage* page, int32_t progress, int32_t progressMax);
  void (*CommandStateChange)(TBrowserPage* page, int32_t command, VelmBool enable);
  void (*DownloadBegin)(TBrowserPage* page);
  void (*DownloadComplete)(TBrowserPage* page);
  void (*TitleChange)(TBrowserPage* page, VelmWideString text);
  void (*BeforeNavigate2)(TBrowserPage* page, VelmObject pDisp, VelmVariant* url,
                          VelmVariant* flags, VelmVariant* targetFrameName,
                          VelmVariant* postData, VelmVariant* headers, VelmBool* cancel);
  void (*NewWindow2)(TBrowserPage* page, VelmObject* ppDisp, VelmBool* cancel);
  void (*NavigateComplete2)(TBrowserPage* page, VelmObject pDisp, VelmVariant* url);
  void (*DocumentComplete)(TBrowserPage* page, VelmObject pDisp, VelmVariant* url);
  void (*OnVisible)(TBrowserPage* page, VelmBool visible);
  void (*WindowSetResizable)(TBrowserPage* page, VelmBool resizable);
  void (*WindowSetLeft)(TBrowserPage* page, int32_t left);
  void (*WindowSetTop)(TBrowserPage* page, int32_t top);
  void (*WindowSetWidth)(TBrowserPage* page, int32_t width);
  void (*WindowSetHeight)(TBrowserPage* page, int32_t height);
  void (*WindowClosing)(TBrowserPage* page, VelmBool isChildWindow, VelmBool* cancel);
  void (*FileDownload)(TBrowserPage* page, VelmBool* cancel);
  void (*NavigateError)(TBrowserPage* page, VelmObject pDisp, VelmVariant* url,
                        VelmVariant* frame, VelmVariant* statusCode, VelmBool* cancel);
  void (*UpdatePageStatus)(TBrowserPage* page, VelmObject pDisp, VelmVariant* nPage,
                           VelmVariant* fDone);
} TBrowserPageEvents;
#define VELM_BROWSER_PAGE_EVENTS 20
VELM_LAYOUT_CHECK(events_size,
                  sizeof(TBrowserPageEvents) == VELM_BROWSER_PAGE_EVENTS * sizeof(void*));
VELM_LAYOUT_CHECK(events_before_navigate,
                  offsetof(TBrowserPageEvents, BeforeNavigate2) == 6 * sizeof(void*));
VELM_LAYOUT_CHECK(events_update_status,
                  offsetof(TBrowserPageEvents, UpdatePageStatus) == 19 * sizeof(void*));

/* ---- The five exports -------------------------------------------------------------------- */

/* Version * 100: 105 is shown as "1.05", 7 as "0.07". */
typedef int32_t (*TVelmGetVersion)(void);
/* Stores the plug-in's description into the client's variable (see "Who frees what"). The
   description is the plug-in's menu caption and its entry in the connected-modules list. */
typedef void (*TVelmGetDescription)(VelmAnsiString* description);
/* A tab was made: `page` stays valid until CloseBrowserPage; `events` is this plug-in's table
   for the tab, all NULL on entry. */
typedef void (*TVelmOpenBrowserPage)(TBrowserPage* page, TBrowserPageEvents* events);
/* The tab goes away; both records are invalid once this returns. Also called for every tab
   when the program closes. */
typedef void (*TVelmCloseBrowserPage)(TBrowserPage* page);
/* The user chose the plug-in's item in the "Плагины" menu. The client's keyboard shortcuts are
   off during the call, so the plug-in may show a modal window of its own. */
typedef void (*TVelmShowSettings)(void);

/* A plug-in defines these five, for example:
     VELM_PLUGIN_EXPORT int32_t GetVersion(void) { return 105; }
   The client itself includes this header with VELM_PLUGIN_HOST defined and sees only the
   types above. */
#ifndef VELM_PLUGIN_HOST
VELM_PLUGIN_EXPORT int32_t GetVersion(void);
VELM_PLUGIN_EXPORT void GetDescription(VelmAnsiString* description);
VELM_PLUGIN_EXPORT void OpenBrowserPage(TBrowserPage* page, TBrowserPageEvents* events);
VELM_PLUGIN_EXPORT void CloseBrowserPage(TBrowserPage* page);
VELM_PLUGIN_EXPORT void ShowSettings(void);
#endif

#ifdef __cplusplus
}
#endif

/* clang-format on */
#endif /* VELM_PLUGIN_H */
