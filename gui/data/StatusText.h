#pragma once

#include <QString>

// What the window program is doing right now, as one process-wide text: empty at start, the
// connecting text while the connection opens (the splash shows it), "OK" once it is open.
// Start-up chooses its first window by comparing it with "OK".
extern QString StatusText;

inline const QString StatusConnecting = QStringLiteral("系统正在连接数据库，请稍候...");
inline const QString StatusOk = QStringLiteral("OK");
