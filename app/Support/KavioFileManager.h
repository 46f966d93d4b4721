#pragma once
// Showing a file in the desktop's file manager: the file selected in its folder through the
// freedesktop FileManager1 service on the user's session bus; where there is no session bus or
// no such service, the containing folder opened by the desktop's default handler (xdg-open).
// Main thread.

#include <QString>

namespace KavioFileManager {

// Nothing for a path that names no existing file. Answers whether something was asked to show.
bool showItem(const QString& path);

}  // namespace KavioFileManager
