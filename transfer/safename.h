// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// Names for received files: whatever the far end sent, a plain name for one
// file in the download folder, and a place there that nothing holds yet.
namespace SafeName {

// The last part of `sent` (after any `/` or `\`), without control characters,
// without leading dots or blanks, at most 200 bytes in UTF-8; "plik" when
// nothing is left.
QString sanitize(const QString &sent);

// Moves `source` into `folder` as `name`, or "stem (2).ext", "stem (3).ext"...
// when that is taken, never replacing anything. Returns the name used;
// empty when it could not be moved (`error` says why).
QString moveInto(const QString &source, const QString &folder, const QString &name, QString *error);

} // namespace SafeName
