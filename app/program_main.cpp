// The desktop program's entry: the application on the Qt backend. It creates the
// QApplication (whose thread becomes the window thread), installs the program's resources,
// keeps the default capture drivers (the cameras found, then the demo camera) and runs the
// program's own entry.
#include <QApplication>
#include <string>

#include "app/entry.h"
#include "app/resources.h"
#include "platform/handle_table.h"
#include "platform/resources.h"
#include "platform/window.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("Corvantis");
  // The desktop finds the menu entry (corvantis.desktop), and so the icon, of our windows.
  QApplication::setDesktopFileName("corvantis");
  platform::InstallResources(ProgramResources());
  // The program's one instance handle: a value of the instance kind that names the process.
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(
      (uint64_t{static_cast<uint8_t>(platform::HandleKind::kInstance)} << 48) | 1));
  std::string commandLine;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) commandLine += ' ';
    commandLine += argv[i];
  }
  return WinMain(instance, nullptr, commandLine.data(), SW_SHOWNORMAL);
}
