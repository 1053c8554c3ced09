#pragma once

class QCoreApplication;

// Installs Qt's own Russian texts (standard buttons, file dialogs), whatever the system locale:
// everything the user sees is in Russian. False when Qt's translations are not installed.
bool installQtRussian(QCoreApplication &app);
