#pragma once

#include <QByteArray>
#include <QString>

// Desktop trash (freedesktop.org layout) on native byte paths, so names that
// are not valid UTF-8 reach the trash unchanged.

// Moves path (native bytes, absolute) to the desktop trash by renaming it; never copies or deletes.
// A symbolic link is trashed as the link itself. Returns false with a short reason in *error.
bool MoveToTrash(const QByteArray& path, QString* error);

// The home trash folder ($XDG_DATA_HOME/Trash, or ~/.local/share/Trash) as native bytes;
// empty if no absolute data folder can be found. Creates nothing.
QByteArray HomeTrashFolder();
