#pragma once

// Where the panel listens for scripts by default; shared by the panel and its
// command-line client, so the two never disagree. Qt Core only.

#include <QString>

// $XDG_RUNTIME_DIR/movexa/control.sock, or where Qt puts the runtime folder.
QString DefaultControlSocketPath();
