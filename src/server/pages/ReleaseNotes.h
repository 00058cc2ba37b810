#pragma once

#include <QString>

// An app's release notes on its pages: escaped, line breaks kept, http and https URLs as links
// that tell the target nothing of where they came from. Nothing else in the text becomes markup.
QString releaseNotesHtml(const QString& notes);
// The notes' block under the version (with its heading), or "" for an app without notes.
QString releaseNotesSection(const QString& notes);
// The first line that says something, plain and at most about one line long (for lists).
QString releaseNotesFirstLine(const QString& notes);
// The rules of the blocks above, for the page's style sheet.
QString releaseNotesStyle();
