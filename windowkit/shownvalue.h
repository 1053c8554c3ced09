#pragma once

class QLabel;
class QString;

// A label that shows a value (a device's version, a status bar field) is announced by its
// caption; assistive tools get the value it shows as its description, kept up to date as the
// text changes. A text that begins with the caption ("Тип: Лорван") gives only what follows.
// Calling it again on the same label only renames it.
void exposeShownValue(QLabel *label, const QString &caption);

// A label's caption as a name: without the mnemonic mark and the closing colons.
QString captionAsName(const QString &caption);
