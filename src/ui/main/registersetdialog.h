// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <memory>

class QFileDialog;
class QWidget;

namespace ui {

enum class FilePurpose { Save, Load };

// The file dialog of "Save to File" and "Load From File": opens in the start folder when one is
// given, offers the register-set filter first and the catch-all second, starts with an empty
// name. Saving asks before it replaces a file.
std::unique_ptr<QFileDialog> makeRegisterSetDialog(FilePurpose purpose, const QString &startFolder,
                                                   QWidget *parent);

// Runs a file dialog modally: the chosen path, or "" when the user cancelled.
QString runFileDialog(QFileDialog &dialog);

} // namespace ui
