#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <string_view>

// Writes count paths (native bytes, from pathAt) to a new temporary file as
// UTF-16LE without a byte-order mark, CR LF between lines, each path as
// EscapePath writes it with backslashes doubled, so UnescapePath gives back
// its exact bytes whatever they are. Returns the file's
// name, or empty with the reason in *error; a failed write leaves no file.
QByteArray WriteExportFile(int count, const std::function<std::string_view(int)>& pathAt, QString* error);
