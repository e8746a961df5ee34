#pragma once

#include <QString>

namespace velmarin::ui {

// Shows the file selected in the desktop's file manager
// (org.freedesktop.FileManager1.ShowItems); where no file manager answers,
// opens its folder instead. GUI thread.
void revealInFileManager(const QString& path);

} // namespace velmarin::ui
