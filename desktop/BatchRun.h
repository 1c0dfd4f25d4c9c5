#pragma once

#include <QString>

#include <atomic>
#include <cstddef>
#include <functional>

class QWidget;

// A batch the window runs off its UI thread: work runs on a worker thread and counts its steps in
// done, while a window-modal progress dialog (shown after 300 ms) follows that count and its Stop
// raises the flag work reads between steps. The UI thread keeps handling events meanwhile. work
// owns whatever it writes until RunBatch returns. Returns whether Stop was pressed.
bool RunBatch(QWidget* parent, const QString& label, size_t total,
              const std::function<void(const std::atomic<bool>& stop, std::atomic<size_t>& done)>& work);
