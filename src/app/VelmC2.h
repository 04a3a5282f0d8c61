// The client's entry routine: the process-wide modules in their order, the self-update hand-off,
// one client per folder, the browser check, the update splash, the main window's message loop
// and the hand-over to a new executable.
#pragma once

namespace velm {

// Message and caption a second start shows before it ends.
inline constexpr const char* kSecondCopyText =
    "Одна копия клиента игры уже запущена, используйте её";
inline constexpr const char* kSecondCopyCaption = "Отмена запуска второй копии программы";
inline constexpr const char* kBrowserTooOldText =
    "Для успешной работы клиента на вашем компьютере необходимо установить Internet Explorer "
    "версии не ниже чем 6.0";

int RunVelmC2(int argc, char** argv);

// The browser check with its error box and quit request (the application object must exist).
bool CheckBrowserVersion();

}  // namespace velm
