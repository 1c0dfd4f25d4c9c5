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

// What "Save File List As…" writes: UTF-8 lines, or CSV with a header (path, size, modified).
enum class EListFormat { Text, Csv };
// Writes count paths to file (replaced whole, or left as it was on failure), each path escaped as in
// an export (exact bytes come back with UnescapePath). CSV adds each file's size and its last
// modification (ISO 8601, local time), empty when it cannot be read. False with the reason in *error.
bool SaveFileList(const QString& file, int count, const std::function<std::string_view(int)>& pathAt, EListFormat format,
                  QString* error);
